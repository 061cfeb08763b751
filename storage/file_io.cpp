#include "storage/file_io.h"

#include <cstring>
#include <filesystem>
#include <system_error>

namespace tarven::storage {
namespace {

namespace fs = std::filesystem;

// Paths are UTF-8 text everywhere in the programs; the file system's own form may be another
// (UTF-16 on Windows).
fs::path NativePath(const std::string& path) {
  return fs::path(std::u8string(reinterpret_cast<const char8_t*>(path.data()), path.size()));
}

std::string Utf8Path(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

}  // namespace

std::string SystemReason(int error_number) {
  return std::strerror(error_number);
}

bool ResolveLinks(const std::string& path, std::string& target, std::string& error) {
  fs::path current = NativePath(path);
  for (int hop = 0; hop < 40; ++hop) {
    std::error_code failure;
    const fs::file_status status = fs::symlink_status(current, failure);
    if (failure || !fs::is_symlink(status)) {
      target = Utf8Path(current);
      return true;
    }
    const fs::path link = fs::read_symlink(current, failure);
    if (failure) {
      error = "cannot read the link " + Utf8Path(current) + ": " + failure.message();
      return false;
    }
    current = link.is_absolute() ? link : current.parent_path() / link;
  }
  error = path + ": too many levels of symbolic links";
  return false;
}

std::string FolderOf(const std::string& file) {
  const fs::path folder = NativePath(file).parent_path();
  return folder.empty() ? std::string(".") : Utf8Path(folder);
}

}  // namespace tarven::storage
