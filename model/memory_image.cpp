#include "model/memory_image.h"

#include <algorithm>

namespace tarven::model {

std::size_t ImportWholeImage(std::span<std::uint8_t> image, std::span<const std::uint8_t> file) {
  const std::size_t n = std::min(image.size(), file.size());
  std::copy_n(file.begin(), n, image.begin());
  return n;
}

std::size_t ImportChipLane(std::span<std::uint8_t> image, const ChipLane& lane,
                           std::span<const std::uint8_t> file) {
  const std::size_t words_in_image = image.size() / 2;
  const std::size_t room = lane.first_word < words_in_image
                               ? std::min<std::size_t>(lane.words, words_in_image - lane.first_word)
                               : 0;
  const std::size_t n = std::min(room, file.size());
  const std::size_t offset = lane.high_byte ? 1 : 0;
  for (std::size_t i = 0; i < n; ++i) image[2 * (lane.first_word + i) + offset] = file[i];
  return n;
}

const ChipLane* LaneByChip(const MemoryArea& area, std::string_view chip) {
  for (const ChipLane& lane : area.lanes) {
    if (lane.chip == chip) return &lane;
  }
  return nullptr;
}

std::array<std::string, kListingLines> ImageListing(std::span<const std::uint8_t> image,
                                                    std::uint32_t first_word,
                                                    std::uint32_t bytes_per_line) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::array<std::string, kListingLines> lines;
  std::size_t at = std::size_t{2} * first_word;
  for (std::string& line : lines) {
    line.reserve(3 * bytes_per_line);
    for (std::uint32_t i = 0; i < bytes_per_line && at < image.size(); ++i, ++at) {
      line += ' ';
      line += kDigits[image[at] >> 4];
      line += kDigits[image[at] & 0xF];
    }
  }
  return lines;
}

}  // namespace tarven::model
