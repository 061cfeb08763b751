// Replies that a Modbus server would not send, written raw on the far end of a pseudo-terminal
// pair, against ReadHoldingRegisters through the real serial port.

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <functional>
#include <thread>

#include "comport/comport.h"
#include "modbus_peers.h"

namespace tarven::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const Bytes kRequest{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD};
const std::vector<std::uint16_t> kRegisters{0, 0, 0, 1, 2, 0xFFFF, 0xFFFF, 0, 0, 0x0454};

class ModbusExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(port_.OpenComPort(pair_.ours(), 57600)) << port_.LastComPortError();
  }

  struct Poll {
    bool ok;
    Bytes registers;
    long long ms;
  };
  Poll PollOnce() {
    std::array<std::uint8_t, 20> registers{};
    const auto start = Clock::now();
    const bool ok = port_.ReadHoldingRegisters(1, 0, 10, registers.data());
    const auto ms = std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
    return {ok, Bytes(registers.begin(), registers.end()), ms};
  }

  // Answers each of the next `replies.size()` requests with the matching reply, as a slave does.
  std::thread Answer(std::vector<Bytes> replies) {
    return std::thread([this, replies = std::move(replies)] {
      for (const Bytes& reply : replies) {
        if (slave_.Read(8, milliseconds(3000)).size() == 8) slave_.Write(reply);
      }
    });
  }

  PtyPair pair_;
  RawEnd slave_{pair_.theirs()};
  comport::ComPort port_;
};

Bytes RegisterBytes(const std::vector<std::uint16_t>& registers) {
  const Bytes reply = TenRegisterReply(registers);
  return Bytes(reply.begin() + 3, reply.end() - 2);
}

TEST_F(ModbusExchangeTest, EachReplyAsTheTickSeesIt) {
  Bytes bad_crc = TenRegisterReply(kRegisters);
  bad_crc.at(24) = static_cast<std::uint8_t>(bad_crc.at(24) ^ 0xFF);
  const Bytes full = TenRegisterReply(kRegisters);
  const struct {
    const char* name;
    Bytes reply;
    bool ok;
    bool waits_for_deadline;
  } cases[] = {
      {"good reply", full, true, false},
      {"from another slave, good CRC", TenRegisterReply(kRegisters, 7), true, false},
      {"bad CRC", bad_crc, false, false},
      {"exception reply", WithCrc({0x01, 0x83, 0x02}), false, true},
      {"24 bytes, then silence", Bytes(full.begin(), full.end() - 1), false, true},
  };
  for (const auto& c : cases) {
    std::thread slave = Answer({c.reply});
    const Poll poll = PollOnce();
    slave.join();
    EXPECT_EQ(poll.ok, c.ok) << c.name;
    // A failed read leaves the destination untouched.
    EXPECT_EQ(poll.registers, c.ok ? RegisterBytes(kRegisters) : Bytes(20, 0)) << c.name;
    if (c.waits_for_deadline) {
      EXPECT_GE(poll.ms, 1000) << c.name;
    } else {
      EXPECT_LT(poll.ms, 1000) << c.name << ": answered before the deadline";
    }
  }
}

TEST_F(ModbusExchangeTest, LateReplyIsTakenByTheNextTick) {
  // Nothing comes within the first tick's deadline; the reply comes afterwards and waits in the
  // receive buffer, where the next tick's read finds it before the slave answers again.
  EXPECT_FALSE(PollOnce().ok);
  EXPECT_EQ(slave_.Read(8), kRequest);
  const std::vector<std::uint16_t> late{0, 0, 0, 5, 0, 0, 0, 0, 0, 0x0405};
  slave_.Write(TenRegisterReply(late));
  std::this_thread::sleep_for(milliseconds(100));
  const Poll next = PollOnce();
  EXPECT_TRUE(next.ok);
  EXPECT_EQ(next.registers, RegisterBytes(late));
  EXPECT_LT(next.ms, 1000) << "taken before the deadline";
  EXPECT_EQ(slave_.Read(8), kRequest);  // the next tick's request still went out
}

TEST_F(ModbusExchangeTest, PartialLateReplyFailsOneTickAndNoMore) {
  EXPECT_FALSE(PollOnce().ok);
  slave_.Read(8);
  const Bytes full = TenRegisterReply(kRegisters);
  slave_.Write(Bytes(full.begin(), full.begin() + 10));  // the tail of an answer that came late
  std::this_thread::sleep_for(milliseconds(100));
  // The slave answers the next two requests in full. The first read starts with the 10 stale
  // bytes and fails its CRC; the rest of that answer must not spoil the tick after it.
  std::thread slave = Answer({full, full});
  const Poll spoiled = PollOnce();
  std::this_thread::sleep_for(milliseconds(50));
  const Poll next = PollOnce();
  slave.join();
  EXPECT_FALSE(spoiled.ok);
  EXPECT_TRUE(next.ok);
  EXPECT_EQ(next.registers, RegisterBytes(kRegisters));
}

TEST_F(ModbusExchangeTest, CountsOutsideOneFrameAreRefusedWithoutARequest) {
  std::array<std::uint8_t, 2 * 126> registers{};
  EXPECT_FALSE(port_.ReadHoldingRegisters(1, 0, 0, registers.data()));
  EXPECT_FALSE(port_.ReadHoldingRegisters(1, 0, 126, registers.data()));
  EXPECT_TRUE(slave_.Read(8, milliseconds(200)).empty());
}

}  // namespace
}  // namespace tarven::testing
