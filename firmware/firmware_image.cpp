#include "firmware/firmware_image.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "firmware/carried_image.h"
#include "model/version_text.h"
#include "platform/program_path.h"
#include "storage/file_io.h"

namespace tarven::firmware {
namespace {

constexpr std::string_view kSyntheticMarker =
    "TARVEN SIMULATOR STAND-IN IMAGE - NOT FIRMWARE, NEVER FOR A REAL MODULE\n";

// Offset of a 64-byte slice (the payload of one data report) made to look like a command frame
// to the boot loader (marker 0x55, command 6): a module must count the bytes, never sniff them.
constexpr std::size_t kFrameLookalikeAt = 100 * 512 + 3 * 64;

}  // namespace

Image SyntheticImage() {
  Image image;
  image.origin = Origin::Synthetic;
  image.name = "the simulator's stand-in image";
  image.bytes.resize(kSyntheticImageSize);
  // Bytes that look random but are the same in every run (xorshift32 from a fixed seed), so that
  // a byte out of place anywhere shows in a comparison.
  std::uint32_t state = 0x7A52E1D3;
  for (std::uint8_t& byte : image.bytes) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    byte = static_cast<std::uint8_t>(state >> 24);
  }
  std::memcpy(image.bytes.data(), kSyntheticMarker.data(), kSyntheticMarker.size());
  image.bytes[kFrameLookalikeAt] = 0x55;
  image.bytes[kFrameLookalikeAt + 1] = 6;
  return image;
}

bool IsSyntheticImage(std::span<const std::uint8_t> bytes) {
  return bytes.size() >= kSyntheticMarker.size() &&
         std::equal(kSyntheticMarker.begin(), kSyntheticMarker.end(), bytes.begin(),
                    [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
}

bool LoadImageFile(const std::string& path, Image& image, std::string& error) {
  std::string bytes;
  const storage::ReadResult read = storage::ReadRegularFile(path, kMaxImageSize, bytes);
  switch (read.status) {
    case storage::ReadStatus::Read:
      break;
    case storage::ReadStatus::Missing:
      error = path + ": no such file";
      return false;
    case storage::ReadStatus::NotRegular:
      error = path + ": not a regular file";
      return false;
    case storage::ReadStatus::TooLarge:
      error = path + ": " + std::to_string(read.size) +
              " bytes, more than the module's flash takes below its data areas (" +
              std::to_string(kMaxImageSize) + ")";
      return false;
    default:
      error = path + ": " + storage::SystemReason(read.error_number);
      return false;
  }
  if (bytes.empty()) {
    error = path + ": the file is empty";
    return false;
  }
  image.origin = Origin::File;
  image.name = path;
  image.bytes.assign(bytes.begin(), bytes.end());
  return true;
}

std::string ProgramFolder() {
  const std::string path = platform::ThisProgramPath();
  return path.empty() ? std::string() : storage::FolderOf(path);
}

std::vector<std::string> InstalledImagePaths(const std::string& program_folder) {
  if (program_folder.empty()) return {};
  return {program_folder + "/" + kInstalledImageName,
          program_folder + "/../share/tarven/" + kInstalledImageName};
}

bool FindImage(const ImageQuery& query, Image& image, std::string& error, std::string* note) {
  image = Image{};
  if (note != nullptr) note->clear();
  if (!query.file.empty()) return LoadImageFile(query.file, image, error);
  if (const std::span<const std::uint8_t> carried = CarriedImage(); !carried.empty()) {
    image.origin = Origin::Carried;
    image.name = "the carried image " + std::string(CarriedImageName());
    image.bytes.assign(carried.begin(), carried.end());
    return true;
  }
  for (const std::string& path : InstalledImagePaths(query.program_folder)) {
    if (!storage::PathExists(path)) continue;
    std::string why;
    if (LoadImageFile(path, image, why)) {
      image.origin = Origin::Installed;
      return true;
    }
    if (note != nullptr && note->empty()) *note = why;
  }
  if (query.simulated) image = SyntheticImage();
  return true;
}

bool ImageMayBeFound(const ImageQuery& query) {
  if (!query.file.empty() || !CarriedImage().empty() || query.simulated) return true;
  for (const std::string& path : InstalledImagePaths(query.program_folder)) {
    if (storage::PathExists(path)) return true;
  }
  return false;
}

bool CheckImageForLink(const Image& image, bool simulated, std::string& error) {
  if (!simulated && IsSyntheticImage(image.bytes)) {
    error = (image.origin == Origin::File ? image.name + ": " : std::string()) +
            "the simulator's stand-in image is not firmware and is never sent to a real module";
    return false;
  }
  return true;
}

std::string_view ToolVersion() {
  return TARVEN_TOOL_VERSION;
}

std::string VersionText(std::string_view program, const std::string& program_folder) {
  std::string text = std::string(program) + " " + std::string(ToolVersion()) + "\n";
  // The image an update sends without --firmware, found as the update finds it.
  ImageQuery query;
  query.program_folder = program_folder;
  Image image;
  std::string error;
  std::string note;
  FindImage(query, image, error, &note);
  const std::string size = std::to_string(image.bytes.size()) + " bytes";
  switch (image.origin) {
    case Origin::Carried:
      return text + "firmware image: " + model::kCarriedFirmwareVersion + ", carried (" +
             std::string(CarriedImageName()) + ", " + size + ")\n";
    case Origin::Installed:
      return text + "firmware image: none carried; installed " +
             std::filesystem::path(image.name).lexically_normal().string() + " (" + size + ")\n";
    default:
      break;
  }
  if (!note.empty()) {
    return text + "firmware image: none carried; the installed one cannot be used (" + note +
           ")\n";
  }
  return text + "firmware image: none (none carried, none installed)\n";
}

}  // namespace tarven::firmware
