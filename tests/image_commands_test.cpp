// tarvenctl image read and write against the simulated module.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "cli/tarvenctl.h"
#include "cli_fixture.h"
#include "sim/sim_backend.h"

namespace tarven::testing {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

using Result = CtlResult;

Bytes Pattern(std::size_t size, std::uint8_t seed) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 31 + seed);
  return bytes;
}

class ImageCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tarvenctl-image-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  Result Ctl(std::vector<std::string> args) {
    args.insert(args.begin(), "--simulate");
    return RunCtl(args, sim_, [](std::string_view) { return true; });
  }
  std::string File(const std::string& name, const Bytes& bytes) {
    const std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path;
  }
  Bytes Content(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }

  fs::path dir_;
  std::shared_ptr<sim::SimBackend> sim_ = std::make_shared<sim::SimBackend>();
};

TEST_F(ImageCommandsTest, ChipFilesAreAssembledWrittenAndVerified) {
  const Bytes low = Pattern(8192, 1), high = Pattern(8192, 2);
  Result r = Ctl({"image", "write", "rom", "--low", File("d83.bin", low), "--high",
                  File("d82.bin", high), "--verify"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "verified\n");
  const Bytes rom = sim_->module().FlashAt(0x08035800, 16384);
  for (std::size_t i = 0; i < 8192; ++i) {
    ASSERT_EQ(rom[2 * i], low[i]);
    ASSERT_EQ(rom[2 * i + 1], high[i]);
  }

  // The AMT's lanes by their chips, on the 0xFF fill: one lane of the second half only.
  r = Ctl({"image", "write", "amt", "--chip", "d75=" + File("d75.bin", Pattern(2048, 3))});
  ASSERT_EQ(r.code, 0) << r.err;
  const Bytes amt = sim_->module().FlashAt(0x08039800, 8192);
  EXPECT_EQ(amt[4096], 0xFF);
  EXPECT_EQ(amt[4097], Pattern(2048, 3)[0]);
  EXPECT_EQ(amt[0], 0xFF);
}

TEST_F(ImageCommandsTest, ReadWritesItsFileOnlyAfterTheWholeRead) {
  const Bytes kvp = Pattern(16384, 4);
  sim_->module().SetFlash(0x0803B800, kvp);
  const std::string file = (dir_ / "kvp.bin").string();
  Result r = Ctl({"image", "read", "kvp", file});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Content(file), kvp);

  r = Ctl({"image", "read", "kvp", file});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("exists (--force replaces it)"), std::string::npos) << r.err;

  // A read that breaks off leaves the old file whole and no new one.
  const std::string old = File("old.bin", Bytes{7, 7, 7});
  sim_->RefuseNthFetch(1 + 100);
  r = Ctl({"image", "read", "kvp", old, "--force"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("the module did not answer (report 103, fetch)"), std::string::npos)
      << r.err;
  EXPECT_EQ(Content(old), (Bytes{7, 7, 7}));
  sim_->RefuseNthFetch(1 + 100);
  r = Ctl({"image", "read", "ram", (dir_ / "ram.bin").string()});
  EXPECT_EQ(r.code, 1);
  EXPECT_FALSE(fs::exists(dir_ / "ram.bin"));
  EXPECT_TRUE(sim_->module().cnc_running) << "the RAM read starts the CNC again";

  // The RAM arrived whole and only the start of the CNC was refused (identify 2, status 2, 12,
  // 17, 257 fetches, then 16): the file is written all the same, and the line says the CNC stands.
  sim_->module().ram = Pattern(16384, 12);
  sim_->ArmFault(2 + 2 + 2 + 257 + 1, sim::SimBackend::Fault::Refuse);
  const std::string ram = (dir_ / "ram.bin").string();
  r = Ctl({"image", "read", "ram", ram});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err,
            "tarvenctl: image read: the CNC was left stopped: the module did not take the command "
            "to start it again (report 264, send); the RAM was read whole into " +
                ram + "\n");
  EXPECT_EQ(Content(ram), sim_->module().ram);
  EXPECT_FALSE(sim_->module().cnc_running);
}

TEST_F(ImageCommandsTest, RamGoesToTheBankNamed) {
  const std::string file = File("ram.bin", Pattern(16384, 5));
  Result r = Ctl({"image", "write", "ram", file});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.err, "tarvenctl: image write: the ram needs --bank main or --bank reserve\n");
  r = Ctl({"image", "write", "ram", file, "--bank", "reserve"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(sim_->module().ram_reserve_bank, Pattern(16384, 5));
  EXPECT_EQ(Ctl({"image", "write", "rom", file, "--bank", "main"}).code, 2);
  EXPECT_EQ(Ctl({"image", "write", "ram", file, "--bank", "main", "--verify"}).code, 2);
}

// A whole-image or chip file of another size than what it stands for is refused, and nothing goes
// to the module; --force writes it cut, or on the fill, as the window takes it.
TEST_F(ImageCommandsTest, FileOfAnotherSizeIsWrittenOnlyWithForce) {
  const Bytes before = sim_->module().FlashAt(0x08035800, 16384);
  const struct {
    const char* name;
    std::vector<std::string> args;  // after "image write rom"; FILE stands for the file
    std::size_t size;
    const char* err;
  } cases[] = {
      {"empty", {"FILE"}, 0, "holds 0 bytes, the rom image holds 16384; nothing was written "
                             "(--force writes it on the fill)\n"},
      {"100 bytes", {"FILE"}, 100, "holds 100 bytes, the rom image holds 16384; nothing was "
                                   "written (--force writes it on the fill)\n"},
      {"20000 bytes", {"FILE"}, 20000, "holds 20000 bytes, the rom image holds 16384; nothing was "
                                       "written (--force writes it cut)\n"},
      {"short chip", {"--low", "FILE"}, 8191, "holds 8191 bytes, chip D83 holds 8192; nothing "
                                              "was written (--force writes it on the fill)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = File("wrong.bin", Pattern(c.size, 9));
    std::vector<std::string> args = {"image", "write", "rom"};
    for (const std::string& arg : c.args) args.push_back(arg == "FILE" ? file : arg);
    const Result refused = Ctl(args);
    EXPECT_EQ(refused.code, 1);
    EXPECT_EQ(refused.err, "tarvenctl: image write: " + file + " " + c.err);
    EXPECT_EQ(sim_->module().FlashAt(0x08035800, 16384), before);
  }

  const std::string shorter = File("short.bin", Pattern(100, 10));
  Result r = Ctl({"image", "write", "rom", shorter, "--force"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "tarvenctl: image write: note: " + shorter +
                       " holds 100 bytes; the rest is the fill\n");
  Bytes expected(16384, 0xFF);
  std::copy_n(Pattern(100, 10).begin(), 100, expected.begin());
  EXPECT_EQ(sim_->module().FlashAt(0x08035800, 16384), expected);

  const Bytes long_file = Pattern(20000, 11);
  const std::string longer = File("long.bin", long_file);
  r = Ctl({"image", "write", "rom", longer, "--force"});
  ASSERT_EQ(r.code, 0) << r.err;
  const Bytes cut(long_file.begin(), long_file.begin() + 16384);
  EXPECT_EQ(sim_->module().FlashAt(0x08035800, 16384), cut);
}

// Files whose listed size is not what they hold are read to their end: /proc lists 0 for a file
// that holds text, and a file whose reads fail is not taken for an empty one.
TEST_F(ImageCommandsTest, FileIsReadToItsEndAndAReadErrorWritesNothing) {
  Result r = Ctl({"image", "write", "kvp", "/proc/self/status", "--force"});
  ASSERT_EQ(r.code, 0) << r.err;
  const Bytes kvp = sim_->module().FlashAt(0x0803B800, 16384);
  EXPECT_EQ(std::string(kvp.begin(), kvp.begin() + 5), "Name:");
  EXPECT_NE(r.err.find("/proc/self/status holds "), std::string::npos) << r.err;

  const Bytes before = sim_->module().FlashAt(0x08035800, 16384);
  sim_->StartRecording();
  r = Ctl({"image", "write", "rom", "/proc/self/mem", "--force"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err,
            "tarvenctl: image write: cannot read /proc/self/mem: Input/output error; nothing was "
            "written\n");
  EXPECT_TRUE(sim_->log().empty()) << "nothing went to the module";
  EXPECT_EQ(sim_->module().FlashAt(0x08035800, 16384), before);
}

// A bus that flips one bit of every data report on its way to the module: the module refuses the
// blocks (their checksums no longer match) and keeps its flash, which only a read-back can tell.
class CorruptingBus final : public sim::SimBackend {
 public:
  bool SetFeature(hid::Handle handle, const std::uint8_t* report, std::size_t length) override {
    std::array<std::uint8_t, 65> copy{};
    std::copy_n(report, std::min(length, copy.size()), copy.begin());
    if (copy[1] != 0x55) copy[10] ^= 0x01;
    return SimBackend::SetFeature(handle, copy.data(), length);
  }
};

TEST_F(ImageCommandsTest, VerifyNamesTheFirstDifferingAddress) {
  const Bytes kvp = Pattern(16384, 6);
  const std::string file = File("kvp.bin", kvp);
  sim_ = std::make_shared<CorruptingBus>();
  const Result r = Ctl({"image", "write", "kvp", file, "--verify"});
  EXPECT_EQ(r.code, 1);
  char expected[96];
  std::snprintf(expected, sizeof expected,
                "tarvenctl: image write: verify: differs at 0x0803B800 (written %02X, read FF)\n",
                kvp[0]);
  EXPECT_EQ(r.err, expected);
  EXPECT_TRUE(r.out.empty());
}

}  // namespace
}  // namespace tarven::testing
