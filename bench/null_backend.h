#pragma once
// A backend that takes and gives every report at once and does nothing else, so that a benchmark
// through it measures the host's own cost per report. It carries the module's ids and answers
// the identify command as the application, so that whole operations run through it too. Its calls
// live in their own translation unit and escape their arguments, so the optimiser cannot see
// through or drop them.

#include "device/hid.h"

namespace tarven::bench {

class NullBackend final : public hid::Backend {
 public:
  static constexpr hid::Handle kHandle = 1;

  bool Enumerate(std::uint16_t vendor_id, std::uint16_t product_id,
                 std::vector<std::string>& paths) override;
  hid::Handle Open(const std::string& path) override;
  void Close(hid::Handle handle) override;
  bool GetAttributes(hid::Handle handle, std::uint16_t& vendor_id,
                     std::uint16_t& product_id) override;
  bool GetFeatureReportLength(hid::Handle handle, std::uint16_t& length) override;
  bool SetFeature(hid::Handle handle, const std::uint8_t* report, std::size_t length) override;
  bool GetFeature(hid::Handle handle, std::uint8_t* report, std::size_t length) override;
};

}  // namespace tarven::bench
