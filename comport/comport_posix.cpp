// The serial port on POSIX terminals: real ports and pseudo-terminals alike.
//
// Where the line settings differ from a Windows port's: a terminal has a line discipline (echo,
// line editing, character translation, software flow control) that a Windows port does not, so
// the port is made raw, with the modem's carrier line ignored and no flow control; the baud rate,
// 8 data bits, no parity and one stop bit are set on top. The one total read deadline that
// Windows keeps per read is counted here from the read's start and waited for with poll().

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

#include "comport/comport.h"
#include "comport/sysfs_ports.h"
#ifdef __linux__
#include "comport/custom_baud.h"
#endif

namespace tarven::comport {

struct ComPort::Saved {
  termios settings{};
};

namespace {

using Clock = std::chrono::steady_clock;

int Descriptor(Handle handle) {
  return static_cast<int>(handle);
}

// A name as listed is a device in /dev; a path is taken as it is.
std::string DevicePath(const std::string& name) {
  if (name.starts_with('/') || name.starts_with("./") || name.starts_with("../")) return name;
  return "/dev/" + name;
}

std::string WithErrno(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

// The speed constant for `baud`, or B0 for a rate that has none.
speed_t SpeedConstant(int baud) {
  static constexpr std::pair<int, speed_t> kSpeeds[] = {
      {50, B50},         {75, B75},         {110, B110},       {134, B134},     {150, B150},
      {200, B200},       {300, B300},       {600, B600},       {1200, B1200},   {1800, B1800},
      {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200}, {38400, B38400},
      {57600, B57600},   {115200, B115200}, {230400, B230400},
#ifdef B460800
      {460800, B460800},
#endif
#ifdef B921600
      {921600, B921600},
#endif
  };
  for (const auto& [rate, constant] : kSpeeds) {
    if (rate == baud) return constant;
  }
  return B0;
}

void MakeRaw(termios& line) {
  ::cfmakeraw(&line);
  line.c_cflag |= CLOCAL | CREAD;
#ifdef CRTSCTS
  line.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
#endif
  line.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  line.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
  line.c_cflag |= CS8;
  // Reads never wait in the driver; the deadline is kept with poll().
  line.c_cc[VMIN] = 0;
  line.c_cc[VTIME] = 0;
}

// Writes `line` with `baud`; false, with errno set, when the driver refuses.
bool ApplyLineSettings(int fd, termios line, int baud) {
  if (baud <= 0) {
    errno = EINVAL;
    return false;
  }
  const speed_t speed = SpeedConstant(baud);
  if (speed != B0) {
    return ::cfsetispeed(&line, speed) == 0 && ::cfsetospeed(&line, speed) == 0 &&
           ::tcsetattr(fd, TCSANOW, &line) == 0;
  }
#ifdef __linux__
  return ::tcsetattr(fd, TCSANOW, &line) == 0 && SetCustomBaudRate(fd, baud);
#else
  errno = EINVAL;
  return false;
#endif
}

int MillisecondsLeft(Clock::time_point until) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Waits up to `ms` for `events` on `fd`; false when they did not come (or the line failed).
bool WaitFor(int fd, short events, int ms) {
  pollfd watched{fd, events, 0};
  int ready = 0;
  do {
    ready = ::poll(&watched, 1, ms);
  } while (ready < 0 && errno == EINTR);
  return ready > 0 && (watched.revents & events) != 0;
}

}  // namespace

ComPort::ComPort() = default;

ComPort::~ComPort() {
  CloseComPort();
}

bool ComPort::Open(const std::string& name, int baud) {
  const int fd = ::open(DevicePath(name).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    last_error_ = WithErrno("cannot open");
    return false;
  }
  const auto refuse = [this, fd](std::string why) {
    last_error_ = std::move(why);
    ::close(fd);
    return false;
  };
  // The system's own lock of a port: a program that holds the port took it on opening, as this
  // one does. (The terminal's exclusive-use flag below does not keep out a process running as
  // root, and a second open of the same port by this process gets its own lock to fail on.)
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    return refuse(errno == EWOULDBLOCK ? "in use by another program" : WithErrno("cannot lock"));
  }
  auto saved = std::make_unique<Saved>();
  if (::tcgetattr(fd, &saved->settings) != 0) return refuse(WithErrno("line settings refused"));
  termios line = saved->settings;
  MakeRaw(line);
  if (!ApplyLineSettings(fd, line, baud)) {
    std::string why = WithErrno("line settings refused");
    ::tcsetattr(fd, TCSANOW, &saved->settings);
    return refuse(std::move(why));
  }
  if (::tcflush(fd, TCIOFLUSH) != 0) {
    std::string why = WithErrno("cannot discard buffers");
    ::tcsetattr(fd, TCSANOW, &saved->settings);
    return refuse(std::move(why));
  }
  // Best effort: other programs' opens are refused while this one holds the port; a line without
  // modem control (a pseudo-terminal) refuses RTS and DTR.
  ::ioctl(fd, TIOCEXCL);
  int rts = TIOCM_RTS;
  ::ioctl(fd, TIOCMBIC, &rts);
  int dtr = TIOCM_DTR;
  ::ioctl(fd, TIOCMBIS, &dtr);
  handle_ = static_cast<Handle>(fd);
  saved_ = std::move(saved);
  return true;
}

void ComPort::Close() {
  const int fd = Descriptor(handle_);
  if (saved_) ::tcsetattr(fd, TCSANOW, &saved_->settings);
  ::ioctl(fd, TIOCNXCL);
  ::close(fd);
  saved_.reset();
}

void ComPort::Write(std::span<const std::uint8_t> bytes) {
  // Without flow control the driver takes the bytes at the line's pace; the bound matters only
  // when the far end of a pseudo-terminal stopped reading and its buffer is full.
  const int fd = Descriptor(handle_);
  const auto give_up = Clock::now() + std::chrono::milliseconds(kReadDeadlineMs);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (written > 0) {
      done += static_cast<std::size_t>(written);
    } else if (written < 0 && errno == EINTR) {
      continue;
    } else if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      return;
    } else if (!WaitFor(fd, POLLOUT, MillisecondsLeft(give_up))) {
      return;
    }
  }
}

std::size_t ComPort::ReadWithDeadline(std::span<std::uint8_t> into) {
  const int fd = Descriptor(handle_);
  const auto until = Clock::now() + std::chrono::milliseconds(kReadDeadlineMs);
  std::size_t got = 0;
  while (got < into.size()) {
    // With VMIN and VTIME at 0 an empty line reads as 0 bytes, not as an error.
    const ssize_t read = ::read(fd, into.data() + got, into.size() - got);
    if (read > 0) {
      got += static_cast<std::size_t>(read);
      continue;
    }
    if (read < 0 && errno == EINTR) continue;
    if (read < 0 && errno != EAGAIN && errno != EWOULDBLOCK) break;  // unplugged, hung up
    const int left = MillisecondsLeft(until);
    if (left == 0) break;
    pollfd watched{fd, POLLIN, 0};
    const int ready = ::poll(&watched, 1, left);
    if (ready < 0 && errno != EINTR) break;
    if (ready > 0 && (watched.revents & POLLIN) == 0) break;  // hung up with nothing to read
  }
  return got;
}

void ComPort::DiscardUntilQuiet() {
  const int fd = Descriptor(handle_);
  const int quiet_ms = QuietMs();
  const auto give_up = Clock::now() + std::chrono::milliseconds(kLongestDiscardMs);
  std::array<std::uint8_t, 256> dropped{};
  do {
    while (::read(fd, dropped.data(), dropped.size()) > 0) {
    }
  } while (Clock::now() < give_up && WaitFor(fd, POLLIN, quiet_ms));
}

std::vector<PortInfo> SystemPorts() {
#ifdef __linux__
  return SysfsPorts("/sys");
#else
  return {};
#endif
}

}  // namespace tarven::comport
