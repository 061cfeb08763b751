// The simulated slave that `tarven --simulate` offers on the network page, polled through the
// real serial port on its pseudo-terminal.

#include "sim/modbus_slave.h"

#include <gtest/gtest.h>

#include <array>
#include <thread>

#include "comport/comport.h"
#include "comport/modbus_registers.h"
#include "modbus_peers.h"

namespace tarven::testing {
namespace {

TEST(SimulatedModbusSlave, AnswersItsAddressAndCountsWhatItSees) {
  std::string error;
  const auto slave = sim::ModbusSlave::Start(1, error);
  ASSERT_TRUE(slave) << error;
  {
    // Bytes that make no request count as one error once the line falls quiet.
    RawEnd noise(slave->port_path());
    noise.Write({0x01, 0x02, 0x03});
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  comport::ComPort port;
  ASSERT_TRUE(port.OpenComPort(slave->port_path(), 57600)) << port.LastComPortError();
  std::array<std::uint8_t, 20> registers{};
  for (std::uint32_t poll = 1; poll <= 2; ++poll) {
    ASSERT_TRUE(port.ReadHoldingRegisters(1, 0, 10, registers.data()));
    const comport::NetworkStatus status = comport::DecodeNetworkStatus(registers);
    EXPECT_EQ(status.version, "4.54");
    EXPECT_EQ(status.packets, poll);
    EXPECT_EQ(status.errors, 1U);
  }
  EXPECT_FALSE(port.ReadHoldingRegisters(2, 0, 10, registers.data()));  // not its address
  EXPECT_FALSE(port.ReadHoldingRegisters(1, 5, 10, registers.data()));  // past register 9
  port.CloseComPort();
  // Closing and opening again leaves the terminal as raw as before.
  ASSERT_TRUE(port.OpenComPort(slave->port_path(), 9600));
  EXPECT_TRUE(port.ReadHoldingRegisters(1, 0, 10, registers.data()));
  EXPECT_EQ(comport::DecodeNetworkStatus(registers).packets, 3U);
  port.CloseComPort();
  EXPECT_EQ(slave->requests_answered(), 3U);
}

}  // namespace
}  // namespace tarven::testing
