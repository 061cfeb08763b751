// Text from files and devices made safe for a terminal: what is escaped and what stays.

#include "model/printable_text.h"

#include <gtest/gtest.h>

#include <string>

namespace tarven::model {
namespace {

TEST(PrintableText, EscapesWhatATerminalWouldObeyAndKeepsEveryLetter) {
  using namespace std::string_literals;
  const struct {
    std::string text;
    std::string shown;
  } cases[] = {
      {"", ""},
      {"SIM00001 /dev/hidraw3 1-2.3", "SIM00001 /dev/hidraw3 1-2.3"},
      {"Тарвен не подключен, €5", "Тарвен не подключен, €5"},
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},  // four bytes, U+1F600
      // A window title and a cleared screen, as a forged manifest would carry them.
      {"\x1b]0;owned\x07\x1b[2J", "\\e]0;owned\\a\\e[2J"},
      {"a\0b"s, "a\\0b"},
      {"\r\n\t", "\\r\\n\\t"},
      {"\x01\x1f\x7f", "\\x01\\x1F\\x7F"},
      {"\\e stays as typed", "\\e stays as typed"},
      // The C1 controls, which some terminals obey as ESC sequences (U+009B is CSI).
      {"\xC2\x9B[2J", "\\xC2\\x9B[2J"},
      {"\xC2\xA0", "\xC2\xA0"},  // U+00A0, the first letter after them, stays
      // Bytes that are not UTF-8: a lone continuation byte, a cut sequence, an overlong form, a
      // surrogate, beyond U+10FFFF.
      {"\x80", "\\x80"},
      {"ab\xD0", "ab\\xD0"},
      {"\xC0\xAF", "\\xC0\\xAF"},
      {"\xED\xA0\x80", "\\xED\\xA0\\x80"},
      {"\xF4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},
      {"\xFF", "\\xFF"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shown);
    EXPECT_EQ(Printable(c.text), c.shown);
    // Printing it twice changes nothing more.
    EXPECT_EQ(Printable(Printable(c.text)), c.shown);
  }
}

TEST(PrintableText, TextOfSeveralLinesKeepsItsLineFeeds) {
  EXPECT_EQ(PrintableLines("one\n  two\x1b[2J\r\n"), "one\n  two\\e[2J\\r\n");
}

}  // namespace
}  // namespace tarven::model
