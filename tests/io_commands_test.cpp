// tarvenctl io, reg and dac against the simulated module: every value that is shown was read,
// writes wait for a stopped CNC, and the watch's log keeps every row it wrote.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "cli/tarvenctl.h"
#include "cli_fixture.h"
#include "sim/sim_backend.h"

namespace tarven::testing {
namespace {

using Result = CtlResult;

bool HasLine(const std::string& text, const std::string& line) {
  std::istringstream lines(text);
  for (std::string l; std::getline(lines, l);) {
    if (l == line) return true;
  }
  return false;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class IoCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_->StartRecording();
    dir_ = std::filesystem::temp_directory_path() /
           ("tarvenctl-io-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  Result Ctl(std::vector<std::string> args) {
    args.insert(args.begin(), "--simulate");
    return RunCtl(args, sim_);
  }
  sim::SimulatedModule& module() { return sim_->module(); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  // A stopped controller with something on every line.
  void Arrange() {
    module().cnc_running = false;
    module().registers[0xF131] = 0x8001;
    module().registers[0xF132] = 0x00FF;
    module().registers[0xF150] = 0x000A;
    module().registers[0xF140] = 0x07FF;
    module().registers[0xF141] = 0x8000;
    module().registers[0xF142] = 0xFFFF;
    module().MoveEncoder(1, 12);
    module().MoveEncoder(2, -3);
    module().ea_inputs = {1, 2, 3, 4};
    module().ea_outputs = {5, 6, 7, 8};
  }

  std::shared_ptr<sim::SimBackend> sim_ = std::make_shared<sim::SimBackend>();
  std::filesystem::path dir_;
};

TEST_F(IoCommandsTest, OneSnapshotOfEveryLiveValue) {
  Arrange();
  const Result r = Ctl({"io"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  for (const char* line : {
           "cnc: stopped",
           "ext-dac: off",
           "in 170461: 100001 1000000000000001",
           "in 170467: 000000 0000000000000000",
           "out 170462: 000377 0000000011111111",
           "kip0 170520: 000012 0000000000001010",
           "kip1 170521: +12",
           "kip2 170522: -3",
           "kip3 170523: 0",
           "dac1 170500: 3777 10.000 V",
           "dac2 170501: 100000 -10.005 V",
           "dac3 170502: 177777 (outside the DAC's codes)",
           "ea-in 170467: 000004 0000000000000100",
           "ea-out 170464: 000006 0000000000000110",
       }) {
    EXPECT_TRUE(HasLine(r.out, line)) << line << "\n" << r.out;
  }
  EXPECT_FALSE(module().ext_dac) << "a snapshot leaves the DAC mode as it is";
}

TEST_F(IoCommandsTest, JsonSnapshotGivesNullForWhatWasNotRead) {
  Arrange();
  module().cnc_running = true;
  module().MoveEncoder(1, 5);
  const Result r = Ctl({"io", "--json"});
  ASSERT_EQ(r.code, 0) << r.err;
  const auto json = nlohmann::json::parse(r.out);
  EXPECT_EQ(json["cnc"], "running");
  EXPECT_EQ(json["inputs"]["170461"]["octal"], "100001");
  EXPECT_EQ(json["inputs"]["170461"]["binary"], "1000000000000001");
  EXPECT_TRUE(json["encoders"]["170521"].is_null()) << "the counts are the running CNC's";
  EXPECT_EQ(module().encoder_pending[0], 17) << "and they stay with the module";
  EXPECT_EQ(json["dac"]["170500"]["code"], "3777");
  // Volts to the millivolt: 2047 steps of 0.0048852 V are 10.0000044 V, given as 10.0.
  EXPECT_EQ(json["dac"]["170500"]["volts"].get<double>(), 10.0);
  EXPECT_EQ(json["dac"]["170501"]["volts"].get<double>(), -10.005);
  EXPECT_NE(r.out.find("\"volts\":10.0}"), std::string::npos) << r.out;
  EXPECT_TRUE(json["dac"]["170502"]["volts"].is_null());
  EXPECT_EQ(json["ea-outputs"]["170462"]["octal"], "000005");
}

// Encoders left unread while the CNC runs are no failure: the line says why, in one language,
// without the "н/д" of a value that did not arrive.
TEST_F(IoCommandsTest, EncodersLeftUnreadWhileTheCncRunsSaySo) {
  Arrange();
  module().cnc_running = true;
  const Result r = Ctl({"io"});
  ASSERT_EQ(r.code, 0) << r.err;
  for (const char* line : {"kip1 170521: not read while the CNC runs",
                           "kip4 170524: not read while the CNC runs"}) {
    EXPECT_TRUE(HasLine(r.out, line)) << r.out;
  }
  EXPECT_EQ(r.out.find("н/д"), std::string::npos) << r.out;
}

TEST_F(IoCommandsTest, AReadThatFailsIsNotAvailableAndFailsTheCommand) {
  Arrange();
  // Fetches: identify, status, then 170461, 170463... (reports 7 and 8 are 170463's).
  sim_->RefuseNthFetch(4);
  Result r = Ctl({"io"});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(HasLine(r.out, "in 170461: 100001 1000000000000001")) << r.out;
  EXPECT_TRUE(HasLine(r.out, "in 170463: н/д")) << r.out;
  EXPECT_TRUE(HasLine(r.out, "in 170465: 000000 0000000000000000")) << r.out;
  EXPECT_EQ(r.err, "tarvenctl: io: the module did not answer (report 8, fetch)\n");

  // Without the status nobody knows whether the CNC runs: the encoders are left alone.
  sim_->RefuseNthFetch(2);
  r = Ctl({"io"});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(HasLine(r.out, "cnc: н/д")) << r.out;
  EXPECT_TRUE(HasLine(r.out, "kip1 170521: н/д")) << r.out;

  sim_->Unplug();
  r = Ctl({"io", "--json"});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(nlohmann::json::parse(r.out)["outputs"]["170462"].is_null());
  EXPECT_EQ(r.err,
            "tarvenctl: io: no module found; check the module's USB cable and power ('lsusb -d "
            "03eb:6202' lists the module when the system sees it)\n");
}

TEST_F(IoCommandsTest, WatchLogsOneRowPerSnapshotAndAppendsToItsOwnLog) {
  Arrange();
  const std::string log = Path("shift.csv");
  Result r = Ctl({"io", "--watch", "--count", "2", "--csv", log});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(HasLine(r.out, "kip1 170521: +12 total +12")) << r.out;
  module().MoveEncoder(1, 1);
  r = Ctl({"io", "--watch", "--count", "1", "--csv", log, "--json"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(nlohmann::json::parse(r.out)["encoders"]["170521"]["total"], 1);

  std::istringstream lines(ReadAll(log));
  std::vector<std::string> rows;
  for (std::string line; std::getline(lines, line);) rows.push_back(line);
  ASSERT_EQ(rows.size(), 4u) << "a header and three rows";
  EXPECT_EQ(rows[0].substr(0, 40), "time,cnc,ext-dac,in_170461,in_170463,in_");
  EXPECT_NE(rows[0].find(",dac1_170500,dac1_170500_volts,"), std::string::npos);
  EXPECT_NE(rows[1].find(",stopped,off,100001,000000,"), std::string::npos) << rows[1];
  EXPECT_NE(rows[1].find(",3777,10.000,100000,-10.005,177777,н/д,"), std::string::npos) << rows[1];
  EXPECT_NE(rows[1].find(",000012,+12,-3,0,0,"), std::string::npos) << rows[1];
  EXPECT_NE(rows[2].find(",000012,0,0,0,0,"), std::string::npos) << rows[2];
  // Local date and time as a spreadsheet reads them into a date-time cell.
  const std::regex sheet_time(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)");
  for (std::size_t i = 1; i < rows.size(); ++i) {
    EXPECT_TRUE(std::regex_match(rows[i].substr(0, rows[i].find(',')), sheet_time)) << rows[i];
  }
}

// A log whose last row was cut short (a power cut in the middle of it) is continued on a line of
// its own: the cut row stays as it was, and the new row is whole.
TEST_F(IoCommandsTest, WatchStartsANewLineAfterACutRow) {
  Arrange();
  const std::string log = Path("cut.csv");
  ASSERT_EQ(Ctl({"io", "--watch", "--count", "1", "--csv", log}).code, 0);
  const std::string whole = ReadAll(log);
  const std::string cut = whole.substr(0, whole.size() - 20);
  std::ofstream(log, std::ios::trunc) << cut;
  const Result r = Ctl({"io", "--watch", "--count", "1", "--csv", log});
  ASSERT_EQ(r.code, 0) << r.err;
  const std::string after = ReadAll(log);
  ASSERT_EQ(after.substr(0, cut.size() + 1), cut + "\n");
  const std::string added = after.substr(cut.size() + 1);
  EXPECT_EQ(std::count(added.begin(), added.end(), '\n'), 1) << added;
  EXPECT_EQ(std::count(added.begin(), added.end(), ','), 27) << added;
  const std::string header = whole.substr(0, whole.find('\n'));
  EXPECT_EQ(std::count(header.begin(), header.end(), ','), 27);
}

// --count takes a positive count of snapshots; anything else is a usage error, before anything
// is read or a log is made.
TEST_F(IoCommandsTest, WatchCountMustBePositive) {
  for (const char* count : {"0", "-1", "99999999999999999999", "", "+5", "1.5", "x"}) {
    SCOPED_TRACE(count);
    const Result r = Ctl({"io", "--watch", "--count", count, "--csv", Path("log.csv")});
    EXPECT_EQ(r.code, 2);
    if (std::string(count) != "x" && std::string(count) != "1.5") {
      EXPECT_EQ(r.err, "tarvenctl: io: --count '" + std::string(count) +
                           "' is not a positive count of snapshots\n");
    }
    EXPECT_TRUE(sim_->log().empty());
    EXPECT_FALSE(std::filesystem::exists(Path("log.csv")));
  }
  const Result r = Ctl({"io", "--watch", "--count", "1", "--csv", Path("log.csv")});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out.find("time: "), 0u) << r.out;
  EXPECT_EQ(r.out.find("time: ", 1), std::string::npos) << "one snapshot: " << r.out;
}

TEST_F(IoCommandsTest, WatchRefusesAFileThatIsNotItsLogAndLeavesItAlone) {
  const std::string other = Path("notes.csv");
  std::ofstream(other) << "number,value\n1,2\n";
  Result r = Ctl({"io", "--watch", "--count", "1", "--csv", other});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("not a log of 'io --csv'"), std::string::npos) << r.err;
  EXPECT_EQ(ReadAll(other), "number,value\n1,2\n");

  const std::string fifo = Path("pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  r = Ctl({"io", "--watch", "--count", "1", "--csv", fifo});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("not a regular file"), std::string::npos) << r.err;

  r = Ctl({"io", "--csv", Path("x.csv")});
  EXPECT_EQ(r.code, 2) << "--csv needs --watch";
  EXPECT_FALSE(std::filesystem::exists(Path("x.csv")));
}

TEST_F(IoCommandsTest, WritesWaitForAStoppedCnc) {
  module().cnc_running = true;
  Result r = Ctl({"reg", "write", "170462=177777"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err,
            "tarvenctl: reg write: the CNC is running; stop it first (tarvenctl cnc stop); "
            "nothing was written\n");
  r = Ctl({"dac", "set", "1", "3777"});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(module().register_writes.empty());
  EXPECT_FALSE(module().ext_dac);

  // The status lost: nobody knows, nothing is written.
  module().cnc_running = false;
  sim_->RefuseNthFetch(2);
  r = Ctl({"reg", "write", "170462=1"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("nothing was written"), std::string::npos) << r.err;
  EXPECT_TRUE(module().register_writes.empty());

  r = Ctl({"reg", "write", "170462=177777", "170464=1"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(module().register_writes,
            (std::vector<sim::RegisterWrite>{{0xF132, 0xFFFF}, {0xF134, 1}}));
  r = Ctl({"reg", "read", "170462", "170464", "170521"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "170462: 177777\n170464: 000001\n170521: 000000\n");

  // A refused write is named with the ones the module took and the ones it did not; the writes
  // after it still go. Identify (2), the status (2), then one report a write.
  module().register_writes.clear();
  sim_->ArmFault(2 + 2 + 2, sim::SimBackend::Fault::Refuse);
  r = Ctl({"reg", "write", "170462=1", "170464=2", "170500=3"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err,
            "tarvenctl: reg write: the module did not answer (report 6, send); written: "
            "170462=000001, 170500=000003; not written: 170464=000002\n");
  EXPECT_EQ(module().register_writes,
            (std::vector<sim::RegisterWrite>{{0xF132, 1}, {0xF140, 3}}));
}

TEST_F(IoCommandsTest, DacSetSwitchesTheExternalDacOnAndWritesTheCode) {
  module().cnc_running = false;
  Result r = Ctl({"dac", "set", "3", "100000"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "ext-dac: on\ndac3 170502: 100000 -10.005 V\n");
  EXPECT_TRUE(module().ext_dac);
  EXPECT_EQ(module().register_writes, (std::vector<sim::RegisterWrite>{{0xF142, 0x8000}}));
  r = Ctl({"dac", "set", "3", "3777"});
  EXPECT_EQ(r.out, "dac3 170502: 3777 10.000 V\n") << "already on";
  r = Ctl({"dac", "off"});
  EXPECT_EQ(r.code, 0);
  EXPECT_FALSE(module().ext_dac);
}

TEST_F(IoCommandsTest, RegisterReadsOfEncodersWaitForAStoppedCnc) {
  module().MoveEncoder(1, 9);
  const Result r = Ctl({"reg", "read", "170461", "170521"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(module().encoder_pending[0], 9);
}

TEST_F(IoCommandsTest, TextsThatAreNotOctalAreUsageErrorsThatSendNothing) {
  module().cnc_running = false;
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"reg", "write", "170462=8"}, "'170462=8' is not REGISTER=VALUE"},
      {{"reg", "write", "170462=200000"}, "'170462=200000' is not REGISTER=VALUE"},
      {{"reg", "write", "170462"}, "'170462' is not REGISTER=VALUE"},
      {{"reg", "write", "170462=-1"}, "'170462=-1' is not REGISTER=VALUE"},
      {{"reg", "read", "19"}, "'19' is not a register number"},
      {{"reg", "read", ""}, "'' is not a register number"},
      {{"dac", "set", "5", "1"}, "'5' is not a DAC channel 1..4"},
      {{"dac", "set", "1", "8"}, "'8' is not a DAC code in octal"},
      {{"dac", "set", "1", "12 "}, "'12 ' is not a DAC code in octal"},
      {{"dac", "set", "1", "4000"}, "'4000' is outside the DAC's codes"},
      {{"dac", "set", "1", "104000"}, "'104000' is outside the DAC's codes"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    const Result r = Ctl(c.args);
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line";
  }
  EXPECT_TRUE(sim_->log().empty()) << "nothing went to the module";
}

}  // namespace
}  // namespace tarven::testing
