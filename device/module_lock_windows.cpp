// The module locks on Windows: LockFileEx on a file per module. A byte-range lock belongs to the
// handle it was taken through, so two opens of one lock file exclude each other within one process
// as well, and the system drops it when the handle closes, also when the process is killed. The
// lock covers one byte far past the holder's text: Windows' locks keep others from reading what
// they cover, and the text must stay readable to say who holds the module.

#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <utility>

#include "device/module_lock.h"
#include "platform/program_path.h"
#include "platform/wide_text.h"

namespace tarven::device {
namespace {

constexpr DWORD kLockedByteHigh = 0x40000000;

LockHolder ReadHolder(HANDLE file) {
  char text[128] = {};
  OVERLAPPED at{};
  DWORD got = 0;
  if (!::ReadFile(file, text, sizeof text - 1, &got, &at) || got == 0) return {};
  return ParseHolder(std::string(text, got));
}

class FileLockHeld final : public HeldLock {
 public:
  explicit FileLockHeld(HANDLE file) : file_(file) {}
  ~FileLockHeld() override { ::CloseHandle(file_); }  // drops the lock
  FileLockHeld(const FileLockHeld&) = delete;
  FileLockHeld& operator=(const FileLockHeld&) = delete;

 private:
  HANDLE file_;
};

// Opens the lock file, making it when missing, never following a link planted at its name. A
// file this user may not write is opened for reading: a lock needs no more. Null when it cannot
// be had.
HANDLE OpenLockFile(const std::string& path) {
  const std::wstring wide = platform::WideFromUtf8(path);
  constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  constexpr DWORD kFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
  HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, kShare, nullptr,
                              OPEN_ALWAYS, kFlags, nullptr);
  if (file == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED) {
    file =
        ::CreateFileW(wide.c_str(), GENERIC_READ, kShare, nullptr, OPEN_EXISTING, kFlags, nullptr);
  }
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    ::CloseHandle(file);
    return nullptr;
  }
  return file;
}

class FolderLocks final : public ModuleLocks {
 public:
  FolderLocks(std::string folder, std::string program, bool remove_folder)
      : folder_(std::move(folder)), program_(std::move(program)), remove_folder_(remove_folder) {}
  ~FolderLocks() override {
    if (!remove_folder_) return;
    std::error_code ignored;
    std::filesystem::remove_all(platform::WideFromUtf8(folder_), ignored);
  }
  FolderLocks(const FolderLocks&) = delete;
  FolderLocks& operator=(const FolderLocks&) = delete;

  LockAttempt TryTake(const std::string& key) override {
    LockAttempt attempt;
    const HANDLE file = OpenLockFile(folder_ + "\\" + LockFileName(key));
    if (file == nullptr) return attempt;
    OVERLAPPED at{};
    at.OffsetHigh = kLockedByteHigh;
    if (!::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
      if (::GetLastError() == ERROR_LOCK_VIOLATION || ::GetLastError() == ERROR_IO_PENDING) {
        attempt.busy = true;
        attempt.holder = ReadHolder(file);
      }
      ::CloseHandle(file);
      return attempt;
    }
    const std::string who = program_ + " " + std::to_string(::GetCurrentProcessId()) + "\n";
    // The holder's text replaces what a former holder wrote; a file opened only for reading
    // keeps it (the lock counts all the same).
    LARGE_INTEGER start{};
    if (::SetFilePointerEx(file, start, nullptr, FILE_BEGIN) && ::SetEndOfFile(file)) {
      DWORD written = 0;
      ::WriteFile(file, who.data(), static_cast<DWORD>(who.size()), &written, nullptr);
    }
    attempt.lock = std::make_unique<FileLockHeld>(file);
    return attempt;
  }

  const std::string& folder() const override { return folder_; }

 private:
  std::string folder_;
  std::string program_;
  bool remove_folder_;
};

// A folder for lock files; false when it is not there and cannot be made.
bool MakeFolder(const std::string& folder) {
  std::error_code error;
  const std::filesystem::path path(platform::WideFromUtf8(folder));
  std::filesystem::create_directories(path, error);
  return std::filesystem::is_directory(path, error);
}

std::string TemporaryFolder() {
  std::error_code error;
  const std::filesystem::path folder = std::filesystem::temp_directory_path(error);
  return error ? std::string(".") : platform::Utf8FromWide(folder.wstring());
}

}  // namespace

std::shared_ptr<ModuleLocks> FolderModuleLocks(const std::string& folder,
                                               const std::string& program, bool remove_folder) {
  return std::make_shared<FolderLocks>(folder, program, remove_folder);
}

// Shared by every user of the computer: %ProgramData%\tarven\locks, where every user may make
// files; else the user's own temporary folder.
std::shared_ptr<ModuleLocks> SystemModuleLocks(const std::string& program) {
  if (const wchar_t* chosen = ::_wgetenv(L"TARVEN_LOCK_DIR"); chosen != nullptr && *chosen != 0) {
    const std::string folder = platform::Utf8FromWide(chosen);
    MakeFolder(folder);
    return FolderModuleLocks(folder, program, false);
  }
  std::string folder;
  if (const wchar_t* data = ::_wgetenv(L"ProgramData"); data != nullptr && *data != 0) {
    folder = platform::Utf8FromWide(data) + "\\tarven\\locks";
  }
  if (folder.empty() || !MakeFolder(folder)) {
    folder = TemporaryFolder() + "\\tarven-locks";
    MakeFolder(folder);
  }
  return FolderModuleLocks(folder, program, false);
}

std::shared_ptr<ModuleLocks> PrivateModuleLocks(const std::string& program) {
  const std::string base = TemporaryFolder();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string folder = base + "\\tarven-bench-" + std::to_string(::GetCurrentProcessId()) +
                               "-" +
                               std::to_string(::GetTickCount64() + static_cast<unsigned>(attempt));
    if (::CreateDirectoryW(platform::WideFromUtf8(folder).c_str(), nullptr)) {
      return FolderModuleLocks(folder, program, true);
    }
    if (::GetLastError() != ERROR_ALREADY_EXISTS) return nullptr;
  }
  return nullptr;
}

std::string ThisProgramName() {
  const std::string path = platform::ThisProgramPath();
  std::string name = path.substr(path.find_last_of("\\/") + 1);
  if (name.size() > 4 && (name.ends_with(".exe") || name.ends_with(".EXE"))) {
    name.resize(name.size() - 4);
  }
  return name.empty() ? std::string("a program") : name;
}

}  // namespace tarven::device
