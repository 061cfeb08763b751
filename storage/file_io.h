#pragma once
// Files that must never be lost or half-written: read only when they are ordinary files of a
// sane size (a device or a pipe named by mistake is refused at once, never read for ever or
// waited on), and replaced only through a new file beside them that is flushed to the disk and
// renamed over the old one, so that the old content survives any failure on the way. Used for
// image files, parameter files and the simulated module's state alike.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarven::storage {

// The system's words for an error number.
std::string SystemReason(int error_number);

enum class ReadStatus { Read, Missing, NotRegular, TooLarge, Failed };

struct ReadResult {
  ReadStatus status = ReadStatus::Failed;
  int error_number = 0;    // Failed: why
  std::uint64_t size = 0;  // TooLarge, and Read by ReadFilePrefix: the file's size
};

// Reads the whole of `path` into `bytes` when it is a regular file of at most `max_size` bytes.
ReadResult ReadRegularFile(const std::string& path, std::size_t max_size, std::string& bytes);

// Reads the first min(file size, `limit`) bytes of the regular file `path` into `bytes`; a file of
// any size is accepted. The file is read to its end, whatever size the file system lists for it,
// and `size` is what it held; a read that fails anywhere in it is Failed (with the reason), and
// then `bytes` is empty.
ReadResult ReadFilePrefix(const std::string& path, std::size_t limit,
                          std::vector<std::uint8_t>& bytes);

// The file that `path` stands for: symbolic links followed to the end. The file itself need not
// exist. False with a reason when a link cannot be read or links go round in a loop.
bool ResolveLinks(const std::string& path, std::string& target, std::string& error);

// The folder a file lives in ("." for a bare name).
std::string FolderOf(const std::string& file);

// Where a replacement stopped: following the links, finding no regular file or no permission to
// replace it, creating the new file beside it, writing it (a full disk), or renaming it.
enum class ReplaceStep { Done, Resolve, NotRegular, NoPermission, Create, Write, Rename };

struct ReplaceResult {
  ReplaceStep failed = ReplaceStep::Done;
  std::string reason;  // the system's reason, or why the links could not be followed
  bool ok() const { return failed == ReplaceStep::Done; }
};

// Writes `bytes` as the new content of `path`: into a new file of an unpredictable name beside
// the target (created exclusively, so nothing planted there is followed), flushed to the disk,
// renamed over the target, and the folder flushed too. A symbolic link at `path` is written
// through and stays a link; a replaced file keeps its mode; a file without write permission for
// us is not replaced. On failure the old file is as it was and no temporary file is left.
ReplaceResult ReplaceFile(const std::string& path, std::string_view bytes);

// Whether anything is at `path`, a symbolic link that leads nowhere included.
bool PathExists(const std::string& path);

// What `path` leads to, links followed.
enum class PathKind { Missing, Regular, Other, Unreachable };
// `error_number` says why for Unreachable.
PathKind KindOf(const std::string& path, int& error_number);

// 0 when this program may write the file `path`, or make and rename files in the folder `path`;
// the error number that says why not otherwise.
int WriteAccess(const std::string& path);

// A file that grows by whole pieces, each flushed to the disk before Append returns (a log that a
// power cut must leave whole up to its last complete row).
class AppendFile {
 public:
  AppendFile() = default;
  ~AppendFile();
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;

  enum class OpenStatus { Opened, NotRegular, Failed };
  // Opens `path` for appending, creating it when missing; a device or a pipe is NotRegular.
  // Failed sets `error_number`.
  OpenStatus Open(const std::string& path, int& error_number);
  // The file's size when it was opened.
  std::uint64_t size() const { return size_; }
  // Reads exactly `length` bytes from `offset`; false (with the error number) otherwise.
  bool ReadAt(std::uint64_t offset, char* data, std::size_t length, int& error_number);
  // Adds `text` at the end and flushes it to the disk.
  bool Append(std::string_view text, int& error_number);

 private:
  std::intptr_t handle_ = -1;
  std::uint64_t size_ = 0;
};

// A lock that only programs which take it respect, on a file of its own: held from TryLock until
// the object is destroyed, and dropped by the system when the holder dies.
class LockFile {
 public:
  LockFile() = default;
  ~LockFile();
  LockFile(const LockFile&) = delete;
  LockFile& operator=(const LockFile&) = delete;

  enum class OpenStatus { Opened, Unavailable, Failed };
  // Opens the lock file, making it when missing and never following a link planted at its name.
  // Where it cannot be made (a folder we may not write) an existing one is opened for reading;
  // when there is none, Unavailable: the caller goes on unlocked. Failed says why in `error`.
  OpenStatus Open(const std::string& path, std::string& error);
  // Takes the lock without waiting; false when another holder has it.
  bool TryLock();

 private:
  std::intptr_t handle_ = -1;
};

}  // namespace tarven::storage
