#pragma once
// A backend that passes everything to another one and writes every feature report, in hex with
// its direction, to a stream: what `tarvenctl --trace` shows.

#include <memory>
#include <ostream>

#include "device/hid.h"

namespace tarven::hid {

class TraceBackend : public Backend {
 public:
  TraceBackend(std::shared_ptr<Backend> inner, std::ostream& out)
      : inner_(std::move(inner)), out_(out) {}

  bool Enumerate(std::uint16_t vendor_id, std::uint16_t product_id,
                 std::vector<std::string>& paths) override;
  Handle Open(const std::string& path) override;
  void Close(Handle handle) override;
  bool GetAttributes(Handle handle, std::uint16_t& vendor_id, std::uint16_t& product_id) override;
  bool GetFeatureReportLength(Handle handle, std::uint16_t& length) override;
  bool SetFeature(Handle handle, const std::uint8_t* report, std::size_t length) override;
  bool GetFeature(Handle handle, std::uint8_t* report, std::size_t length) override;

 private:
  void Line(const char* direction, const std::uint8_t* report, std::size_t length, bool ok);

  std::shared_ptr<Backend> inner_;
  std::ostream& out_;
};

}  // namespace tarven::hid
