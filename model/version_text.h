#pragma once
// How the module's version words are written for people.

#include <cstdint>
#include <string>

namespace tarven::model {

// Firmware version word: nibbles 16..19 "." 12..15 8..11 ("4.54" for 0x00045400).
std::string FirmwareVersionText(std::uint32_t word);
// Boot loader version word: bytes 2, 1, 0 each followed by a point ("1.2.3." for 0x00010203).
std::string BootVersionText(std::uint32_t word);

// The version of the firmware image that the tool carries, written like FirmwareVersionText.
inline constexpr const char* kCarriedFirmwareVersion = "4.54";

// Shown wherever a value was not (or could not be) read from the module: "not available".
inline constexpr const char* kNotAvailable = "н/д";

}  // namespace tarven::model
