// The serial port on Windows: the ports device class and its "PortName" values for the list, and a
// port opened without sharing whose driver keeps the one total read deadline itself.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h; initguid.h makes devguid.h define the class identifiers it names.
#include <cfgmgr32.h>
#include <initguid.h>
#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <string>

#include "comport/comport.h"

namespace tarven::comport {

// Windows leaves the settings it was given alone; nothing is put back on close.
struct ComPort::Saved {};

namespace {

using Clock = std::chrono::steady_clock;

HANDLE Native(Handle handle) {
  return reinterpret_cast<HANDLE>(handle);
}

std::wstring Wide(const std::string& utf8) {
  const int size = static_cast<int>(utf8.size());
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(std::max(length, 0)), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
  return wide;
}

std::string Utf8(const wchar_t* wide) {
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) return {};
  std::string utf8(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8.data(), length, nullptr, nullptr);
  utf8.pop_back();  // the terminating null
  return utf8;
}

// "WHAT: the system's message for the last error".
std::string LastErrorText(const char* what) {
  wchar_t* message = nullptr;
  ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, ::GetLastError(), 0, reinterpret_cast<LPWSTR>(&message), 0, nullptr);
  std::string text = std::string(what) + ": " + (message != nullptr ? Utf8(message) : "error");
  ::LocalFree(message);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}

// The port's name from its hardware key, in room for 10 characters and the null: a longer value
// does not fit (the read fails, or fills the room without a null) and the device is left out.
std::string PortName(DEVINST device) {
  HKEY key = nullptr;
  if (::CM_Open_DevNode_Key(device, KEY_READ, 0, RegDisposition_OpenExisting, &key,
                            CM_REGISTRY_HARDWARE) != CR_SUCCESS) {
    return {};
  }
  std::array<char16_t, kPortNameUnits> name{};
  DWORD size = sizeof name;
  const LSTATUS read = ::RegQueryValueExW(key, L"PortName", nullptr, nullptr,
                                          reinterpret_cast<LPBYTE>(name.data()), &size);
  ::RegCloseKey(key);
  if (read != ERROR_SUCCESS) return {};
  return PortNameFromValue(std::u16string_view(name.data(), size / sizeof(char16_t)));
}

std::string DeviceDescription(HDEVINFO devices, SP_DEVINFO_DATA& device) {
  std::array<wchar_t, 256> text{};
  if (!::SetupDiGetDeviceRegistryPropertyW(devices, &device, SPDRP_DEVICEDESC, nullptr,
                                           reinterpret_cast<PBYTE>(text.data()),
                                           sizeof text - sizeof(wchar_t), nullptr)) {
    return {};
  }
  return Utf8(text.data());
}

bool SetReadTimeouts(HANDLE port, DWORD interval, DWORD multiplier, DWORD constant) {
  COMMTIMEOUTS timeouts{};
  if (!::GetCommTimeouts(port, &timeouts)) return false;
  timeouts.ReadIntervalTimeout = interval;
  timeouts.ReadTotalTimeoutMultiplier = multiplier;
  timeouts.ReadTotalTimeoutConstant = constant;
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = 0;
  return ::SetCommTimeouts(port, &timeouts) != 0;
}

// One total deadline per read, none between bytes.
bool SetReadDeadline(HANDLE port) {
  return SetReadTimeouts(port, 0, 0, kReadDeadlineMs);
}

}  // namespace

std::vector<PortInfo> SystemPorts() {
  std::vector<PortInfo> ports;
  const HDEVINFO devices =
      ::SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  if (devices == INVALID_HANDLE_VALUE) return ports;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD index = 0; ::SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
    std::string name = PortName(device.DevInst);
    if (!IsOfferedComName(name)) continue;
    ports.push_back({std::move(name), DeviceDescription(devices, device)});
  }
  ::SetupDiDestroyDeviceInfoList(devices);
  return ports;
}

ComPort::ComPort() = default;

ComPort::~ComPort() {
  CloseComPort();
}

bool ComPort::Open(const std::string& name, int baud) {
  const std::wstring path = name.starts_with("\\\\") ? Wide(name) : L"\\\\.\\" + Wide(name);
  const HANDLE port = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    last_error_ = LastErrorText("cannot open");
    return false;
  }
  const auto refuse = [this, port](const char* what) {
    last_error_ = LastErrorText(what);
    ::CloseHandle(port);
    return false;
  };
  DCB line{};
  line.DCBlength = sizeof line;
  if (!::GetCommState(port, &line)) return refuse("line settings refused");
  if (baud <= 0) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return refuse("line settings refused");
  }
  line.BaudRate = static_cast<DWORD>(baud);
  line.ByteSize = 8;
  line.Parity = NOPARITY;
  line.StopBits = ONESTOPBIT;
  if (!::SetCommState(port, &line)) return refuse("line settings refused");
  if (!SetReadDeadline(port)) return refuse("time-outs refused");
  if (!::PurgeComm(port, PURGE_TXCLEAR | PURGE_RXCLEAR)) return refuse("cannot discard buffers");
  ::EscapeCommFunction(port, CLRRTS);
  ::EscapeCommFunction(port, SETDTR);
  handle_ = reinterpret_cast<Handle>(port);
  return true;
}

void ComPort::Close() {
  ::CloseHandle(Native(handle_));
  saved_.reset();
}

void ComPort::Write(std::span<const std::uint8_t> bytes) {
  DWORD written = 0;
  ::WriteFile(Native(handle_), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::size_t ComPort::ReadWithDeadline(std::span<std::uint8_t> into) {
  DWORD got = 0;
  if (!::ReadFile(Native(handle_), into.data(), static_cast<DWORD>(into.size()), &got, nullptr)) {
    return 0;
  }
  return got;
}

void ComPort::DiscardUntilQuiet() {
  const HANDLE port = Native(handle_);
  const auto quiet_ms = static_cast<DWORD>(QuietMs());
  // A read returns what is there at once, or waits up to quiet_ms for the next byte.
  SetReadTimeouts(port, MAXDWORD, MAXDWORD, quiet_ms);
  const auto give_up = Clock::now() + std::chrono::milliseconds(kLongestDiscardMs);
  std::array<std::uint8_t, 256> dropped{};
  DWORD got = 0;
  while (::ReadFile(port, dropped.data(), static_cast<DWORD>(dropped.size()), &got, nullptr) &&
         got > 0 && Clock::now() < give_up) {
  }
  SetReadDeadline(port);
}

}  // namespace tarven::comport
