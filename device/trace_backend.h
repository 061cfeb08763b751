#pragma once
// A backend that passes everything to another one and writes every feature report, in hex with
// its direction, to a stream: what `tarvenctl --trace` shows.

#include <memory>
#include <ostream>

#include "device/forwarding_backend.h"

namespace tarven::hid {

class TraceBackend : public ForwardingBackend {
 public:
  TraceBackend(std::shared_ptr<Backend> inner, std::ostream& out)
      : ForwardingBackend(std::move(inner)), out_(out) {}

  Handle Open(const std::string& path) override;
  void Close(Handle handle) override;
  bool SetFeature(Handle handle, const std::uint8_t* report, std::size_t length) override;
  bool GetFeature(Handle handle, std::uint8_t* report, std::size_t length) override;

 private:
  void Line(const char* direction, const std::uint8_t* report, std::size_t length, bool ok);

  std::ostream& out_;
};

}  // namespace tarven::hid
