// Windows has no pseudo-terminals, and a serial port pair needs a driver the programs do not
// bring: the simulated slave is not offered there, and says so.
#include "sim/modbus_slave.h"

namespace tarven::sim {

std::unique_ptr<ModbusSlave> ModbusSlave::Start(std::uint8_t, std::string& error) {
  error = "the simulated Modbus slave needs a pseudo-terminal, which Windows does not have";
  return nullptr;
}

ModbusSlave::~ModbusSlave() = default;

}  // namespace tarven::sim
