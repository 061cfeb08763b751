// Decoding a state file's text in memory: all or nothing. A text refused on its last lines, after
// every other field was read, must still leave the state it was decoded into as it was.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "sim/sim_state.h"

namespace tarven::testing {
namespace {

// A state in which every field differs from a fresh module's.
sim::ModuleState Busy() {
  sim::ModuleState state;
  state.personality = sim::Personality::BootLoader;
  state.firmware_version = 0x00012300;
  state.boot_version = 0x00010203;
  state.cnc_running = false;
  state.ext_dac = true;
  state.registers = {{0x0000, 0xFFFFFFFF}, {0xFFFF, 7}};
  state.encoder_pending = {INT32_MIN, -40, 2500, INT32_MAX};
  state.ea_inputs = {0, 1, 0xFFFE, 0xFFFF};
  state.ea_outputs = {5, 6, 7, 8};
  state.flash.back() = 0x12;
  state.ram.back() = 0xAB;
  state.ram_main_bank.back() = 0x01;
  state.ram_reserve_bank.back() = 0x02;
  state.received_image = {0xDE, 0xAD, 0xBE, 0xEF};
  return state;
}

TEST(DecodeState, ReadsBackWhatSerializeStateWrote) {
  for (const sim::ModuleState& written : {sim::ModuleState(), Busy()}) {
    sim::ModuleState read = written == Busy() ? sim::ModuleState() : Busy();
    std::string error;
    ASSERT_TRUE(sim::DecodeState(sim::SerializeState(written), "module.state", read, error))
        << error;
    EXPECT_TRUE(read == written);
  }
}

TEST(DecodeState, RefusedTextLeavesTheStateAsItWas) {
  const std::string whole = sim::SerializeState(sim::ModuleState());
  const std::string before_end = whole.substr(0, whole.size() - std::string("end\n").size());
  struct Case {
    const char* what;
    std::string text;
    const char* reason;
  };
  const Case cases[] = {
      {"unknown key last", before_end + "colour blue\nend\n", ":16: unknown key 'colour'"},
      {"field twice last", before_end + "ext_dac 1\nend\n", ":16: ext_dac given twice"},
      {"text after the end", whole + "ext_dac 1\n", ":17: text after the end line"},
      {"no end line", before_end, ": incomplete simulator state: no end line"},
      {"not a state", "end\n", ": not a simulator state file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::ModuleState state = Busy();
    std::string error;
    EXPECT_FALSE(sim::DecodeState(c.text, "module.state", state, error));
    EXPECT_TRUE(state == Busy()) << "the refused text changed the state";
    EXPECT_EQ(error.rfind("module.state", 0), 0u) << error;
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace tarven::testing
