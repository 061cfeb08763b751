// Any bytes, of any length, as a whole-image file or a chip file: the import takes at most what
// fits, and changes no byte outside what it took.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "model/memory_image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace m = tarven::model;
  if (size == 0) return 0;
  // The first byte picks the image and what the file is; the rest is the file.
  const auto& area = m::kMemoryAreas[data[0] % m::kMemoryAreas.size()];
  const std::span<const std::uint8_t> file(data + 1, size - 1);
  std::vector<std::uint8_t> image(area.size);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7);
  const std::vector<std::uint8_t> before = image;

  const std::size_t choice = (data[0] / m::kMemoryAreas.size()) % (area.lanes.size() + 1);
  if (choice == area.lanes.size()) {
    const std::size_t n = m::ImportWholeImage(image, file);
    if (n != std::min(file.size(), image.size())) std::abort();
    if (!std::equal(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(n), image.begin())) {
      std::abort();
    }
    if (!std::equal(image.begin() + static_cast<std::ptrdiff_t>(n), image.end(),
                    before.begin() + static_cast<std::ptrdiff_t>(n))) {
      std::abort();
    }
  } else {
    const m::ChipLane& lane = area.lanes[choice];
    const std::size_t n = m::ImportChipLane(image, lane, file);
    if (n != std::min<std::size_t>(file.size(), lane.words)) std::abort();
    for (std::size_t i = 0; i < image.size(); ++i) {
      const std::size_t word = i / 2;
      const bool in_lane =
          word >= lane.first_word && word < lane.first_word + n && (i % 2 == 1) == lane.high_byte;
      const std::uint8_t expected = in_lane ? file[word - lane.first_word] : before[i];
      if (image[i] != expected) std::abort();
    }
  }
  // The preview of whatever came in is always eight lines of whole bytes.
  for (const m::ListingGeometry& geometry : area.listings) {
    for (const auto& line : m::ImageListing(image, geometry.first_word, geometry.bytes_per_line)) {
      if (line.size() != 3 * geometry.bytes_per_line) std::abort();
    }
  }
  return 0;
}
