// Polling libmodbus's RTU server, a peer this project did not write, over a pseudo-terminal pair:
// through ReadHoldingRegisters, and through tarvenctl modbus poll.

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <sstream>

#include "cli/tarvenctl.h"
#include "cli_fixture.h"
#include "comport/comport.h"
#include "comport/modbus_registers.h"
#include "modbus_peers.h"

namespace tarven::testing {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const std::vector<std::uint16_t> kHeld{0x1111, 0x2222, 0x3333, 0x0001, 0x0002,
                                       0xFFFF, 0xFFFF, 0x7777, 0x8888, 0x0454};

class LibmodbusServerTest : public ::testing::Test {
 protected:
  PtyPair pair_;
  ServerPeer server_{pair_.theirs(), 1, kHeld};
  comport::ComPort port_;
};

TEST_F(LibmodbusServerTest, PollShowsTheRegistersTheServerHolds) {
  ASSERT_TRUE(port_.OpenComPort(pair_.ours(), 57600)) << port_.LastComPortError();
  for (int poll = 0; poll < 3; ++poll) {
    std::array<std::uint8_t, 20> registers{};
    ASSERT_TRUE(port_.ReadHoldingRegisters(1, 0, 10, registers.data())) << "poll " << poll;
    for (std::size_t i = 0; i < kHeld.size(); ++i) {
      EXPECT_EQ(comport::RegisterAt(registers, i), kHeld[i]) << "register " << i;
    }
    const comport::NetworkStatus status = comport::DecodeNetworkStatus(registers);
    EXPECT_EQ(status.version, "4.54");
    EXPECT_EQ(status.packets, 131073U);
    EXPECT_EQ(status.errors, 4294967295U);
  }
  // Fewer registers from further on, as the server's map allows.
  std::array<std::uint8_t, 4> two{};
  ASSERT_TRUE(port_.ReadHoldingRegisters(1, 7, 2, two.data()));
  EXPECT_EQ(two, (std::array<std::uint8_t, 4>{0x77, 0x77, 0x88, 0x88}));
}

TEST_F(LibmodbusServerTest, AddressTheServerIgnoresFailsAfterOneDeadline) {
  ASSERT_TRUE(port_.OpenComPort(pair_.ours(), 57600));
  std::array<std::uint8_t, 20> registers{};
  const auto start = Clock::now();
  EXPECT_FALSE(port_.ReadHoldingRegisters(2, 0, 10, registers.data()));
  const auto ms = std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
  // One deadline, and well short of a second one on a loaded machine.
  EXPECT_GE(ms, 1000);
  EXPECT_LT(ms, 1900);
  // The server is still there for its own address.
  EXPECT_TRUE(port_.ReadHoldingRegisters(1, 0, 10, registers.data()));
}

using Result = CtlResult;

Result Ctl(const std::vector<std::string>& args) {
  return RunCtl(args);
}

TEST_F(LibmodbusServerTest, TarvenctlPollsTheServer) {
  Result r = Ctl({"modbus", "poll", "--port", pair_.ours(), "--count", "2", "--interval", "0"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out,
            "подключен 4.54 packets=131073 errors=4294967295\n"
            "подключен 4.54 packets=131073 errors=4294967295\n"
            "requests=2 replies=2 failures=0\n");
  EXPECT_EQ(r.err, "");

  r = Ctl({"modbus", "poll", "--port", pair_.ours(), "--json", "--trace"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out,
            "{\"connected\":true,\"version\":\"4.54\",\"packets\":131073,\"errors\":4294967295}\n"
            "{\"requests\":1,\"replies\":1,\"failures\":0}\n");
  EXPECT_EQ(r.err,
            "> 01 03 00 00 00 0A C5 CD\n"
            "< 01 03 14 11 11 22 22 33 33 00 01 00 02 FF FF FF FF 77 77 88 88 04 54 "
            "FF 3E\n");
}

TEST_F(LibmodbusServerTest, TarvenctlFailsWhenTheLastPollIsNotAnswered) {
  const Result r = Ctl({"modbus", "poll", "--port", pair_.ours(), "--addr", "0x02"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "не подключен\nrequests=1 replies=0 failures=1\n");
  EXPECT_EQ(r.err, "tarvenctl: modbus poll: no reply from slave 2 on " + pair_.ours() + "\n");
}

TEST(TarvenctlModbus, BadOptionsAndPorts) {
  const struct {
    std::vector<std::string> args;
    int code;
    std::string err;
  } cases[] = {
      {{"modbus", "poll"}, 2, "tarvenctl: --port is required (try --help)\n"},
      {{"modbus", "poll", "--port", "ttyX", "--addr", "256"},
       2,
       "tarvenctl: --addr: slave address '256' is not a number from 0 to 255 (try --help)\n"},
      {{"modbus", "poll", "--port", "ttyX", "--addr", "abc"},
       2,
       "tarvenctl: --addr: slave address 'abc' is not a number from 0 to 255 (try --help)\n"},
      {{"modbus", "poll", "--port", "/nonexistent/tty", "--count", "1"},
       1,
       "tarvenctl: modbus poll: /nonexistent/tty: cannot open: No such file or directory\n"},
  };
  for (const auto& c : cases) {
    const Result r = Ctl(c.args);
    EXPECT_EQ(r.code, c.code) << r.err;
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, "");
  }
  for (const char* bad : {"0", "-5", "x"}) {
    const Result r = Ctl({"modbus", "poll", "--port", "ttyX", "--baud", bad});
    EXPECT_EQ(r.code, 2) << bad;
  }

  const comport::PortSource found = [] {
    return std::vector<comport::PortInfo>{{"ttyUSB0", ""}, {"ttyACM0", ""}};
  };
  Result r = RunCtl({"ports"}, nullptr, {}, found);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "ttyACM0\nttyUSB0\n");
  r = RunCtl({"ports", "--json"}, nullptr, {}, found);
  EXPECT_EQ(r.out,
            "[{\"name\":\"ttyACM0\",\"description\":\"\"},"
            "{\"name\":\"ttyUSB0\",\"description\":\"\"}]\n");
}

TEST(TarvenctlModbus, PortsSayWhatIsBehindThem) {
  const comport::PortSource found = [] {
    return std::vector<comport::PortInfo>{{"ttyUSB0", "FTDI FT232R USB UART"},
                                          {"/dev/pts/7", ""},
                                          {"ttyS0", "serial"},
                                          {"ttyACM0", "Pico \xFF"}};
  };
  Result r = RunCtl({"ports"}, nullptr, {}, found);
  EXPECT_EQ(r.code, 0);
  // The system's words are shown with what is no UTF-8 (or a control character) escaped.
  EXPECT_EQ(r.out,
            "/dev/pts/7\n"
            "ttyACM0     Pico \\xFF\n"
            "ttyS0       serial\n"
            "ttyUSB0     FTDI FT232R USB UART\n");
  // A byte that is no UTF-8 comes out as U+FFFD instead of ending the run.
  r = RunCtl({"ports", "--json"}, nullptr, {}, found);
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out,
            "[{\"name\":\"/dev/pts/7\",\"description\":\"\"},"
            "{\"name\":\"ttyACM0\",\"description\":\"Pico \xEF\xBF\xBD\"},"
            "{\"name\":\"ttyS0\",\"description\":\"serial\"},"
            "{\"name\":\"ttyUSB0\",\"description\":\"FTDI FT232R USB UART\"}]\n");
}

}  // namespace
}  // namespace tarven::testing
