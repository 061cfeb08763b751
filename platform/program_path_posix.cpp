#include <unistd.h>

#include "platform/program_path.h"

namespace tarven::platform {

std::string ThisProgramPath() {
  std::string path(4096, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
  if (n <= 0 || static_cast<std::size_t>(n) >= path.size()) return {};
  path.resize(static_cast<std::size_t>(n));
  return path;
}

}  // namespace tarven::platform
