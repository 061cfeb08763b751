// A Modbus RTU server that this project did not write: libmodbus's, on a serial device, holding
// ten registers given on the command line. The tests start it on one end of a pseudo-terminal
// pair and poll it from the other through the real serial port.
//
//   modbus_server_peer DEVICE SLAVE BAUD R0 R1 ... R9
//
// Prints "ready" once it listens; serves until it is killed.

#include <modbus.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  constexpr int kRegisters = 10;
  if (argc != 4 + kRegisters) {
    std::fprintf(stderr, "usage: %s DEVICE SLAVE BAUD R0 ... R9\n", argv[0]);
    return 2;
  }
  modbus_t* context = modbus_new_rtu(argv[1], std::atoi(argv[3]), 'N', 8, 1);
  if (context == nullptr || modbus_set_slave(context, std::atoi(argv[2])) != 0 ||
      modbus_connect(context) != 0) {
    std::fprintf(stderr, "modbus_server_peer: %s\n", modbus_strerror(errno));
    return 1;
  }
  modbus_mapping_t* mapping = modbus_mapping_new(0, 0, kRegisters, 0);
  for (int i = 0; i < kRegisters; ++i) {
    mapping->tab_registers[i] = static_cast<std::uint16_t>(std::stoul(argv[4 + i], nullptr, 0));
  }
  std::printf("ready\n");
  std::fflush(stdout);
  std::uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
  for (;;) {
    const int length = modbus_receive(context, query);
    if (length > 0) {
      modbus_reply(context, query, length, mapping);
    } else if (length < 0 && errno != EMBBADCRC && errno != EMBBADDATA) {
      // A closed line reads as an error over and over; wait for the next request instead.
      modbus_flush(context);
    }
  }
}
