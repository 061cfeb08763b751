#include <pwd.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "journal/user_place.h"

namespace tarven::journal {
namespace {

struct Account {
  std::string name;
  std::string home;
};

// getpwuid() hands back one static record that every thread overwrites; every module's thread of
// a run records a change, so the account is looked up once, re-entrantly, and kept.
const Account& Me() {
  static const Account me = [] {
    Account found;
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd record{};
    passwd* result = nullptr;
    if (::getpwuid_r(::getuid(), &record, buffer.data(), buffer.size(), &result) == 0 &&
        result != nullptr) {
      if (result->pw_name != nullptr) found.name = result->pw_name;
      if (result->pw_dir != nullptr) found.home = result->pw_dir;
    }
    return found;
  }();
  return me;
}

}  // namespace

std::string UserName() {
  // The account the process runs as, not what a variable claims: a record says who did it.
  if (!Me().name.empty()) return Me().name;
  if (const char* user = std::getenv("USER"); user != nullptr && *user != 0) return user;
  return "?";
}

std::string ComputerName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == 0) return "?";
  return name;
}

std::string UserDataFolder() {
  // The base directory rules: a relative XDG_DATA_HOME is invalid and is ignored.
  if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && data[0] == '/') {
    return data;
  }
  std::string home;
  if (const char* env = std::getenv("HOME"); env != nullptr && env[0] == '/') {
    home = env;
  } else if (Me().home.size() > 0 && Me().home[0] == '/') {
    home = Me().home;
  }
  if (home.empty()) return {};
  return home + "/.local/share";
}

}  // namespace tarven::journal
