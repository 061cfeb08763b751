#pragma once
// A backend that passes every call to another one. Backends that only watch or alter part of the
// traffic (the trace, test counters, fault injection) derive from it and override what they need.

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "device/hid.h"

namespace tarven::hid {

class ForwardingBackend : public Backend {
 public:
  explicit ForwardingBackend(std::shared_ptr<Backend> inner) : inner_(std::move(inner)) {}

  bool Enumerate(std::uint16_t vendor_id, std::uint16_t product_id,
                 std::vector<std::string>& paths) override {
    return inner_->Enumerate(vendor_id, product_id, paths);
  }
  bool EnumerateDevices(std::uint16_t vendor_id, std::uint16_t product_id,
                        std::vector<DeviceInfo>& devices) override {
    return inner_->EnumerateDevices(vendor_id, product_id, devices);
  }
  Handle Open(const std::string& path) override { return inner_->Open(path); }
  std::string OpenFailureReason() const override { return inner_->OpenFailureReason(); }
  bool OpenFailureIsPermission() const override { return inner_->OpenFailureIsPermission(); }
  void Close(Handle handle) override { inner_->Close(handle); }
  bool GetAttributes(Handle handle, std::uint16_t& vendor_id, std::uint16_t& product_id) override {
    return inner_->GetAttributes(handle, vendor_id, product_id);
  }
  bool GetFeatureReportLength(Handle handle, std::uint16_t& length) override {
    return inner_->GetFeatureReportLength(handle, length);
  }
  bool SetFeature(Handle handle, const std::uint8_t* report, std::size_t length) override {
    return inner_->SetFeature(handle, report, length);
  }
  bool GetFeature(Handle handle, std::uint8_t* report, std::size_t length) override {
    return inner_->GetFeature(handle, report, length);
  }

  Backend& inner() { return *inner_; }

 private:
  std::shared_ptr<Backend> inner_;
};

}  // namespace tarven::hid
