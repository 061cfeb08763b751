// Opening, holding and closing the serial port, and the read deadline, on a pseudo-terminal pair
// through the real serial port.

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <optional>
#include <thread>

#include "comport/comport.h"
#include "modbus_peers.h"

namespace tarven::testing {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

class ComPortTest : public ::testing::Test {
 protected:
  static long long Elapsed(Clock::time_point since) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - since).count();
  }

  PtyPair pair_;
  comport::ComPort port_;
};

TEST_F(ComPortTest, OpenHoldsTheOnePortUntilClosed) {
  ASSERT_EQ(port_.ComHandle(), comport::kInvalidComHandle);
  ASSERT_TRUE(port_.OpenComPort(pair_.ours(), 57600)) << port_.LastComPortError();
  const comport::Handle open = port_.ComHandle();
  EXPECT_NE(open, comport::kInvalidComHandle);
  // The tool itself still holds it: a second open fails and leaves the first one alone.
  EXPECT_FALSE(port_.OpenComPort(pair_.ours(), 57600));
  EXPECT_EQ(port_.ComHandle(), open);
  port_.CloseComPort();
  EXPECT_EQ(port_.ComHandle(), comport::kInvalidComHandle);
  EXPECT_TRUE(port_.OpenComPort(pair_.ours(), 9600));
}

TEST_F(ComPortTest, PortHeldByThisProgramDoesNotOpenTwice) {
  ASSERT_TRUE(port_.OpenComPort(pair_.ours(), 57600)) << port_.LastComPortError();
  comport::ComPort second;
  EXPECT_FALSE(second.OpenComPort(pair_.ours(), 57600));
  EXPECT_EQ(second.ComHandle(), comport::kInvalidComHandle);
  EXPECT_FALSE(second.LastComPortError().empty());
  EXPECT_TRUE(port_.IsOpen());

  port_.CloseComPort();
  ASSERT_TRUE(second.OpenComPort(pair_.ours(), 57600)) << second.LastComPortError();
  {
    // A port goes with the object that holds it.
    comport::ComPort scoped;
    second.CloseComPort();
    ASSERT_TRUE(scoped.OpenComPort(pair_.ours(), 57600)) << scoped.LastComPortError();
    EXPECT_FALSE(port_.OpenComPort(pair_.ours(), 57600));
  }
  EXPECT_TRUE(port_.OpenComPort(pair_.ours(), 57600)) << port_.LastComPortError();
}

TEST_F(ComPortTest, OpenMakesTheLineRawAndCloseGivesItsSettingsBack) {
  // The terminal as a shell leaves one: line editing, echo, translation, two stop bits, both
  // flow controls. (A pseudo-terminal keeps 8 bits without parity whatever it is told.)
  termios cooked{};
  const auto settings_now = [this](termios& into) {
    const int fd = ::open(pair_.ours().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::tcgetattr(fd, &into), 0);
    ::close(fd);
  };
  {
    const int fd = ::open(pair_.ours().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::tcgetattr(fd, &cooked), 0);
    cooked.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
    cooked.c_iflag |= IXON | IXOFF | ICRNL | ISTRIP;
    cooked.c_oflag |= OPOST | ONLCR;
    cooked.c_cflag |= CSTOPB | CRTSCTS;
    cooked.c_cflag &= ~static_cast<tcflag_t>(CLOCAL);
    ::cfsetispeed(&cooked, B2400);
    ::cfsetospeed(&cooked, B2400);
    ASSERT_EQ(::tcsetattr(fd, TCSANOW, &cooked), 0);
    ::close(fd);
  }
  settings_now(cooked);

  ASSERT_TRUE(port_.OpenComPort(pair_.ours(), 19200)) << port_.LastComPortError();
  termios line{};
  ASSERT_EQ(::tcgetattr(static_cast<int>(port_.ComHandle()), &line), 0);
  EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(line.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0U);
  EXPECT_EQ(line.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0U);
  EXPECT_EQ(line.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0U);
  EXPECT_EQ(line.c_oflag & OPOST, 0U);
  EXPECT_EQ(::cfgetispeed(&line), static_cast<speed_t>(B19200));
  EXPECT_EQ(::cfgetospeed(&line), static_cast<speed_t>(B19200));
  port_.CloseComPort();

  termios after{};
  settings_now(after);
  EXPECT_EQ(after.c_iflag, cooked.c_iflag);
  EXPECT_EQ(after.c_oflag, cooked.c_oflag);
  EXPECT_EQ(after.c_cflag, cooked.c_cflag);
  EXPECT_EQ(after.c_lflag, cooked.c_lflag);
  EXPECT_EQ(::cfgetospeed(&after), static_cast<speed_t>(B2400));
}

TEST_F(ComPortTest, RatesWithoutASpeedConstantWorkToo) {
  RawEnd far_end(pair_.theirs());
  for (const int baud : {250000, 31250, 57600}) {
    ASSERT_TRUE(port_.OpenComPort(pair_.ours(), baud)) << baud << ": " << port_.LastComPortError();
    // The reply is there before the request: the exchange does not wait for its deadline.
    const std::vector<std::uint16_t> held{0, 0, 0, 1, 0, 0, 0, 0, 0, 0x0454};
    far_end.Write(TenRegisterReply(held));
    std::array<std::uint8_t, 20> registers{};
    EXPECT_TRUE(port_.ReadHoldingRegisters(1, 0, 10, registers.data())) << baud;
    EXPECT_EQ(registers[19], 0x54) << baud;
    EXPECT_EQ(far_end.Read(8), (std::vector<std::uint8_t>{1, 3, 0, 0, 0, 0x0A, 0xC5, 0xCD}))
        << baud;
    port_.CloseComPort();
  }
}

TEST_F(ComPortTest, RefusedOpensLeaveNoPortOpen) {
  const struct {
    const char* name;
    std::string port;
    int baud;
  } cases[] = {
      {"no such device", "/nonexistent/ttyX", 57600},
      {"a baud rate the driver refuses", pair_.ours(), -1},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(port_.OpenComPort(c.port, c.baud)) << c.name;
    EXPECT_EQ(port_.ComHandle(), comport::kInvalidComHandle) << c.name;
    EXPECT_FALSE(port_.LastComPortError().empty()) << c.name;
  }
  // The refused port was closed again, so it opens now.
  EXPECT_TRUE(port_.OpenComPort(pair_.ours(), 57600)) << port_.LastComPortError();
}

TEST_F(ComPortTest, PortHeldByAnotherProgramDoesNotOpen) {
  // flock(1) holds the port the way a serial program locks it.
  const PortHolder holder(pair_.ours());
  EXPECT_FALSE(port_.OpenComPort(pair_.ours(), 57600));
  EXPECT_EQ(port_.ComHandle(), comport::kInvalidComHandle);
  EXPECT_EQ(port_.LastComPortError(), "in use by another program");
}

TEST_F(ComPortTest, SilentLineFailsAfterOneDeadline) {
  RawEnd slave(pair_.theirs());
  ASSERT_TRUE(port_.OpenComPort(pair_.ours(), 57600));
  std::array<std::uint8_t, 20> registers{};
  comport::ExchangeRecord record;
  const auto start = Clock::now();
  EXPECT_FALSE(port_.ReadHoldingRegisters(1, 0, 10, registers.data(), &record));
  const long long elapsed = Elapsed(start);
  // One deadline, and well short of a second one on a loaded machine.
  EXPECT_GE(elapsed, 1000);
  EXPECT_LT(elapsed, 1900);
  EXPECT_TRUE(record.reply.empty());
  EXPECT_EQ(slave.Read(100), (std::vector<std::uint8_t>{1, 3, 0, 0, 0, 0x0A, 0xC5, 0xCD}));
}

TEST_F(ComPortTest, ReadOfASilentLineEndsAtTheDeadline) {
  // Whether or not anything holds the far end, a line that brings nothing makes the read wait its
  // whole deadline, and no longer than that (with slack for a loaded machine).
  const struct {
    const char* name;
    bool far_end_open;
  } cases[] = {{"far end open and silent", true}, {"nobody at the far end", false}};
  for (const auto& c : cases) {
    std::optional<RawEnd> far_end;
    if (c.far_end_open) far_end.emplace(pair_.theirs());
    ASSERT_TRUE(port_.OpenComPort(pair_.ours(), 57600)) << c.name;
    std::array<std::uint8_t, 2> registers{0xAA, 0x55};
    comport::ExchangeRecord record;
    const auto start = Clock::now();
    EXPECT_FALSE(port_.ReadHoldingRegisters(1, 9, 1, registers.data(), &record)) << c.name;
    const long long elapsed = Elapsed(start);
    EXPECT_GE(elapsed, 1000) << c.name;
    EXPECT_LT(elapsed, 3000) << c.name;
    EXPECT_EQ(record.request, WithCrc({0x01, 0x03, 0x00, 0x09, 0x00, 0x01})) << c.name;
    EXPECT_TRUE(record.reply.empty()) << c.name;
    EXPECT_EQ(registers, (std::array<std::uint8_t, 2>{0xAA, 0x55})) << c.name;
    port_.CloseComPort();
  }
}

TEST_F(ComPortTest, DeadlineCountsFromTheStartOfTheRead) {
  // Bytes that keep coming, one every 100 ms, do not stretch the read: a time-out between bytes
  // would wait for all 24 of them (2.4 s).
  RawEnd slave(pair_.theirs());
  ASSERT_TRUE(port_.OpenComPort(pair_.ours(), 57600));
  std::thread trickle([&slave] {
    for (int i = 0; i < 24; ++i) {
      slave.Write({static_cast<std::uint8_t>(i)});
      std::this_thread::sleep_for(milliseconds(100));
    }
  });
  std::array<std::uint8_t, 20> registers{};
  comport::ExchangeRecord record;
  const auto start = Clock::now();
  EXPECT_FALSE(port_.ReadHoldingRegisters(1, 0, 10, registers.data(), &record));
  const long long elapsed = Elapsed(start);
  trickle.join();
  EXPECT_GE(elapsed, 1000);
  EXPECT_LT(elapsed, 1900) << "a time-out between bytes would have waited 2.4 s";
  EXPECT_GE(record.reply.size(), 8U);
  EXPECT_LE(record.reply.size(), 12U);
}

}  // namespace
}  // namespace tarven::testing
