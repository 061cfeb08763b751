#include "device/trace_backend.h"

namespace tarven::hid {

Handle TraceBackend::Open(const std::string& path) {
  const Handle handle = ForwardingBackend::Open(path);
  out_ << "open " << path << (handle == kInvalidHandle ? " failed" : "") << '\n';
  return handle;
}

void TraceBackend::Close(Handle handle) {
  ForwardingBackend::Close(handle);
  out_ << "close\n";
}

bool TraceBackend::SetFeature(Handle handle, const std::uint8_t* report, std::size_t length) {
  const bool ok = ForwardingBackend::SetFeature(handle, report, length);
  Line("->", report, length, ok);
  return ok;
}

bool TraceBackend::GetFeature(Handle handle, std::uint8_t* report, std::size_t length) {
  const bool ok = ForwardingBackend::GetFeature(handle, report, length);
  Line("<-", report, length, ok);
  return ok;
}

void TraceBackend::Line(const char* direction, const std::uint8_t* report, std::size_t length,
                        bool ok) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text = direction;
  for (std::size_t i = 0; i < length; ++i) {
    text += ' ';
    text += kDigits[report[i] >> 4];
    text += kDigits[report[i] & 0xF];
  }
  if (!ok) text += " (refused)";
  text += '\n';
  out_ << text;
}

}  // namespace tarven::hid
