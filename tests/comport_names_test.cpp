// Which port names are offered and in which order.

#include <gtest/gtest.h>

#include "comport/comport.h"

namespace tarven::testing {
namespace {

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
    EXPECT_EQ(comport::IsOfferedComName(QString::fromLatin1(c.name)), c.offered) << c.name;
  }
}

TEST(ComPortNames, SortedAsText) {
  const struct {
    QStringList found;
    QStringList shown;
  } cases[] = {
      {{"COM2", "COM10", "COM3"}, {"COM10", "COM2", "COM3"}},
      {{"com7", "COM3", "COM10"}, {"COM10", "COM3", "com7"}},  // a stored name keeps its case
      {{"ttyUSB0", "ttyS0", "ttyACM0", "ttyUSB1"}, {"ttyACM0", "ttyS0", "ttyUSB0", "ttyUSB1"}},
  };
  for (const auto& c : cases) {
    QStringList names = c.found;
    comport::SortPortNames(names);
    EXPECT_EQ(names, c.shown) << c.found.join(' ').toStdString();
  }
}

TEST(ComPortNames, ListReplacesWhatTheListHeld) {
  comport::SetPortSource([] { return QStringList{"ttyUSB1", "/dev/pts/7", "ttyACM0"}; });
  QStringList list{"COM1", "COM2"};
  comport::ListComPorts(list);
  EXPECT_EQ(list, (QStringList{"/dev/pts/7", "ttyACM0", "ttyUSB1"}));

  comport::SetPortSource([] { return QStringList{}; });
  comport::ListComPorts(list);
  EXPECT_TRUE(list.isEmpty());

  // The system's own list comes back sorted, whatever it holds on this machine.
  comport::SetPortSource({});
  comport::ListComPorts(list);
  QStringList sorted = comport::SystemPortNames();
  comport::SortPortNames(sorted);
  EXPECT_EQ(list, sorted);
}

}  // namespace
}  // namespace tarven::testing
