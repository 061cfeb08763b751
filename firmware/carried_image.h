#pragma once
// The firmware image built into the program: the file that the CMake option
// TARVEN_FIRMWARE_IMAGE named when the program was built, as a generated source file, so that the
// window and tarvenctl (which has no Qt) carry it the same way. Empty when the build named none.

#include <cstdint>
#include <span>
#include <string_view>

namespace tarven::firmware {

std::span<const std::uint8_t> CarriedImage();
// The name of the file it was built from, for messages; empty when there is none.
std::string_view CarriedImageName();

}  // namespace tarven::firmware
