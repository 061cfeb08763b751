#include "comport/comport.h"

#include <algorithm>
#include <array>
#include <unordered_set>

#include "comport/modbus_rtu.h"
#include "model/integer_text.h"
#include "platform/wide_text.h"

namespace tarven::comport {
namespace {

// Port names are the system's device names, ASCII in practice; other bytes compare as they are.
char FoldCase(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool NameBefore(std::string_view a, std::string_view b) {
  const auto folded = [](char x, char y) {
    return static_cast<unsigned char>(FoldCase(x)) < static_cast<unsigned char>(FoldCase(y));
  };
  if (std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), folded)) return true;
  if (std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(), folded)) return false;
  return a < b;
}

}  // namespace

bool IsOfferedComName(std::string_view name) {
  constexpr std::size_t kLongestName = 10;
  if (name.size() > kLongestName || name.size() < 3) return false;
  const std::string_view prefix = name.substr(0, 3);
  if (!std::equal(prefix.begin(), prefix.end(), "com",
                  [](char c, char lower) { return FoldCase(c) == lower; })) {
    return false;
  }
  return model::ParseInteger(name.substr(3)).value_or(0) > 0;
}

std::string PortNameFromValue(std::u16string_view units) {
  const std::size_t end = units.find(u'\0');
  if (end == std::u16string_view::npos && units.size() >= kPortNameUnits) return {};
  return platform::Utf8FromUtf16(units.substr(0, end));
}

void SortPortNames(std::vector<std::string>& names) {
  std::stable_sort(names.begin(), names.end(),
                   [](const std::string& a, const std::string& b) { return NameBefore(a, b); });
}

void SortPorts(std::vector<PortInfo>& ports) {
  std::stable_sort(ports.begin(), ports.end(),
                   [](const PortInfo& a, const PortInfo& b) { return NameBefore(a.name, b.name); });
}

std::vector<PortInfo> ListPorts(const PortSource& source) {
  std::vector<PortInfo> found = source ? source() : SystemPorts();
  std::vector<PortInfo> ports;
  std::unordered_set<std::string> seen;
  for (PortInfo& port : found) {
    if (seen.insert(port.name).second) ports.push_back(std::move(port));
  }
  SortPorts(ports);
  return ports;
}

void ListComPorts(std::vector<std::string>& list, const PortSource& source) {
  list.clear();
  for (PortInfo& port : ListPorts(source)) list.push_back(std::move(port.name));
}

bool ComPort::OpenComPort(const std::string& name, int baud) {
  if (IsOpen()) {
    last_error_ = "a port is already open";
    return false;
  }
  last_error_.clear();
  if (!Open(name, baud)) {
    handle_ = kInvalidComHandle;
    return false;
  }
  baud_ = baud;
  return true;
}

void ComPort::CloseComPort() {
  if (!IsOpen()) return;
  Close();
  handle_ = kInvalidComHandle;
}

bool ComPort::ReadHoldingRegisters(std::uint8_t slave, std::uint16_t first, std::uint16_t count,
                                   std::uint8_t* destination, ExchangeRecord* record) {
  if (record != nullptr) *record = {};
  if (!IsOpen() || !ValidRegisterCount(count)) return false;
  // The request and then the reply share one buffer.
  std::array<std::uint8_t, kFrameBufferSize> buffer{};
  const auto request = BuildReadRequest(slave, first, count);
  std::copy(request.begin(), request.end(), buffer.begin());
  if (record != nullptr) record->request.assign(request.begin(), request.end());
  Write(std::span(buffer.data(), kRequestLength));

  const std::size_t wanted = ReadReplyLength(count);
  const std::size_t got = ReadWithDeadline(std::span(buffer.data(), wanted));
  if (record != nullptr) record->reply.assign(buffer.begin(), buffer.begin() + got);
  if (got < wanted) return false;
  const auto registers = CheckReadReply(std::span(buffer.data(), wanted), count);
  if (!registers) {
    DiscardUntilQuiet();
    return false;
  }
  std::copy(registers->begin(), registers->end(), destination);
  return true;
}

int ComPort::QuietMs() const {
  constexpr int kBitsPerCharacter = 10;
  constexpr int kQuietCharacters = 4;
  return std::max(5, kQuietCharacters * kBitsPerCharacter * 1000 / std::max(baud_, 1) + 1);
}

}  // namespace tarven::comport
