#include <windows.h>
// After windows.h.
#include <shellapi.h>

#include "platform/console.h"
#include "platform/wide_text.h"

namespace tarven::platform {

bool IsTerminal(StandardStream stream) {
  const DWORD which = stream == StandardStream::Input    ? STD_INPUT_HANDLE
                      : stream == StandardStream::Output ? STD_OUTPUT_HANDLE
                                                         : STD_ERROR_HANDLE;
  // A console answers GetConsoleMode; a file, a pipe or the null device does not.
  DWORD mode = 0;
  const HANDLE handle = ::GetStdHandle(which);
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode);
}

// The narrow argv is in the ANSI code page, which has no room for most names (образ.bin in a
// Western code page): the words are taken from the wide command line instead.
std::vector<std::string> CommandLineWords(int argc, char** argv) {
  int count = 0;
  LPWSTR* words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (words == nullptr) return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
  std::vector<std::string> result;
  for (int i = 1; i < count; ++i) result.push_back(Utf8FromWide(words[i]));
  ::LocalFree(static_cast<HLOCAL>(words));
  return result;
}

void UseUtf8Console() {
  ::SetConsoleOutputCP(CP_UTF8);
  ::SetConsoleCP(CP_UTF8);
}

}  // namespace tarven::platform
