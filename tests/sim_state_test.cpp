// The simulated module's state file: kept between runs, and refused whole when damaged.

#include "sim/sim_state.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace tarven::testing {
namespace {

namespace fs = std::filesystem;

class SimStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ =
        fs::temp_directory_path() /
        ("tarven-sim-state-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
         "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    path_ = (dir_ / "module.state").string();
  }
  void TearDown() override { fs::remove_all(dir_); }
  void WriteFile(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }

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
  written.registers[0xF131] = 0xFFFF;
  written.encoder_pending = {-5, 0, 70000, -1};
  written.ea_inputs = {1, 2, 3, 4};
  written.ea_outputs = {5, 6, 7, 0xFFFF};
  written.received_image = {1, 2, 3};
  std::string error;
  ASSERT_TRUE(sim::SaveState(written, path_, error)) << error;
  EXPECT_FALSE(fs::exists(path_ + ".tmp"));

  sim::SimulatedModule read;
  ASSERT_TRUE(sim::LoadState(read, path_, error)) << error;
  EXPECT_EQ(read.personality, written.personality);
  EXPECT_EQ(read.firmware_version, written.firmware_version);
  EXPECT_EQ(read.boot_version, written.boot_version);
  EXPECT_EQ(read.cnc_running, written.cnc_running);
  EXPECT_EQ(read.ext_dac, written.ext_dac);
  EXPECT_EQ(read.flash, written.flash);
  EXPECT_EQ(read.ram, written.ram);
  EXPECT_EQ(read.ram_main_bank, written.ram_main_bank);
  EXPECT_EQ(read.ram_reserve_bank, written.ram_reserve_bank);
  EXPECT_EQ(read.registers, written.registers);
  EXPECT_EQ(read.encoder_pending, written.encoder_pending);
  EXPECT_EQ(read.ea_inputs, written.ea_inputs);
  EXPECT_EQ(read.ea_outputs, written.ea_outputs);
  EXPECT_EQ(read.received_image, written.received_image);
}

TEST_F(SimStateTest, MissingFileMeansAFreshModule) {
  sim::SimulatedModule module;
  std::string error;
  EXPECT_TRUE(sim::LoadState(module, path_, error));
  EXPECT_TRUE(error.empty());
  EXPECT_TRUE(module.cnc_running);
}

TEST_F(SimStateTest, DamagedFilesAreRefusedWithAReasonAndChangeNothing) {
  struct Case {
    const char* what;
    std::string text;
    const char* reason;
  };
  const Case cases[] = {
      {"no header", "personality application\n", "not a simulator state file"},
      {"empty", "", "not a simulator state file"},
      {"unknown key", "tarven-sim-state 1\ncnc_running 0\ncolour blue\n", ":3: unknown key"},
      {"short flash", "tarven-sim-state 1\ncnc_running 0\nflash 00ff\n", "flash must be"},
      {"bad hex", "tarven-sim-state 1\nram " + std::string(32766, '0') + "zz\n", "ram must be"},
      {"bad flag", "tarven-sim-state 1\ncnc_running yes\n", "cnc_running must be 0 or 1"},
      {"bad word", "tarven-sim-state 1\nfirmware_version 0x100000000\n", "32-bit"},
      {"bad register", "tarven-sim-state 1\nregister 0x1ffff 1\n", "register must be"},
      {"three encoders", "tarven-sim-state 1\nencoder_pending 1 2 3\n", "four numbers"},
  };
  for (const Case& c : cases) {
    WriteFile(c.text);
    sim::SimulatedModule module;
    std::string error;
    EXPECT_FALSE(sim::LoadState(module, path_, error)) << c.what;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
    EXPECT_TRUE(module.cnc_running) << c.what << " changed the module";
  }
}

TEST_F(SimStateTest, UnwritableLocationIsReportedAndLeavesNoFile) {
  sim::SimulatedModule module;
  std::string error;
  const std::string path = (dir_ / "missing-dir" / "state").string();
  EXPECT_FALSE(sim::SaveState(module, path, error));
  EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
  EXPECT_FALSE(fs::exists(path));
}

}  // namespace
}  // namespace tarven::testing
