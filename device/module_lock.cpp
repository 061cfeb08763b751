// What the module locks share on every platform: the lock file's name and what it tells of its
// holder.

#include "device/module_lock.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace tarven::device {

// A file name for any key: letters, digits, '-', '.' and '_' stay, every other byte is %XX.
std::string LockFileName(const std::string& key) {
  std::string name = "module-";
  for (const char c : key) {
    const auto byte = static_cast<unsigned char>(c);
    const bool plain = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                       c == '-' || c == '.' || c == '_';
    if (plain) {
      name += c;
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
      name += escaped;
    }
  }
  if (name.size() > 200) {
    // A name the file system takes; the hash keeps long keys apart.
    std::uint64_t hash = 1469598103934665603ULL;
    for (const char c : key) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    char tail[24];
    std::snprintf(tail, sizeof tail, "-%016llx", static_cast<unsigned long long>(hash));
    name = name.substr(0, 180) + tail;
  }
  return name + ".lock";
}

// "tarven 4711" as a holder writes it; only printable characters of the name are kept.
LockHolder ParseHolder(const std::string& content) {
  LockHolder holder;
  const std::size_t space = content.rfind(' ');
  if (space == std::string::npos) return holder;
  for (std::size_t i = 0; i < space && holder.program.size() < 64; ++i) {
    const char c = content[i];
    if (c > ' ' && c < 0x7f) holder.program += c;
  }
  holder.pid = std::strtol(content.c_str() + space + 1, nullptr, 10);
  if (holder.pid < 0) holder.pid = 0;
  return holder;
}

std::string DescribeHolder(const LockHolder& holder) {
  if (holder.program.empty() && holder.pid == 0) return "another program";
  std::string text = holder.program.empty() ? std::string("a program") : holder.program;
  if (holder.pid > 0) text += " (pid " + std::to_string(holder.pid) + ")";
  return text;
}

}  // namespace tarven::device
