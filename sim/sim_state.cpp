#include "sim/sim_state.h"

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <set>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "storage/file_io.h"

namespace tarven::sim {
namespace {

// Text, so that a person can read and diff a state file, and strict, so that a damaged file is
// refused instead of half-loaded.
constexpr std::string_view kMagic = "tarven-sim-state 2";
constexpr std::string_view kMagicPrefix = "tarven-sim-state ";
constexpr std::string_view kEnd = "end";

using storage::SystemReason;

// --- one codec per kind of field ---------------------------------------------------------------

bool ParseUnsigned(std::string_view text, std::uint64_t max, std::uint64_t& value) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  const char* end = text.data() + text.size();
  const auto [stop, failure] = std::from_chars(text.data(), end, value, base);
  return !text.empty() && failure == std::errc() && stop == end && value <= max;
}

bool ParseSigned(std::string_view text, std::int32_t& value) {
  const char* end = text.data() + text.size();
  const auto [stop, failure] = std::from_chars(text.data(), end, value, 10);
  return !text.empty() && failure == std::errc() && stop == end;
}

std::vector<std::string_view> Words(std::string_view text) {
  std::vector<std::string_view> words;
  while (!text.empty()) {
    const std::size_t space = text.find(' ');
    if (space != 0) words.push_back(text.substr(0, space));
    if (space == std::string_view::npos) break;
    text.remove_prefix(space + 1);
  }
  return words;
}

std::string Encode(Personality personality) {
  return personality == Personality::Application ? "application" : "bootloader";
}
bool Decode(std::string_view text, Personality& personality, std::string& why) {
  if (text != "application" && text != "bootloader") {
    why = "must be application or bootloader";
    return false;
  }
  personality = text == "application" ? Personality::Application : Personality::BootLoader;
  return true;
}

std::string Encode(bool flag) {
  return flag ? "1" : "0";
}
bool Decode(std::string_view text, bool& flag, std::string& why) {
  if (text != "0" && text != "1") {
    why = "must be 0 or 1";
    return false;
  }
  flag = text == "1";
  return true;
}

std::string Encode(std::uint32_t word) {
  return std::to_string(word);
}
bool Decode(std::string_view text, std::uint32_t& word, std::string& why) {
  std::uint64_t value = 0;
  if (!ParseUnsigned(text, 0xFFFFFFFFu, value)) {
    why = "must be a 32-bit number";
    return false;
  }
  word = static_cast<std::uint32_t>(value);
  return true;
}

std::string Hex(unsigned value) {
  char text[8];
  const auto result = std::to_chars(text, text + sizeof text, value, 16);
  return "0x" + std::string(text, result.ptr);
}

// "0xf131=0 0xf132=32769": address and value of every register.
std::string Encode(const std::map<std::uint16_t, std::uint32_t>& registers) {
  std::string text;
  for (const auto& [address, value] : registers) {
    if (!text.empty()) text += ' ';
    text += Hex(address) + '=' + std::to_string(value);
  }
  return text;
}
bool Decode(std::string_view text, std::map<std::uint16_t, std::uint32_t>& registers,
            std::string& why) {
  registers.clear();
  for (std::string_view pair : Words(text)) {
    const std::size_t equals = pair.find('=');
    std::uint64_t address = 0;
    std::uint64_t value = 0;
    if (equals == std::string_view::npos ||
        !ParseUnsigned(pair.substr(0, equals), 0xFFFF, address) ||
        !ParseUnsigned(pair.substr(equals + 1), 0xFFFFFFFFu, value)) {
      why = "must be pairs of a 16-bit address and a 32-bit value, as 0xf131=0";
      return false;
    }
    if (!registers.emplace(static_cast<std::uint16_t>(address), static_cast<std::uint32_t>(value))
             .second) {
      why = "must not name a register twice (" + Hex(static_cast<unsigned>(address)) + ")";
      return false;
    }
  }
  return true;
}

template <typename Number>
std::string Encode(const std::array<Number, 4>& numbers) {
  std::string text;
  for (Number number : numbers) {
    if (!text.empty()) text += ' ';
    text += std::to_string(number);
  }
  return text;
}
template <typename Number>
bool Decode(std::string_view text, std::array<Number, 4>& numbers, std::string& why) {
  const std::vector<std::string_view> words = Words(text);
  bool valid = words.size() == numbers.size();
  for (std::size_t i = 0; valid && i < numbers.size(); ++i) {
    if constexpr (std::is_signed_v<Number>) {
      valid = ParseSigned(words[i], numbers[i]);
    } else {
      std::uint64_t value = 0;
      valid = ParseUnsigned(words[i], 0xFFFF, value);
      numbers[i] = static_cast<Number>(value);
    }
  }
  if (!valid) why = "must be four numbers";
  return valid;
}

std::string Encode(const std::vector<std::uint8_t>& bytes, ByteCount) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (std::uint8_t b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 0xF];
  }
  return text;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool Decode(std::string_view text, std::vector<std::uint8_t>& bytes, ByteCount count,
            std::string& why) {
  const std::string size =
      count.min == count.max ? std::to_string(count.min) : "at most " + std::to_string(count.max);
  why = "must be " + size + " bytes in hex";
  if (text.size() % 2 != 0 || text.size() / 2 < count.min || text.size() / 2 > count.max) {
    return false;
  }
  bytes.resize(text.size() / 2);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const int high = HexDigit(text[2 * i]);
    const int low = HexDigit(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    bytes[i] = static_cast<std::uint8_t>(high * 16 + low);
  }
  why.clear();
  return true;
}

// --- reading ----------------------------------------------------------------------------------

enum class ReadResult { Read, Missing, Failed };

// Reads a regular file of at most kMaxStateFileSize bytes, refusing a device or a pipe at once.
ReadResult ReadStateFile(const std::string& path, std::string& text, std::string& error) {
  const storage::ReadResult read = storage::ReadRegularFile(path, kMaxStateFileSize, text);
  switch (read.status) {
    case storage::ReadStatus::Read:
      return ReadResult::Read;
    case storage::ReadStatus::Missing:
      return ReadResult::Missing;
    case storage::ReadStatus::NotRegular:
      error = path + ": not a regular file";
      break;
    case storage::ReadStatus::TooLarge:
      error = path + ": too large for a simulator state (" + std::to_string(read.size) +
              " bytes, at most " + std::to_string(kMaxStateFileSize) + ")";
      break;
    case storage::ReadStatus::Failed:
      error = "cannot read simulator state " + path + ": " + SystemReason(read.error_number);
      break;
  }
  return ReadResult::Failed;
}

// Parses a whole state file into `state`; false with a reason that names the file.
bool ParseState(std::string_view text, const std::string& path, ModuleState& state,
                std::string& why) {
  std::size_t line_number = 0;
  auto next_line = [&](std::string_view& line) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) return false;  // a last line without its line break
    line = text.substr(0, end);
    text.remove_prefix(end + 1);
    // A file that passed through an editor or a copy that ends its lines with CR LF is read
    // the same; it is written back with LF only, when the module changed.
    if (line.ends_with('\r')) line.remove_suffix(1);
    ++line_number;
    return true;
  };
  auto at_line = [&](const std::string& what) {
    return path + ":" + std::to_string(line_number) + ": " + what;
  };
  std::string_view line;
  if (!next_line(line) || line != kMagic) {
    // Only a header that names another version number is one; anything else on that line is
    // said as it is, so that nobody removes a good state for a stray character.
    const std::string_view version =
        line.starts_with(kMagicPrefix) ? line.substr(kMagicPrefix.size()) : std::string_view();
    const bool other_version =
        !version.empty() && version.find_first_not_of("0123456789") == std::string_view::npos;
    if (other_version) {
      why = path + ": a simulator state of another version (\"" + std::string(line) +
            "\"); remove it to start with a fresh module";
    } else if (line.starts_with(kMagicPrefix)) {
      why = at_line("the header must be \"" + std::string(kMagic) + "\"");
    } else {
      why = path + ": not a simulator state file";
    }
    return false;
  }
  std::set<std::string_view> seen;
  bool ended = false;
  while (!ended && next_line(line)) {
    if (line == kEnd) {
      ended = true;
      break;
    }
    const std::string_view key = line.substr(0, line.find(' '));
    const std::string_view value =
        key.size() < line.size() ? line.substr(key.size() + 1) : std::string_view();
    bool known = false;
    std::string field_why;
    ModuleState::ForEachField(state, [&](std::string_view name, auto& field, auto... count) {
      if (name != key) return;
      known = true;
      if (!Decode(value, field, count..., field_why))
        field_why = std::string(key) + " " + field_why;
    });
    if (!known) {
      why = at_line("unknown key '" + std::string(key) + "'");
      return false;
    }
    if (!field_why.empty()) {
      why = at_line(field_why);
      return false;
    }
    if (!seen.insert(key).second) {
      why = at_line(std::string(key) + " given twice");
      return false;
    }
  }
  if (!ended) {
    why = path + ": incomplete simulator state: no end line (the file was cut short)";
    return false;
  }
  if (!text.empty()) {
    ++line_number;
    why = at_line("text after the end line");
    return false;
  }
  ModuleState::ForEachField(state, [&](std::string_view name, auto&, auto...) {
    if (why.empty() && !seen.contains(name)) {
      why = path + ": incomplete simulator state: no " + std::string(name) + " line";
    }
  });
  return why.empty();
}

}  // namespace

std::string SerializeState(const ModuleState& state) {
  std::string text(kMagic);
  text += '\n';
  ModuleState::ForEachField(state, [&](std::string_view key, const auto& field, auto... count) {
    text += key;
    text += ' ';
    text += Encode(field, count...);
    text += '\n';
  });
  text += kEnd;
  text += '\n';
  return text;
}

bool DecodeState(std::string_view text, const std::string& source, ModuleState& state,
                 std::string& error) {
  ModuleState decoded;  // fields are decoded in place, so a refused text must not reach `state`
  if (!ParseState(text, source, decoded, error)) return false;
  state = std::move(decoded);
  return true;
}

bool LoadState(SimulatedModule& module, const std::string& path, std::string& error,
               bool* existed) {
  if (existed != nullptr) *existed = false;
  std::string text;
  switch (ReadStateFile(path, text, error)) {
    case ReadResult::Missing:
      return true;  // first run: a fresh module
    case ReadResult::Failed:
      return false;
    case ReadResult::Read:
      break;
  }
  if (existed != nullptr) *existed = true;
  ModuleState loaded;  // applied to `module` only when the whole file is valid
  if (!DecodeState(text, path, loaded, error)) return false;
  module.Restore(std::move(loaded));
  return true;
}

bool ResolveStatePath(const std::string& path, std::string& target, std::string& error) {
  return storage::ResolveLinks(path, target, error);
}

bool CheckStateWritable(const std::string& path, std::string& error) {
  std::string target;
  if (!ResolveStatePath(path, target, error)) return false;
  int error_number = 0;
  switch (storage::KindOf(target, error_number)) {
    case storage::PathKind::Other:
      error = path + ": not a regular file";
      return false;
    case storage::PathKind::Regular:
      if (const int denied = storage::WriteAccess(target); denied != 0) {
        error = path + ": cannot be written (" + SystemReason(denied) + ")";
        return false;
      }
      break;
    case storage::PathKind::Unreachable:
      error = "cannot reach simulator state " + path + ": " + SystemReason(error_number);
      return false;
    case storage::PathKind::Missing:
      break;
  }
  // The new state is written beside the file and renamed over it.
  const std::string folder = storage::FolderOf(target);
  if (const int denied = storage::WriteAccess(folder); denied != 0) {
    error = path + ": its folder " + folder + " cannot be written (" + SystemReason(denied) + ")";
    return false;
  }
  return true;
}

bool SaveState(const ModuleState& state, const std::string& path, std::string& error) {
  const std::string text = SerializeState(state);
  if (text.size() > kMaxStateFileSize) {
    error = "cannot write simulator state " + path + ": larger than a state file may be";
    return false;
  }
  const storage::ReplaceResult saved = storage::ReplaceFile(path, text);
  switch (saved.failed) {
    case storage::ReplaceStep::Done:
      return true;
    case storage::ReplaceStep::Resolve:
      error = saved.reason;
      break;
    case storage::ReplaceStep::NotRegular:
      error = path + ": not a regular file";
      break;
    case storage::ReplaceStep::NoPermission:
    case storage::ReplaceStep::Create:
    case storage::ReplaceStep::Write:
      error = "cannot write simulator state " + path + ": " + saved.reason;
      break;
    case storage::ReplaceStep::Rename:
      error = "cannot replace simulator state " + path + ": " + saved.reason;
      break;
  }
  return false;
}

}  // namespace tarven::sim
