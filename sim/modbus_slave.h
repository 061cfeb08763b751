#pragma once
// A Modbus RTU slave on a pseudo-terminal, standing in for a module's network interface so that
// the network page can be seen working without a serial line: `tarven -f --simulate` offers its
// terminal as a port. It answers function 3 for registers 0 to 9 at its address on a thread of
// its own, as a real slave answers while the window waits; register 3/4 counts the requests it
// answered, register 5/6 the frames it could not take, register 9 holds version 4.54.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

namespace tarven::sim {

class ModbusSlave {
 public:
  // Opens a pseudo-terminal and starts answering on it. Null, with a one-line reason in `error`,
  // when the system gives none.
  static std::unique_ptr<ModbusSlave> Start(std::uint8_t address, std::string& error);
  ~ModbusSlave();
  ModbusSlave(const ModbusSlave&) = delete;
  ModbusSlave& operator=(const ModbusSlave&) = delete;

  // The terminal's device path (/dev/pts/N), which a serial port opens.
  const std::string& port_path() const { return port_path_; }
  std::uint32_t requests_answered() const { return answered_.load(); }
  std::uint32_t frames_refused() const { return refused_.load(); }

  static constexpr std::uint16_t kVersionRegister = 0x0454;

 private:
  ModbusSlave(std::uint8_t address, int master, int slave_side, int stop_read, int stop_write,
              std::string path);
  void Serve();
  // Answers one complete request frame; false for a frame it could not take.
  bool Answer(const std::uint8_t* frame);

  const std::uint8_t address_;
  const int master_;
  const int slave_side_;  // kept open, so that the terminal stays raw between the port's opens
  const int stop_read_;
  const int stop_write_;
  const std::string port_path_;
  std::atomic<std::uint32_t> answered_{0};
  std::atomic<std::uint32_t> refused_{0};
  std::thread thread_;
};

}  // namespace tarven::sim
