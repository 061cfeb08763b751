// Any text as a simulator state file. A refused text leaves the state it was decoded into as it
// was and says why in one line that names the file; an accepted one gives a state whose memories
// have the sizes the file format allows, and the text written for that state decodes to the same
// state again.
//
// A whole state is some 180 KB of memory in hex, which a fuzzer would spend its time mutating. So
// an input that begins with 'S' holds only the lines it wants to vary: the header, the memories of
// a module as delivered and the end line are put around them. Any other input is a whole file.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "sim/sim_state.h"

namespace {

namespace sim = tarven::sim;

constexpr std::string_view kSource = "fuzzed.state";

struct Frame {
  std::string head;  // the header line
  std::string tail;  // the memory lines and the end line
};

// The frame is cut from what SerializeState writes for a fresh module, so that it follows the
// format without restating it here.
Frame MakeFrame() {
  const std::string whole = sim::SerializeState(sim::ModuleState());
  Frame frame;
  std::string_view text = whole;
  bool first = true;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) std::abort();  // SerializeState ends every line
    const std::string_view line = text.substr(0, end + 1);
    text.remove_prefix(end + 1);
    const std::string_view key = line.substr(0, line.find_first_of(" \n"));
    if (first) {
      frame.head = line;
    } else if (key == "flash" || key == "ram" || key == "ram_main_bank" ||
               key == "ram_reserve_bank" || text.empty()) {
      frame.tail += line;
    }
    first = false;
  }
  // Four memories and the end line; fewer means a key was renamed and the frame is no help.
  if (std::count(frame.tail.begin(), frame.tail.end(), '\n') != 5) std::abort();
  return frame;
}

// A state unlike a fresh one, so that "left as it was" cannot be met by chance.
sim::ModuleState Marked() {
  sim::ModuleState state;
  state.personality = sim::Personality::BootLoader;
  state.cnc_running = false;
  state.registers = {{0x0001, 0xDEADBEEF}};
  state.encoder_pending = {-1, 2, -3, 4};
  state.ram[0] = 0xEE;
  state.received_image = {0x5A};
  return state;
}

// Every byte field holds a count its line may hold.
bool SizesAllowed(const sim::ModuleState& state) {
  bool allowed = true;
  sim::ModuleState::ForEachField(state, [&](std::string_view, const auto& field, auto... count) {
    if constexpr (sizeof...(count) == 1) {
      const sim::ByteCount limits{count...};
      if (field.size() < limits.min || field.size() > limits.max) allowed = false;
    }
  });
  return allowed;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Frame frame = MakeFrame();
  static const sim::ModuleState marked = Marked();
  const std::string source(kSource);

  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string text;
  if (input.starts_with('S')) {
    text = frame.head;
    text += input.substr(1);
    text += frame.tail;
  } else {
    text = input;
  }

  sim::ModuleState state = marked;
  std::string error;
  if (!sim::DecodeState(text, source, state, error)) {
    if (!(state == marked)) std::abort();
    if (!error.starts_with(source) || error.find('\n') != std::string::npos) std::abort();
    return 0;
  }
  if (!SizesAllowed(state)) std::abort();

  const std::string written = sim::SerializeState(state);
  sim::ModuleState again = marked;
  std::string again_error;
  if (!sim::DecodeState(written, source, again, again_error)) std::abort();
  if (!(again == state)) std::abort();
  return 0;
}
