#include <windows.h>
#include <shlobj.h>

#include <string>

#include "journal/user_place.h"
#include "platform/wide_text.h"

namespace tarven::journal {

std::string UserName() {
  wchar_t name[257] = {};
  DWORD size = 257;
  if (::GetUserNameW(name, &size) == 0 || name[0] == 0) return "?";
  return platform::Utf8FromWide(name);
}

std::string ComputerName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (::GetComputerNameW(name, &size) == 0 || name[0] == 0) return "?";
  return platform::Utf8FromWide(name);
}

std::string UserDataFolder() {
  // The user's local application data, which stays on this computer (a journal of what was done
  // to modules at this bench does not roam with the profile).
  PWSTR folder = nullptr;
  std::string path;
  if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &folder))) {
    path = platform::Utf8FromWide(folder);
  }
  ::CoTaskMemFree(folder);
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}

}  // namespace tarven::journal
