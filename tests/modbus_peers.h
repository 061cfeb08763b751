#pragma once
// Peers for the serial-line tests: a linked pair of pseudo-terminals (socat), libmodbus's RTU
// server on one end, or the test itself writing raw bytes on it. Each is started by the test and
// stopped when it goes out of scope.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace tarven::testing {

// A child process, ended with SIGTERM and reaped when it goes out of scope.
class ChildProcess {
 public:
  // Starts `args` (args[0] looked up on PATH); with `stdout_pipe`, its standard output can be read.
  explicit ChildProcess(const std::vector<std::string>& args, bool stdout_pipe = false) {
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int out[2] = {-1, -1};
    if (stdout_pipe) {
      if (::pipe(out) != 0) throw std::runtime_error("pipe");
      posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
      posix_spawn_file_actions_addclose(&actions, out[0]);
      posix_spawn_file_actions_addclose(&actions, out[1]);
    }
    const int failed = posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (stdout_pipe) {
      ::close(out[1]);
      stdout_ = out[0];
    }
    if (failed != 0) {
      pid_ = -1;
      throw std::runtime_error("cannot start " + args[0] +
                               " (scripts/install-deps.sh installs it)");
    }
  }
  ~ChildProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
    if (stdout_ >= 0) ::close(stdout_);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // A line of its standard output, waiting at most `timeout`; empty when none came.
  std::string ReadLine(std::chrono::milliseconds timeout) {
    std::string line;
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < until) {
      pollfd fd{stdout_, POLLIN, 0};
      if (::poll(&fd, 1, 50) <= 0) continue;
      char c = 0;
      if (::read(stdout_, &c, 1) != 1) break;
      if (c == '\n') return line;
      line += c;
    }
    return {};
  }

 private:
  pid_t pid_ = -1;
  int stdout_ = -1;
};

// Another program holding `device` the way a serial program locks it (flock(1)), from the moment
// it is made until it goes out of scope.
class PortHolder {
 public:
  explicit PortHolder(const std::string& device)
      : process_(
            {"flock", "--exclusive", "--no-fork", device, "sh", "-c", "echo locked; exec sleep 60"},
            true) {
    if (process_.ReadLine(std::chrono::seconds(10)) != "locked") {
      throw std::runtime_error("flock did not take " + device);
    }
  }

 private:
  ChildProcess process_;
};

// Two pseudo-terminals linked back to back: what one end is sent, the other end receives. The
// ends are reached through links in a fresh folder.
class PtyPair {
 public:
  PtyPair() {
    char pattern[] = "/tmp/tarven-pty-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp");
    folder_ = pattern;
    ours_ = folder_ + "/ours";
    theirs_ = folder_ + "/theirs";
    socat_ = std::make_unique<ChildProcess>(std::vector<std::string>{
        "socat", "pty,raw,echo=0,link=" + ours_, "pty,raw,echo=0,link=" + theirs_});
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!(std::filesystem::exists(ours_) && std::filesystem::exists(theirs_))) {
      if (std::chrono::steady_clock::now() > until) throw std::runtime_error("socat made no pair");
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~PtyPair() {
    socat_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  // The end the tool opens, and the end its peer takes.
  const std::string& ours() const { return ours_; }
  const std::string& theirs() const { return theirs_; }

 private:
  std::string folder_, ours_, theirs_;
  std::unique_ptr<ChildProcess> socat_;
};

// libmodbus's RTU server at `slave` on `device`, holding `registers` (0 to 9).
class ServerPeer {
 public:
  ServerPeer(const std::string& device, int slave, const std::vector<std::uint16_t>& registers,
             int baud = 57600) {
    std::vector<std::string> args{TARVEN_MODBUS_SERVER_PEER, device, std::to_string(slave),
                                  std::to_string(baud)};
    for (const std::uint16_t value : registers) args.push_back(std::to_string(value));
    process_ = std::make_unique<ChildProcess>(args, true);
    if (process_->ReadLine(std::chrono::seconds(10)) != "ready") {
      throw std::runtime_error("the libmodbus server did not start");
    }
  }

 private:
  std::unique_ptr<ChildProcess> process_;
};

// The far end of a pair, written and read by the test itself.
class RawEnd {
 public:
  explicit RawEnd(const std::string& device)
      : fd_(::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
    if (fd_ < 0) throw std::runtime_error("cannot open " + device);
    termios raw{};
    ::tcgetattr(fd_, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(fd_, TCSANOW, &raw);
  }
  ~RawEnd() { ::close(fd_); }
  RawEnd(const RawEnd&) = delete;
  RawEnd& operator=(const RawEnd&) = delete;

  void Write(const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (n > 0) done += static_cast<std::size_t>(n);
    }
  }

  // What has arrived within `wait`, up to `limit` bytes, returning early once `limit` are in.
  std::vector<std::uint8_t> Read(std::size_t limit,
                                 std::chrono::milliseconds wait = std::chrono::milliseconds(500)) {
    std::vector<std::uint8_t> bytes;
    const auto until = std::chrono::steady_clock::now() + wait;
    while (bytes.size() < limit && std::chrono::steady_clock::now() < until) {
      pollfd fd{fd_, POLLIN, 0};
      if (::poll(&fd, 1, 10) <= 0) continue;
      std::uint8_t buffer[256];
      const ssize_t n = ::read(fd_, buffer, std::min(sizeof buffer, limit - bytes.size()));
      if (n > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    }
    return bytes;
  }

 private:
  int fd_;
};

// A frame followed by its CRC-16/MODBUS, computed bitwise here so that the code under test is
// held against an independent reckoning.
inline std::vector<std::uint8_t> WithCrc(std::vector<std::uint8_t> frame) {
  std::uint16_t crc = 0xFFFF;
  for (const std::uint8_t byte : frame) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 1) != 0 ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001)
                           : static_cast<std::uint16_t>(crc >> 1);
    }
  }
  frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  frame.push_back(static_cast<std::uint8_t>(crc >> 8));
  return frame;
}

// A reply to "ten registers from 0" holding `registers`, from `slave`.
inline std::vector<std::uint8_t> TenRegisterReply(const std::vector<std::uint16_t>& registers,
                                                  std::uint8_t slave = 1) {
  std::vector<std::uint8_t> frame{slave, 0x03, 20};
  for (const std::uint16_t value : registers) {
    frame.push_back(static_cast<std::uint8_t>(value >> 8));
    frame.push_back(static_cast<std::uint8_t>(value & 0xFF));
  }
  return WithCrc(frame);
}

}  // namespace tarven::testing
