#include "model/config_sector.h"

#include <algorithm>

#include "model/checksum.h"
#include "model/little_endian.h"

namespace tarven::model {
namespace {

constexpr ConfigItem kVersions[] = {
    {"2- версия 2", 2},
    {"3- версия 3", 3},
    {"4- версия 4", 4},
    {"5- МС-2109", 5},
    {"6- пользовательское ПЗУ (НЦ-31)", 6},
    {"7- пользовательское ПЗУ (МС-2109)", 7},
    {"8- версия 4 со встроенной ЭА", 8},
};
constexpr ConfigItem kAmtSets[] = {
    {"1- для 16А20Т", 1},
    {"2- для 1В340", 2},
    {"3- для МС-2109", 3},
    {"4- пользовательское АМТ", 4},
};
constexpr ConfigItem kKvpContents[] = {
    {"1- ОЗУ", 1},
    {"2- тестовая кассета 3700", 2},
    {"3- кассета 3702", 3},
    {"4- пользовательская КВП", 4},
};
constexpr ConfigItem kKeyInversion[] = {
    {"0- выкл", 0},
    {"1- вкл", 1},
};
constexpr ConfigItem kRamModes[] = {
    {"1- автоматический", 1},
    {"2- ручной", 2},
    {"3- восстановл. ОЗУ из СМП", 3},
};
constexpr ConfigItem kSpeeds[] = {
    {"1 - 2400 бод.", 1},      {"2 - 4800 бод.", 2},   {"3 - 9600 бод.", 3},
    {"4 - 19200 бод.", 4},     {"5 - 38400 бод.", 5},  {"6 - 57600 бод.", 6},
    {"7 - 115200 бод.", 7},    {"8 - 230400 бод.", 8}, {"9 - 460800 бод.", 9},
    {"10 - 1000200 бод.", 10},
};
constexpr ConfigItem kPowerLoss[] = {
    {"0- по ~12В", 0},     {"1- по пропаданию 24В", 1}, {"2- 4,65В-4,70В", 2},
    {"3- 4,70В-4,75В", 3}, {"4- 4,75В-4,80В", 4},
};

constexpr std::array<ConfigRow, kConfigValues> kRows = {{
    {'X', "Версия математического обеспечения УЧПУ", ConfigControl::List, kVersions},
    {'Z', "Прошивки ПЗУ АМТ", ConfigControl::List, kAmtSets},
    {'G', "Содержимое КВП", ConfigControl::List, kKvpContents},
    {'M', "Инверсия клавиш движения по X", ConfigControl::List, kKeyInversion},
    {'S', "Режим сохранения/ восстановления ОЗУ", ConfigControl::List, kRamModes},
    {'T', "Сетевой адрес (1..248)", ConfigControl::AddressEdit, {}},
    {'P', "Скорость обмена по сети", ConfigControl::List, kSpeeds},
    {'F', "Определение пропадания питания", ConfigControl::List, kPowerLoss},
}};

// The item that carries `value`, if one does.
std::optional<std::size_t> ItemCarrying(std::span<const ConfigItem> items, std::uint8_t value) {
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (items[i].value == value) return i;
  }
  return std::nullopt;
}

}  // namespace

bool ConfigChecksumMatches(ConstSector sector) {
  return ModuleChecksum(sector.data(), kConfigValues) ==
         ReadLe32(sector.data() + kConfigChecksumOffset);
}

ConfigValues ReadConfig(ConstSector sector) {
  ConfigValues values{};
  std::copy_n(sector.begin(), kConfigValues, values.begin());
  return values;
}

void WriteConfig(Sector sector, const ConfigValues& values) {
  std::copy(values.begin(), values.end(), sector.begin());
  WriteLe32(sector.data() + kConfigChecksumOffset, ModuleChecksum(values.data(), values.size()));
}

bool EaChecksumMatches(ConstSector sector) {
  return ModuleChecksum(sector.data() + kEaTableOffset, kEaTableBytes) ==
         ReadLe32(sector.data() + kEaChecksumOffset);
}

std::int32_t EaParam(ConstSector sector, std::size_t number) {
  return static_cast<std::int32_t>(ReadLe32(sector.data() + kEaTableOffset - 4 + 4 * number));
}

void SetEaParam(Sector sector, std::size_t number, std::int32_t value) {
  WriteLe32(sector.data() + kEaTableOffset - 4 + 4 * number, static_cast<std::uint32_t>(value));
}

void SealEaTable(Sector sector) {
  WriteLe32(sector.data() + kEaChecksumOffset,
            ModuleChecksum(sector.data() + kEaTableOffset, kEaTableBytes));
}

const std::array<ConfigRow, kConfigValues>& ConfigRows() {
  return kRows;
}

std::optional<std::size_t> ItemForByte(std::size_t row, std::uint8_t value) {
  const std::span<const ConfigItem> items = kRows[row].items;
  switch (kRows[row].letter) {
    case 'X':
      // Version 1 is shown as the oldest item; anything unknown as version 4.
      if (value == 1) return 0;
      return ItemCarrying(items, value).value_or(2);
    case 'F':
      // The list's selection index is the byte itself: past the last item nothing is selected.
      if (value < items.size()) return value;
      return std::nullopt;
    case 'P':
      return ItemCarrying(items, value).value_or(5);  // "6 - 57600 бод."
    case 'T':
      return std::nullopt;
    default:
      return ItemCarrying(items, value).value_or(0);
  }
}

std::uint8_t ByteForItem(std::size_t row, std::size_t item) {
  return kRows[row].items[item].value;
}

}  // namespace tarven::model
