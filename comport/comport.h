#pragma once
// The serial line: the ports that are present, an open port (ComPort, whose ComHandle is the
// platform's handle) and the Modbus RTU exchange over it. Standard C++ only at this surface; the
// platform's part is in comport_posix.cpp or comport_windows.cpp. A port is used from one thread,
// and a read blocks that thread until its bytes are in or its deadline has passed.
//
// Wire quirks kept on purpose: the receive buffer is discarded only when a port is opened, so a
// reply that comes after its read's deadline is the first thing the next read takes; the modem
// lines are set on a best-effort basis (a pseudo-terminal has none).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarven::comport {

using Handle = std::uintptr_t;
inline constexpr Handle kInvalidComHandle = ~Handle{0};

// How long one read may take in all, from its start to the last byte.
inline constexpr int kReadDeadlineMs = 1000;

// The Windows naming rule for ports found in the ports device class: "COM" in any case, then a
// number greater than 0 (text that is no number counts as 0), at most 10 characters in all.
bool IsOfferedComName(std::string_view name);

// The name in a "PortName" value as read into room for 10 characters and the terminating null
// (`units`: what the read gave, in UTF-16 units). The name ends at the first null; a value that
// fills the room without a null was longer than 10 characters, and gives no name (empty), rather
// than a name cut to 10.
std::string PortNameFromValue(std::u16string_view units);
inline constexpr std::size_t kPortNameUnits = 11;

// A serial port as the list offers it.
struct PortInfo {
  std::string name;  // ttyUSB0, COM3, or a device path; what OpenComPort takes
  // What is behind the port: a USB adapter's maker and product, or else its driver's name
  // ("FTDI FT232R USB UART", "cdc_acm", "serial"); empty when nothing is known.
  std::string description;

  bool operator==(const PortInfo&) const = default;
};

// Sorts into the order the port selector keeps: ascending text order without regard to case, so
// that COM10 comes before COM2; names that differ only in case keep a fixed order.
void SortPortNames(std::vector<std::string>& names);
void SortPorts(std::vector<PortInfo>& ports);

// The serial ports the system reports, by the names it gives them: ttyUSB0, ttyACM0, ttyS0 on
// Linux (a pseudo-terminal is not among them); on Windows the COM names the rule above offers.
std::vector<PortInfo> SystemPorts();

// Where a list takes its ports from: SystemPorts, or another source such as one that adds a
// simulated slave's pseudo-terminal by its device path. An empty function stands for the system.
using PortSource = std::function<std::vector<PortInfo>()>;

// The ports present, sorted as above, each name once.
std::vector<PortInfo> ListPorts(const PortSource& source = {});

// Clears `list` and fills it with the names of the ports present, sorted as above.
void ListComPorts(std::vector<std::string>& list, const PortSource& source = {});

// What one Modbus exchange put on the line and took from it, for tracing.
struct ExchangeRecord {
  std::vector<std::uint8_t> request;
  std::vector<std::uint8_t> reply;  // what the read took, complete or not
};

// One serial port, open from OpenComPort to CloseComPort (or the end of the object). A port that
// another program holds, or another ComPort of this one, does not open.
class ComPort {
 public:
  ComPort();
  ~ComPort();
  ComPort(const ComPort&) = delete;
  ComPort& operator=(const ComPort&) = delete;

  // Opens `name` (a name as listed, or a device path) exclusively at `baud`, 8 data bits, no
  // parity, one stop bit; discards both buffers; RTS inactive, then DTR active. False, with the
  // port closed again and ComHandle invalid, when the port cannot be opened, is held by another
  // program or by this one, or refuses a setting, and when this object has a port open already.
  bool OpenComPort(const std::string& name, int baud);

  // Closes the open port and puts back the settings it had; nothing when none is open.
  void CloseComPort();

  // The open port's platform handle; kInvalidComHandle while none is open.
  Handle ComHandle() const { return handle_; }
  bool IsOpen() const { return handle_ != kInvalidComHandle; }

  // Why the last OpenComPort failed, in the serial layer's words (for tarvenctl's messages).
  const std::string& LastComPortError() const { return last_error_; }

  // Reads `count` (1..125) holding registers from `first` at `slave` through the open port into
  // `destination` (2·count bytes, each register high byte first). True when a reply of the
  // expected length with a correct CRC came within one read deadline; the destination is
  // untouched otherwise. A reply whose CRC is wrong leaves the line out of step with the slave,
  // so what follows it on the line is discarded until the line falls quiet.
  bool ReadHoldingRegisters(std::uint8_t slave, std::uint16_t first, std::uint16_t count,
                            std::uint8_t* destination, ExchangeRecord* record = nullptr);

 private:
  // The platform's part (comport_posix.cpp, comport_windows.cpp).
  struct Saved;  // the port's own settings from before the open, put back on close
  bool Open(const std::string& name, int baud);
  void Close();
  // Whether the request went out is not looked at: one that did not meets no reply.
  void Write(std::span<const std::uint8_t> bytes);
  // Reads until `into` is full or kReadDeadlineMs, counted from the start of the read, have
  // passed; returns how many bytes came. A line that fails returns at once.
  std::size_t ReadWithDeadline(std::span<std::uint8_t> into);
  // Takes and drops what the line brings until it has been quiet for a few character times.
  void DiscardUntilQuiet();
  // The rule DiscardUntilQuiet keeps on every platform: quiet means no byte for four character
  // times (ten bits each) at the port's baud rate, at least 5 ms; it gives up after 100 ms.
  static constexpr int kLongestDiscardMs = 100;
  int QuietMs() const;

  Handle handle_ = kInvalidComHandle;
  int baud_ = 0;
  std::unique_ptr<Saved> saved_;
  std::string last_error_;
};

}  // namespace tarven::comport
