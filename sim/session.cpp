#include "sim/session.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <thread>
#include <utility>

#include "sim/sim_state.h"

namespace tarven::sim {
namespace {

std::string SystemReason(int error_number) {
  return std::generic_category().message(error_number);
}

// Opens the lock file beside the state file. The lock is a file of its own, not the state file,
// because a save renames a new file over the state file. It is opened without following a link
// planted at its name. In a folder that this process cannot write the lock file may not be
// creatable; then an existing one is opened for reading (a lock needs no write access), and
// failing that the run goes on unlocked: it can read, and it could not save there anyway.
// -1 with `error` set on failure; -1 with `error` empty when running unlocked.
int OpenLockFile(const std::string& lock_path, std::string& error) {
  constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  int fd = ::open(lock_path.c_str(), O_RDWR | O_CREAT | kFlags, 0666);
  if (fd < 0 && (errno == EACCES || errno == EROFS)) {
    fd = ::open(lock_path.c_str(), O_RDONLY | kFlags);
    if (fd < 0 && errno == ENOENT) return -1;
  }
  if (fd < 0) {
    error = errno == ELOOP ? lock_path + ": a symbolic link where the lock file belongs"
                           : "cannot open the lock file " + lock_path + ": " + SystemReason(errno);
    return -1;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    error = lock_path + ": not a regular file where the lock file belongs";
    return -1;
  }
  return fd;
}

// Takes the lock, waiting up to `wait` for another process to let go of it.
bool Lock(int fd, std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace

struct Session::Impl {
  std::shared_ptr<SimBackend> simulator;
  std::string state_path;
  int lock_fd = -1;
  // Whether the state file existed, and its state as loaded: Finish writes only what changed.
  bool state_existed = false;
  std::string loaded_state;

  ~Impl() {
    if (lock_fd >= 0) ::close(lock_fd);  // releases the lock
  }

  bool TakeStateFile(const SessionOptions& options, std::string& error) {
    std::string target;
    if (!ResolveStatePath(state_path, target, error)) return false;
    // Refused before a lock file is made beside it: /dev/zero must not get /dev/zero.lock.
    struct stat info {};
    if (::stat(target.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
      error = state_path + ": not a regular file";
      return false;
    }
    lock_fd = OpenLockFile(target + ".lock", error);
    if (lock_fd < 0 && !error.empty()) return false;
    if (lock_fd >= 0 && !Lock(lock_fd, options.lock_wait)) {
      error = state_path + ": in use by another process";
      return false;
    }
    if (options.check_writable && !CheckStateWritable(state_path, error)) return false;
    if (!LoadState(simulator->module(), state_path, error, &state_existed)) return false;
    loaded_state = SerializeState(simulator->module());
    return true;
  }
};

Session::Session() : impl_(std::make_unique<Impl>()) {}

std::unique_ptr<Session> Session::Start(const SessionOptions& options,
                                        std::shared_ptr<SimBackend> simulator, std::string& error) {
  if (!options.sim_state_path.empty() && !options.simulate) {
    error = "a simulator state file needs the simulated module";
    return nullptr;
  }
  std::unique_ptr<Session> session(new Session());
  Impl& impl = *session->impl_;
  if (options.simulate) {
    if (simulator) {
      impl.simulator = std::move(simulator);
    } else {
      impl.simulator = std::make_shared<SimBackend>();
      for (int n = 1; n < options.modules; ++n) {
        impl.simulator->AddModule(std::make_shared<SimulatedModule>());
      }
    }
    impl.simulator->SetWireTime(options.wire_time);
    impl.state_path = options.sim_state_path;
    if (!impl.state_path.empty() && !impl.TakeStateFile(options, error)) return nullptr;
  }
  return session;
}

Session::~Session() = default;

bool Session::Finish(std::string& error) {
  Impl& impl = *impl_;
  if (!impl.simulator || impl.state_path.empty()) return true;
  std::string state = SerializeState(impl.simulator->module());
  if (impl.state_existed && state == impl.loaded_state) return true;
  if (!SaveState(impl.simulator->module(), impl.state_path, error)) return false;
  impl.state_existed = true;
  impl.loaded_state = std::move(state);
  return true;
}

SimBackend* Session::simulator() const {
  return impl_->simulator.get();
}

std::shared_ptr<SimBackend> Session::simulator_shared() const {
  return impl_->simulator;
}

}  // namespace tarven::sim
