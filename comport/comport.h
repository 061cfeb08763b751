#pragma once
// The serial line: the ports that are present, the one open port (ComHandle) and the Modbus RTU
// exchange over it. QtCore and Qt SerialPort only; every call comes from one thread, and a read
// blocks that thread until its bytes are in or its deadline has passed. A QCoreApplication must
// exist while a port is open.
//
// Wire quirks kept on purpose: the receive buffer is discarded only when a port is opened, so a
// reply that comes after its read's deadline is the first thing the next read takes; the modem
// lines are set on a best-effort basis (a pseudo-terminal has none).

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tarven::comport {

using Handle = std::uintptr_t;
inline constexpr Handle kInvalidComHandle = ~Handle{0};

// The open port's platform handle, kInvalidComHandle while none is open.
extern Handle ComHandle;

// How long one read may take in all, from its start to the last byte.
inline constexpr int kReadDeadlineMs = 1000;

// The Windows naming rule for ports found in the ports device class: "COM" in any case, then a
// number greater than 0 (text that is no number counts as 0), at most 10 characters in all.
bool IsOfferedComName(const QString& name);

// Sorts port names into the order the port selector keeps: ascending text order without regard
// to case, so that COM10 comes before COM2.
void SortPortNames(QStringList& names);

// The serial ports the system reports, by the names it gives them: ttyUSB0, ttyACM0, ttyS0 on
// Linux (a pseudo-terminal is not among them); on Windows the COM names the rule above offers.
QStringList SystemPortNames();

// Where ListComPorts takes the ports from: SystemPortNames unless another source is set, such
// as one that adds a simulated slave's pseudo-terminal by its device path. An empty function
// restores the system's list.
using PortSource = std::function<QStringList()>;
void SetPortSource(PortSource source);

// Clears `list` and fills it with the ports present, in the order SortPortNames gives.
void ListComPorts(QStringList& list);

// Opens `name` (a name as listed, or a device path) exclusively at `baud`, 8 data bits, no
// parity, one stop bit; discards both buffers; RTS inactive, then DTR active. False, with the
// port closed again and ComHandle invalid, when the port cannot be opened, is held by another
// program or by this one, or refuses a setting.
bool OpenComPort(const QString& name, int baud);

// Closes the open port; nothing when none is open.
void CloseComPort();

// Why the last OpenComPort failed, in the serial layer's words (for tarvenctl's messages).
std::string LastComPortError();

// What one Modbus exchange put on the line and took from it, for tracing.
struct ExchangeRecord {
  std::vector<std::uint8_t> request;
  std::vector<std::uint8_t> reply;  // what the read took, complete or not
};

// Reads `count` (1..125) holding registers from `first` at `slave` through the open port into
// `destination` (2·count bytes, each register high byte first). True when a reply of the expected
// length with a correct CRC came within one read deadline; the destination is untouched
// otherwise. A reply whose CRC is wrong leaves the line out of step with the slave, so what
// follows it on the line is discarded until the line falls quiet.
bool ReadHoldingRegisters(std::uint8_t slave, std::uint16_t first, std::uint16_t count,
                          std::uint8_t* destination, ExchangeRecord* record = nullptr);

}  // namespace tarven::comport
