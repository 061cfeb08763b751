// The module locks on POSIX systems: flock(2) on a file per module. flock belongs to the open
// file, so two opens of one lock file exclude each other within one process as well, and the
// kernel drops it when the last descriptor of that open closes, also when the process is killed.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <utility>

#include "device/module_lock.h"

namespace tarven::device {
namespace {

constexpr int kOpenFlags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

// "tarven 4711" as a holder writes it.
LockHolder ReadHolder(int fd) {
  char text[128] = {};
  const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
  if (n <= 0) return {};
  return ParseHolder(std::string(text, static_cast<std::size_t>(n)));
}

class FlockHeld final : public HeldLock {
 public:
  explicit FlockHeld(int fd) : fd_(fd) {}
  ~FlockHeld() override { ::close(fd_); }  // drops the lock
  FlockHeld(const FlockHeld&) = delete;
  FlockHeld& operator=(const FlockHeld&) = delete;

 private:
  int fd_;
};

// Opens the lock file, making it when missing. In a folder open to every user a file made by
// another user can be opened but not made again (O_CREAT on it is refused where the system
// protects such folders), so an existing file is opened without O_CREAT. A file this user may not
// write is opened for reading: a lock needs no more. -1 when it cannot be had.
int OpenLockFile(const std::string& path) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    int fd = ::open(path.c_str(), O_RDWR | kOpenFlags);
    if (fd < 0 && errno == EACCES) fd = ::open(path.c_str(), O_RDONLY | kOpenFlags);
    if (fd >= 0) return fd;
    if (errno != ENOENT) return -1;
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | kOpenFlags, 0666);
    if (fd >= 0) {
      ::fchmod(fd, 0666);  // for every user, whatever the umask
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}

class FolderLocks final : public ModuleLocks {
 public:
  FolderLocks(std::string folder, std::string program, bool remove_folder)
      : folder_(std::move(folder)), program_(std::move(program)), remove_folder_(remove_folder) {}
  ~FolderLocks() override {
    if (!remove_folder_) return;
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  FolderLocks(const FolderLocks&) = delete;
  FolderLocks& operator=(const FolderLocks&) = delete;

  LockAttempt TryTake(const std::string& key) override {
    LockAttempt attempt;
    const int fd = OpenLockFile(folder_ + "/" + LockFileName(key));
    if (fd < 0) return attempt;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
      ::close(fd);
      return attempt;
    }
    for (;;) {
      if (::flock(fd, LOCK_EX | LOCK_NB) == 0) break;
      if (errno == EINTR) continue;
      if (errno == EWOULDBLOCK) {
        attempt.busy = true;
        attempt.holder = ReadHolder(fd);
      }
      ::close(fd);
      return attempt;
    }
    const std::string who = program_ + " " + std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) == 0) {
      [[maybe_unused]] const ssize_t written = ::pwrite(fd, who.data(), who.size(), 0);
    }
    attempt.lock = std::make_unique<FlockHeld>(fd);
    return attempt;
  }

  const std::string& folder() const override { return folder_; }

 private:
  std::string folder_;
  std::string program_;
  bool remove_folder_;
};

// A folder that every user may make lock files in; false when it is not there and cannot be
// made, or is not a folder.
bool SharedFolder(const std::string& folder) {
  if (::mkdir(folder.c_str(), 01777) == 0) {
    ::chmod(folder.c_str(), 01777);  // the umask took bits off
    return true;
  }
  struct stat info {};
  return errno == EEXIST && ::lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

std::shared_ptr<ModuleLocks> FolderModuleLocks(const std::string& folder, const std::string& program,
                                               bool remove_folder) {
  return std::make_shared<FolderLocks>(folder, program, remove_folder);
}

std::shared_ptr<ModuleLocks> SystemModuleLocks(const std::string& program) {
  if (const char* chosen = std::getenv("TARVEN_LOCK_DIR"); chosen != nullptr && *chosen != '\0') {
    ::mkdir(chosen, 0777);
    return FolderModuleLocks(chosen, program, false);
  }
  std::string folder = "/run/lock/tarven";
  if (!SharedFolder(folder)) {
    std::error_code error;
    folder = (std::filesystem::temp_directory_path(error) / "tarven-locks").string();
    if (error) folder = "/tmp/tarven-locks";
    SharedFolder(folder);
  }
  return FolderModuleLocks(folder, program, false);
}

std::shared_ptr<ModuleLocks> PrivateModuleLocks(const std::string& program) {
  std::error_code error;
  std::string pattern =
      (std::filesystem::temp_directory_path(error) / "tarven-bench-XXXXXX").string();
  if (error) pattern = "/tmp/tarven-bench-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) return nullptr;
  return FolderModuleLocks(pattern, program, true);
}

std::string ThisProgramName() {
  std::ifstream comm("/proc/self/comm");
  std::string name;
  if (std::getline(comm, name) && !name.empty()) return name;
  return "a program";
}

}  // namespace tarven::device
