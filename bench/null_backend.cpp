#include "bench/null_backend.h"

#include <benchmark/benchmark.h>

#include "device/device.h"

namespace tarven::bench {

bool NullBackend::Enumerate(std::uint16_t, std::uint16_t, std::vector<std::string>& paths) {
  paths.assign(1, "null");
  return true;
}

hid::Handle NullBackend::Open(const std::string&) {
  return kHandle;
}

void NullBackend::Close(hid::Handle handle) {
  benchmark::DoNotOptimize(handle);
}

bool NullBackend::GetAttributes(hid::Handle, std::uint16_t& vendor_id, std::uint16_t& product_id) {
  vendor_id = device::kModuleVendorId;
  product_id = device::kModuleProductId;
  return true;
}

bool NullBackend::GetFeatureReportLength(hid::Handle, std::uint16_t& length) {
  length = hid::kReportLength;
  return true;
}

bool NullBackend::SetFeature(hid::Handle handle, const std::uint8_t* report, std::size_t length) {
  benchmark::DoNotOptimize(handle);
  benchmark::DoNotOptimize(report);
  benchmark::DoNotOptimize(length);
  benchmark::ClobberMemory();  // the report's bytes count as read
  return true;
}

bool NullBackend::GetFeature(hid::Handle handle, std::uint8_t* report, std::size_t length) {
  benchmark::DoNotOptimize(handle);
  benchmark::DoNotOptimize(length);
  // The application's identify answer; any other read gets these bytes as its data.
  report[1] = 0x03;
  report[2] = 0x3B;
  benchmark::ClobberMemory();  // the report's bytes count as written
  return true;
}

}  // namespace tarven::bench
