#pragma once
// UTF-8 and UTF-16, both ways, for the system calls that take wide text (Windows' file names,
// registry values and console). Standard C++ only, so that it is tested on every platform.

#include <string>
#include <string_view>

namespace tarven::platform {

// Each byte sequence that is no UTF-8 (a stray continuation byte, a cut sequence, an overlong
// form, a surrogate) becomes U+FFFD, so that a bad name fails to open instead of opening another.
std::u16string Utf16FromUtf8(std::string_view utf8);
// An unpaired surrogate becomes U+FFFD.
std::string Utf8FromUtf16(std::u16string_view utf16);

// The same over wchar_t, which is UTF-16 on Windows.
std::wstring WideFromUtf8(std::string_view utf8);
std::string Utf8FromWide(std::wstring_view wide);

}  // namespace tarven::platform
