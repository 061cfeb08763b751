#pragma once
// The firmware update: the application gives way to its boot loader, and the boot loader takes a
// new image. Both front ends use these: the window runs the two stages a status tick apart, and
// tarvenctl runs them in one go (UpdateFirmware).
//
// On the wire, to the application: command 6 without parameters, no answer; the module drops off
// and comes back as its boot loader. To the boot loader: command 6 with Param1 = image size and
// Param2 = size >> 16, then the image through WriteData in pieces of at most 512 bytes (eight data
// reports each), and nothing after the last piece. The loop ends after the first piece shorter
// than 512 bytes, so an image whose size is a multiple of 512 ends with an empty piece, which
// sends nothing. The boot loader takes exactly the announced number of bytes and then starts the
// new firmware by itself; the tool reads nothing back.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "device/device.h"
#include "device/operations.h"
#include "device/outcome.h"
#include "device/progress.h"

namespace tarven::device {

inline constexpr std::uint32_t kFirmwarePieceLength = 512;

// The percentage the progress bar shows after `sent` of `size` bytes: computed in floating point
// and rounded to the nearest integer, an exact half to the even neighbour (0.5 gives 0, 2.5 gives
// 2). 0 for a size of 0.
int FirmwareProgressPercent(std::uint64_t sent, std::uint64_t size);

// Opens the boot loader into `handle`, announces `image` and streams it piece by piece. `progress`
// is told once with 0 after the boot loader was found and then after every piece (the empty last
// piece included); when it asks to stop, the stream stops before the next piece and the outcome is
// Failure::Cancelled with the bytes done. A refused report stops the stream at once: the outcome
// names it and says how many bytes were sent in whole pieces. No boot loader: Failure::NoModule,
// or NoIdentify when a device with the module's ids did not identify itself; nothing is sent. An
// empty image, or one larger than a 32-bit count, is Failure::InvalidRequest and sends nothing.
// The handle is closed and invalid again on every way out.
Outcome SendFirmware(Link& link, std::span<const std::uint8_t> image,
                     const Progress& progress = {});

// Holds an update to the module it found, for as long as it lives. With several modules plugged
// in, the module leaves and comes back as its boot loader (and back again), perhaps under another
// path but at the same USB location, and another module's boot loader must never get its image.
// A link that is not pinned yet is pinned to the device its last search opened (by USB location
// where the platform tells one, by path otherwise); a pinned link keeps its pin. At the end the
// link gets back the pin it had before, or none. Sends no report.
class FollowFoundModule {
 public:
  explicit FollowFoundModule(Link& link);
  ~FollowFoundModule();
  FollowFoundModule(const FollowFoundModule&) = delete;
  FollowFoundModule& operator=(const FollowFoundModule&) = delete;

  // Whether the link is held to one device: there was a device to pin to, or a pin before.
  bool holds() const { return link_.pin().has_value(); }

 private:
  Link& link_;
  std::optional<DevicePin> before_;
};

// Makes `follow` hold `link` to the device the link's last search opened, unless it holds the link
// to a device already.
void FollowLastFound(Link& link, std::optional<FollowFoundModule>& follow);

// Asks the application to give way to its boot loader (command 6 without parameters). With
// `follow`, the update is held to the application found (FollowLastFound) before the command goes:
// once the module has dropped off, the path it was found at may be gone.
Outcome RequestBootLoader(Link& link, std::optional<FollowFoundModule>* follow = nullptr);

// How long UpdateFirmware waits for the module to change personality, and how often it looks.
struct UpdateTiming {
  std::chrono::milliseconds boot_loader_wait{10000};
  std::chrono::milliseconds return_wait{10000};
  std::chrono::milliseconds poll_interval{100};
};

// Where a whole update stopped, for a front end to put into words.
enum class UpdateStage {
  FindModule,      // neither personality answered; nothing was sent
  GiveWay,         // the application refused command 6
  WaitBootLoader,  // the boot loader did not appear within boot_loader_wait
  Transfer,        // SendFirmware failed; `outcome` says where
  Return,          // the image went, but the application did not answer its status within
                   // return_wait (`after` says whether it was found at all)
  Done,
};

struct UpdateResult {
  UpdateStage stage = UpdateStage::FindModule;
  Outcome outcome;
  // Whether the module was already in its boot loader, so that no give-way command went.
  bool was_boot_loader = false;
  // The last status poll: after the image, the personality that answers then.
  StatusReading after;
};

// Both stages in one go: the application (when it answers) is asked to give way, the boot loader
// is awaited, the image is streamed, and the module's return is awaited: done once the
// application answers its status, which tells the firmware version it runs. With the boot loader
// already present the first two steps are left out. `sleep` waits between searches (tests pass
// one that only counts).
using Sleep = std::function<void(std::chrono::milliseconds)>;
UpdateResult UpdateFirmware(Link& link, std::span<const std::uint8_t> image,
                            const Progress& progress = {}, const UpdateTiming& timing = {},
                            const Sleep& sleep = {});

}  // namespace tarven::device
