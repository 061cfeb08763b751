// The Windows platform files as the programs use them, run under Wine: files with Cyrillic names
// written, replaced and read; lock files and module locks; the HID library bound at run time.

#include <windows.h>
// windows.h names ReplaceFileW so; ours is storage::ReplaceFile.
#undef ReplaceFile

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "device/hid.h"
#include "device/module_lock.h"
#include "platform/decimal_separator.h"
#include "platform/program_path.h"
#include "platform/wide_text.h"
#include "storage/file_io.h"

namespace tarven::testing {
namespace {

namespace fs = std::filesystem;

// A fresh folder of the test's own, removed after it.
class WindowsFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ =
        fs::temp_directory_path() /
        (L"tarven-test-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
         platform::WideFromUtf8(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::string Path(const std::string& name) const {
    return platform::Utf8FromWide((folder_ / platform::WideFromUtf8(name)).wstring());
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder_)) {
      names.push_back(platform::Utf8FromWide(entry.path().filename().wstring()));
    }
    return names;
  }

  fs::path folder_;
};

TEST_F(WindowsFiles, CyrillicNameIsWrittenReplacedAndReadUnderItsOwnName) {
  const std::string path = Path("образ.bin");
  ASSERT_TRUE(storage::ReplaceFile(path, "first").ok());
  // The old content is replaced, where a plain rename over it would fail with "File exists".
  const storage::ReplaceResult again = storage::ReplaceFile(path, "second, longer");
  ASSERT_TRUE(again.ok()) << again.reason;
  std::string bytes;
  const storage::ReadResult read = storage::ReadRegularFile(path, 100, bytes);
  ASSERT_EQ(read.status, storage::ReadStatus::Read);
  EXPECT_EQ(bytes, "second, longer");
  // Exactly one file, under the name as given: no temporary left, no garbled name.
  EXPECT_EQ(Names(), std::vector<std::string>{"образ.bin"});
  EXPECT_TRUE(storage::PathExists(path));
  EXPECT_FALSE(storage::PathExists(Path("образ.bin.saving")));
}

TEST_F(WindowsFiles, WhatIsNoOrdinaryFileIsNeitherReadNorReplaced) {
  std::string bytes;
  EXPECT_EQ(storage::ReadRegularFile(Path("нет.bin"), 100, bytes).status,
            storage::ReadStatus::Missing);
  EXPECT_EQ(storage::ReadRegularFile(platform::Utf8FromWide(folder_.wstring()), 100, bytes).status,
            storage::ReadStatus::NotRegular);
  EXPECT_EQ(storage::ReadRegularFile("NUL", 100, bytes).status, storage::ReadStatus::NotRegular);
  fs::create_directory(folder_ / L"папка");
  const storage::ReplaceResult replaced = storage::ReplaceFile(Path("папка"), "x");
  EXPECT_EQ(replaced.failed, storage::ReplaceStep::NotRegular);
  int error_number = 0;
  EXPECT_EQ(storage::KindOf(Path("папка"), error_number), storage::PathKind::Other);
  EXPECT_EQ(storage::KindOf(Path("нет.bin"), error_number), storage::PathKind::Missing);
}

TEST_F(WindowsFiles, ReadOnlyFileIsNotReplaced) {
  const std::string path = Path("только.bin");
  ASSERT_TRUE(storage::ReplaceFile(path, "kept").ok());
  ::SetFileAttributesW(platform::WideFromUtf8(path).c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(storage::ReplaceFile(path, "lost").failed, storage::ReplaceStep::NoPermission);
  EXPECT_NE(storage::WriteAccess(path), 0);
  ::SetFileAttributesW(platform::WideFromUtf8(path).c_str(), FILE_ATTRIBUTE_NORMAL);
  std::string bytes;
  ASSERT_EQ(storage::ReadRegularFile(path, 100, bytes).status, storage::ReadStatus::Read);
  EXPECT_EQ(bytes, "kept");
}

TEST_F(WindowsFiles, AppendedRowsFollowWhatTheFileHeld) {
  const std::string path = Path("журнал.csv");
  ASSERT_TRUE(storage::ReplaceFile(path, "head\nrow").ok());
  storage::AppendFile file;
  int error_number = 0;
  ASSERT_EQ(file.Open(path, error_number), storage::AppendFile::OpenStatus::Opened);
  EXPECT_EQ(file.size(), 8u);
  char last = 0;
  ASSERT_TRUE(file.ReadAt(7, &last, 1, error_number));
  EXPECT_EQ(last, 'w');
  EXPECT_FALSE(file.ReadAt(7, &last, 2, error_number));  // past the end
  ASSERT_TRUE(file.Append("\nnext\n", error_number));
  std::string bytes;
  ASSERT_EQ(storage::ReadRegularFile(path, 100, bytes).status, storage::ReadStatus::Read);
  EXPECT_EQ(bytes, "head\nrow\nnext\n");

  storage::AppendFile device;
  EXPECT_EQ(device.Open("NUL", error_number), storage::AppendFile::OpenStatus::NotRegular);
}

TEST_F(WindowsFiles, LockFileExcludesASecondTakerUntilTheFirstLetsGo) {
  const std::string path = Path("состояние.lock");
  std::string error;
  auto first = std::make_unique<storage::LockFile>();
  storage::LockFile second;
  ASSERT_EQ(first->Open(path, error), storage::LockFile::OpenStatus::Opened) << error;
  ASSERT_EQ(second.Open(path, error), storage::LockFile::OpenStatus::Opened) << error;
  EXPECT_TRUE(first->TryLock());
  EXPECT_FALSE(second.TryLock());
  first.reset();
  EXPECT_TRUE(second.TryLock());
}

TEST_F(WindowsFiles, ModuleLockTellsWhoHoldsIt) {
  const auto locks =
      device::FolderModuleLocks(platform::Utf8FromWide(folder_.wstring()), "tarvenctl", false);
  device::LockAttempt first = locks->TryTake("PCIROOT(0)#PCI(1400)-2.3");
  ASSERT_TRUE(first.lock);
  const device::LockAttempt second = locks->TryTake("PCIROOT(0)#PCI(1400)-2.3");
  EXPECT_FALSE(second.lock);
  ASSERT_TRUE(second.busy);
  EXPECT_EQ(second.holder.program, "tarvenctl");
  EXPECT_EQ(second.holder.pid, static_cast<long>(::GetCurrentProcessId()));
  EXPECT_TRUE(locks->TryTake("another module").lock);
  first.lock.reset();
  EXPECT_TRUE(locks->TryTake("PCIROOT(0)#PCI(1400)-2.3").lock);
}

TEST_F(WindowsFiles, PrivateLocksGoWithTheirBench) {
  std::string folder;
  {
    const auto locks = device::PrivateModuleLocks("tarvenctl");
    ASSERT_TRUE(locks);
    folder = locks->folder();
    EXPECT_TRUE(locks->TryTake("sim-1").lock);
    EXPECT_TRUE(storage::PathExists(folder));
  }
  EXPECT_FALSE(storage::PathExists(folder));
}

TEST(WindowsSystem, ProgramPathDecimalSeparatorAndHidLibrary) {
  const std::string path = platform::ThisProgramPath();
  EXPECT_TRUE(path.ends_with(".exe")) << path;
  EXPECT_TRUE(storage::PathExists(path)) << path;
  EXPECT_EQ(device::ThisProgramName(), "windows_platform_tests");
  EXPECT_FALSE(platform::UserDecimalSeparator().empty());

  // hid.dll is bound at run time; every device listed has the ids asked for.
  const std::shared_ptr<hid::Backend> backend = hid::MakePlatformBackend();
  ASSERT_TRUE(backend);
  std::vector<hid::DeviceInfo> devices;
  ASSERT_TRUE(backend->EnumerateDevices(0x03EB, 0x6202, devices));
  for (const hid::DeviceInfo& device : devices) {
    EXPECT_EQ(device.vendor_id, 0x03EB);
    EXPECT_EQ(device.product_id, 0x6202);
  }
  EXPECT_EQ(backend->Open("\\\\?\\hid#no-such-device"), hid::kInvalidHandle);
  EXPECT_FALSE(backend->OpenFailureReason().empty());
  std::uint16_t length = 0;
  EXPECT_FALSE(backend->GetFeatureReportLength(hid::kInvalidHandle, length));
}

}  // namespace
}  // namespace tarven::testing
