// Finding and identifying the module among the HID devices present.

#include "sim_fixture.h"

namespace tarven::testing {
namespace {

class OpenModuleTest : public SimTest {
 protected:
  // Reports that crossed to or from the device at `path`.
  std::size_t ReportsOf(const std::string& path) const {
    std::size_t n = 0;
    for (const auto& record : sim_->log()) n += record.path == path;
    return n;
  }
};

TEST_F(OpenModuleTest, FindsTheApplicationAndNotTheBootLoader) {
  const device::Handle app = link().OpenModule(app_record());
  EXPECT_NE(app, device::kInvalidHandle);
  EXPECT_TRUE(link().AppModule().Found);
  device::Handle copy = app;
  link().CloseModule(copy);
  EXPECT_EQ(copy, device::kInvalidHandle);

  boot_record().Found = true;  // a stale flag is cleared by the search
  EXPECT_EQ(link().OpenModule(boot_record()), device::kInvalidHandle);
  EXPECT_FALSE(link().BootModule().Found);
  EXPECT_EQ(sim_->OpenHandleCount(), 0u);
}

TEST_F(OpenModuleTest, OtherPersonalityGetsOnlyTheIdentifyCommandAndIsClosed) {
  module().personality = sim::Personality::BootLoader;
  EXPECT_EQ(link().OpenModule(app_record()), device::kInvalidHandle);
  EXPECT_FALSE(link().AppModule().Found);
  const auto sent = Sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], Frame(1));
  EXPECT_EQ(Fetches(), 1u);
  EXPECT_EQ(sim_->OpenHandleCount(), 0u);

  const device::Handle boot = link().OpenModule(boot_record());
  EXPECT_NE(boot, device::kInvalidHandle);
  EXPECT_TRUE(link().BootModule().Found);
  handle_ = boot;
}

TEST_F(OpenModuleTest, DecoysNeverReceiveAReport) {
  // Listed before the module, and listed whatever ids are asked for, so every check is reached.
  sim_->SetListAllDevices(true);
  const std::string other_vendor = sim_->AddDecoy(0x1234, 0x6202, 65);
  const std::string other_product = sim_->AddDecoy(0x03EB, 0x6203, 65);
  const std::string short_feature = sim_->AddDecoy(0x03EB, 0x6202, 64);
  const std::string long_feature = sim_->AddDecoy(0x03EB, 0x6202, 66);
  handle_ = link().OpenModule(app_record());
  ASSERT_NE(handle_, device::kInvalidHandle);
  for (const auto& path : {other_vendor, other_product, short_feature, long_feature}) {
    EXPECT_EQ(ReportsOf(path), 0u) << path;
  }
  EXPECT_EQ(sim_->OpenHandleCount(), 1u);  // only the module's own handle stays open
}

TEST_F(OpenModuleTest, IdentifyAnswerIsReadLittleEndian) {
  sim_->SetListAllDevices(true);
  sim_->Unplug();
  const std::string swapped = sim_->AddDecoy(0x03EB, 0x6202, 65);
  sim_->devices().back().decoy_answer = {0x3B, 0x03};
  EXPECT_EQ(link().OpenModule(app_record()), device::kInvalidHandle);
  EXPECT_EQ(ReportsOf(swapped), 2u);  // identify sent, answer fetched, then skipped

  sim_->devices().back().decoy_answer = {0x03, 0x3B};
  handle_ = link().OpenModule(app_record());
  EXPECT_NE(handle_, device::kInvalidHandle);
}

TEST_F(OpenModuleTest, TheFirstOfTwoModulesIsOpenedAndTheSecondNever) {
  const std::string second = sim_->AddModule(std::make_shared<sim::SimulatedModule>());
  handle_ = link().OpenModule(app_record());
  ASSERT_NE(handle_, device::kInvalidHandle);
  EXPECT_EQ(sim_->OpenCount(), 1u);
  EXPECT_EQ(ReportsOf(second), 0u);
}

TEST_F(OpenModuleTest, NothingIsFoundWhenTheBusCannotBeListedOrNothingAnswers) {
  struct Case {
    const char* what;
    void (*arrange)(sim::SimBackend&);
  };
  const Case cases[] = {
      {"unplugged", [](sim::SimBackend& s) { s.Unplug(); }},
      {"enumeration fails", [](sim::SimBackend& s) { s.SetEnumerationFails(true); }},
      {"silent", [](sim::SimBackend& s) { s.SetSilent(true); }},
      {"identify refused", [](sim::SimBackend& s) { s.RefuseNthSend(1); }},
      {"answer refused", [](sim::SimBackend& s) { s.RefuseNthFetch(1); }},
  };
  for (const Case& c : cases) {
    SetUp();
    c.arrange(*sim_);
    app_record().Found = true;
    EXPECT_EQ(link().OpenModule(app_record()), device::kInvalidHandle) << c.what;
    EXPECT_FALSE(link().AppModule().Found) << c.what;
    EXPECT_EQ(sim_->OpenHandleCount(), 0u) << c.what;
  }
}

TEST_F(OpenModuleTest, LinkWithoutHidAccessFindsNothing) {
  device::Link unbound(nullptr);
  EXPECT_EQ(unbound.OpenModule(device::LinkAccess::AppModule(unbound)), device::kInvalidHandle);
  EXPECT_FALSE(unbound.AppModule().Found);
}

TEST_F(OpenModuleTest, RepeatedSearchesLeaveNoDeviceOpen) {
  sim_->SetListAllDevices(true);
  sim_->AddDecoy(0x03EB, 0x6202, 64);
  module().personality = sim::Personality::BootLoader;
  for (int i = 0; i < 1000; ++i) {
    EXPECT_EQ(link().OpenModule(app_record()), device::kInvalidHandle);
  }
  EXPECT_EQ(sim_->OpenHandleCount(), 0u);
  EXPECT_GE(sim_->OpenCount(), 1000u);
}

}  // namespace
}  // namespace tarven::testing
