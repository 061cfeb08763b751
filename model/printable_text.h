#pragma once
// Text that came from a file, a device or the command line, made safe to print on a terminal.
//
// A terminal takes control characters as orders: ESC ] 0 ; ... BEL retitles its window, ESC [ 2 J
// clears the screen, CR overwrites the line, NUL may end the text for a reader. Every such byte is
// shown instead as an escape a reader can see and quote (\e, \a, \r, \n, \t, \0, or \xHH), as are
// DEL, the C1 controls (U+0080..U+009F, which some terminals also obey) and bytes that are not
// UTF-8. Everything else, Cyrillic letters included, stays as it is.

#include <string>
#include <string_view>

namespace tarven::model {

std::string Printable(std::string_view text);

// The same for a text of several lines: its line feeds stay.
std::string PrintableLines(std::string_view text);

}  // namespace tarven::model
