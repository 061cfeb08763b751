// The simulated module's encoders and its host controller in motion, as the live pages see them.

#include <gtest/gtest.h>

#include <climits>
#include <optional>

#include "device/operations.h"
#include "device/register_operations.h"
#include "sim_fixture.h"

namespace tarven::testing {
namespace {

TEST_F(SimTest, EncoderCountsStopAtThe32BitLimitsInsteadOfOverflowing) {
  module().MoveEncoder(1, INT32_MAX);
  module().MoveEncoder(1, 5);
  module().MoveEncoder(2, INT32_MIN);
  module().MoveEncoder(2, -1);
  EXPECT_EQ(module().encoder_pending[0], INT32_MAX);
  EXPECT_EQ(module().encoder_pending[1], INT32_MIN);
  module().MoveEncoder(0, 1);
  module().MoveEncoder(5, 1);
  EXPECT_EQ(module().encoder_pending[2], 0);
  EXPECT_EQ(module().encoder_pending[3], 0);
}

TEST_F(SimTest, AHostInMotionMovesInputsAndEncodersOncePerStatusRead) {
  EXPECT_FALSE(module().host_motion) << "off unless asked for";
  module().host_motion = true;
  module().cnc_running = false;
  device::PollStatus(link());
  device::PollStatus(link());
  const std::uint16_t addresses[] = {0xF131, 0xF133, 0xF151, 0xF152, 0xF153, 0xF154};
  std::optional<std::uint32_t> values[6];
  // The read's own status is the third second.
  ASSERT_TRUE(device::ReadRegisters(link(), addresses, values).outcome.ok());
  EXPECT_EQ(values[0], 1u << 3);
  EXPECT_EQ(values[1], 3u);
  EXPECT_EQ(values[2], 375u);
  EXPECT_EQ(values[3], static_cast<std::uint16_t>(-120));
  EXPECT_EQ(values[4], 7500u);
  EXPECT_EQ(values[5], static_cast<std::uint16_t>(-21));
  EXPECT_EQ(module().ea_inputs[0], 1u << 3);
}

}  // namespace
}  // namespace tarven::testing
