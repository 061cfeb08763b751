#include "model/version_text.h"

namespace tarven::model {

std::string FirmwareVersionText(std::uint32_t word) {
  return std::to_string((word >> 16) & 0xF) + "." + std::to_string((word >> 12) & 0xF) +
         std::to_string((word >> 8) & 0xF);
}

std::string BootVersionText(std::uint32_t word) {
  return std::to_string((word >> 16) & 0xFF) + "." + std::to_string((word >> 8) & 0xFF) + "." +
         std::to_string(word & 0xFF) + ".";
}

}  // namespace tarven::model
