#include "comport/comport.h"

#include <QDeadlineTimer>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <algorithm>
#include <array>
#include <memory>

#include "comport/modbus_rtu.h"
#include "model/integer_text.h"

#ifdef Q_OS_UNIX
#include <sys/file.h>
#endif

namespace tarven::comport {

Handle ComHandle = kInvalidComHandle;

namespace {

std::unique_ptr<QSerialPort> g_port;
PortSource g_port_source;
std::string g_last_error;

Handle PlatformHandle(const QSerialPort& port) {
#ifdef Q_OS_WIN
  return reinterpret_cast<Handle>(port.handle());
#else
  return static_cast<Handle>(port.handle());
#endif
}

// The system's own lock of a port: a program that holds the port opened it with one, as this
// unit does. (An exclusive-use flag on the terminal does not keep out a process running as root.)
bool LockExclusively([[maybe_unused]] QSerialPort& port) {
#ifdef Q_OS_UNIX
  return ::flock(port.handle(), LOCK_EX | LOCK_NB) == 0;
#else
  return true;  // the port was opened without sharing
#endif
}

bool Refuse(QSerialPort& port, const std::string& what) {
  g_last_error = what + ": " + port.errorString().toStdString();
  port.close();
  return false;
}

// Reads until `wanted` bytes are in or the deadline, counted from the start of the read, has
// passed; returns how many came.
std::size_t ReadWithDeadline(QSerialPort& port, std::uint8_t* into, std::size_t wanted) {
  const QDeadlineTimer deadline(kReadDeadlineMs);
  std::size_t got = 0;
  for (;;) {
    const qint64 read =
        port.read(reinterpret_cast<char*>(into + got), static_cast<qint64>(wanted - got));
    if (read < 0) break;
    got += static_cast<std::size_t>(read);
    if (got == wanted) break;
    const qint64 left = deadline.remainingTime();
    if (left <= 0 || !port.waitForReadyRead(static_cast<int>(left))) break;
  }
  port.clearError();
  return got;
}

// Takes and drops what the line brings until it has been quiet for a few character times, so
// that the rest of a frame that was out of step does not become the start of the next reply.
void DiscardUntilQuiet(QSerialPort& port) {
  constexpr int kBitsPerCharacter = 10;
  constexpr int kLongestDiscardMs = 100;
  const qint32 baud = std::max(port.baudRate(), 1);
  const int quiet_ms = std::max(5, 4 * kBitsPerCharacter * 1000 / baud + 1);
  const QDeadlineTimer give_up(kLongestDiscardMs);
  do {
    port.readAll();
  } while (!give_up.hasExpired() && port.waitForReadyRead(quiet_ms));
  port.clearError();
}

}  // namespace

bool IsOfferedComName(const QString& name) {
  constexpr qsizetype kLongestName = 10;
  if (name.size() > kLongestName || name.size() < 3) return false;
  if (name.left(3).compare(QStringLiteral("COM"), Qt::CaseInsensitive) != 0) return false;
  return model::ParseInteger(name.mid(3).toStdString()).value_or(0) > 0;
}

void SortPortNames(QStringList& names) {
  std::stable_sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
    const int folded = a.compare(b, Qt::CaseInsensitive);
    return folded != 0 ? folded < 0 : a < b;
  });
}

QStringList SystemPortNames() {
  QStringList names;
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
    const QString name = info.portName();
#ifdef Q_OS_WIN
    if (!IsOfferedComName(name)) continue;
#endif
    if (!name.isEmpty() && !names.contains(name)) names << name;
  }
  return names;
}

void SetPortSource(PortSource source) {
  g_port_source = std::move(source);
}

void ListComPorts(QStringList& list) {
  list = g_port_source ? g_port_source() : SystemPortNames();
  list.removeDuplicates();
  SortPortNames(list);
}

bool OpenComPort(const QString& name, int baud) {
  if (g_port) {
    g_last_error = "a port is already open";
    return false;
  }
  auto port = std::make_unique<QSerialPort>();
  port->setPortName(name);
  if (!port->open(QIODevice::ReadWrite)) return Refuse(*port, "cannot open");
  if (!LockExclusively(*port)) {
    g_last_error = "in use by another program";
    port->close();
    return false;
  }
  if (!port->setBaudRate(baud) || !port->setDataBits(QSerialPort::Data8) ||
      !port->setParity(QSerialPort::NoParity) || !port->setStopBits(QSerialPort::OneStop)) {
    return Refuse(*port, "line settings refused");
  }
  if (!port->clear(QSerialPort::AllDirections)) return Refuse(*port, "cannot discard buffers");
  // Best effort: a line without modem control (a pseudo-terminal) refuses both.
  port->setRequestToSend(false);
  port->setDataTerminalReady(true);
  port->clearError();
  ComHandle = PlatformHandle(*port);
  g_port = std::move(port);
  g_last_error.clear();
  return true;
}

void CloseComPort() {
  if (g_port) g_port->close();
  g_port.reset();
  ComHandle = kInvalidComHandle;
}

std::string LastComPortError() {
  return g_last_error;
}

bool ReadHoldingRegisters(std::uint8_t slave, std::uint16_t first, std::uint16_t count,
                          std::uint8_t* destination, ExchangeRecord* record) {
  if (record != nullptr) *record = {};
  if (!g_port || !ValidRegisterCount(count)) return false;
  std::array<std::uint8_t, kFrameBufferSize> buffer{};
  const auto request = BuildReadRequest(slave, first, count);
  std::copy(request.begin(), request.end(), buffer.begin());
  if (record != nullptr) record->request.assign(request.begin(), request.end());
  // Whether the request went out is not looked at: one that did not meets no reply.
  g_port->write(reinterpret_cast<const char*>(buffer.data()), kRequestLength);
  g_port->flush();

  const std::size_t wanted = ReadReplyLength(count);
  const std::size_t got = ReadWithDeadline(*g_port, buffer.data(), wanted);
  if (record != nullptr) record->reply.assign(buffer.begin(), buffer.begin() + got);
  if (got < wanted) return false;
  const auto registers = CheckReadReply(std::span(buffer.data(), wanted), count);
  if (!registers) {
    DiscardUntilQuiet(*g_port);
    return false;
  }
  std::copy(registers->begin(), registers->end(), destination);
  return true;
}

}  // namespace tarven::comport
