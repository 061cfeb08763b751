// tarvenctl config and params against the simulated module: what a script reads and writes.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <csignal>
#include <fstream>
#include <sstream>

#include "cli/tarvenctl.h"
#include "cli_fixture.h"
#include "sim/sim_backend.h"

namespace tarven::testing {
namespace {

constexpr std::uint32_t kSector = 0x0803F800;

using Result = CtlResult;

class ConfigCommandsTest : public ::testing::Test {
 protected:
  Result Ctl(std::vector<std::string> args, cli::Confirm confirm = {}) {
    args.insert(args.begin(), "--simulate");
    return RunCtl(args, sim_, std::move(confirm));
  }
  std::vector<std::uint8_t> Sector() { return sim_->module().FlashAt(kSector, 2048); }
  void SetSector(const std::vector<std::uint8_t>& sector) {
    sim_->module().SetFlash(kSector, sector);
  }
  std::string Temporary(const std::string& name) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("tarvenctl-config-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    dirs_.push_back(dir);
    return (dir / name).string();
  }
  void TearDown() override {
    for (const auto& dir : dirs_) std::filesystem::remove_all(dir);
  }

  std::shared_ptr<sim::SimBackend> sim_ = std::make_shared<sim::SimBackend>();
  std::vector<std::filesystem::path> dirs_;
};

TEST_F(ConfigCommandsTest, SetThenShowRoundTripsAndKeepsTheRestOfTheSector) {
  auto sector = Sector();
  sector[100] = 0x42;   // a byte the tool never interprets
  sector[1024] = 0x07;  // parameter 1
  SetSector(sector);

  Result r = Ctl({"config", "set", "X=5", "T=$F8", "f=3", "--yes"});
  ASSERT_EQ(r.code, 0) << r.err;
  r = Ctl({"config", "show"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out,
            "X=5 5- МС-2109\nZ=1 1- для 16А20Т\nG=1 1- ОЗУ\nM=0 0- выкл\n"
            "S=1 1- автоматический\nT=248\nP=6 6 - 57600 бод.\nF=3 3- 4,70В-4,75В\n");
  const auto after = Sector();
  EXPECT_EQ(std::vector<std::uint8_t>(after.begin() + 12, after.end()),
            std::vector<std::uint8_t>(sector.begin() + 12, sector.end()));
}

TEST_F(ConfigCommandsTest, ShowSaysPlainlyWhatItCouldNotRead) {
  auto sector = Sector();
  sector[0] = 1;  // X=1 and F=7: bytes that no item carries, with a good checksum
  sector[7] = 7;
  sector[8] = static_cast<std::uint8_t>(1 + 1 + 1 + 0 + 1 + 1 + 6 + 7);
  SetSector(sector);
  Result r = Ctl({"config", "show"});
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.out.find("X=1 (no item)\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("F=7 (no item)\n"), std::string::npos) << r.out;

  sector[8] ^= 1;
  SetSector(sector);
  r = Ctl({"config", "show"});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.out.empty());
  EXPECT_EQ(r.err, "tarvenctl: config show: the module's configuration block fails its checksum\n");

  sim_->RefuseNthFetch(3);  // identify, then the first data fetch succeeds, the second is lost
  r = Ctl({"config", "show"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err,
            "tarvenctl: config show: the module did not answer (report 5, fetch), after 64 "
            "of 2048 bytes\n");
}

TEST_F(ConfigCommandsTest, BadValuesAreUsageErrorsAndWriteNothing) {
  const auto before = Sector();
  const struct {
    std::vector<std::string> args;
    const char* err;
  } cases[] = {
      {{"config", "set", "X=9"}, "tarvenctl: config set: 'X=9': X takes 2, 3, 4, 5, 6, 7, 8\n"},
      {{"config", "set", "T=0"},
       "tarvenctl: config set: 'T=0': the network address lies in 1..248\n"},
      {{"config", "set", "T=249"},
       "tarvenctl: config set: 'T=249': the network address lies in 1..248\n"},
      {{"config", "set", "Q=1"},
       "tarvenctl: config set: 'Q=1' is not LETTER=VALUE with a letter of XZGMSTPF\n"},
      {{"config", "set", "X=4", "X=5"}, "tarvenctl: config set: X is given twice\n"},
      {{"params", "set", "0=1"},
       "tarvenctl: params set: '0=1' is not NUMBER=VALUE with a number 1..255 and a 32-bit "
       "value\n"},
      {{"params", "set", "1=2147483648"},
       "tarvenctl: params set: '1=2147483648' is not NUMBER=VALUE with a number 1..255 and a "
       "32-bit "
       "value\n"},
      {{"params", "get", "256"}, "tarvenctl: params get: '256' is not a parameter number 1..255\n"},
  };
  for (const auto& c : cases) {
    const Result r = Ctl(c.args);
    EXPECT_EQ(r.code, 2) << c.args.back();
    EXPECT_EQ(r.err, c.err);
  }
  EXPECT_EQ(Sector(), before);
}

TEST_F(ConfigCommandsTest, DeclinedQuestionSendsNoWrite) {
  std::vector<std::string> asked;
  const auto decline = [&](std::string_view question) {
    asked.emplace_back(question);
    return false;
  };
  sim_->StartRecording();
  Result r = Ctl({"params", "set", "1=5"}, decline);
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "tarvenctl: params set: not confirmed; nothing was written\n");
  EXPECT_EQ(asked, std::vector<std::string>{"Записать в ППЗУ Тарвен?"});
  EXPECT_TRUE(sim_->log().empty()) << "not even the read goes out";

  r = Ctl({"params", "set", "1=5"}, [](std::string_view) { return true; });
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Ctl({"params", "get", "1"}).out, "1=5\n");
}

// With nobody to ask (no terminal, no scripted answer), every write needs --yes: without it the
// command is a usage error that names --yes, and nothing goes to the module.
TEST_F(ConfigCommandsTest, WriteWithoutATerminalNeedsYes) {
  const std::string csv = Temporary("params.csv");
  std::ofstream(csv) << "number,value\n1,5\n";
  const std::string rom = Temporary("rom.bin");
  std::ofstream(rom, std::ios::binary) << std::string(16384, '\x11');
  const std::vector<std::uint8_t> flash = sim_->module().FlashAt(0x08035800, 16384);
  const struct {
    std::vector<std::string> args;
    const char* what;
  } cases[] = {
      {{"config", "set", "X=5"}, "config set"},
      {{"params", "set", "1=5"}, "params set"},
      {{"params", "import", csv}, "params import"},
      {{"image", "write", "rom", rom}, "image write"},
      {{"image", "write", "ram", rom, "--bank", "main"}, "image write"},
  };
  const auto before = Sector();
  sim_->StartRecording();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Result r = Ctl(c.args);
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, std::string("tarvenctl: ") + c.what +
                         ": no terminal to ask on; give --yes to write without asking; nothing "
                         "was written\n");
  }
  EXPECT_TRUE(sim_->log().empty()) << "not even a read goes out";
  EXPECT_EQ(Sector(), before);
  EXPECT_EQ(sim_->module().FlashAt(0x08035800, 16384), flash);

  // --yes writes without asking.
  ASSERT_EQ(Ctl({"params", "import", csv, "--yes"}).code, 0);
  EXPECT_EQ(Ctl({"params", "get", "1"}).out, "1=5\n");
}

// A bus on which Ctrl-C is pressed at one report: SIGINT is raised as that report goes or comes.
class InterruptingBus final : public sim::SimBackend {
 public:
  std::uint64_t interrupt_at = 0;  // counting every report, sent or fetched, from 1
  std::uint64_t reports = 0;

  bool SetFeature(hid::Handle handle, const std::uint8_t* report, std::size_t length) override {
    Count();
    return SimBackend::SetFeature(handle, report, length);
  }
  bool GetFeature(hid::Handle handle, std::uint8_t* report, std::size_t length) override {
    Count();
    return SimBackend::GetFeature(handle, report, length);
  }

 private:
  void Count() {
    if (++reports == interrupt_at) std::raise(SIGINT);
  }
};

// Ctrl-C never leaves the module inside a data stream: pressed during the read of the sector it
// stops the command before the write; pressed during the write (one block) the block is finished,
// and the command says so.
TEST_F(ConfigCommandsTest, CtrlCStopsBeforeTheWriteOrAfterTheWholeBlock) {
  const std::string csv = Temporary("params.csv");
  std::ofstream(csv) << "number,value\n1,77\n";
  // Identify (2), the read: command 10 and 33 fetches (3..36), the block: command 9 (37), 32 data
  // reports (38..69), command 8 (70). Without a journal, which would ask the firmware's version
  // first.
  const struct {
    std::vector<std::string> args;
    const char* what;
    std::uint64_t at;
    int code;
    const char* err;
  } cases[] = {
      {{"params", "set", "1=77", "--yes"}, "params set", 10, 1,
       "stopped on request before the write; nothing was written"},
      {{"params", "set", "1=77", "--yes"}, "params set", 38 + 10, 0,
       "stopped on request once the sector was written whole"},
      {{"params", "import", csv, "--yes"}, "params import", 36, 1,
       "stopped on request before the write; nothing was written"},
      {{"params", "import", csv, "--yes"}, "params import", 69, 0,
       "stopped on request once the sector was written whole"},
      {{"config", "set", "X=5", "--yes"}, "config set", 3, 1,
       "stopped on request before the write; nothing was written"},
      {{"config", "set", "X=5", "--yes"}, "config set", 37, 0,
       "stopped on request once the sector was written whole"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.what) + " at report " + std::to_string(c.at));
    auto bus = std::make_shared<InterruptingBus>();
    bus->interrupt_at = c.at;
    sim_ = bus;
    const auto before = Sector();
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), "--no-journal");
    const Result r = Ctl(args);
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(r.err, std::string("tarvenctl: ") + c.what + ": " + c.err + "\n");
    if (c.code == 0) {
      EXPECT_EQ(bus->reports, 70u) << "the whole block went";
      EXPECT_NE(Sector(), before);
      EXPECT_EQ(Ctl({"config", "show"}).code, 0);
      EXPECT_EQ(Ctl({"params", "get", "1"}).out, c.what[0] == 'p' ? "1=77\n" : "1=0\n");
    } else {
      EXPECT_EQ(bus->reports, 36u) << "nothing after the read";
      EXPECT_EQ(Sector(), before);
    }
  }
}

TEST_F(ConfigCommandsTest, PartialWritesAreRefusedOverABrokenTable) {
  auto sector = Sector();
  sector[2044] ^= 1;  // the parameter table fails its checksum
  sector[8] ^= 1;     // and so does the configuration block
  SetSector(sector);
  Result r = Ctl({"params", "set", "1=5", "--yes"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "tarvenctl: params set: the module's parameter table fails its checksum\n");
  r = Ctl({"config", "set", "X=5", "--yes"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err,
            "tarvenctl: config set: the module's configuration block fails its checksum; give all "
            "eight values to replace it\n");
  EXPECT_EQ(Sector(), sector);

  // All eight values replace a broken block.
  r = Ctl({"config", "set", "X=4", "Z=1", "G=1", "M=0", "S=1", "T=1", "P=6", "F=0", "--yes"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Ctl({"config", "show"}).code, 0);
}

TEST_F(ConfigCommandsTest, ParametersExportChangeImportRoundTrip) {
  ASSERT_EQ(Ctl({"params", "set", "1=-5", "255=0x10", "--yes"}).code, 0);
  const std::string file = Temporary("machine.csv");
  Result r = Ctl({"params", "export", file});
  ASSERT_EQ(r.code, 0) << r.err;
  r = Ctl({"params", "export", file});
  EXPECT_EQ(r.code, 1) << "an existing file is kept";
  EXPECT_NE(r.err.find("exists (--force replaces it)"), std::string::npos) << r.err;

  std::ifstream in(file);
  std::string header, first;
  std::getline(in, header);
  std::getline(in, first);
  EXPECT_EQ(header, "number,value");
  EXPECT_EQ(first, "1,-5");

  ASSERT_EQ(Ctl({"params", "set", "1=0", "255=0", "--yes"}).code, 0);
  r = Ctl({"params", "import", file, "--yes"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Ctl({"params", "get", "1", "2", "255"}).out, "1=-5\n2=0\n255=16\n");
  EXPECT_EQ(Ctl({"params", "get", "--json", "1", "255"}).out, "{\"1\":-5,\"255\":16}\n");
}

// A spreadsheet may save every field in quotes, and a line break as CR LF.
TEST_F(ConfigCommandsTest, ImportTakesQuotedFields) {
  const std::string file = Temporary("quoted.csv");
  std::ofstream(file, std::ios::binary)
      << "\"number\",\"value\"\r\n\"1\",\"-5\"\r\n2,\"0x10\"\r\n\"255\",7\r\n";
  const Result r = Ctl({"params", "import", file, "--yes"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Ctl({"params", "get", "1", "2", "255"}).out, "1=-5\n2=16\n255=7\n");
}

TEST_F(ConfigCommandsTest, ImportChecksEveryLineAndWritesNothingWhenOneIsBad) {
  const struct {
    const char* content;
    const char* why;
  } cases[] = {
      {"number,value\n1,5\n2,x\n", "line 3: '2,x' is not NUMBER,VALUE"},
      {"number,value\r\n1,5\r\n1,6\r\n", "line 3: parameter 1 is given twice"},
      {"num,val\n1,5\n", "line 1: the first line must be 'number,value'"},
      {"number,value\n256,1\n", "line 2: '256,1' is not NUMBER,VALUE"},
      {"", "the file is empty"},
      {"number,value\n1,\"5\n", "line 2: '1,\"5': a quote out of place"},
      {"number,value\n1,5\"\n", "line 2: '1,5\"': a quote out of place"},
      {"number,value\n\"1\"x,5\n", "line 2: '\"1\"x,5': a quote out of place"},
      {"number,value\n\"1,5\"\n", "line 2: '\"1,5\"' is not NUMBER,VALUE"},
      {"number,value\n1,5,\n", "line 2: '1,5,' is not NUMBER,VALUE"},
  };
  const std::string file = Temporary("bad.csv");
  sim_->StartRecording();
  for (const auto& c : cases) {
    std::ofstream(file, std::ios::trunc) << c.content;
    const Result r = Ctl({"params", "import", file, "--yes"});
    EXPECT_EQ(r.code, 1) << c.content;
    EXPECT_NE(r.err.find(c.why), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("nothing was written"), std::string::npos) << r.err;
  }
  EXPECT_TRUE(sim_->log().empty());
  const Result missing = Ctl({"params", "import", Temporary("none.csv"), "--yes"});
  EXPECT_EQ(missing.code, 1);
  EXPECT_NE(missing.err.find("No such file or directory"), std::string::npos) << missing.err;
}

}  // namespace
}  // namespace tarven::testing
