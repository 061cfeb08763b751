#pragma once
// The module's memories as the tool knows them: where each lives on the module, how big it is,
// what the tool fills it with at start-up, which 8-bit chips carry its byte lanes and how its
// preview is laid out. The link, the simulated module, the window and tarvenctl all read this one
// table.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace tarven::model {

enum class AreaId { MainRom, AmtRom, Kvp, Ram, ConfigSector };

// One 8-bit chip of a ROM: it holds the low or the high byte of `words` consecutive 16-bit words
// of the image, from word `first_word`.
struct ChipLane {
  std::string_view chip;  // "D83"
  std::uint32_t first_word = 0;
  std::uint32_t words = 0;
  bool high_byte = false;
};

// One preview list of an image: eight lines from `first_word`, `bytes_per_line` bytes a line.
struct ListingGeometry {
  std::uint32_t first_word = 0;
  std::uint32_t bytes_per_line = 16;
};

struct MemoryArea {
  AreaId id;
  std::string_view word;     // the name tarvenctl uses: "rom", "amt", "kvp", "ram", "config"
  std::string_view caption;  // the page caption in the window
  // Module flash address; the RAM has none (it is reached by its own commands).
  std::optional<std::uint32_t> address;
  std::uint32_t size = 0;
  std::uint8_t startup_fill = 0;
  std::span<const ChipLane> lanes;
  std::span<const ListingGeometry> listings;
};

inline constexpr std::uint32_t kListingLines = 8;

namespace detail {
inline constexpr std::array<ChipLane, 2> kMainRomLanes = {{
    {"D83", 0, 8192, false},
    {"D82", 0, 8192, true},
}};
inline constexpr std::array<ChipLane, 4> kAmtRomLanes = {{
    {"D76", 0, 2048, false},
    {"D77", 0, 2048, true},
    {"D74", 2048, 2048, false},
    {"D75", 2048, 2048, true},
}};
inline constexpr std::array<ListingGeometry, 1> kWideListing = {{{0, 16}}};
inline constexpr std::array<ListingGeometry, 2> kAmtListings = {{{0, 8}, {2048, 8}}};
}  // namespace detail

// In the module's flash order; the flash areas lie back to back, each block-aligned.
inline constexpr std::array<MemoryArea, 5> kMemoryAreas = {{
    {AreaId::MainRom, "rom", "ПЗУ", 0x08035800, 16384, 0xFF, detail::kMainRomLanes,
     detail::kWideListing},
    {AreaId::AmtRom, "amt", "ПЗУ АМТ", 0x08039800, 8192, 0xFF, detail::kAmtRomLanes,
     detail::kAmtListings},
    {AreaId::Kvp, "kvp", "КВПП/ЭА", 0x0803B800, 16384, 0xFF, {}, detail::kWideListing},
    {AreaId::ConfigSector, "config", "Конфигурация", 0x0803F800, 2048, 0x00, {}, {}},
    {AreaId::Ram, "ram", "ОЗУ", std::nullopt, 16384, 0x00, {}, detail::kWideListing},
}};

constexpr const MemoryArea& Area(AreaId id) {
  for (const MemoryArea& area : kMemoryAreas) {
    if (area.id == id) return area;
  }
  return kMemoryAreas[0];  // unreachable: every id has a row
}

// The area tarvenctl calls `word`, or null.
constexpr const MemoryArea* AreaByWord(std::string_view word) {
  for (const MemoryArea& area : kMemoryAreas) {
    if (area.word == word) return &area;
  }
  return nullptr;
}

// The flash the module maps for the tool: from the first flash area to the end of the last.
inline constexpr std::uint32_t kFlashBase = *kMemoryAreas[0].address;
inline constexpr std::uint32_t kFlashEnd = *kMemoryAreas[3].address + kMemoryAreas[3].size;
inline constexpr std::uint32_t kFlashSize = kFlashEnd - kFlashBase;

namespace detail {
constexpr bool FlashAreasBackToBack() {
  std::uint32_t next = kFlashBase;
  for (const MemoryArea& area : kMemoryAreas) {
    if (!area.address) continue;
    if (*area.address != next || *area.address % 2048 != 0) return false;
    next += area.size;
  }
  return next == kFlashEnd;
}
}  // namespace detail
static_assert(detail::FlashAreasBackToBack(), "flash areas lie back to back, block-aligned");

}  // namespace tarven::model
