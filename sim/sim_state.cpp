#include "sim/sim_state.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <ios>
#include <sstream>
#include <string_view>

namespace tarven::sim {
namespace {

// One "key value" line each; memories as one line of hex digits. Text, so that a person can read
// and diff a state file, and strict, so that a damaged file is refused instead of half-loaded.
constexpr const char* kMagic = "tarven-sim-state 1";

std::string Hex(const std::vector<std::uint8_t>& bytes) {
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

bool Unhex(std::string_view text, std::vector<std::uint8_t>& bytes) {
  if (text.size() % 2 != 0) return false;
  bytes.clear();
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int high = HexDigit(text[i]);
    const int low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
  }
  return true;
}

bool ParseNumber(const std::string& text, std::uint64_t max, std::uint64_t& value) {
  if (text.empty()) return false;
  std::size_t used = 0;
  try {
    value = std::stoull(text, &used, 0);
  } catch (const std::exception&) {
    return false;
  }
  return used == text.size() && value <= max;
}

bool ParseSigned(const std::string& text, std::int32_t& value) {
  std::size_t used = 0;
  try {
    const long long parsed = std::stoll(text, &used, 10);
    if (used != text.size() || parsed < INT32_MIN || parsed > INT32_MAX) return false;
    value = static_cast<std::int32_t>(parsed);
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

// Applies one line to `m`; false with `why` when the line is not valid.
bool ApplyLine(SimulatedModule& m, const std::string& key, const std::string& value,
               std::string& why) {
  std::uint64_t number = 0;
  auto memory = [&](std::vector<std::uint8_t>& target, std::size_t size) {
    std::vector<std::uint8_t> bytes;
    if (!Unhex(value, bytes) || bytes.size() != size) {
      why = key + " must be " + std::to_string(size) + " bytes in hex";
      return false;
    }
    target = std::move(bytes);
    return true;
  };
  auto flag = [&](bool& target) {
    if (value != "0" && value != "1") {
      why = key + " must be 0 or 1";
      return false;
    }
    target = value == "1";
    return true;
  };
  auto word = [&](std::uint32_t& target) {
    if (!ParseNumber(value, 0xFFFFFFFFu, number)) {
      why = key + " must be a 32-bit number";
      return false;
    }
    target = static_cast<std::uint32_t>(number);
    return true;
  };
  if (key == "personality") {
    if (value != "application" && value != "bootloader") {
      why = "personality must be application or bootloader";
      return false;
    }
    m.personality = value == "application" ? Personality::Application : Personality::BootLoader;
    return true;
  }
  if (key == "firmware_version") return word(m.firmware_version);
  if (key == "boot_version") return word(m.boot_version);
  if (key == "cnc_running") return flag(m.cnc_running);
  if (key == "ext_dac") return flag(m.ext_dac);
  if (key == "flash") return memory(m.flash, SimulatedModule::kFlashSize);
  if (key == "ram") return memory(m.ram, SimulatedModule::kRamSize);
  if (key == "ram_main_bank") return memory(m.ram_main_bank, SimulatedModule::kRamSize);
  if (key == "ram_reserve_bank") return memory(m.ram_reserve_bank, SimulatedModule::kRamSize);
  if (key == "received_image") {
    if (!Unhex(value, m.received_image)) {
      why = "received_image must be hex";
      return false;
    }
    return true;
  }
  if (key == "register") {
    std::istringstream fields(value);
    std::string address_text, value_text;
    std::uint64_t address = 0;
    std::uint64_t register_value = 0;
    if (!(fields >> address_text >> value_text) || !ParseNumber(address_text, 0xFFFF, address) ||
        !ParseNumber(value_text, 0xFFFFFFFFu, register_value)) {
      why = "register must be an address and a value";
      return false;
    }
    m.registers[static_cast<std::uint16_t>(address)] = static_cast<std::uint32_t>(register_value);
    return true;
  }
  auto four = [&](auto& target, auto parse) {
    std::istringstream fields(value);
    for (auto& slot : target) {
      std::string text;
      if (!(fields >> text) || !parse(text, slot)) {
        why = key + " must be four numbers";
        return false;
      }
    }
    return true;
  };
  auto parse_word16 = [](const std::string& text, std::uint16_t& slot) {
    std::uint64_t parsed = 0;
    if (!ParseNumber(text, 0xFFFF, parsed)) return false;
    slot = static_cast<std::uint16_t>(parsed);
    return true;
  };
  if (key == "encoder_pending") return four(m.encoder_pending, ParseSigned);
  if (key == "ea_inputs") return four(m.ea_inputs, parse_word16);
  if (key == "ea_outputs") return four(m.ea_outputs, parse_word16);
  why = "unknown key '" + key + "'";
  return false;
}

}  // namespace

bool LoadState(SimulatedModule& module, const std::string& path, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::FILE* probe = std::fopen(path.c_str(), "rb");
    if (probe == nullptr && errno == ENOENT) return true;  // first run: a fresh module
    if (probe != nullptr) std::fclose(probe);
    error = "cannot read simulator state " + path;
    return false;
  }
  std::string line;
  if (!std::getline(in, line) || line != kMagic) {
    error = path + ": not a simulator state file";
    return false;
  }
  SimulatedModule loaded;  // applied to `module` only when every line is valid
  int line_number = 1;
  while (std::getline(in, line)) {
    ++line_number;
    if (line.empty()) continue;
    const std::size_t space = line.find(' ');
    const std::string key = line.substr(0, space);
    const std::string value = space == std::string::npos ? std::string() : line.substr(space + 1);
    std::string why;
    if (!ApplyLine(loaded, key, value, why)) {
      error = path + ":" + std::to_string(line_number) + ": " + why;
      return false;
    }
  }
  if (in.bad()) {
    error = "cannot read simulator state " + path;
    return false;
  }
  module.personality = loaded.personality;
  module.firmware_version = loaded.firmware_version;
  module.boot_version = loaded.boot_version;
  module.cnc_running = loaded.cnc_running;
  module.ext_dac = loaded.ext_dac;
  module.flash = std::move(loaded.flash);
  module.ram = std::move(loaded.ram);
  module.ram_main_bank = std::move(loaded.ram_main_bank);
  module.ram_reserve_bank = std::move(loaded.ram_reserve_bank);
  module.registers = std::move(loaded.registers);
  module.encoder_pending = loaded.encoder_pending;
  module.ea_inputs = loaded.ea_inputs;
  module.ea_outputs = loaded.ea_outputs;
  module.received_image = std::move(loaded.received_image);
  return true;
}

bool SaveState(const SimulatedModule& module, const std::string& path, std::string& error) {
  std::ostringstream out;
  out << kMagic << '\n';
  out << "personality "
      << (module.personality == Personality::Application ? "application" : "bootloader") << '\n';
  out << "firmware_version " << module.firmware_version << '\n';
  out << "boot_version " << module.boot_version << '\n';
  out << "cnc_running " << (module.cnc_running ? 1 : 0) << '\n';
  out << "ext_dac " << (module.ext_dac ? 1 : 0) << '\n';
  for (const auto& [address, value] : module.registers) {
    out << "register " << std::showbase << std::hex << address << std::dec << ' ' << value
        << std::noshowbase << '\n';
  }
  const auto& e = module.encoder_pending;
  out << "encoder_pending " << e[0] << ' ' << e[1] << ' ' << e[2] << ' ' << e[3] << '\n';
  const auto& i = module.ea_inputs;
  out << "ea_inputs " << i[0] << ' ' << i[1] << ' ' << i[2] << ' ' << i[3] << '\n';
  const auto& o = module.ea_outputs;
  out << "ea_outputs " << o[0] << ' ' << o[1] << ' ' << o[2] << ' ' << o[3] << '\n';
  out << "flash " << Hex(module.flash) << '\n';
  out << "ram " << Hex(module.ram) << '\n';
  out << "ram_main_bank " << Hex(module.ram_main_bank) << '\n';
  out << "ram_reserve_bank " << Hex(module.ram_reserve_bank) << '\n';
  out << "received_image " << Hex(module.received_image) << '\n';

  const std::string temporary = path + ".tmp";
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    file << out.str();
    file.flush();
    if (!file) {
      std::remove(temporary.c_str());
      error = "cannot write simulator state " + path;
      return false;
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    error = "cannot replace simulator state " + path;
    return false;
  }
  return true;
}

}  // namespace tarven::sim
