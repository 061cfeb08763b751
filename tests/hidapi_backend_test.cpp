// The real USB backend on this machine, without the module attached.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/device.h"
#include "device/hid.h"

namespace {

using tarven::hid::Backend;
using tarven::hid::kInvalidHandle;

constexpr std::uint16_t kVendorId = 0x03EB;
constexpr std::uint16_t kProductId = 0x6202;

class HidapiBackendTest : public testing::Test {
 protected:
  void SetUp() override {
    backend_ = tarven::hid::MakePlatformBackend();
    ASSERT_NE(backend_, nullptr) << "hidapi could not be initialised";
  }

  std::shared_ptr<Backend> backend_;
};

TEST_F(HidapiBackendTest, NoModuleAttachedIsFoundAsNone) {
  std::vector<std::string> paths = {"left over from an earlier call"};
  ASSERT_TRUE(backend_->Enumerate(kVendorId, kProductId, paths));
  if (!paths.empty()) {
    GTEST_SKIP() << "a device " << std::hex << kVendorId << ":" << kProductId << " is attached ("
                 << paths.front() << "); this test needs none";
  }

  tarven::device::Link link(backend_);
  tarven::device::TModuleId module{true, kVendorId, kProductId, 0x3B03, 0, 0};
  EXPECT_EQ(link.OpenModule(module), kInvalidHandle);
  EXPECT_FALSE(module.Found);
}

// A path that is not a device, and handles the backend never gave out (the invalid one and a
// made-up one), fail cleanly instead of reaching hidapi.
TEST_F(HidapiBackendTest, RefusesPathsAndHandlesItDidNotOpen) {
  EXPECT_EQ(backend_->Open("/dev/null/not-a-hid-device"), kInvalidHandle);

  std::array<std::uint8_t, tarven::hid::kReportLength> report{};
  for (const tarven::hid::Handle handle : {kInvalidHandle, tarven::hid::Handle{0x1000}}) {
    SCOPED_TRACE(handle);
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    std::uint16_t length = 0;
    EXPECT_FALSE(backend_->GetAttributes(handle, vendor, product));
    EXPECT_FALSE(backend_->GetFeatureReportLength(handle, length));
    EXPECT_FALSE(backend_->SetFeature(handle, report.data(), report.size()));
    EXPECT_FALSE(backend_->GetFeature(handle, report.data(), report.size()));
    backend_->Close(handle);
  }
}

}  // namespace
