#pragma once
// A small HID report descriptor parser: just enough to learn the feature report length that
// Windows reports as FeatureReportByteLength, on platforms that only give the raw descriptor.

#include <cstddef>
#include <cstdint>
#include <optional>

namespace tarven::hid {

// Length in bytes of the largest feature report the descriptor declares, plus one for the report
// id byte (which is sent even when the device uses no report ids). 0 when the descriptor declares
// no feature report. nullopt when the descriptor is malformed (an item runs past the end, a Pop
// without a Push, ...).
std::optional<std::uint16_t> FeatureReportLength(const std::uint8_t* descriptor,
                                                 std::size_t length);

}  // namespace tarven::hid
