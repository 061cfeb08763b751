// Which port names are offered and in which order.

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "comport/comport.h"

namespace tarven::testing {
namespace {

using Names = std::vector<std::string>;

// A source that finds `names`, nothing known about what is behind them.
comport::PortSource Finds(const Names& names) {
  return [names] {
    std::vector<comport::PortInfo> ports;
    for (const std::string& name : names) ports.push_back({name, ""});
    return ports;
  };
}

TEST(ComPortNames, WindowsRule) {
  const struct {
    const char* name;
    bool offered;
  } cases[] = {
      {"COM1", true},         {"COM2", true},  {"com7", true},  // any case
      {"cOm12", true},        {"COM03", true},                  // reads as 3
      {"COM0", false},        {"COMA", false}, {"COM", false}, {"COM-1", false},
      {"LPT1", false},        {"CO", false},   {"", false},    {"XCOM1", false},
      {"COM1234567", true},    // ten characters
      {"COM12345678", false},  // eleven
      {"COM1x", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(comport::IsOfferedComName(c.name), c.offered) << c.name;
  }
}

TEST(ComPortNames, NameFromTheRegistryValue) {
  using namespace std::string_view_literals;
  const struct {
    std::u16string_view units;  // as the read into 11 units gave them
    const char* name;
  } cases[] = {
      {u"COM3\0"sv, "COM3"},
      {u"COM3"sv, "COM3"},  // stored without its null
      {u"COM5\0junk"sv, "COM5"},
      {u"COM1234567\0"sv, "COM1234567"},  // ten characters and the null fill the room
      {u"COM12345678"sv, ""},             // eleven fill it without a null: not cut to ten
      {u"com7\0"sv, "com7"},
      {u"\0"sv, ""},
      {u""sv, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(comport::PortNameFromValue(c.units), c.name) << c.name;
  }
}

TEST(ComPortNames, SortedAsText) {
  const struct {
    Names found;
    Names shown;
  } cases[] = {
      {{"COM2", "COM10", "COM3"}, {"COM10", "COM2", "COM3"}},
      {{"com7", "COM3", "COM10"}, {"COM10", "COM3", "com7"}},  // a stored name keeps its case
      {{"ttyUSB0", "ttyS0", "ttyACM0", "ttyUSB1"}, {"ttyACM0", "ttyS0", "ttyUSB0", "ttyUSB1"}},
  };
  for (const auto& c : cases) {
    Names names = c.found;
    comport::SortPortNames(names);
    EXPECT_EQ(names, c.shown) << ::testing::PrintToString(c.found);
  }
}

TEST(ComPortNames, ListReplacesWhatTheListHeld) {
  Names list{"COM1", "COM2"};
  comport::ListComPorts(list, Finds({"ttyUSB1", "/dev/pts/7", "ttyACM0"}));
  EXPECT_EQ(list, (Names{"/dev/pts/7", "ttyACM0", "ttyUSB1"}));

  comport::ListComPorts(list, Finds({}));
  EXPECT_TRUE(list.empty());

  // The system's own list comes back sorted, whatever it holds on this machine.
  comport::ListComPorts(list);
  Names sorted;
  for (const comport::PortInfo& port : comport::SystemPorts()) sorted.push_back(port.name);
  comport::SortPortNames(sorted);
  EXPECT_EQ(list, sorted);
}

}  // namespace
}  // namespace tarven::testing
