// What tarvenctl takes on its command line, and how it prints text it did not write itself:
// numbers only in their documented forms, no empty values, long words shortened, and text from
// files, devices and arguments with its control characters escaped.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/number_option.h"
#include "cli_fixture.h"
#include "model/tar_archive.h"
#include "sim/sim_backend.h"

namespace tarven::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

// No byte a terminal would take as an order.
bool HasControlBytes(const std::string& text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && byte != '\n') || byte == 0x7F) return true;
  }
  return false;
}

TEST(NumberWords, OnlyDigitsWithinTheRange) {
  EXPECT_EQ(cli::ParseWholeNumber("0", 0, 10), 0);
  EXPECT_EQ(cli::ParseWholeNumber("64", 1, 64), 64);
  EXPECT_EQ(cli::ParseWholeNumber("4000000", 50, 4000000), 4000000);
  for (const char* text :
       {"", "00", "07", "+1", "-1", " 1", "1 ", "1e3", "0x10", "0b1", "2x", "3.9", "65",
        "9223372036854775808", "99999999999999999999999", "\xEF\xBC\x91" /* a full-width 1 */}) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(cli::ParseWholeNumber(text, 0, 64));
  }
  EXPECT_EQ(cli::ParseDecimalNumber("0", 0, 1000), 0.0);
  EXPECT_EQ(cli::ParseDecimalNumber("0.5", 0, 1000), 0.5);
  EXPECT_EQ(cli::ParseDecimalNumber("12.25", 0, 1000), 12.25);
  EXPECT_EQ(cli::ParseDecimalNumber("1000", 0, 1000), 1000.0);
  for (const char* text : {"", ".5", "5.", "1.2.3", "1e3", "-0", "+1", "inf", "nan", "1000.001",
                           "01", " 1", "1 ", "0x1", "1,5"}) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(cli::ParseDecimalNumber(text, 0, 1000));
  }
}

// Every number on the command line in any form but the documented one is a usage error that
// names the option, and nothing reaches the module (with --simulate=0x10 read as 0, a restore
// once went to a real module).
TEST(StrictInput, NumbersOnlyInTheirDocumentedForms) {
  const std::vector<std::string> poll = {"modbus", "poll", "--port", "ttyX"};
  const auto with = [](std::vector<std::string> words, std::initializer_list<std::string> more) {
    words.insert(words.end(), more);
    return words;
  };
  const struct {
    std::vector<std::string> args;
    std::string named;  // what the message names
  } cases[] = {
      {{"--simulate=0x10", "status"}, "--simulate: '0x10'"},
      {{"--simulate=0b1", "status"}, "--simulate: '0b1'"},
      {{"--simulate=00", "status"}, "--simulate: '00'"},
      {{"--simulate=0 ", "status"}, "--simulate: '0 '"},
      {{"--simulate=1e3", "status"}, "--simulate: '1e3'"},
      {{"--simulate=2x", "status"}, "--simulate: '2x'"},
      {{"--simulate=3.9", "status"}, "--simulate: '3.9'"},
      {{"--simulate=9223372036854775808", "status"}, "--simulate: '9223372036854775808'"},
      {{"--simulate=0", "status"}, "--simulate: '0' is not a whole number from 1 to 64"},
      {{"--simulate=65", "status"}, "--simulate: '65'"},
      {{"--simulate=-1", "status"}, "--simulate: '-1'"},
      {{"--simulate", "--sim-wire-time", "1e3", "status"}, "--sim-wire-time: '1e3'"},
      {{"--simulate", "--sim-wire-time", "-1", "status"}, "--sim-wire-time: '-1'"},
      {{"--simulate", "--sim-wire-time", "1000.5", "status"}, "--sim-wire-time: '1000.5'"},
      {{"--simulate", "--sim-wire-time", ".5", "status"}, "--sim-wire-time: '.5'"},
      {{"--simulate", "--sim-wire-time", "nan", "status"}, "--sim-wire-time: 'nan'"},
      {{"--simulate", "--wait", "5x", "status"}, "--wait: '5x'"},
      {{"--simulate", "--wait", "-1", "status"}, "--wait: '-1'"},
      {{"--simulate", "--wait", "3600.5", "status"}, "--wait: '3600.5'"},
      {{"--simulate", "--wait", "1e1", "status"}, "--wait: '1e1'"},
      {with(poll, {"--baud", "0"}), "--baud: '0' is not a whole number from 50 to 4000000"},
      {with(poll, {"--baud", "9600.5"}), "--baud: '9600.5'"},
      {with(poll, {"--baud", "0x2580"}), "--baud: '0x2580'"},
      {with(poll, {"--baud", "4000001"}), "--baud: '4000001'"},
      {with(poll, {"--count", "0"}), "--count: '0'"},
      {with(poll, {"--count", "1e3"}), "--count: '1e3'"},
      {with(poll, {"--count", "2x"}), "--count: '2x'"},
      {with(poll, {"--interval", "-1"}), "--interval: '-1'"},
      {with(poll, {"--interval", "1.5"}), "--interval: '1.5'"},
      {with(poll, {"--interval", "3600001"}), "--interval: '3600001'"},
      {with(poll, {"--addr", " 5"}), "--addr: slave address ' 5'"},
      {with(poll, {"--addr", "5 "}), "--addr: slave address '5 '"},
      {{"--simulate", "params", "get", " 5"}, "params get: ' 5'"},
      {{"--simulate", "params", "set", " 17=5", "--yes"}, "params set: ' 17=5'"},
      {{"--simulate", "params", "set", "17= 5", "--yes"}, "params set: '17= 5'"},
      {{"--simulate", "config", "set", "X= 4", "--yes"}, "config set: 'X= 4'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    auto sim = std::make_shared<sim::SimBackend>();
    sim->StartRecording();
    const CtlResult r = RunCtl(c.args, sim);
    EXPECT_EQ(r.code, 2) << r.err;
    EXPECT_EQ(r.err.rfind("tarvenctl: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(c.named), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(sim->log().empty()) << "a report reached the module";
  }
  // The documented forms, at the ends of their ranges.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--simulate=2", "status"},
        std::vector<std::string>{"--simulate=1", "--sim-wire-time", "0.5", "status"},
        std::vector<std::string>{"--simulate", "--sim-wire-time", "0", "--wait", "0", "status"},
        std::vector<std::string>{"--simulate", "--wait", "3600", "status"},
        std::vector<std::string>{"--simulate", "--wait", "2.5", "params", "set", "17=$F8",
                                 "18=0x10", "19=-7", "--yes"}}) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const CtlResult r = RunCtl(args, std::make_shared<sim::SimBackend>());
    EXPECT_EQ(r.code, 0) << r.err;
  }
}

// An empty value never stands for "all" or "the first one": `--device ""` would write to
// whichever module answered first, `restore --only ""` restored every part, `diff A ""` compared
// with the module.
TEST(StrictInput, EmptyValuesAreRefused) {
  const struct {
    std::vector<std::string> args;
    std::string named;
  } cases[] = {
      {{"--simulate", "--device", "", "cnc", "stop"}, "--device: the selector is empty"},
      {{"--simulate", "--device=", "cnc", "stop"}, "--device: the value is empty"},
      {{"--simulate", "--sim-state", "", "status"}, "--sim-state: the file name is empty"},
      {{"--simulate", "restore", "b.tar", "--only", "", "--yes"},
       "--only: the list of parts is empty"},
      {{"--simulate", "restore", "b.tar", "--only=", "--yes"}, "--only: the value is empty"},
      {{"--simulate", "diff", "a.tar", ""}, "the second backup's file name"},
      {{"--simulate", "diff", "", "b.tar"}, "the file name is empty"},
      {{"--simulate", "update", "--firmware", "", "--yes"}, "--firmware: the file name is empty"},
      {{"--simulate", "io", "--watch", "--count", "1", "--csv", ""},
       "--csv: the file name is empty"},
      {{"--simulate", "image", "write", "rom", "--low", "", "--yes"},
       "--low: the file name is empty"},
      {{"--simulate", "image", "write", "rom", "", "--high", "h.bin", "--yes"},
       "file: the file name is empty"},
      {{"--simulate", "backup", ""}, "file: the file name is empty"},
      {{"--simulate", "config", "import", "", "--yes"}, "file: the file name is empty"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    auto sim = std::make_shared<sim::SimBackend>();
    sim->StartRecording();
    const CtlResult r = RunCtl(c.args, sim);
    EXPECT_EQ(r.code, 2) << r.err;
    EXPECT_NE(r.err.find(c.named), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    EXPECT_TRUE(sim->log().empty()) << "a report reached the module";
    EXPECT_TRUE(sim->module().cnc_running);
  }
}

// A 100 KB selector is not echoed whole, and a selector's control characters are escaped.
TEST(StrictInput, LongOrOddSelectorsAreShortenedAndEscaped) {
  CtlResult r = RunCtl({"--simulate", "--device", std::string(100000, 'x'), "status"},
                       std::make_shared<sim::SimBackend>());
  EXPECT_EQ(r.code, 2);
  EXPECT_LT(r.err.size(), 300u) << r.err.substr(0, 300);
  EXPECT_NE(r.err.find("xxx…'"), std::string::npos) << r.err.substr(0, 300);

  auto sim = std::make_shared<sim::SimBackend>();
  sim->devices().front().serial_number = "T1\x1b]0;owned\x07\x1b[2J";
  r = RunCtl({"--simulate", "--device", "\x1b[2J", "status"}, sim);
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("no device matches '\\e[2J'"), std::string::npos) << r.err;
  // The list of the devices present keeps its lines; the serial number shows its escapes.
  EXPECT_NE(r.err.find("serial T1\\e]0;owned\\a\\e[2J)"), std::string::npos) << r.err;
  EXPECT_FALSE(HasControlBytes(r.err)) << r.err;
}

// A file name of any length is cut in a message, as other long words are.
TEST(StrictInput, LongFileNamesAreShortened) {
  const std::string path = "/nonexistent/" + std::string(5000, 'x');
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--simulate", "update", "--firmware", path, "--yes"},
        std::vector<std::string>{"--simulate", "restore", path, "--yes"}}) {
    SCOPED_TRACE(args[1]);
    const CtlResult r = RunCtl(args, std::make_shared<sim::SimBackend>());
    EXPECT_EQ(r.code, 1);
    EXPECT_LT(r.err.size(), 300u) << r.err.substr(0, 300);
    EXPECT_NE(r.err.find("xxx…"), std::string::npos) << r.err.substr(0, 300);
  }
}

TEST(StrictInput, HelpAndErrorsInTheProgramsOwnWords) {
  const CtlResult help = RunCtl({"--help"});
  EXPECT_EQ(help.code, 0);
  for (const char* leftover : {"{1}", "FLOAT", "INT", " in [", "Range", "1.79e308"}) {
    EXPECT_EQ(help.out.find(leftover), std::string::npos) << leftover << "\n" << help.out;
  }
  for (const char* shown : {"--simulate[=N]", "--wait SECONDS", "-V,--version"}) {
    EXPECT_NE(help.out.find(shown), std::string::npos) << shown;
  }
  const CtlResult poll = RunCtl({"modbus", "poll", "--help"});
  for (const char* leftover : {"POSITIVE", "NONNEGATIVE", "INT", " in ["}) {
    EXPECT_EQ(poll.out.find(leftover), std::string::npos) << leftover << "\n" << poll.out;
  }
  const CtlResult baud = RunCtl({"modbus", "poll", "--port", "ttyX", "--baud", "0"});
  EXPECT_EQ(baud.err,
            "tarvenctl: --baud: '0' is not a whole number from 50 to 4000000 (try --help)\n");
}

class EscapedTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tarvenctl-escaped-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    sim_ = std::make_shared<sim::SimBackend>();
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  CtlResult Ctl(std::vector<std::string> args) {
    args.insert(args.begin(), "--simulate");
    return RunCtl(args, sim_, [](std::string_view) { return true; });
  }
  void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  std::string Read(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
  }

  fs::path dir_;
  std::shared_ptr<sim::SimBackend> sim_;
};

constexpr const char* kTitleAndClear = "\x1b]0;owned\x07\x1b[2J";
constexpr const char* kTitleAndClearShown = "\\e]0;owned\\a\\e[2J";

// A backup whose manifest carries a terminal's orders, as a forged file would: restore and diff
// refuse it, and the refusal shows the orders instead of obeying them.
TEST_F(EscapedTextTest, ManifestFieldsInRefusals) {
  ASSERT_EQ(Ctl({"backup", Path("good.tar")}).code, 0);
  std::vector<model::TarEntry> entries;
  std::string why;
  ASSERT_TRUE(model::ReadTar(Read(Path("good.tar")), {}, entries, why)) << why;
  std::string& manifest = entries.front().bytes;
  ASSERT_EQ(entries.front().name, "manifest.txt");
  const auto at = manifest.find("tarven-backup 1");
  ASSERT_NE(at, std::string::npos);
  manifest.insert(at + 15, std::string(kTitleAndClear) + "\0"s);
  Write(Path("forged.tar"), model::WriteTar(entries, 1700000000));

  sim_->StartRecording();
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"restore", Path("forged.tar"), "--yes"},
        std::vector<std::string>{"diff", Path("forged.tar")},
        std::vector<std::string>{"diff", Path("good.tar"), Path("forged.tar")}}) {
    SCOPED_TRACE(args.front());
    const CtlResult r = Ctl(args);
    EXPECT_NE(r.code, 0);
    EXPECT_NE(
        r.err.find("manifest says 'tarven-backup 1" + std::string(kTitleAndClearShown) + "\\0'"),
        std::string::npos)
        << r.err;
    EXPECT_FALSE(HasControlBytes(r.err + r.out)) << r.err;
  }
  EXPECT_TRUE(sim_->log().empty()) << "the forged backup reached the module";
}

TEST_F(EscapedTextTest, FileContentsAndNamesInErrors) {
  // A NUL and a cleared screen in a configuration file, and in a parameter file.
  Write(Path("config.txt"), "X=4\nT=\0"s + kTitleAndClear + "\n");
  Write(Path("params.csv"), "number,value\n1,5"s + kTitleAndClear + "\n");
  // A file name with them.
  const std::string odd_name = Path("b"s + kTitleAndClear + ".tar");
  sim_->StartRecording();
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"config", "import", Path("config.txt"), "--yes"},
        std::vector<std::string>{"params", "import", Path("params.csv"), "--yes"},
        std::vector<std::string>{"restore", odd_name, "--yes"},
        std::vector<std::string>{"diff", odd_name},
        std::vector<std::string>{"update", "--firmware", odd_name, "--yes"},
        std::vector<std::string>{"--sim-state", odd_name + "/m.state", "status"}}) {
    SCOPED_TRACE(args.front());
    const CtlResult r = Ctl(args);
    EXPECT_NE(r.code, 0);
    EXPECT_NE(r.err.find(kTitleAndClearShown), std::string::npos) << r.err;
    EXPECT_FALSE(HasControlBytes(r.err + r.out)) << r.err;
  }
  EXPECT_TRUE(sim_->log().empty());
}

// A device names itself: its serial number is shown, not obeyed, in the list of devices; the JSON
// list carries it in JSON's own escapes.
TEST_F(EscapedTextTest, SerialNumbersInDeviceLists) {
  sim_->devices().front().serial_number = "T1"s + kTitleAndClear + "\0"s;
  CtlResult r = Ctl({"devices"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("  serial: T1"s + kTitleAndClearShown + "\\0\n"), std::string::npos)
      << r.out;
  EXPECT_FALSE(HasControlBytes(r.out)) << r.out;
  r = Ctl({"devices", "--json"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find(R"("serial":"T1\u001b]0;owned\u0007\u001b[2J\u0000")"), std::string::npos)
      << r.out;
  // A serial number that is not UTF-8 does not end the run.
  sim_->devices().front().serial_number = "T\xFF";
  r = Ctl({"devices", "--json"});
  EXPECT_EQ(r.code, 0) << r.err;
  r = Ctl({"devices"});
  EXPECT_NE(r.out.find("  serial: T\\xFF\n"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace tarven::testing
