#pragma once
// Which firmware image an update sends, and from where it comes. In this order: a file the user
// names (--firmware FILE); the image built into the program (carried_image.h); a data file
// installed beside the program; and, only for the simulated module, a stand-in image that the
// program makes itself, so that the whole update can be watched without the maker's image. The
// tool never looks into an image: it goes to the boot loader byte for byte as it was found.
//
// The stand-in is not firmware. It begins with a text that says so, and CheckImageForLink refuses
// any image that begins that way for a real module, however it was given (a copy of it saved as
// a file and named with --firmware as well).

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/memory_areas.h"

namespace tarven::firmware {

// The module's flash begins here; the application's image fills it up to the data areas.
inline constexpr std::uint32_t kModuleFlashStart = 0x08000000;
// The largest image that fits below the module's data areas (219,136 bytes).
inline constexpr std::uint32_t kMaxImageSize = model::kFlashBase - kModuleFlashStart;

// The stand-in's size: that of the shipped release image.
inline constexpr std::uint32_t kSyntheticImageSize = 206728;
// The name of the installed data file.
inline constexpr const char* kInstalledImageName = "tarven-firmware.bin";

enum class Origin { None, File, Carried, Installed, Synthetic };

struct Image {
  Origin origin = Origin::None;
  std::string name;  // the file's path, or what the image is, for messages
  std::vector<std::uint8_t> bytes;

  bool empty() const { return bytes.empty(); }
};

// The stand-in image for the simulated module: kSyntheticImageSize bytes, the same every time.
Image SyntheticImage();
bool IsSyntheticImage(std::span<const std::uint8_t> bytes);

// Reads an image file: an ordinary file of 1 to kMaxImageSize bytes. False with a one-line reason
// ("FILE: ...") otherwise.
bool LoadImageFile(const std::string& path, Image& image, std::string& error);

// The folder of the running program ("" when it cannot be told), and the places where an
// installed image is looked for: beside the program, and in ../share/tarven from it.
std::string ProgramFolder();
std::vector<std::string> InstalledImagePaths(const std::string& program_folder);

struct ImageQuery {
  std::string file;            // --firmware FILE; empty when not given
  bool simulated = false;      // the link is the simulated module
  std::string program_folder;  // where to look for an installed image; empty: nowhere
};

// Finds the image in the order above. False with a reason only when the named file cannot be used.
// Otherwise true, and `image` is the one found, or of Origin::None when there is none; then `note`
// says why an installed file that was there could not be used (empty when there was none).
bool FindImage(const ImageQuery& query, Image& image, std::string& error, std::string* note = {});

// Whether FindImage would find an image, told without reading one: a named file, the carried
// image, an installed file that is there, or the stand-in for the simulated link. (An installed
// file that cannot be used counts; FindImage then finds none.)
bool ImageMayBeFound(const ImageQuery& query);

// Whether `image` may go over this link: never the stand-in to a real module. False with a
// one-line reason.
bool CheckImageForLink(const Image& image, bool simulated, std::string& error);

// The tool's version ("4.54"), which the build takes from the project.
std::string_view ToolVersion();

// What `--version` prints, two lines: "PROGRAM VERSION", and which firmware image an update
// sends without --firmware: the carried one with its version, or an installed file, or none.
std::string VersionText(std::string_view program, const std::string& program_folder);

}  // namespace tarven::firmware
