// Files on POSIX systems: open(2) with O_NOFOLLOW and O_EXCL for new files, fsync(2), rename(2)
// over the old file, flock(2) for lock files.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <random>

#include "storage/file_io.h"

namespace tarven::storage {
namespace {

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Creates a file of a new, unpredictable name beside `target`; O_EXCL makes sure that nothing
// already there (a file, or a link planted by someone else) is opened or followed.
int CreateTemporary(const std::string& target, std::string& name) {
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device device;
  std::mt19937_64 random(device() ^ (std::uint64_t{static_cast<std::uint32_t>(::getpid())} << 32));
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = target + ".saving-";
    for (int i = 0; i < 10; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

ReplaceResult Failed(ReplaceStep step, int error_number) {
  return {step, SystemReason(error_number)};
}

}  // namespace

namespace {

// Opens `path` for reading when it is a regular file, without blocking on a device or a pipe; -1
// with `result` saying why otherwise. `result.size` is the file's size.
int OpenRegular(const std::string& path, ReadResult& result) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    result.status = errno == ENOENT ? ReadStatus::Missing : ReadStatus::Failed;
    result.error_number = errno;
    return -1;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    result.status = ReadStatus::NotRegular;
    return -1;
  }
  result.size = static_cast<std::uint64_t>(info.st_size);
  return fd;
}

// Reads up to `wanted` bytes into `data`; the bytes read, or -1 with errno.
std::int64_t ReadUpTo(int fd, std::uint8_t* data, std::size_t wanted) {
  std::size_t used = 0;
  while (used < wanted) {
    const ssize_t n = ::read(fd, data + used, wanted - used);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    used += static_cast<std::size_t>(n);
  }
  return static_cast<std::int64_t>(used);
}

}  // namespace

ReadResult ReadRegularFile(const std::string& path, std::size_t max_size, std::string& bytes) {
  ReadResult result;
  const int fd = OpenRegular(path, result);
  if (fd < 0) return result;
  if (result.size > max_size) {
    ::close(fd);
    result.status = ReadStatus::TooLarge;
    return result;
  }
  // One byte more than the bound, to notice a file that grew after the look.
  bytes.resize(max_size + 1);
  const std::int64_t used =
      ReadUpTo(fd, reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size());
  result.error_number = errno;
  ::close(fd);
  if (used < 0) {
    result.status = ReadStatus::Failed;
    bytes.clear();
    return result;
  }
  result.error_number = 0;
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
  const int fd = OpenRegular(path, result);
  if (fd < 0) return result;
  // The size the file system lists is not trusted: files under /proc list 0 and hold more, and a
  // file may change while it is read. The file is read to its end instead.
  bytes.resize(limit);
  std::int64_t used = ReadUpTo(fd, bytes.data(), limit);
  std::uint64_t size = used < 0 ? 0 : static_cast<std::uint64_t>(used);
  if (used >= 0 && size == limit) {
    std::vector<std::uint8_t> rest(std::size_t{64} << 10);
    do {
      used = ReadUpTo(fd, rest.data(), rest.size());
      if (used > 0) size += static_cast<std::uint64_t>(used);
    } while (used == static_cast<std::int64_t>(rest.size()));
  }
  result.error_number = errno;
  ::close(fd);
  if (used < 0) {
    result.status = ReadStatus::Failed;
    bytes.clear();
    return result;
  }
  bytes.resize(static_cast<std::size_t>(std::min<std::uint64_t>(size, limit)));
  result.error_number = 0;
  result.size = size;
  result.status = ReadStatus::Read;
  return result;
}

ReplaceResult ReplaceFile(const std::string& path, std::string_view bytes) {
  std::string target;
  std::string why;
  if (!ResolveLinks(path, target, why)) return {ReplaceStep::Resolve, why};
  struct stat info {};
  const bool exists = ::stat(target.c_str(), &info) == 0;
  if (exists && !S_ISREG(info.st_mode)) return {ReplaceStep::NotRegular, "not a regular file"};
  if (exists && ::access(target.c_str(), W_OK) != 0) {
    return Failed(ReplaceStep::NoPermission, errno);
  }
  std::string temporary;
  const int fd = CreateTemporary(target, temporary);
  if (fd < 0) return Failed(ReplaceStep::Create, errno);
  // A new file gets the usual mode (0666 less the umask); a replaced one keeps its own.
  bool written = !exists || ::fchmod(fd, info.st_mode & 07777) == 0;
  written = written && WriteAll(fd, bytes) && ::fsync(fd) == 0;
  const int write_errno = errno;
  written = ::close(fd) == 0 && written;
  if (!written) {
    ::unlink(temporary.c_str());
    return Failed(ReplaceStep::Write, write_errno != 0 ? write_errno : EIO);
  }
  if (::rename(temporary.c_str(), target.c_str()) != 0) {
    const int rename_errno = errno;
    ::unlink(temporary.c_str());
    return Failed(ReplaceStep::Rename, rename_errno);
  }
  // The rename is on the disk only once the folder is.
  SyncFolder(FolderOf(target));
  return {};
}

bool PathExists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

PathKind KindOf(const std::string& path, int& error_number) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    error_number = errno;
    return errno == ENOENT ? PathKind::Missing : PathKind::Unreachable;
  }
  return S_ISREG(info.st_mode) ? PathKind::Regular : PathKind::Other;
}

int WriteAccess(const std::string& path) {
  struct stat info {};
  const bool folder = ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
  return ::access(path.c_str(), folder ? W_OK | X_OK : W_OK) == 0 ? 0 : errno;
}

AppendFile::~AppendFile() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

AppendFile::OpenStatus AppendFile::Open(const std::string& path, int& error_number) {
  const int fd =
      ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
  if (fd < 0) {
    error_number = errno;
    return OpenStatus::Failed;
  }
  handle_ = fd;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return OpenStatus::NotRegular;
  size_ = static_cast<std::uint64_t>(info.st_size);
  return OpenStatus::Opened;
}

bool AppendFile::ReadAt(std::uint64_t offset, char* data, std::size_t length, int& error_number) {
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = ::pread(static_cast<int>(handle_), data + done, length - done,
                              static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_number = n == 0 ? EIO : errno;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool AppendFile::Append(std::string_view text, int& error_number) {
  const int fd = static_cast<int>(handle_);
  if (!WriteAll(fd, text) || ::fdatasync(fd) != 0) {
    error_number = errno != 0 ? errno : EIO;
    return false;
  }
  return true;
}

LockFile::~LockFile() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));  // releases the lock
}

LockFile::OpenStatus LockFile::Open(const std::string& path, std::string& error) {
  constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | kFlags, 0666);
  if (fd < 0 && (errno == EACCES || errno == EROFS)) {
    fd = ::open(path.c_str(), O_RDONLY | kFlags);
    if (fd < 0 && errno == ENOENT) return OpenStatus::Unavailable;
  }
  if (fd < 0) {
    error = errno == ELOOP ? path + ": a symbolic link where the lock file belongs"
                           : "cannot open the lock file " + path + ": " + SystemReason(errno);
    return OpenStatus::Failed;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    error = path + ": not a regular file where the lock file belongs";
    return OpenStatus::Failed;
  }
  handle_ = fd;
  return OpenStatus::Opened;
}

bool LockFile::TryLock() {
  for (;;) {
    if (::flock(static_cast<int>(handle_), LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EINTR) return false;
  }
}

}  // namespace tarven::storage
