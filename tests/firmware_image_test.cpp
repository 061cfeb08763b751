// Where the update's image comes from: a named file, an installed data file, the simulator's
// stand-in; and the guard that keeps the stand-in away from a real module.

#include "firmware/firmware_image.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "firmware/carried_image.h"

namespace tarven::testing {
namespace {

namespace fs = std::filesystem;
using firmware::Image;
using firmware::Origin;

std::string FileBytes(const std::string& path) {
  std::string bytes(static_cast<std::size_t>(fs::file_size(path)), '\0');
  std::ifstream(path, std::ios::binary)
      .read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

class ImageFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("tarven-firmware-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::string Write(const std::string& name, const std::string& bytes) {
    const fs::path path = folder_ / name;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }

  fs::path folder_;
};

TEST(SyntheticImage, HasTheShippedSizeIsTheSameEveryTimeAndSaysWhatItIs) {
  const Image image = firmware::SyntheticImage();
  EXPECT_EQ(image.origin, Origin::Synthetic);
  EXPECT_EQ(image.bytes.size(), 206728u);
  EXPECT_EQ(firmware::SyntheticImage().bytes, image.bytes);
  EXPECT_TRUE(firmware::IsSyntheticImage(image.bytes));
  const std::string start(image.bytes.begin(), image.bytes.begin() + 38);
  EXPECT_EQ(start, "TARVEN SIMULATOR STAND-IN IMAGE - NOT ");
  // Varied bytes, not a fill: every value occurs.
  std::array<bool, 256> seen{};
  for (std::uint8_t b : image.bytes) seen[b] = true;
  EXPECT_EQ(std::count(seen.begin(), seen.end(), true), 256);
}

TEST(SyntheticImage, NeverGoesToARealModuleWhicheverWayItCame) {
  Image image = firmware::SyntheticImage();
  std::string error;
  EXPECT_TRUE(firmware::CheckImageForLink(image, true, error));
  EXPECT_FALSE(firmware::CheckImageForLink(image, false, error));
  EXPECT_NE(error.find("never sent to a real module"), std::string::npos) << error;
  // Saved as a file and named again: the bytes give it away.
  image.origin = Origin::File;
  image.name = "/tmp/saved.bin";
  EXPECT_FALSE(firmware::CheckImageForLink(image, false, error));
  EXPECT_EQ(error.rfind("/tmp/saved.bin: ", 0), 0u) << error;
  // Any other image may go anywhere.
  Image other;
  other.bytes = {1, 2, 3};
  EXPECT_TRUE(firmware::CheckImageForLink(other, false, error));
}

TEST_F(ImageFiles, NamedFileIsTakenAsItIsOrRefusedWithItsReason) {
  const std::string good = Write("good.bin", std::string("\x00\x55\x06\xff", 4));
  const std::string largest = Write("largest.bin", std::string(219136, 'x'));
  const std::string too_large = Write("large.bin", std::string(219137, 'x'));
  const std::string empty = Write("empty.bin", "");
  const struct {
    std::string path;
    bool ok;
    std::string error;
  } cases[] = {
      {good, true, ""},
      {largest, true, ""},
      {too_large, false,
       too_large +
           ": 219137 bytes, more than the module's flash takes below its data areas (219136)"},
      {empty, false, empty + ": the file is empty"},
      {folder_.string(), false, folder_.string() + ": not a regular file"},
      {"/dev/zero", false, "/dev/zero: not a regular file"},
      {(folder_ / "missing.bin").string(), false,
       (folder_ / "missing.bin").string() + ": no such file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    firmware::ImageQuery query;
    query.file = c.path;
    query.simulated = true;  // a named file wins over the stand-in
    Image image;
    std::string error;
    ASSERT_EQ(firmware::FindImage(query, image, error), c.ok);
    if (c.ok) {
      EXPECT_EQ(image.origin, Origin::File);
      EXPECT_EQ(image.name, c.path);
      EXPECT_EQ(std::string(image.bytes.begin(), image.bytes.end()), FileBytes(c.path));
    } else {
      EXPECT_EQ(error, c.error);
      EXPECT_TRUE(image.empty());
    }
  }
}

// Without an image built in, an installed file serves, then the stand-in for the simulator.
TEST_F(ImageFiles, InstalledFileThenStandInWhenNothingIsCarried) {
  if (!firmware::CarriedImage().empty()) GTEST_SKIP() << "this build carries an image";
  const std::string program = (folder_ / "bin").string();
  fs::create_directories(program);
  firmware::ImageQuery query;
  query.program_folder = program;
  Image image;
  std::string error;
  std::string note;

  ASSERT_TRUE(firmware::FindImage(query, image, error, &note));
  EXPECT_EQ(image.origin, Origin::None);
  EXPECT_TRUE(image.empty());
  EXPECT_EQ(note, "");

  query.simulated = true;
  ASSERT_TRUE(firmware::FindImage(query, image, error, &note));
  EXPECT_EQ(image.origin, Origin::Synthetic);

  // An installed file that cannot be used is passed over, and the note says why.
  const std::string shared = Write("share/tarven/tarven-firmware.bin", "");
  query.simulated = false;
  ASSERT_TRUE(firmware::FindImage(query, image, error, &note));
  EXPECT_EQ(image.origin, Origin::None);
  EXPECT_EQ(note, program + "/../share/tarven/tarven-firmware.bin: the file is empty");

  Write("share/tarven/tarven-firmware.bin", "shared");
  query.simulated = true;  // an installed image goes to the simulator too
  ASSERT_TRUE(firmware::FindImage(query, image, error, &note));
  EXPECT_EQ(image.origin, Origin::Installed);
  EXPECT_EQ(std::string(image.bytes.begin(), image.bytes.end()), "shared");

  Write("bin/tarven-firmware.bin", "beside");  // beside the program comes first
  ASSERT_TRUE(firmware::FindImage(query, image, error, &note));
  EXPECT_EQ(std::string(image.bytes.begin(), image.bytes.end()), "beside");
  EXPECT_EQ(image.name, program + "/tarven-firmware.bin");
}

TEST(ProgramFolder, IsTheFolderOfTheRunningProgram) {
  const std::string folder = firmware::ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_TRUE(fs::exists(fs::path(folder) / "firmware_tests"));
}

}  // namespace
}  // namespace tarven::testing
