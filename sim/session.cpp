#include "sim/session.h"

#include <cerrno>
#include <system_error>
#include <thread>
#include <utility>

#include "sim/sim_state.h"
#include "storage/file_io.h"

namespace tarven::sim {
namespace {

// Takes the lock, waiting up to `wait` for another process to let go of it.
bool Lock(storage::LockFile& lock, std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    if (lock.TryLock()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace

struct Session::Impl {
  std::shared_ptr<SimBackend> simulator;
  std::string state_path;
  // The lock is a file of its own beside the state file, not the state file, because a save
  // renames a new file over the state file. Where it cannot be made and is not there, the run goes
  // on unlocked: it can read, and it could not save there anyway.
  storage::LockFile lock;
  // Whether the state file existed, and its state as loaded: Finish writes only what changed.
  bool state_existed = false;
  std::string loaded_state;

  bool TakeStateFile(const SessionOptions& options, std::string& error) {
    std::string target;
    if (!ResolveStatePath(state_path, target, error)) return false;
    // Refused before a lock file is made beside it: /dev/zero must not get /dev/zero.lock.
    int ignored = 0;
    if (storage::KindOf(target, ignored) == storage::PathKind::Other) {
      error = state_path + ": not a regular file";
      return false;
    }
    const storage::LockFile::OpenStatus opened = lock.Open(target + ".lock", error);
    if (opened == storage::LockFile::OpenStatus::Failed) return false;
    if (opened == storage::LockFile::OpenStatus::Opened && !Lock(lock, options.lock_wait)) {
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
