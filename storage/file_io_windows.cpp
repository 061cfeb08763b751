// Files on Windows: names in UTF-8 opened as UTF-16 (the narrow calls take the ANSI code page,
// which garbles or refuses a name such as образ.bin), FlushFileBuffers, MoveFileEx with
// replacement over the old file (a plain rename over an existing file is refused), LockFileEx for
// lock files. System errors are told as the C library's error numbers, so that callers word them
// as on every platform.
#include <windows.h>
// windows.h names ReplaceFileW so; ours is storage::ReplaceFile.
#undef ReplaceFile

#include <algorithm>
#include <cerrno>
#include <random>

#include "platform/wide_text.h"
#include "storage/file_io.h"

namespace tarven::storage {
namespace {

std::wstring Wide(const std::string& path) {
  return platform::WideFromUtf8(path);
}

HANDLE Native(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

int ErrorNumber(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_LOCK_VIOLATION:
      return EACCES;
    case ERROR_SHARING_VIOLATION:
      return EBUSY;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_INVALID_NAME:
    case ERROR_DIRECTORY:
      return EINVAL;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    default:
      return EIO;
  }
}

int LastErrorNumber() {
  return ErrorNumber(::GetLastError());
}

bool WriteAll(HANDLE file, std::string_view text) {
  while (!text.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size(), 1U << 30));
    DWORD written = 0;
    if (!::WriteFile(file, text.data(), chunk, &written, nullptr) || written == 0) return false;
    text.remove_prefix(written);
  }
  return true;
}

// Reads up to `wanted` bytes into `data`; the bytes read, or -1 with the error number set.
std::int64_t ReadUpTo(HANDLE file, std::uint8_t* data, std::size_t wanted, int& error_number) {
  std::size_t used = 0;
  while (used < wanted) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(wanted - used, 1U << 30));
    DWORD got = 0;
    if (!::ReadFile(file, data + used, chunk, &got, nullptr)) {
      error_number = LastErrorNumber();
      return -1;
    }
    if (got == 0) break;
    used += got;
  }
  return static_cast<std::int64_t>(used);
}

// Opens `path` for reading when it is an ordinary file on a disk (a device, a pipe or a folder is
// refused without being read); nullptr with `result` saying why otherwise.
HANDLE OpenRegular(const std::string& path, ReadResult& result) {
  const HANDLE file = ::CreateFileW(Wide(path).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    result.error_number = LastErrorNumber();
    result.status = result.error_number == ENOENT ? ReadStatus::Missing : ReadStatus::Failed;
    return nullptr;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  LARGE_INTEGER size{};
  if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !::GetFileSizeEx(file, &size)) {
    ::CloseHandle(file);
    result.status = ReadStatus::NotRegular;
    return nullptr;
  }
  result.size = static_cast<std::uint64_t>(size.QuadPart);
  return file;
}

// Creates a file of a new, unpredictable name beside `target`, never opening one already there.
HANDLE CreateTemporary(const std::string& target, std::string& name) {
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device device;
  std::mt19937_64 random(device() ^ (std::uint64_t{::GetCurrentProcessId()} << 32));
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = target + ".saving-";
    for (int i = 0; i < 10; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
    const HANDLE file = ::CreateFileW(Wide(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) return file;
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return INVALID_HANDLE_VALUE;
  }
  ::SetLastError(ERROR_FILE_EXISTS);
  return INVALID_HANDLE_VALUE;
}

ReplaceResult Failed(ReplaceStep step, int error_number) {
  return {step, SystemReason(error_number)};
}

}  // namespace

ReadResult ReadRegularFile(const std::string& path, std::size_t max_size, std::string& bytes) {
  ReadResult result;
  const HANDLE file = OpenRegular(path, result);
  if (file == nullptr) return result;
  if (result.size > max_size) {
    ::CloseHandle(file);
    result.status = ReadStatus::TooLarge;
    return result;
  }
  // One byte more than the bound, to notice a file that grew after the look.
  bytes.resize(max_size + 1);
  int error_number = 0;
  const std::int64_t used =
      ReadUpTo(file, reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size(), error_number);
  ::CloseHandle(file);
  if (used < 0) {
    result.status = ReadStatus::Failed;
    result.error_number = error_number;
    bytes.clear();
    return result;
  }
  result.size = static_cast<std::uint64_t>(used);
  if (result.size > max_size) {
    result.status = ReadStatus::TooLarge;
    bytes.clear();
    return result;
  }
  bytes.resize(static_cast<std::size_t>(used));
  result.status = ReadStatus::Read;
  return result;
}

ReadResult ReadFilePrefix(const std::string& path, std::size_t limit,
                          std::vector<std::uint8_t>& bytes) {
  ReadResult result;
  bytes.clear();
  const HANDLE file = OpenRegular(path, result);
  if (file == nullptr) return result;
  bytes.resize(limit);
  int error_number = 0;
  std::int64_t used = ReadUpTo(file, bytes.data(), limit, error_number);
  std::uint64_t size = used < 0 ? 0 : static_cast<std::uint64_t>(used);
  if (used >= 0 && size == limit) {
    std::vector<std::uint8_t> rest(std::size_t{64} << 10);
    do {
      used = ReadUpTo(file, rest.data(), rest.size(), error_number);
      if (used > 0) size += static_cast<std::uint64_t>(used);
    } while (used == static_cast<std::int64_t>(rest.size()));
  }
  ::CloseHandle(file);
  if (used < 0) {
    result.status = ReadStatus::Failed;
    result.error_number = error_number;
    bytes.clear();
    return result;
  }
  bytes.resize(static_cast<std::size_t>(std::min<std::uint64_t>(size, limit)));
  result.size = size;
  result.status = ReadStatus::Read;
  return result;
}

ReplaceResult ReplaceFile(const std::string& path, std::string_view bytes) {
  std::string target;
  std::string why;
  if (!ResolveLinks(path, target, why)) return {ReplaceStep::Resolve, why};
  const std::wstring wide_target = Wide(target);
  const DWORD attributes = ::GetFileAttributesW(wide_target.c_str());
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (exists && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) {
    return {ReplaceStep::NotRegular, "not a regular file"};
  }
  if (exists && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    return Failed(ReplaceStep::NoPermission, EACCES);
  }
  std::string temporary;
  const HANDLE file = CreateTemporary(target, temporary);
  if (file == INVALID_HANDLE_VALUE) return Failed(ReplaceStep::Create, LastErrorNumber());
  bool written = WriteAll(file, bytes) && ::FlushFileBuffers(file);
  const int write_errno = written ? 0 : LastErrorNumber();
  written = ::CloseHandle(file) && written;
  const std::wstring wide_temporary = Wide(temporary);
  if (!written) {
    ::DeleteFileW(wide_temporary.c_str());
    return Failed(ReplaceStep::Write, write_errno != 0 ? write_errno : EIO);
  }
  // Write-through: the move is on the disk when the call returns.
  if (!::MoveFileExW(wide_temporary.c_str(), wide_target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const int rename_errno = LastErrorNumber();
    ::DeleteFileW(wide_temporary.c_str());
    return Failed(ReplaceStep::Rename, rename_errno);
  }
  return {};
}

bool PathExists(const std::string& path) {
  return ::GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

PathKind KindOf(const std::string& path, int& error_number) {
  const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    error_number = LastErrorNumber();
    return error_number == ENOENT ? PathKind::Missing : PathKind::Unreachable;
  }
  return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0 ? PathKind::Other
                                                                                : PathKind::Regular;
}

int WriteAccess(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return LastErrorNumber();
  // A folder's read-only attribute says nothing about writing in it; a file's forbids writing.
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    return EACCES;
  }
  return 0;
}

AppendFile::~AppendFile() {
  if (handle_ != -1) ::CloseHandle(Native(handle_));
}

AppendFile::OpenStatus AppendFile::Open(const std::string& path, int& error_number) {
  const HANDLE file = ::CreateFileW(Wide(path).c_str(), GENERIC_READ | FILE_APPEND_DATA,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error_number = LastErrorNumber();
    return OpenStatus::Failed;
  }
  handle_ = reinterpret_cast<std::intptr_t>(file);
  BY_HANDLE_FILE_INFORMATION info{};
  LARGE_INTEGER size{};
  if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !::GetFileSizeEx(file, &size)) {
    return OpenStatus::NotRegular;
  }
  size_ = static_cast<std::uint64_t>(size.QuadPart);
  return OpenStatus::Opened;
}

bool AppendFile::ReadAt(std::uint64_t offset, char* data, std::size_t length, int& error_number) {
  std::size_t done = 0;
  while (done < length) {
    OVERLAPPED at{};
    const std::uint64_t position = offset + done;
    at.Offset = static_cast<DWORD>(position & 0xFFFFFFFFU);
    at.OffsetHigh = static_cast<DWORD>(position >> 32);
    DWORD got = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(length - done, 1U << 30));
    if (!::ReadFile(Native(handle_), data + done, chunk, &got, &at) || got == 0) {
      error_number = got == 0 && ::GetLastError() == ERROR_HANDLE_EOF ? EIO : LastErrorNumber();
      return false;
    }
    done += got;
  }
  return true;
}

bool AppendFile::Append(std::string_view text, int& error_number) {
  const HANDLE file = Native(handle_);
  if (!WriteAll(file, text) || !::FlushFileBuffers(file)) {
    error_number = LastErrorNumber();
    return false;
  }
  return true;
}

namespace {

// The lock covers one byte far past any content: Windows' locks keep others from reading what
// they cover, and the lock file's content stays readable.
constexpr DWORD kLockedByteHigh = 0x40000000;

}  // namespace

LockFile::~LockFile() {
  if (handle_ != -1) ::CloseHandle(Native(handle_));  // releases the lock
}

LockFile::OpenStatus LockFile::Open(const std::string& path, std::string& error) {
  const std::wstring wide = Wide(path);
  // A link or junction planted at the name is opened as itself, never followed.
  constexpr DWORD kFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
  constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, kShare, nullptr,
                              OPEN_ALWAYS, kFlags, nullptr);
  if (file == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED) {
    file =
        ::CreateFileW(wide.c_str(), GENERIC_READ, kShare, nullptr, OPEN_EXISTING, kFlags, nullptr);
    if (file == INVALID_HANDLE_VALUE && LastErrorNumber() == ENOENT) {
      return OpenStatus::Unavailable;
    }
  }
  if (file == INVALID_HANDLE_VALUE) {
    error = "cannot open the lock file " + path + ": " + SystemReason(LastErrorNumber());
    return OpenStatus::Failed;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    ::CloseHandle(file);
    error = path + ": not a regular file where the lock file belongs";
    return OpenStatus::Failed;
  }
  handle_ = reinterpret_cast<std::intptr_t>(file);
  return OpenStatus::Opened;
}

bool LockFile::TryLock() {
  OVERLAPPED at{};
  at.OffsetHigh = kLockedByteHigh;
  return ::LockFileEx(Native(handle_), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                      &at) != 0;
}

}  // namespace tarven::storage
