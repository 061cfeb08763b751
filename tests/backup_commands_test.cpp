// backup, restore and diff against the simulated module: a whole module back byte for byte, a
// damaged backup that writes nothing, a failed read that leaves no file, and config export and
// import.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli_fixture.h"
#include "model/config_sector.h"
#include "sim/sim_backend.h"

namespace tarven::testing {
namespace {

namespace fs = std::filesystem;

class BackupCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tarvenctl-backup-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    bus_ = std::make_shared<sim::SimBackend>();
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  sim::SimulatedModule& module() { return bus_->module(); }
  CtlResult Ctl(std::vector<std::string> args) {
    args.insert(args.begin(), "--simulate");
    return RunCtl(args, bus_, [](std::string_view) { return true; });
  }
  std::string Read(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
  }

  fs::path dir_;
  std::shared_ptr<sim::SimBackend> bus_;
};

// A module with recognisable bytes in every memory.
void Fill(sim::SimulatedModule& module, std::uint8_t seed) {
  for (std::size_t i = 0; i < module.flash.size(); ++i) {
    module.flash[i] = static_cast<std::uint8_t>(i * 13 + seed);
  }
  for (std::size_t i = 0; i < module.ram.size(); ++i) {
    module.ram[i] = static_cast<std::uint8_t>(i * 5 + seed);
  }
}

TEST_F(BackupCommandsTest, BackupChangeRestoreGivesTheModuleBackByteForByte) {
  Fill(module(), 1);
  // A whole configuration sector, so that restore may write it.
  Ctl({"config", "set", "X=4", "Z=1", "G=1", "M=0", "S=1", "T=7", "P=6", "F=0", "--yes"});
  {
    std::ofstream csv(Path("params.csv"));
    csv << "number,value\n";
    for (int n = 1; n <= 255; ++n) csv << n << ',' << n * 2 - 100 << '\n';
  }
  ASSERT_EQ(Ctl({"params", "import", Path("params.csv"), "--yes"}).code, 0);
  const std::vector<std::uint8_t> flash = module().flash;
  const std::vector<std::uint8_t> ram = module().ram;
  const CtlResult backup = Ctl({"backup", Path("module.tar")});
  ASSERT_EQ(backup.code, 0) << backup.err;

  Fill(module(), 99);  // every memory changed
  module().ram_main_bank.assign(module().ram_main_bank.size(), 0);
  const CtlResult diff = Ctl({"diff", Path("module.tar")});
  EXPECT_EQ(diff.code, 1);
  EXPECT_NE(diff.out.find("rom: "), std::string::npos) << diff.out;
  EXPECT_NE(diff.out.find("ram: "), std::string::npos);

  const CtlResult restore = Ctl({"restore", Path("module.tar"), "--ram-bank", "main"});
  ASSERT_EQ(restore.code, 0) << restore.err;
  EXPECT_EQ(restore.out,
            "config, params: written, verified\nrom: written, verified\namt: written, verified\n"
            "kvp: written, verified\nram: written to the main bank (the module restarts; the RAM "
            "is not read back)\n");
  EXPECT_EQ(module().flash, flash) << "flash and configuration sector back byte for byte";
  EXPECT_EQ(module().ram_main_bank, ram);
  const CtlResult after = Ctl({"diff", Path("module.tar")});
  EXPECT_EQ(after.code, 0) << after.out;
  EXPECT_EQ(after.out, "");
}

TEST_F(BackupCommandsTest, BackupIsATarThatKeepsAnExistingFileAndLeavesNoneOnAFailedRead) {
  std::ofstream(Path("kept.tar")) << "mine";
  const CtlResult kept = Ctl({"backup", Path("kept.tar")});
  EXPECT_EQ(kept.code, 1);
  EXPECT_NE(kept.err.find("exists (--force replaces it)"), std::string::npos);
  EXPECT_EQ(Read(Path("kept.tar")), "mine");

  bus_->RefuseNthFetch(200);  // somewhere in the images
  const CtlResult failed = Ctl({"backup", Path("failed.tar")});
  EXPECT_EQ(failed.code, 1);
  EXPECT_NE(failed.err.find("no file was written"), std::string::npos) << failed.err;
  EXPECT_FALSE(fs::exists(Path("failed.tar")));

  ASSERT_EQ(Ctl({"backup", Path("kept.tar"), "--force"}).code, 0);
  const std::string archive = Read(Path("kept.tar"));
  EXPECT_EQ(archive.substr(0, 12), "manifest.txt");
  EXPECT_EQ(archive.substr(257, 5), "ustar");
}

// A damaged backup is refused before the module is even opened: not one report goes.
TEST_F(BackupCommandsTest, DamagedBackupWritesNothing) {
  ASSERT_EQ(Ctl({"backup", Path("good.tar")}).code, 0);
  const std::string good = Read(Path("good.tar"));
  std::string flipped = good;
  flipped[good.size() / 2] = static_cast<char>(flipped[good.size() / 2] ^ 0x20);
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {{"empty", ""},
               {"truncated", good.substr(0, good.size() / 3)},
               {"a flipped byte", flipped},
               {"not a backup", std::string(2048, '\0')}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::ofstream(Path("bad.tar"), std::ios::binary | std::ios::trunc) << c.bytes;
    bus_->StartRecording();
    bus_->ClearLog();
    const CtlResult r = Ctl({"restore", Path("bad.tar"), "--ram-bank", "main"});
    bus_->StopRecording();
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("not a usable backup: "), std::string::npos) << r.err;
    EXPECT_TRUE(bus_->log().empty()) << "nothing went to the module";
    EXPECT_EQ(Ctl({"diff", Path("bad.tar"), Path("good.tar")}).code, 2);
  }
}

// A flash cell that does not keep a written byte: the read-back names the first differing
// address of the part it lies in, the other parts are still written and verified, and the
// restore fails. Without the read-back, nothing can tell.
TEST_F(BackupCommandsTest, ReadBackNamesTheFirstAddressAWriteDidNotKeep) {
  ASSERT_EQ(Ctl({"backup", Path("m.tar")}).code, 0);
  const struct {
    std::uint32_t cell;
    std::vector<std::string> options;
    int code;
    const char* out;
  } cases[] = {
      {0x08035923, {}, 1,
       "config, params: written, verified\n"
       "rom: written, but reads back different at 0x08035923\n"
       "amt: written, verified\nkvp: written, verified\n"},
      {0x0803F7FF, {"--only", "kvp"}, 1, "kvp: written, but reads back different at 0x0803F7FF\n"},
      {0x0803F864, {}, 1,
       "config, params: written, but reads back different at 0x0803F864\n"
       "rom: written, verified\namt: written, verified\nkvp: written, verified\n"},
      {0x0803FC07, {"--only", "params"}, 1,
       "params: written, but reads back different at 0x0803FC07\n"},
      {0x08035923, {"--only", "rom", "--no-verify"}, 0, "rom: written, not read back\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.out);
    module().weak_flash_cell = c.cell;
    std::vector<std::string> args = {"restore", Path("m.tar")};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const CtlResult r = Ctl(args);
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.code == 0 ? ""
                                 : "tarvenctl: restore: not every part was restored (see above)\n");
  }
}

// A module that does not take the command that starts the CNC.
class StartRefusingBus final : public sim::SimBackend {
 public:
  bool SetFeature(hid::Handle handle, const std::uint8_t* report, std::size_t length) override {
    if (length > 2 && report[1] == 0x55 && report[2] == 16) return false;
    return SimBackend::SetFeature(handle, report, length);
  }
};

// A module whose RAM stream breaks off: the tenth fetch after the command that reads the RAM is
// refused.
class RamCuttingBus final : public sim::SimBackend {
 public:
  bool SetFeature(hid::Handle handle, const std::uint8_t* report, std::size_t length) override {
    if (length > 2 && report[1] == 0x55 && report[2] == 17) countdown_ = 10;
    return SimBackend::SetFeature(handle, report, length);
  }
  bool GetFeature(hid::Handle handle, std::uint8_t* report, std::size_t length) override {
    if (countdown_ > 0 && --countdown_ == 0) return false;
    return SimBackend::GetFeature(handle, report, length);
  }

 private:
  int countdown_ = 0;
};

// backup, diff against the module and image read ram stop the CNC for the RAM read and leave it
// as they found it, and say so: a stopped CNC stays stopped, a running one runs again. A refused
// start is told as the outcome of the read.
TEST_F(BackupCommandsTest, RamReadsLeaveTheCncAsTheyFoundIt) {
  ASSERT_EQ(Ctl({"backup", Path("a.tar")}).code, 0);
  const struct {
    const char* what;
    std::vector<std::string> args;
  } commands[] = {
      {"backup", {"backup", Path("b.tar"), "--force"}},
      {"diff", {"diff", Path("a.tar")}},
      {"image read", {"image", "read", "ram", Path("ram.bin"), "--force"}},
  };
  for (const auto& c : commands) {
    for (const bool running : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (running ? ", running" : ", stopped"));
      module().cnc_running = running;
      const CtlResult r = Ctl(c.args);
      EXPECT_EQ(r.code, 0) << r.err;
      EXPECT_EQ(module().cnc_running, running);
      EXPECT_EQ(r.err, "tarvenctl: " + std::string(c.what) + ": " +
                           (running ? "the CNC was running: it was stopped for the RAM read and "
                                      "started again\n"
                                    : "the CNC was stopped and is left stopped\n"));
    }
  }

  // A RAM read that breaks off fails in one line, which says what became of the CNC.
  bus_ = std::make_shared<RamCuttingBus>();
  for (const auto& c : commands) {
    for (const bool running : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (running ? ", running" : ", stopped") + ", read cut");
      module().cnc_running = running;
      const CtlResult r = Ctl(c.args);
      EXPECT_EQ(r.code, 1);
      EXPECT_EQ(module().cnc_running, running);
      EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
      EXPECT_NE(r.err.find(running ? "; the CNC was running and was stopped for the RAM read; it "
                                     "may still be stopped"
                                   : "; the CNC was stopped and is left stopped\n"),
                std::string::npos)
          << r.err;
    }
  }

  bus_ = std::make_shared<StartRefusingBus>();
  ASSERT_EQ(Ctl({"backup", Path("a.tar"), "--force"}).code, 0);
  module().cnc_running = true;  // the backup above stopped it and could not start it again
  for (const auto& c : commands) {
    SCOPED_TRACE(std::string(c.what) + ", start refused");
    module().cnc_running = true;
    const CtlResult r = Ctl(c.args);
    EXPECT_EQ(r.code, c.what == std::string("image read") ? 1 : 0) << r.err;
    EXPECT_FALSE(module().cnc_running);
    EXPECT_NE(r.err.find("the module did not take the command to start"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("started again"), std::string::npos) << r.err;
  }
}

TEST_F(BackupCommandsTest, DiffNamesWhatChangedAndOnlyChoosesParts) {
  ASSERT_EQ(Ctl({"backup", Path("a.tar")}).code, 0);
  EXPECT_EQ(Ctl({"diff", Path("a.tar"), Path("a.tar")}).code, 0);
  ASSERT_EQ(Ctl({"config", "set", "X=5", "--yes"}).code, 0);
  ASSERT_EQ(Ctl({"params", "set", "7=-3", "--yes"}).code, 0);
  module().flash[16] ^= 0xFF;  // the main ROM's byte 16
  ASSERT_EQ(Ctl({"backup", Path("b.tar")}).code, 0);
  const CtlResult diff = Ctl({"diff", Path("a.tar"), Path("b.tar")});
  EXPECT_EQ(diff.code, 1);
  EXPECT_NE(diff.out.find("config X: 4 -> 5\n"), std::string::npos) << diff.out;
  EXPECT_NE(diff.out.find("param 7: 0 -> -3\n"), std::string::npos);
  EXPECT_NE(diff.out.find("rom: 1 bytes differ, first at 0x08035810\n"), std::string::npos);

  // Only the parameters go back: the configuration keeps X=5.
  const CtlResult only = Ctl({"restore", Path("a.tar"), "--only", "params"});
  EXPECT_EQ(only.code, 0) << only.err;
  EXPECT_EQ(only.out, "params: written, verified\n");
  EXPECT_NE(Ctl({"config", "show"}).out.find("X=5"), std::string::npos);
  EXPECT_EQ(Ctl({"params", "get", "7"}).out, "7=0\n");

  const CtlResult ram = Ctl({"restore", Path("a.tar"), "--only", "ram"});
  EXPECT_EQ(ram.code, 2);
  EXPECT_NE(ram.err.find("--ram-bank"), std::string::npos);
  EXPECT_EQ(Ctl({"restore", Path("a.tar"), "--only", "rom,flash"}).code, 2);
}

// The index in `log` of the last command frame with `code` that was sent.
std::size_t LastCommand(const std::vector<sim::ReportRecord>& log, std::uint8_t code) {
  std::size_t found = log.size();
  for (std::size_t i = 0; i < log.size(); ++i) {
    const sim::ReportRecord& record = log[i];
    if (record.direction == sim::ReportRecord::Direction::Sent && record.bytes.size() > 2 &&
        record.bytes[1] == 0x55 && record.bytes[2] == code) {
      found = i;
    }
  }
  return found;
}

// A RAM read cut off by an unplug leaves the CNC stopped: the one line that says no file was
// written also says so, and how to start it.
TEST_F(BackupCommandsTest, RamReadCutOffSaysTheCncMayStillBeStopped) {
  const struct {
    std::vector<std::string> args;
    const char* begins;
  } cases[] = {
      {{"backup", Path("cut.tar")},
       "tarvenctl: backup: reading ram: the module did not answer (report "},
      {{"image", "read", "ram", Path("cut.bin")},
       "tarvenctl: image read: the module did not answer (report "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.front());
    // Where the stop before the RAM read comes, from a run without a fault.
    bus_ = std::make_shared<sim::SimBackend>();
    bus_->StartRecording();
    std::vector<std::string> clean_args = c.args;
    clean_args.back() += ".clean";
    ASSERT_EQ(Ctl(clean_args).code, 0);
    const std::size_t stop = LastCommand(bus_->log(), 12);  // stop the CNC
    ASSERT_LT(stop, bus_->log().size());

    bus_ = std::make_shared<sim::SimBackend>();
    bus_->ArmFault(stop + 1 + 40, sim::SimBackend::Fault::Unplug);  // inside the RAM's data
    const CtlResult r = Ctl(c.args);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err.rfind(c.begins, 0), 0u) << r.err;
    EXPECT_NE(r.err.find("; the CNC was running and was stopped for the RAM read; it may still be "
                         "stopped ('tarvenctl cnc start' starts it)\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
    EXPECT_FALSE(bus_->module().cnc_running);
    EXPECT_FALSE(fs::exists(c.args.back()));
  }
  // A read that failed before it stopped anything says nothing of the CNC.
  bus_ = std::make_shared<sim::SimBackend>();
  bus_->Unplug();
  const CtlResult absent = Ctl({"image", "read", "ram", Path("none.bin")});
  EXPECT_EQ(absent.code, 1);
  EXPECT_EQ(absent.err.find("CNC"), std::string::npos) << absent.err;
}

// A part written whole whose read-back fails is one line that says both, not "written, not read
// back" followed by "failed".
TEST_F(BackupCommandsTest, ReadBackFailingAfterAWholeWriteIsSaidSo) {
  ASSERT_EQ(Ctl({"backup", Path("a.tar")}).code, 0);
  for (const std::string part : {"rom", "params"}) {
    SCOPED_TRACE(part);
    bus_ = std::make_shared<sim::SimBackend>();
    bus_->StartRecording();
    ASSERT_EQ(Ctl({"restore", Path("a.tar"), "--only", part}).code, 0);
    const std::size_t read_back = LastCommand(bus_->log(), 10);  // read the flash
    ASSERT_LT(read_back, bus_->log().size());

    bus_ = std::make_shared<sim::SimBackend>();
    bus_->ArmFault(read_back + 1 + 3, sim::SimBackend::Fault::Refuse);  // in the read-back's data
    const CtlResult r = Ctl({"restore", Path("a.tar"), "--only", part});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out.rfind(part + ": written whole, but reading it back failed: the module did "
                                 "not answer (report ",
                          0),
              0u)
        << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
    EXPECT_EQ(r.out.find(part + ": failed"), std::string::npos) << r.out;
  }
}

TEST_F(BackupCommandsTest, ConfigExportAndImport) {
  ASSERT_EQ(Ctl({"config", "set", "X=5", "T=12", "--yes"}).code, 0);
  ASSERT_EQ(Ctl({"config", "export", Path("config.txt")}).code, 0);
  EXPECT_EQ(Read(Path("config.txt")), Ctl({"config", "show"}).out);
  ASSERT_EQ(Ctl({"config", "set", "X=4", "T=1", "--yes"}).code, 0);
  ASSERT_EQ(Ctl({"config", "import", Path("config.txt")}).code, 0);
  EXPECT_EQ(Ctl({"config", "show"}).out, Read(Path("config.txt")));

  const std::vector<std::uint8_t> flash = module().flash;
  std::ofstream(Path("bad.txt")) << "# a note\nX=4\nT=249\n";
  const CtlResult bad = Ctl({"config", "import", Path("bad.txt")});
  EXPECT_EQ(bad.code, 1);
  EXPECT_NE(bad.err.find("line 3: 'T=249': the network address lies in 1..248; nothing was "
                         "written"),
            std::string::npos)
      << bad.err;
  EXPECT_EQ(module().flash, flash);
}

}  // namespace
}  // namespace tarven::testing
