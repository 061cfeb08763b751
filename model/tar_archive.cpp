#include "model/tar_archive.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>
#include <set>

namespace tarven::model {
namespace {

constexpr std::size_t kBlock = 512;
constexpr std::size_t kNameField = 100;
constexpr std::size_t kModeAt = 100;
constexpr std::size_t kOwnerAt = 108;
constexpr std::size_t kGroupAt = 116;
constexpr std::size_t kSizeAt = 124;
constexpr std::size_t kTimeAt = 136;
constexpr std::size_t kChecksumAt = 148;
constexpr std::size_t kTypeAt = 156;
constexpr std::size_t kMagicAt = 257;
constexpr std::size_t kPrefixAt = 345;

using Header = std::array<char, kBlock>;

void PutOctal(Header& header, std::size_t at, std::size_t width, std::uint64_t value) {
  // width - 1 digits and a NUL, as POSIX has them.
  std::string digits(width - 1, '0');
  for (std::size_t i = width - 1; i-- > 0 && value != 0; value >>= 3) {
    digits[i] = static_cast<char>('0' + (value & 7));
  }
  std::copy(digits.begin(), digits.end(), header.begin() + static_cast<std::ptrdiff_t>(at));
  header[at + width - 1] = '\0';
}

std::uint32_t HeaderSum(const Header& header, bool as_signed) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < kBlock; ++i) {
    const bool in_checksum = i >= kChecksumAt && i < kChecksumAt + 8;
    const char c = in_checksum ? ' ' : header[i];
    sum += as_signed ? static_cast<std::uint32_t>(static_cast<int>(static_cast<signed char>(c)))
                     : static_cast<unsigned char>(c);
  }
  return sum;
}

// An octal number field: optional leading spaces, digits, then NULs or spaces to its end.
std::optional<std::uint64_t> ReadOctal(const Header& header, std::size_t at, std::size_t width) {
  std::size_t i = at;
  const std::size_t end = at + width;
  while (i < end && header[i] == ' ') ++i;
  std::uint64_t value = 0;
  std::size_t digits = 0;
  for (; i < end && header[i] >= '0' && header[i] <= '7'; ++i, ++digits) {
    if (value > (UINT64_MAX >> 3)) return std::nullopt;
    value = value << 3 | static_cast<std::uint64_t>(header[i] - '0');
  }
  if (digits == 0) return std::nullopt;
  for (; i < end; ++i) {
    if (header[i] != '\0' && header[i] != ' ') return std::nullopt;
  }
  return value;
}

bool AllZero(std::string_view block) {
  return std::all_of(block.begin(), block.end(), [](char c) { return c == '\0'; });
}

std::string Printable(std::string_view name) {
  std::string shown;
  for (const char c : name.substr(0, 60)) {
    const auto byte = static_cast<unsigned char>(c);
    shown += byte >= 0x20 && byte < 0x7F ? c : '?';
  }
  return shown;
}

}  // namespace

std::string WriteTar(const std::vector<TarEntry>& entries, std::int64_t mtime) {
  std::string archive;
  for (const TarEntry& entry : entries) {
    Header header{};
    std::copy_n(entry.name.begin(), std::min(entry.name.size(), kNameField - 1), header.begin());
    PutOctal(header, kModeAt, 8, 0644);
    PutOctal(header, kOwnerAt, 8, 0);
    PutOctal(header, kGroupAt, 8, 0);
    PutOctal(header, kSizeAt, 12, entry.bytes.size());
    PutOctal(header, kTimeAt, 12, static_cast<std::uint64_t>(std::max<std::int64_t>(mtime, 0)));
    header[kTypeAt] = '0';
    constexpr std::string_view kMagic(
        "ustar\0"
        "00",
        8);
    std::copy(kMagic.begin(), kMagic.end(), header.begin() + kMagicAt);
    char checksum[8];
    std::snprintf(checksum, sizeof checksum, "%06o", HeaderSum(header, false));
    std::copy_n(checksum, 6, header.begin() + kChecksumAt);
    header[kChecksumAt + 6] = '\0';
    header[kChecksumAt + 7] = ' ';
    archive.append(header.data(), header.size());
    archive += entry.bytes;
    archive.append((kBlock - entry.bytes.size() % kBlock) % kBlock, '\0');
  }
  archive.append(2 * kBlock, '\0');
  return archive;
}

bool ReadTar(std::string_view archive, const TarLimits& limits, std::vector<TarEntry>& entries,
             std::string& why) {
  entries.clear();
  if (archive.empty()) {
    why = "empty";
    return false;
  }
  if (archive.size() % kBlock != 0) {
    why = "not a tar archive, or cut short (" + std::to_string(archive.size()) +
          " bytes is not a whole number of 512-byte blocks)";
    return false;
  }
  std::set<std::string> names;
  std::size_t at = 0;
  for (;;) {
    if (at + kBlock > archive.size()) {
      why = "cut short: the archive ends without its closing empty blocks";
      return false;
    }
    const std::string_view block = archive.substr(at, kBlock);
    if (AllZero(block)) {
      // The end: everything after it must be empty too.
      if (!AllZero(archive.substr(at))) {
        why = "bytes after the end of the archive";
        return false;
      }
      if (archive.size() - at < 2 * kBlock) {
        why = "cut short: the archive ends without its closing empty blocks";
        return false;
      }
      return true;
    }
    Header header{};
    std::copy(block.begin(), block.end(), header.begin());
    const std::string name(header.data(),
                           std::find(header.data(), header.data() + kNameField, '\0'));
    const std::string shown = "member '" + Printable(name) + "'";
    const auto stored_sum = ReadOctal(header, kChecksumAt, 8);
    if (!stored_sum ||
        (*stored_sum != HeaderSum(header, false) && *stored_sum != HeaderSum(header, true))) {
      why = entries.empty() && at == 0 ? "not a tar archive (its first header does not check out)"
                                       : shown + ": its header does not check out (damaged)";
      return false;
    }
    if (std::string_view(header.data() + kMagicAt, 5) != "ustar") {
      why = shown + ": not a POSIX (ustar) header";
      return false;
    }
    if (header[kTypeAt] != '0' && header[kTypeAt] != '\0') {
      why = shown + ": not a regular file";
      return false;
    }
    if (header[kPrefixAt] != '\0' || name.empty() || name == "." || name == ".." ||
        name.find('/') != std::string::npos || name.find('\\') != std::string::npos) {
      why = shown + ": not a plain file name (a folder or a path is never part of a backup)";
      return false;
    }
    const auto size = ReadOctal(header, kSizeAt, 12);
    if (!size) {
      why = shown + ": its size is not a number";
      return false;
    }
    if (*size > limits.max_entry_size) {
      why = shown + ": declares " + std::to_string(*size) + " bytes, more than the " +
            std::to_string(limits.max_entry_size) + " any part may have";
      return false;
    }
    const std::size_t data_at = at + kBlock;
    const auto length = static_cast<std::size_t>(*size);
    if (length > archive.size() - data_at) {
      why = shown + ": cut short (" + std::to_string(length) + " bytes declared, " +
            std::to_string(archive.size() - data_at) + " there)";
      return false;
    }
    if (!names.insert(name).second) {
      why = shown + ": twice in the archive";
      return false;
    }
    if (entries.size() == limits.max_entries) {
      why = "more than " + std::to_string(limits.max_entries) + " members";
      return false;
    }
    entries.push_back({name, std::string(archive.substr(data_at, length))});
    at = data_at + (length + kBlock - 1) / kBlock * kBlock;
  }
}

}  // namespace tarven::model
