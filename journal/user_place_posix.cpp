#include <pwd.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "journal/user_place.h"

namespace tarven::journal {
namespace {

const passwd* Me() { return ::getpwuid(::getuid()); }

}  // namespace

std::string UserName() {
  // The account the process runs as, not what a variable claims: a record says who did it.
  if (const passwd* me = Me(); me != nullptr && me->pw_name != nullptr && *me->pw_name != 0) {
    return me->pw_name;
  }
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
  } else if (const passwd* me = Me(); me != nullptr && me->pw_dir != nullptr) {
    home = me->pw_dir;
  }
  if (home.empty()) return {};
  return home + "/.local/share";
}

}  // namespace tarven::journal
