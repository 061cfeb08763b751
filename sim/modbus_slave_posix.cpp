#include "sim/modbus_slave.h"

#ifdef __unix__
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "comport/modbus_rtu.h"

namespace tarven::sim {
namespace {

constexpr std::uint16_t kRegisterCount = 10;
constexpr std::uint8_t kIllegalFunction = 0x01;
constexpr std::uint8_t kIllegalDataAddress = 0x02;
// Bytes that are not a request and are followed by this much quiet are dropped as one bad frame.
constexpr int kFrameGapMs = 5;

void AppendCrc(std::vector<std::uint8_t>& frame) {
  const std::uint16_t crc =
      comport::ModbusCrc16(frame.data(), static_cast<std::uint16_t>(frame.size()));
  frame.push_back(static_cast<std::uint8_t>(crc & 0xFFU));
  frame.push_back(static_cast<std::uint8_t>(crc >> 8));
}

void WriteAll(int fd, const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    done += static_cast<std::size_t>(written);
  }
}

}  // namespace

std::unique_ptr<ModbusSlave> ModbusSlave::Start(std::uint8_t address, std::string& error) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
    error = std::string("no pseudo-terminal for the simulated slave: ") + std::strerror(errno);
    if (master >= 0) ::close(master);
    return nullptr;
  }
  const char* name = ::ptsname(master);
  const int slave_side = name != nullptr ? ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
  std::array<int, 2> stop{-1, -1};
  if (slave_side < 0 || ::pipe2(stop.data(), O_CLOEXEC) != 0) {
    error = std::string("no pseudo-terminal for the simulated slave: ") + std::strerror(errno);
    if (slave_side >= 0) ::close(slave_side);
    ::close(master);
    return nullptr;
  }
  // Binary bytes both ways: no echo, no line editing, no translation.
  termios raw{};
  if (::tcgetattr(slave_side, &raw) == 0) {
    ::cfmakeraw(&raw);
    ::tcsetattr(slave_side, TCSANOW, &raw);
  }
  std::unique_ptr<ModbusSlave> slave(
      new ModbusSlave(address, master, slave_side, stop[0], stop[1], name));
  slave->thread_ = std::thread([s = slave.get()] { s->Serve(); });
  return slave;
}

ModbusSlave::ModbusSlave(std::uint8_t address, int master, int slave_side, int stop_read,
                         int stop_write, std::string path)
    : address_(address),
      master_(master),
      slave_side_(slave_side),
      stop_read_(stop_read),
      stop_write_(stop_write),
      port_path_(std::move(path)) {}

ModbusSlave::~ModbusSlave() {
  const char stop = 0;
  while (::write(stop_write_, &stop, 1) < 0 && errno == EINTR) {
  }
  if (thread_.joinable()) thread_.join();
  ::close(stop_read_);
  ::close(stop_write_);
  ::close(slave_side_);
  ::close(master_);
}

void ModbusSlave::Serve() {
  std::vector<std::uint8_t> pending;
  for (;;) {
    std::array<pollfd, 2> fds{pollfd{master_, POLLIN, 0}, pollfd{stop_read_, POLLIN, 0}};
    const int ready = ::poll(fds.data(), fds.size(), pending.empty() ? -1 : kFrameGapMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || (fds[1].revents & POLLIN) != 0) return;
    if (ready == 0) {  // quiet after bytes that made no request
      refused_.fetch_add(1);
      pending.clear();
      continue;
    }
    std::array<std::uint8_t, 256> chunk{};
    const ssize_t got = ::read(master_, chunk.data(), chunk.size());
    if (got <= 0) continue;
    pending.insert(pending.end(), chunk.begin(), chunk.begin() + got);
    while (pending.size() >= comport::kRequestLength &&
           comport::ModbusCrc16(pending.data(), comport::kRequestLength) == 0) {
      // A frame followed by its own CRC has a CRC of zero.
      if (!Answer(pending.data())) refused_.fetch_add(1);
      pending.erase(pending.begin(), pending.begin() + comport::kRequestLength);
    }
    if (pending.size() > comport::kFrameBufferSize) {
      refused_.fetch_add(1);
      pending.clear();
    }
  }
}

bool ModbusSlave::Answer(const std::uint8_t* frame) {
  const std::uint8_t address = frame[0];
  if (address != address_) return true;  // another slave's, or a broadcast: no reply
  const std::uint8_t function = frame[1];
  const auto first = static_cast<std::uint16_t>((frame[2] << 8) | frame[3]);
  const auto count = static_cast<std::uint16_t>((frame[4] << 8) | frame[5]);
  std::vector<std::uint8_t> reply{address_};
  if (function != comport::kReadHoldingRegisters) {
    reply.insert(reply.end(), {static_cast<std::uint8_t>(function | 0x80U), kIllegalFunction});
  } else if (count == 0 || first >= kRegisterCount || count > kRegisterCount - first) {
    reply.insert(reply.end(), {static_cast<std::uint8_t>(function | 0x80U), kIllegalDataAddress});
  } else {
    const std::uint32_t packets = answered_.fetch_add(1) + 1;
    const std::uint32_t errors = refused_.load();
    const std::array<std::uint16_t, kRegisterCount> registers{
        0,
        0,
        0,
        static_cast<std::uint16_t>(packets & 0xFFFFU),
        static_cast<std::uint16_t>(packets >> 16),
        static_cast<std::uint16_t>(errors & 0xFFFFU),
        static_cast<std::uint16_t>(errors >> 16),
        0,
        0,
        kVersionRegister};
    reply.insert(reply.end(), {function, static_cast<std::uint8_t>(2 * count)});
    for (std::uint16_t r = first; r < first + count; ++r) {
      reply.push_back(static_cast<std::uint8_t>(registers[r] >> 8));
      reply.push_back(static_cast<std::uint8_t>(registers[r] & 0xFFU));
    }
  }
  AppendCrc(reply);
  WriteAll(master_, reply);
  return true;
}

}  // namespace tarven::sim

#else  // A platform without pseudo-terminals offers no simulated slave.

namespace tarven::sim {

std::unique_ptr<ModbusSlave> ModbusSlave::Start(std::uint8_t /*address*/, std::string& error) {
  error = "no pseudo-terminal for the simulated slave on this platform";
  return nullptr;
}

ModbusSlave::~ModbusSlave() = default;

}  // namespace tarven::sim

#endif
