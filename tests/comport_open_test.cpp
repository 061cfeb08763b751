// Opening, holding and closing the serial port, and the read deadline, on a pseudo-terminal pair
// through the real serial port.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "comport/comport.h"
#include "modbus_peers.h"

namespace tarven::testing {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

class ComPortTest : public ::testing::Test {
 protected:
  void TearDown() override { comport::CloseComPort(); }

  static long long Elapsed(Clock::time_point since) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - since).count();
  }

  PtyPair pair_;
};

TEST_F(ComPortTest, OpenHoldsTheOnePortUntilClosed) {
  ASSERT_EQ(comport::ComHandle, comport::kInvalidComHandle);
  ASSERT_TRUE(comport::OpenComPort(QString::fromStdString(pair_.ours()), 57600))
      << comport::LastComPortError();
  const comport::Handle open = comport::ComHandle;
  EXPECT_NE(open, comport::kInvalidComHandle);
  // The tool itself still holds it: a second open fails and leaves the first one alone.
  EXPECT_FALSE(comport::OpenComPort(QString::fromStdString(pair_.ours()), 57600));
  EXPECT_EQ(comport::ComHandle, open);
  comport::CloseComPort();
  EXPECT_EQ(comport::ComHandle, comport::kInvalidComHandle);
  EXPECT_TRUE(comport::OpenComPort(QString::fromStdString(pair_.ours()), 9600));
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
    EXPECT_FALSE(comport::OpenComPort(QString::fromStdString(c.port), c.baud)) << c.name;
    EXPECT_EQ(comport::ComHandle, comport::kInvalidComHandle) << c.name;
    EXPECT_FALSE(comport::LastComPortError().empty()) << c.name;
  }
  // The refused port was closed again, so it opens now.
  EXPECT_TRUE(comport::OpenComPort(QString::fromStdString(pair_.ours()), 57600))
      << comport::LastComPortError();
}

TEST_F(ComPortTest, PortHeldByAnotherProgramDoesNotOpen) {
  const PortHolder holder(pair_.ours());
  EXPECT_FALSE(comport::OpenComPort(QString::fromStdString(pair_.ours()), 57600));
  EXPECT_EQ(comport::ComHandle, comport::kInvalidComHandle);
  EXPECT_EQ(comport::LastComPortError(), "in use by another program");
}

TEST_F(ComPortTest, SilentLineFailsAfterOneDeadline) {
  RawEnd slave(pair_.theirs());
  ASSERT_TRUE(comport::OpenComPort(QString::fromStdString(pair_.ours()), 57600));
  std::array<std::uint8_t, 20> registers{};
  comport::ExchangeRecord record;
  const auto start = Clock::now();
  EXPECT_FALSE(comport::ReadHoldingRegisters(1, 0, 10, registers.data(), &record));
  const long long elapsed = Elapsed(start);
  // One deadline, and well short of a second one on a loaded machine.
  EXPECT_GE(elapsed, 1000);
  EXPECT_LT(elapsed, 1900);
  EXPECT_TRUE(record.reply.empty());
  EXPECT_EQ(slave.Read(100), (std::vector<std::uint8_t>{1, 3, 0, 0, 0, 0x0A, 0xC5, 0xCD}));
}

TEST_F(ComPortTest, DeadlineCountsFromTheStartOfTheRead) {
  // Bytes that keep coming, one every 100 ms, do not stretch the read: a time-out between bytes
  // would wait for all 24 of them (2.4 s).
  RawEnd slave(pair_.theirs());
  ASSERT_TRUE(comport::OpenComPort(QString::fromStdString(pair_.ours()), 57600));
  std::thread trickle([&slave] {
    for (int i = 0; i < 24; ++i) {
      slave.Write({static_cast<std::uint8_t>(i)});
      std::this_thread::sleep_for(milliseconds(100));
    }
  });
  std::array<std::uint8_t, 20> registers{};
  comport::ExchangeRecord record;
  const auto start = Clock::now();
  EXPECT_FALSE(comport::ReadHoldingRegisters(1, 0, 10, registers.data(), &record));
  const long long elapsed = Elapsed(start);
  trickle.join();
  EXPECT_GE(elapsed, 1000);
  EXPECT_LT(elapsed, 1900) << "a time-out between bytes would have waited 2.4 s";
  EXPECT_GE(record.reply.size(), 8U);
  EXPECT_LE(record.reply.size(), 12U);
}

}  // namespace
}  // namespace tarven::testing
