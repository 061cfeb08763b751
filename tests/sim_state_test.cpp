// The simulated module's state file: kept between runs, refused whole when damaged or when it is
// not a file at all, and replaced without ever being left half-written.

#include "sim/sim_state.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace tarven::testing {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class SimStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("tarven-sim-state-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = (dir_ / "module.state").string();
  }
  void TearDown() override { fs::remove_all(dir_); }
  void WriteFile(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
  // A module that differs from a fresh one, so that "untouched" can be told from "loaded".
  static sim::SimulatedModule Marked() {
    sim::SimulatedModule module;
    module.cnc_running = false;
    module.ram[0] = 0xEE;
    return module;
  }

  fs::path dir_;
  std::string path_;
};

TEST_F(SimStateTest, EverythingSurvivesARoundTrip) {
  sim::SimulatedModule written;
  written.personality = sim::Personality::BootLoader;
  written.firmware_version = 0x00012300;
  written.boot_version = 0x00010203;
  written.cnc_running = false;
  written.ext_dac = true;
  written.flash[0] = 0x12;
  written.flash[sim::SimulatedModule::kFlashSize - 1] = 0x34;
  written.ram[5] = 0x56;
  written.ram_main_bank[6] = 0x78;
  written.ram_reserve_bank[7] = 0x9A;
  written.registers = {{0xF131, 0xFFFF}, {0x0001, 0xFFFFFFFF}};
  written.encoder_pending = {-5, 0, 70000, INT32_MIN};
  written.ea_inputs = {1, 2, 3, 4};
  written.ea_outputs = {5, 6, 7, 0xFFFF};
  written.received_image = {1, 2, 3};
  std::string error;
  ASSERT_TRUE(sim::SaveState(written, path_, error)) << error;

  sim::SimulatedModule read;
  ASSERT_TRUE(sim::LoadState(read, path_, error)) << error;
  EXPECT_TRUE(static_cast<const sim::ModuleState&>(read) == written);
  EXPECT_EQ(read.personality, sim::Personality::BootLoader);
  EXPECT_EQ(read.registers, written.registers);
  EXPECT_EQ(read.encoder_pending, written.encoder_pending);

  // An empty register list and an empty image are states too.
  written.registers.clear();
  written.received_image.clear();
  ASSERT_TRUE(sim::SaveState(written, path_, error)) << error;
  ASSERT_TRUE(sim::LoadState(read, path_, error)) << error;
  EXPECT_TRUE(read.registers.empty());
  EXPECT_TRUE(read.received_image.empty());
}

TEST_F(SimStateTest, MissingFileMeansAFreshModule) {
  sim::SimulatedModule module = Marked();
  std::string error;
  bool existed = true;
  EXPECT_TRUE(sim::LoadState(module, path_, error, &existed));
  EXPECT_TRUE(error.empty());
  EXPECT_FALSE(existed);
  EXPECT_FALSE(module.cnc_running) << "a missing file changes nothing";
}

// Every way a file can be cut at a line break leaves it without its end line (or without its
// header): each is refused, naming the file, and the module keeps what it had.
TEST_F(SimStateTest, FileCutAtAnyLineBreakIsRefused) {
  const std::string whole = sim::SerializeState(sim::ModuleState());
  std::size_t cuts = 0;
  for (std::size_t at = 0; at + 1 < whole.size(); ++at) {
    if (whole[at] != '\n') continue;
    ++cuts;
    WriteFile(whole.substr(0, at + 1));
    sim::SimulatedModule module = Marked();
    std::string error;
    EXPECT_FALSE(sim::LoadState(module, path_, error)) << "cut after byte " << at;
    EXPECT_EQ(error.rfind(path_ + ":", 0), 0u) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    EXPECT_NE(error.find("cut short"), std::string::npos) << error;
    EXPECT_FALSE(module.cnc_running) << "cut after byte " << at << " changed the module";
    EXPECT_EQ(module.ram[0], 0xEE);
  }
  EXPECT_GE(cuts, 15u);
  // Cut inside a line, and the end line itself cut.
  for (std::size_t keep : {whole.size() - 1, whole.size() - 2, whole.size() / 2}) {
    WriteFile(whole.substr(0, keep));
    sim::SimulatedModule module = Marked();
    std::string error;
    EXPECT_FALSE(sim::LoadState(module, path_, error)) << keep;
    EXPECT_FALSE(module.cnc_running);
  }
}

// A state whose lines end in CR LF (an editor's or a copy's doing) is the same state.
TEST_F(SimStateTest, FileWithCrLfLinesIsReadAsItIs) {
  sim::SimulatedModule written = Marked();
  written.registers[0xF131] = 0x1234;
  std::string text = sim::SerializeState(written);
  for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 2)) {
    text.insert(at, 1, '\r');
  }
  WriteFile(text);
  sim::SimulatedModule module;
  std::string error;
  bool existed = false;
  ASSERT_TRUE(sim::LoadState(module, path_, error, &existed)) << error;
  EXPECT_TRUE(existed);
  EXPECT_EQ(sim::SerializeState(module), sim::SerializeState(written));
  EXPECT_EQ(ReadText(path_), text) << "reading changes nothing";
}

TEST_F(SimStateTest, DamagedFilesAreRefusedWithAReasonAndChangeNothing) {
  const std::string whole = sim::SerializeState(sim::ModuleState());
  // The valid file with the line of `key` replaced (or removed, when `line` is empty).
  auto with_line = [&](const std::string& key, const std::string& line) {
    std::istringstream in(whole);
    std::string text;
    for (std::string current; std::getline(in, current);) {
      const bool match = current == key || current.rfind(key + " ", 0) == 0;
      if (!match) {
        text += current + '\n';
      } else if (!line.empty()) {
        text += line + '\n';
      }
    }
    return text;
  };
  struct Case {
    const char* what;
    std::string text;
    const char* reason;
  };
  const Case cases[] = {
      {"empty", "", ": not a simulator state file"},
      {"no header", whole.substr(whole.find('\n') + 1), ": not a simulator state file"},
      {"older version", "tarven-sim-state 1\ncnc_running 0\n", "another version"},
      {"stray letter in the header", "tarven-sim-state 2x" + whole.substr(whole.find('\n')),
       ":1: the header must be \"tarven-sim-state 2\""},
      {"missing ram", with_line("ram", ""), ": incomplete simulator state: no ram line"},
      {"missing image", with_line("received_image", ""), "no received_image line"},
      {"twice", with_line("ext_dac", "ext_dac 0\next_dac 1"), ":7: ext_dac given twice"},
      {"unknown key", with_line("ext_dac", "ext_dac 0\ncolour blue"), ":7: unknown key 'colour'"},
      {"after end", whole + "cnc_running 0\n", "text after the end line"},
      {"short flash", with_line("flash", "flash 00ff"), "flash must be 43008 bytes in hex"},
      {"bad hex", with_line("ram", "ram " + std::string(32766, '0') + "zz"), "ram must be"},
      {"odd hex", with_line("received_image", "received_image 123"), "received_image must be"},
      {"bad flag", with_line("cnc_running", "cnc_running yes"), "cnc_running must be 0 or 1"},
      {"word too big", with_line("firmware_version", "firmware_version 0x100000000"), "32-bit"},
      {"signed word", with_line("boot_version", "boot_version -1"), "32-bit"},
      {"wide register", with_line("registers", "registers 0x1ffff=1"), "registers must be"},
      {"register twice", with_line("registers", "registers 0xf131=1 0xf131=2"), "twice"},
      {"three encoders", with_line("encoder_pending", "encoder_pending 1 2 3"), "four numbers"},
      {"wide input", with_line("ea_inputs", "ea_inputs 1 2 3 65536"), "four numbers"},
      {"bad personality", with_line("personality", "personality both"), "application or"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(c.text);
    sim::SimulatedModule module = Marked();
    std::string error;
    EXPECT_FALSE(sim::LoadState(module, path_, error));
    EXPECT_EQ(error.rfind(path_ + ":", 0), 0u) << error;
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    EXPECT_FALSE(module.cnc_running) << "changed the module";
    EXPECT_EQ(module.ram[0], 0xEE) << "changed the module";
  }
}

// Runs `load` in a child that an alarm ends after two seconds: a load that blocks fails the test
// instead of hanging it. The child's exit status is 0 for a refusal that names `expected`.
void ExpectRefusedQuickly(const std::string& path, const std::string& expected) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::alarm(2);
    sim::SimulatedModule module;
    std::string error;
    const bool loaded = sim::LoadState(module, path, error);
    ::_exit(!loaded && error.find(expected) != std::string::npos ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status)) << path << " blocked the load";
  EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0) << path;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << path;
}

TEST_F(SimStateTest, OnlyOrdinaryFilesOfASaneSizeAreRead) {
  ExpectRefusedQuickly("/dev/zero", "/dev/zero: not a regular file");
  const std::string fifo = (dir_ / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ExpectRefusedQuickly(fifo, fifo + ": not a regular file");
  ExpectRefusedQuickly(dir_.string(), "not a regular file");
  // A file past the bound is refused before it is read: a sparse file costs no disk.
  WriteFile("");
  fs::resize_file(fs::path(path_), sim::kMaxStateFileSize + 1);
  ExpectRefusedQuickly(path_, path_ + ": too large for a simulator state");
}

TEST_F(SimStateTest, SaveLeavesNothingButTheStateBehind) {
  sim::SimulatedModule module;
  std::string error;
  ASSERT_TRUE(sim::SaveState(module, path_, error)) << error;
  module.cnc_running = false;
  ASSERT_TRUE(sim::SaveState(module, path_, error)) << error;
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir_)) {
    names.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(names, std::vector<std::string>{"module.state"});
  EXPECT_EQ(ReadText(path_), sim::SerializeState(module));
}

// The old fixed temporary name is someone else's now: a link planted there is neither followed
// nor replaced.
TEST_F(SimStateTest, LinkPlantedAtTheOldTemporaryNameIsLeftAlone) {
  const fs::path victim = dir_ / "victim";
  std::ofstream(victim) << "precious\n";
  fs::create_symlink(victim, path_ + ".tmp");
  sim::SimulatedModule module;
  std::string error;
  ASSERT_TRUE(sim::SaveState(module, path_, error)) << error;
  EXPECT_EQ(ReadText(victim), "precious\n");
  EXPECT_TRUE(fs::is_symlink(path_ + ".tmp"));
  EXPECT_EQ(fs::read_symlink(path_ + ".tmp"), victim);
  EXPECT_TRUE(sim::LoadState(module, path_, error)) << error;
}

TEST_F(SimStateTest, LinkedStateIsWrittenThroughAndKeepsItsMode) {
  fs::create_directories(dir_ / "real");
  const fs::path real = dir_ / "real" / "module.state";
  sim::SimulatedModule module;
  std::string error;
  ASSERT_TRUE(sim::SaveState(module, real.string(), error)) << error;
  ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
  // A relative link, through a second link: both stay links.
  fs::create_symlink("real/module.state", dir_ / "hop");
  fs::create_symlink("hop", path_);

  module.cnc_running = false;
  ASSERT_TRUE(sim::SaveState(module, path_, error)) << error;
  EXPECT_TRUE(fs::is_symlink(path_));
  EXPECT_TRUE(fs::is_symlink(dir_ / "hop"));
  EXPECT_EQ(ReadText(real), sim::SerializeState(module));
  struct stat info {};
  ASSERT_EQ(::stat(real.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);

  std::string target;
  ASSERT_TRUE(sim::ResolveStatePath(path_, target, error)) << error;
  EXPECT_EQ(fs::canonical(target), fs::canonical(real));
}

TEST_F(SimStateTest, LinkLoopIsRefused) {
  fs::create_symlink("module.state", path_);
  sim::SimulatedModule module;
  std::string error;
  EXPECT_FALSE(sim::SaveState(module, path_, error));
  EXPECT_NE(error.find("symbolic links"), std::string::npos) << error;
  EXPECT_TRUE(fs::is_symlink(path_));
}

TEST_F(SimStateTest, UnwritableLocationIsReportedAndLeavesNoFile) {
  sim::SimulatedModule module;
  std::string error;
  const std::string path = (dir_ / "missing-dir" / "state").string();
  EXPECT_FALSE(sim::SaveState(module, path, error));
  EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
  EXPECT_FALSE(fs::exists(path));
  EXPECT_FALSE(sim::CheckStateWritable(path, error));
}

}  // namespace
}  // namespace tarven::testing
