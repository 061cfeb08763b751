#pragma once
// The module link: the two USB personalities of the module, the search that finds and identifies
// one of them, the command frame and the data stream in both directions.
//
// Command frame (65-byte feature report): byte 0 report id 0, byte 1 marker 0x55, byte 2 Code,
// bytes 3..14 Param1..Param3 little-endian, bytes 15..64 zero.
// Data report: byte 0 report id 0, bytes 1..64 the next bytes of the stream.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/change_journal.h"
#include "device/hid.h"
#include "device/module_lock.h"
#include "model/memory_areas.h"

namespace tarven::device {

using hid::Handle;
using hid::kInvalidHandle;

// One USB personality of the module.
struct TModuleId {
  bool Found = false;
  std::uint16_t VendorId = 0;
  std::uint16_t ProductId = 0;
  std::uint16_t DeviceCode = 0;
  std::uint32_t BootVersion = 0;
  std::uint32_t FirmwareVersion = 0;
};

#pragma pack(push, 1)
struct TModuleCommand {
  std::uint8_t Code = 0;
  std::uint32_t Param1 = 0;
  std::uint32_t Param2 = 0;
  std::uint32_t Param3 = 0;
};
#pragma pack(pop)
static_assert(sizeof(TModuleCommand) == 13, "TModuleCommand is a packed record");

inline constexpr std::uint16_t kModuleVendorId = 0x03EB;
inline constexpr std::uint16_t kModuleProductId = 0x6202;
inline constexpr std::uint16_t kAppDeviceCode = 0x3B03;
inline constexpr std::uint16_t kBootDeviceCode = 0x3B01;
inline constexpr std::uint16_t kModuleFeatureReportLength = 65;
inline constexpr std::uint8_t kCommandMarker = 0x55;
inline constexpr std::uint32_t kMaxBlockLength = 2048;
inline constexpr std::uint32_t kReportPayload = 64;

// Command codes.
inline constexpr std::uint8_t CmdIdentify = 1;
inline constexpr std::uint8_t CmdStatus = 2;
inline constexpr std::uint8_t CmdUpdate = 6;
inline constexpr std::uint8_t CmdFirmwareVersion = 7;
inline constexpr std::uint8_t CmdEndBlock = 8;
inline constexpr std::uint8_t CmdBeginBlock = 9;
inline constexpr std::uint8_t CmdReadFlash = 10;
inline constexpr std::uint8_t CmdStopCnc = 12;
inline constexpr std::uint8_t CmdRestart = 13;
inline constexpr std::uint8_t CmdWriteRegister = 14;
inline constexpr std::uint8_t CmdReadRegister = 15;
inline constexpr std::uint8_t CmdStartCnc = 16;
inline constexpr std::uint8_t CmdReadRam = 17;
inline constexpr std::uint8_t CmdWriteRam = 18;
inline constexpr std::uint8_t CmdStoreRam = 19;
inline constexpr std::uint8_t CmdExtDacOn = 20;
inline constexpr std::uint8_t CmdExtDacOff = 21;
inline constexpr std::uint8_t CmdReadEaInputs = 22;
inline constexpr std::uint8_t CmdReadEaOutputs = 23;

// Module flash map, back to back (the memory-area table holds it; these are its names here).
inline constexpr std::uint32_t kMainRomAddress = *model::Area(model::AreaId::MainRom).address;
inline constexpr std::uint32_t kAmtRomAddress = *model::Area(model::AreaId::AmtRom).address;
inline constexpr std::uint32_t kKvpAddress = *model::Area(model::AreaId::Kvp).address;
inline constexpr std::uint32_t kConfigSectorAddress =
    *model::Area(model::AreaId::ConfigSector).address;
inline constexpr std::uint32_t kMainRomSize = model::Area(model::AreaId::MainRom).size;
inline constexpr std::uint32_t kAmtRomSize = model::Area(model::AreaId::AmtRom).size;
inline constexpr std::uint32_t kKvpSize = model::Area(model::AreaId::Kvp).size;
inline constexpr std::uint32_t kConfigSectorSize = model::Area(model::AreaId::ConfigSector).size;
inline constexpr std::uint32_t kRamSize = model::Area(model::AreaId::Ram).size;

// What the last search saw on its way, so that a front end can say why it found nothing. The
// search itself still answers only with its handle and the record's Found.
struct SearchReport {
  // Devices with the module's ids and feature report length that were sent the identify command.
  unsigned identified = 0;
  // Of those: the identify exchange was refused, or answered with a code of neither personality.
  unsigned not_answering = 0;
  // Of those: answered as the application, or as the boot loader.
  unsigned applications = 0;
  unsigned boot_loaders = 0;
  // Devices with the module's ids that could not be opened (on Linux, most often for want of a
  // udev rule), with the system's reason.
  struct Unopened {
    std::string path;
    std::string reason;
    bool permission = false;  // refused for want of permission
  };
  std::vector<Unopened> unopened;
  // A device that another program holds, where the search stopped without sending it a report:
  // a later device would not be the first that passes.
  struct Busy {
    std::string path;
    std::string location;  // empty when the platform does not tell
    LockHolder holder;
  };
  std::optional<Busy> busy;
};

// The name of the lock that keeps other programs off a device: its USB location, which stays
// the same while the module goes into its boot loader and back, or its path where the platform
// tells no location.
std::string LockKey(const hid::DeviceInfo& device);
// One device among several with the module's ids: the one a link is held to. A location is the
// same for whatever is plugged into that port, so a module is followed by it through its boot
// loader and back, while its path may change on the way.
struct DevicePin {
  enum class By { Path, Location, Serial };
  By by = By::Path;
  std::string value;
};

// "location 1-2.3", "path /dev/hidraw3", "serial T0042".
std::string DescribePin(const DevicePin& pin);

// One link to a module: the HID access it goes through, the module's two personalities as the
// last search left them, the handle of the exchange in progress, and the count of reports. Every
// front end owns its links; several live side by side (one per module), and nothing of a link is
// kept anywhere else. Used from one thread at a time.
class Link {
 public:
  // A link over `backend`; with none, every search finds nothing and every transfer fails.
  explicit Link(std::shared_ptr<hid::Backend> backend);
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;
  // Closes the handle of an exchange still in progress.
  ~Link();

  hid::Backend* backend() const { return backend_.get(); }

  // The two personalities as the last search and the last status left them, set up by
  // ResetModuleRecords (a new link starts with them reset). Only the device layer writes them
  // (through LinkAccess).
  const TModuleId& AppModule() const { return app_module_; }
  const TModuleId& BootModule() const { return boot_module_; }
  void ResetModuleRecords();

  // The handle of the module exchange in progress, kInvalidHandle otherwise. The operations open
  // it, use it and close it again on every way out.
  const Handle& HidHandle() const { return hid_handle_; }

  // Searches the present HID devices for the personality that `module` describes. Checks, in this
  // order: vendor and product id, feature report length 65, the answer to CmdIdentify. Returns the
  // open handle of the first device that passes and sets module.Found; otherwise kInvalidHandle
  // and Found false. Every device skipped after it was opened is closed again. With a pin, only
  // the device it names is considered. A search that stops at a device another program holds
  // (see SetModuleLocks) returns kInvalidHandle and leaves Found as it was.
  Handle OpenModule(TModuleId& module);

  const SearchReport& LastSearch() const { return last_search_; }
  // The device the last search opened (empty when it opened none).
  const hid::DeviceInfo& LastOpened() const { return last_opened_; }

  // Where the operations that change the module note what they did; null for nowhere.
  void SetChangeRecorder(std::shared_ptr<ChangeRecorder> recorder) {
    recorder_ = std::move(recorder);
  }
  ChangeRecorder* change_recorder() const { return recorder_.get(); }
  const std::shared_ptr<ChangeRecorder>& shared_change_recorder() const { return recorder_; }

  // Holds every later search to one device, or (with nothing) lets it take the first that
  // passes, as it does by default.
  void Pin(std::optional<DevicePin> pin) { pin_ = std::move(pin); }
  const std::optional<DevicePin>& pin() const { return pin_; }
  // Pins the link to the device its last search opened, by its USB location where the platform
  // tells one and by its path otherwise. False when there is none to pin to. Sends no report.
  bool PinToLastOpened();

  // Sends CmdIdentify over an open handle and returns the device code it answers, or nothing
  // when the exchange is refused.
  std::optional<std::uint16_t> Identify(Handle handle);

  // Feature reports this link has sent or asked for, refused ones included. An operation numbers
  // its reports from the count at its start.
  std::uint64_t ReportsExchanged() const { return reports_exchanged_; }

  // Closes the handle (when valid) and sets it to kInvalidHandle. Lets go of the module's lock
  // unless a Hold keeps it.
  void CloseModule(Handle& handle);
  // Closes the handle of the exchange in progress, if any.
  void CloseModule() { CloseModule(hid_handle_); }

  // One program per module at a time. With locks set, a search takes a device's lock before it
  // sends it anything; it waits up to the lock wait for a device another program holds, and then
  // stops there (LastSearch().busy says who holds it). The lock of the device a search opened is
  // kept until the handle is closed, or while a Hold lives until the last Hold ends; the locks
  // of devices passed over are let go at once. Without locks nothing is locked.
  void SetModuleLocks(std::shared_ptr<ModuleLocks> locks) { locks_ = std::move(locks); }
  const std::shared_ptr<ModuleLocks>& module_locks() const { return locks_; }
  void SetLockWait(std::chrono::milliseconds wait) { lock_wait_ = wait; }
  std::chrono::milliseconds lock_wait() const { return lock_wait_; }
  // Told whenever a search finds its device held by another program (the window says so).
  void SetBusyHandler(std::function<void(const SearchReport::Busy&)> handler) {
    busy_handler_ = std::move(handler);
  }

  // Keeps every module lock this link takes from its construction to its end, across handles:
  // a command that talks to its module in several exchanges holds it for its whole length.
  // Holds nest.
  class Hold {
   public:
    explicit Hold(Link& link) : link_(link) { ++link_.hold_depth_; }
    ~Hold() {
      if (--link_.hold_depth_ == 0) link_.held_locks_.clear();
    }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

   private:
    Link& link_;
  };

  enum class LockState {
    Taken,        // taken now
    AlreadyHeld,  // this link held it already
    Busy,         // another holder has it (`holder` says who)
    Unlocked,     // no locks, or the lock folder cannot be used: go on unlocked
  };
  // Takes the lock of `device` for this link, waiting until `deadline` while another holds it.
  LockState LockDevice(const hid::DeviceInfo& device, std::chrono::steady_clock::time_point deadline,
                       LockHolder& holder);
  // Lets go of the lock of `device` (one passed over).
  void UnlockDevice(const hid::DeviceInfo& device) { held_locks_.erase(LockKey(device)); }

  // Sends one command frame. False with the invalid handle or when the device refuses it.
  bool SendCommand(Handle handle, const TModuleCommand& command);

  // Fetches count / 64 + 1 data reports and copies `count` payload bytes into `buffer`. False as
  // soon as a fetch fails (the bytes copied so far stay). The invalid handle fetches nothing and
  // returns true.
  bool ReadData(Handle handle, void* buffer, std::uint32_t count);
  // The same exchange, calling `after_fetch` with the bytes copied so far after every fetch.
  bool ReadData(Handle handle, void* buffer, std::uint32_t count,
                const std::function<void(std::uint32_t copied)>& after_fetch);

  // Streams `length` bytes as data reports of 64 (the last one shorter). False as soon as a
  // report is refused; true when all went, and also with the invalid handle or a length of 0.
  bool WriteData(Handle handle, const void* data, std::uint32_t length);

  // Stores `length` bytes at module address `address` in blocks of at most 2048 bytes: each block
  // is announced by CmdBeginBlock (checksum, address, length), streamed, and closed by CmdEndBlock
  // with the same values. Every block is announced, streamed and closed whatever happened to the
  // ones before it. Returns true when every report of every block was accepted; otherwise, when
  // `first_refused` is given, it receives the ReportsExchanged() number of the first refused one.
  bool WriteBlock(Handle handle, const void* data, std::uint32_t length, std::uint32_t address,
                  std::uint64_t* first_refused = nullptr);

 private:
  friend struct LinkAccess;
  TModuleId app_module_{};
  TModuleId boot_module_{};
  Handle hid_handle_ = kInvalidHandle;

  bool Send(Handle handle, const std::uint8_t* report);
  bool Fetch(Handle handle, std::uint8_t* report);
  bool IsPersonality(Handle handle, const TModuleId& module);

  // The paths of the present devices with the module's ids, held to the pin when there is one.
  bool Candidates(const TModuleId& module, std::vector<hid::DeviceInfo>& devices);

  std::shared_ptr<hid::Backend> backend_;
  std::shared_ptr<ModuleLocks> locks_;
  std::chrono::milliseconds lock_wait_{0};
  std::function<void(const SearchReport::Busy&)> busy_handler_;
  std::map<std::string, std::unique_ptr<HeldLock>> held_locks_;
  int hold_depth_ = 0;
  std::optional<DevicePin> pin_;
  std::string last_opened_path_;
  hid::DeviceInfo last_opened_;
  std::shared_ptr<ChangeRecorder> recorder_;
  SearchReport last_search_;
  std::uint64_t reports_exchanged_ = 0;
};

// How a front end's link reaches the module: the platform's USB access, or a simulated module's
// bus, with every report traced or not. Both programs make their links here.
struct LinkOptions {
  // The simulated module's bus; null for the platform's USB access.
  std::shared_ptr<hid::Backend> simulated;
  // Every feature report in hex with its direction is written here when set.
  std::ostream* trace = nullptr;
  // The module locks the link takes (see Link::SetModuleLocks), and how long a search waits for
  // a module another program holds.
  std::shared_ptr<ModuleLocks> locks;
  std::chrono::milliseconds lock_wait{0};
  // Where the link's changes to the module are noted (see SetChangeRecorder).
  std::shared_ptr<ChangeRecorder> recorder;
};
// A link as the options ask. Where the platform's HID access cannot be had, the link finds no
// module.
std::unique_ptr<Link> MakeLink(const LinkOptions& options);

// Closes and invalidates a handle variable of a link on every way out of a scope.
class HandleGuard {
 public:
  HandleGuard(Link& link, Handle& handle) : link_(link), handle_(handle) {}
  ~HandleGuard() { link_.CloseModule(handle_); }
  HandleGuard(const HandleGuard&) = delete;
  HandleGuard& operator=(const HandleGuard&) = delete;

 private:
  Link& link_;
  Handle& handle_;
};

}  // namespace tarven::device
