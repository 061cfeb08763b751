// One run of a front end: the binding it makes, and the state file it locks, loads and saves.

#include "sim/session.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <thread>

#include "device/device.h"
#include "device/hid.h"
#include "device/operations.h"
#include "sim/sim_state.h"

namespace tarven::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr uid_t kNobody = 65534;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

ino_t Inode(const fs::path& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

// Runs `body` in a child process and returns its exit status (-1 when it did not exit). With
// `as_other_user`, a child of root drops to an unprivileged user first, so that file modes bind
// it as they bind everyone else.
int InChild(const std::function<int()>& body, bool as_other_user = false) {
  const pid_t child = ::fork();
  if (child == 0) {
    ::alarm(60);
    if (as_other_user && ::getuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
      ::_exit(99);
    }
    ::_exit(body());
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("tarven-session-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    // Open to the unprivileged user of the permission tests.
    fs::permissions(dir_, fs::perms::all);
    path_ = (dir_ / "module.state").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  sim::SessionOptions StateOptions(std::chrono::milliseconds lock_wait = 3000ms) const {
    sim::SessionOptions options;
    options.simulate = true;
    options.sim_state_path = path_;
    options.lock_wait = lock_wait;
    return options;
  }
  // Writes a state with the CNC stopped, as a run before this one left it.
  void WriteStoppedState() {
    sim::ModuleState state;
    state.cnc_running = false;
    std::string error;
    ASSERT_TRUE(sim::SaveState(state, path_, error)) << error;
  }

  fs::path dir_;
  std::string path_;
};

TEST_F(SessionTest, GivesItsSimulatorToTheLinkWithTraceAndLetsGoOfIt) {
  std::ostringstream trace;
  sim::SessionOptions options;
  options.simulate = true;
  auto simulator = std::make_shared<sim::SimBackend>();
  std::string error;
  {
    auto session = sim::Session::Start(options, simulator, error);
    ASSERT_TRUE(session) << error;
    EXPECT_EQ(session->simulator(), simulator.get());
    device::LinkOptions link_options;
    link_options.simulated = session->simulator_shared();
    link_options.trace = &trace;
    const auto link = device::MakeLink(link_options);
    EXPECT_EQ(device::PollStatus(*link).presence, device::Presence::Application);
    EXPECT_TRUE(session->Finish(error)) << error;
  }
  EXPECT_EQ(simulator.use_count(), 1) << "the run kept a hold of the simulator";
  EXPECT_NE(trace.str().find("open sim:module\n-> 00 55 01 00"), std::string::npos) << trace.str();
}

TEST_F(SessionTest, StateIsLoadedAndSavedOnlyWhenItChanged) {
  std::string error;
  {
    auto session = sim::Session::Start(StateOptions(), nullptr, error);
    ASSERT_TRUE(session) << error;
    EXPECT_TRUE(session->simulator()->module().cnc_running);
    session->simulator()->module().cnc_running = false;
    ASSERT_TRUE(session->Finish(error)) << error;
  }
  ASSERT_TRUE(fs::exists(path_)) << "a changed module creates its file";
  const ino_t saved = Inode(path_);
  {
    auto session = sim::Session::Start(StateOptions(), nullptr, error);
    ASSERT_TRUE(session) << error;
    EXPECT_FALSE(session->simulator()->module().cnc_running);
    device::Link link(session->simulator_shared());
    EXPECT_EQ(device::PollStatus(link).presence, device::Presence::Application);
    ASSERT_TRUE(session->Finish(error)) << error;
  }
  EXPECT_EQ(Inode(path_), saved) << "an unchanged module was written anew";
}

// A run that did not exist before still leaves its state behind, so that the next run finds it.
TEST_F(SessionTest, MissingStateFileIsCreatedAtTheEnd) {
  std::string error;
  auto session = sim::Session::Start(StateOptions(), nullptr, error);
  ASSERT_TRUE(session) << error;
  ASSERT_TRUE(session->Finish(error)) << error;
  EXPECT_EQ(ReadText(path_), sim::SerializeState(sim::ModuleState()));
}

TEST_F(SessionTest, HeldStateFileIsInUseForAnotherProcess) {
  std::string error;
  auto holder = sim::Session::Start(StateOptions(), nullptr, error);
  ASSERT_TRUE(holder) << error;
  sim::SimBackend* const held = holder->simulator();

  // flock locks belong to an open file, so a second session in this process is turned away as
  // another process would be.
  const auto start = std::chrono::steady_clock::now();
  auto second = sim::Session::Start(StateOptions(200ms), nullptr, error);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_FALSE(second);
  EXPECT_EQ(error, path_ + ": in use by another process");
  EXPECT_GE(waited, 200ms);
  EXPECT_LT(waited, 2s);
  EXPECT_EQ(holder->simulator(), held) << "a refused start touched the running one";
}

// A run that finds the file held waits for it, up to its limit.
TEST_F(SessionTest, WaitingRunGoesAheadWhenTheHolderLetsGo) {
  // The holder is a child: a forked copy of a holding process would share its lock. It says when
  // it holds the lock, and lets go when it is told to.
  int ready[2];
  int release[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(release), 0);
  const pid_t holder = ::fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    ::alarm(60);
    std::string error;
    auto session = sim::Session::Start(StateOptions(), nullptr, error);
    char byte = session ? 1 : 0;
    [[maybe_unused]] ssize_t n = ::write(ready[1], &byte, 1);
    n = ::read(release[0], &byte, 1);
    ::_exit(0);
  }
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  ASSERT_EQ(byte, 1);
  std::string error;
  EXPECT_FALSE(sim::Session::Start(StateOptions(0ms), nullptr, error)) << "the lock is held";

  // The waiting run opens the lock file before it waits for the lock: the holder lets go once
  // that has happened, so the run starts while the lock is still held.
  const int watch = ::inotify_init1(IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(::inotify_add_watch(watch, (path_ + ".lock").c_str(), IN_OPEN), 0);
  std::unique_ptr<sim::Session> session;
  std::thread waiting([&] { session = sim::Session::Start(StateOptions(30s), nullptr, error); });
  pollfd opened{watch, POLLIN, 0};
  EXPECT_EQ(::poll(&opened, 1, 30000), 1) << "the waiting run did not open the lock file";
  [[maybe_unused]] const ssize_t n = ::write(release[1], &byte, 1);
  waiting.join();
  EXPECT_TRUE(session) << error;
  int status = 0;
  ASSERT_EQ(::waitpid(holder, &status, 0), holder);
  for (const int fd : {ready[0], ready[1], release[0], release[1], watch}) ::close(fd);
}

// Six processes that each add one to a register forty times, all through the same state file:
// without the lock, one run's save overwrites another's and counts are lost.
TEST_F(SessionTest, ParallelRunsLoseNoUpdate) {
  constexpr int kProcesses = 6;
  constexpr int kRuns = 40;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::alarm(120);
      for (int run = 0; run < kRuns; ++run) {
        std::string error;
        auto session = sim::Session::Start(StateOptions(60s), nullptr, error);
        if (!session) ::_exit(1);
        ++session->simulator()->module().registers[0xF131];
        if (!session->Finish(error)) ::_exit(2);
      }
      ::_exit(0);
    }
    children.push_back(child);
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  sim::SimulatedModule module;
  std::string error;
  ASSERT_TRUE(sim::LoadState(module, path_, error)) << error;
  EXPECT_EQ(module.registers[0xF131], std::uint32_t{kProcesses * kRuns});
}

TEST_F(SessionTest, LinkPlantedAtTheLockNameIsNotFollowed) {
  const fs::path victim = dir_ / "victim";
  std::ofstream(victim) << "precious\n";
  fs::create_symlink(victim, path_ + ".lock");
  std::string error;
  EXPECT_FALSE(sim::Session::Start(StateOptions(), nullptr, error));
  EXPECT_NE(error.find(path_ + ".lock: a symbolic link"), std::string::npos) << error;
  EXPECT_EQ(ReadText(victim), "precious\n");
  EXPECT_FALSE(fs::exists(path_));
}

// Through a link, the lock and the save both belong to the file the link leads to.
TEST_F(SessionTest, LinkedStateFileIsLockedAndWrittenAtItsTarget) {
  const fs::path real = dir_ / "real.state";
  fs::create_symlink("real.state", path_);
  std::string error;
  auto session = sim::Session::Start(StateOptions(), nullptr, error);
  ASSERT_TRUE(session) << error;
  session->simulator()->module().cnc_running = false;
  ASSERT_TRUE(session->Finish(error)) << error;
  EXPECT_TRUE(fs::is_symlink(path_));
  EXPECT_TRUE(fs::exists(dir_ / "real.state.lock"));
  EXPECT_FALSE(fs::exists(path_ + ".lock"));
  sim::SimulatedModule module;
  ASSERT_TRUE(sim::LoadState(module, real.string(), error)) << error;
  EXPECT_FALSE(module.cnc_running);

  // Named directly, the target is the same file and so the same lock.
  auto direct = sim::Session::Start(
      [&] {
        sim::SessionOptions options = StateOptions(50ms);
        options.sim_state_path = real.string();
        return options;
      }(),
      nullptr, error);
  EXPECT_FALSE(direct);
  EXPECT_NE(error.find("in use by another process"), std::string::npos) << error;
}

TEST_F(SessionTest, RefusedStateChangesNothingAndBindsNothing) {
  std::ofstream(path_) << "tarven-sim-state 2\ncnc_running 0\n";
  auto simulator = std::make_shared<sim::SimBackend>();
  std::string error;
  EXPECT_FALSE(sim::Session::Start(StateOptions(), simulator, error));
  EXPECT_NE(error.find(path_ + ": incomplete simulator state"), std::string::npos) << error;
  EXPECT_TRUE(simulator->module().cnc_running);
  EXPECT_EQ(simulator.use_count(), 1) << "a refused start kept a hold of the simulator";

  // A device is refused before a lock file could be made beside it.
  sim::SessionOptions options = StateOptions();
  options.sim_state_path = "/dev/null";
  EXPECT_FALSE(sim::Session::Start(options, simulator, error));
  EXPECT_EQ(error, "/dev/null: not a regular file");
  EXPECT_FALSE(fs::exists("/dev/null.lock"));

  options.simulate = false;
  options.sim_state_path = path_;
  EXPECT_FALSE(sim::Session::Start(options, simulator, error));
  EXPECT_FALSE(error.empty());
}

// A read-only state file serves runs that only read; a run that changed the module says that
// it could not save; a window, which asks at start, is refused at once.
TEST_F(SessionTest, ReadOnlyStateFileServesReadsAndIsNeverReplaced) {
  WriteStoppedState();
  ASSERT_EQ(::chmod(path_.c_str(), 0444), 0);
  const std::string before = ReadText(path_);
  const ino_t inode = Inode(path_);

  EXPECT_EQ(InChild(
                [&] {
                  std::string error;
                  auto session = sim::Session::Start(StateOptions(), nullptr, error);
                  if (!session || session->simulator()->module().cnc_running) return 1;
                  device::Link link(session->simulator_shared());
                  if (device::PollStatus(link).presence != device::Presence::Application) {
                    return 2;
                  }
                  return session->Finish(error) ? 0 : 3;
                },
                true),
            0);
  EXPECT_EQ(InChild(
                [&] {
                  std::string error;
                  auto session = sim::Session::Start(StateOptions(), nullptr, error);
                  if (!session) return 1;
                  session->simulator()->module().cnc_running = true;
                  if (session->Finish(error)) return 2;
                  return error.find("cannot write simulator state " + path_) == 0 ? 0 : 3;
                },
                true),
            0);
  EXPECT_EQ(InChild(
                [&] {
                  sim::SessionOptions options = StateOptions();
                  options.check_writable = true;
                  std::string error;
                  auto session = sim::Session::Start(options, nullptr, error);
                  if (session) return 1;
                  return error.find(path_ + ": cannot be written") == 0 ? 0 : 2;
                },
                true),
            0);
  EXPECT_EQ(ReadText(path_), before);
  EXPECT_EQ(Inode(path_), inode);
}

TEST_F(SessionTest, WindowIsRefusedAtStartWhenTheFolderCannotBeWritten) {
  const fs::path locked = dir_ / "locked";
  fs::create_directories(locked);
  fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                              fs::perms::group_exec | fs::perms::others_read |
                              fs::perms::others_exec);
  EXPECT_EQ(InChild(
                [&] {
                  sim::SessionOptions options = StateOptions();
                  options.sim_state_path = (locked / "new.state").string();
                  options.check_writable = true;
                  std::string error;
                  if (sim::Session::Start(options, nullptr, error)) return 1;
                  return error.find("its folder " + locked.string() + " cannot be written") !=
                                 std::string::npos
                             ? 0
                             : 2;
                },
                true),
            0);
  EXPECT_TRUE(fs::is_empty(locked));
}

}  // namespace
}  // namespace tarven::testing
