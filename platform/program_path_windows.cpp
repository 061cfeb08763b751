#include <windows.h>

#include <vector>

#include "platform/program_path.h"
#include "platform/wide_text.h"

namespace tarven::platform {

std::string ThisProgramPath() {
  // The path may be longer than MAX_PATH; the buffer grows until the name fits.
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) return Utf8FromWide(std::wstring(path.data(), n));
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
}

}  // namespace tarven::platform
