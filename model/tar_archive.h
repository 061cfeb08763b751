#pragma once
// A POSIX ustar archive of plain files, as `tar` writes and reads it: what a backup is kept in,
// so that ordinary tools open it. The reader is strict and bounded: it takes only regular files
// with plain names, checks every header, and never trusts a declared size further than the
// limits and the bytes that are there.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarven::model {

struct TarEntry {
  std::string name;
  std::string bytes;
};

// The archive of `entries` in order: regular files, mode 0644, owner 0, modified at `mtime`
// (seconds since 1970), each padded to 512 bytes, and the two empty blocks that end it.
std::string WriteTar(const std::vector<TarEntry>& entries, std::int64_t mtime);

struct TarLimits {
  std::size_t max_entries = 16;
  std::size_t max_entry_size = 1 << 20;
};

// The entries of an archive. False, with one line naming the member and the fault in `why`,
// for anything but a well-formed archive of at most max_entries regular files with names of
// their own (no folder, no "..", no name twice), each within max_entry_size and within the
// archive.
bool ReadTar(std::string_view archive, const TarLimits& limits, std::vector<TarEntry>& entries,
             std::string& why);

}  // namespace tarven::model
