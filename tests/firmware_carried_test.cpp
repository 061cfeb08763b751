// The carried image as a release build makes it: this program is built with a small fixture file
// as its TARVEN_FIRMWARE_IMAGE, the way a release names the module's image.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "firmware/carried_image.h"
#include "firmware/firmware_image.h"

namespace tarven::testing {
namespace {

constexpr const char* kFixture = TARVEN_TEST_DATA_DIR "/firmware_fixture.bin";

std::string FileBytes(const std::string& path) {
  std::string bytes(static_cast<std::size_t>(std::filesystem::file_size(path)), '\0');
  std::ifstream(path, std::ios::binary)
      .read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

TEST(CarriedImage, HoldsTheNamedFileByteForByte) {
  const std::string expected = FileBytes(kFixture);
  ASSERT_EQ(expected.size(), 1000u);
  const auto carried = firmware::CarriedImage();
  EXPECT_EQ(std::string(carried.begin(), carried.end()), expected);
  EXPECT_EQ(firmware::CarriedImageName(), "firmware_fixture.bin");
}

TEST(CarriedImage, ComesBeforeInstalledAndStandInButAfterANamedFile) {
  firmware::ImageQuery query;
  query.simulated = true;
  query.program_folder = firmware::ProgramFolder();
  firmware::Image image;
  std::string error;
  ASSERT_TRUE(firmware::FindImage(query, image, error));
  EXPECT_EQ(image.origin, firmware::Origin::Carried);
  EXPECT_EQ(std::string(image.bytes.begin(), image.bytes.end()), FileBytes(kFixture));

  query.file = TARVEN_TEST_DATA_DIR "/../firmware_carried_test.cpp";
  ASSERT_TRUE(firmware::FindImage(query, image, error)) << error;
  EXPECT_EQ(image.origin, firmware::Origin::File);
}

}  // namespace
}  // namespace tarven::testing
