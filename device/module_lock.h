#pragma once
// One program per module at a time. A module takes commands one frame after another and reads a
// data stream as it comes, so a second program's frame inside one program's stream is taken as
// data or breaks the stream. Every exchange therefore holds a lock on its module, shared by all
// programs on the computer: a file per module in a lock folder, locked with a lock that the
// kernel drops when the file is closed, however its holder ends (a killed holder leaves no
// lock behind). The file tells who holds it, so that a program that finds it held can say who.
//
// The platform files behind this interface are module_lock_posix.cpp (flock) and
// module_lock_windows.cpp (LockFileEx).

#include <memory>
#include <string>

namespace tarven::device {

// Who holds a module: a program's name and process id as its lock file tells them (pid 0 when
// the file does not say).
struct LockHolder {
  std::string program;
  long pid = 0;
};

// "tarven (pid 4711)"; "another program" when the file does not say who.
std::string DescribeHolder(const LockHolder& holder);

// A lock that is held until this is destroyed.
class HeldLock {
 public:
  virtual ~HeldLock() = default;
};

struct LockAttempt {
  // The lock, when it was taken.
  std::unique_ptr<HeldLock> lock;
  // Another holder has it: who.
  bool busy = false;
  LockHolder holder;
  // Neither: the lock folder cannot be used (read-only, not ours); the caller goes on unlocked.
};

// The lock files of one folder, taken in the name of one program.
class ModuleLocks {
 public:
  virtual ~ModuleLocks() = default;
  // Takes the lock named `key` without waiting. Any text may be a key; equal keys are one lock,
  // between programs and also between two takers in one program.
  virtual LockAttempt TryTake(const std::string& key) = 0;
  // The folder the lock files are in.
  virtual const std::string& folder() const = 0;
};

// The locks of every program on this computer: in $TARVEN_LOCK_DIR when it is set, else in
// /run/lock/tarven (open to every user), else in a folder of the system's temporary folder.
// `program` is the name other programs are told ("tarvenctl").
std::shared_ptr<ModuleLocks> SystemModuleLocks(const std::string& program);

// Locks in `folder`, made when missing; with `remove_folder`, the folder and its lock files are
// removed when the last user of the object lets go of it (a simulated bench's own locks).
std::shared_ptr<ModuleLocks> FolderModuleLocks(const std::string& folder, const std::string& program,
                                               bool remove_folder);

// A new private folder for the locks of one simulated bench, removed with it: the bench's modules
// exist in this process only, so only this process's links may contend for them.
std::shared_ptr<ModuleLocks> PrivateModuleLocks(const std::string& program);

// The lock file's name for `key`: letters, digits, '-', '.' and '_' stay, every other byte is %XX;
// a very long key is cut and told apart by a hash of the whole.
std::string LockFileName(const std::string& key);

// The holder as its lock file's text "PROGRAM PID" tells it; only printable characters of the name
// are kept, and a pid that is no number or negative is 0.
LockHolder ParseHolder(const std::string& content);

// The name of this program as the system knows it ("tarvenctl"), for other programs to be told.
std::string ThisProgramName();

}  // namespace tarven::device
