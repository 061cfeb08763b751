#pragma once
// The tool's images of the module's memories: imports from whole-image files and from the byte
// lanes of single 8-bit chips, and the short hex preview of an image's beginning.
//
// The memories are 16 bits wide: word k of an image is byte 2k (low) plus 256 times byte 2k + 1
// (high). A chip holds the low or the high byte of consecutive words.

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "model/memory_areas.h"

namespace tarven::model {

// Bytes taken from a file for `image`: the first min(file, image) bytes, from image byte 0; the
// image beyond them keeps its content.
std::size_t ImportWholeImage(std::span<std::uint8_t> image, std::span<const std::uint8_t> file);

// Bytes taken from a chip file into one byte lane: file byte i replaces the lane's byte of word
// lane.first_word + i, for the first min(file, lane.words) bytes; the other byte of each word and
// the words beyond keep their content.
std::size_t ImportChipLane(std::span<std::uint8_t> image, const ChipLane& lane,
                           std::span<const std::uint8_t> file);

// The chip lane called `chip` ("D83", case as written) of an area, or null.
const ChipLane* LaneByChip(const MemoryArea& area, std::string_view chip);

// Eight preview lines from word `first_word`, `bytes_per_line` (even) bytes each: every byte as a
// space and two upper-case hex digits, in address order. Words past the image show as nothing.
std::array<std::string, kListingLines> ImageListing(std::span<const std::uint8_t> image,
                                                    std::uint32_t first_word,
                                                    std::uint32_t bytes_per_line);

}  // namespace tarven::model
