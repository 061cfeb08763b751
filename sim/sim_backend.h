#pragma once
// The simulated HID backend: a bus with the simulated module (or several) and any decoy devices,
// with fault switches for the wire and, when a test asks for it, a record of every report; for
// tests and for running the tool without hardware. Links on several threads may share it; the
// fault switches and the inspection are for one thread (a test's) while nothing else runs.

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/hid.h"
#include "device/module_lock.h"
#include "sim/simulated_module.h"

namespace tarven::sim {

struct ReportRecord {
  enum class Direction { Sent, Fetched };
  Direction direction = Direction::Sent;
  std::string path;
  std::vector<std::uint8_t> bytes;  // the 65 bytes as they crossed (as asked, for a refused fetch)
  bool accepted = true;
};

struct SimDevice {
  std::string path;
  std::uint16_t vendor_id = 0;
  std::uint16_t product_id = 0;
  std::uint16_t feature_report_length = 65;
  bool present = true;
  std::shared_ptr<SimulatedModule> module;  // null for a decoy: accepts reports, answers zeros
  std::vector<std::uint8_t> decoy_answer;   // a decoy's payload for every fetch (zeros if none)
  std::string serial_number;
  std::string usb_location;
  // errno that opening it fails with (EACCES: a missing udev rule); 0 when it opens.
  int open_error = 0;
  // The module's generation when the platform last listed it (see SetRenumberOnReattach).
  std::uint64_t listed_generation = 0;
};

class SimBackend : public hid::Backend {
 public:
  // A bus with one module at path "sim:module".
  SimBackend();

  SimulatedModule& module() { return *devices_.front().module; }
  // The locks of this bench's modules, shared by every link over this bus: the modules exist in
  // this process only, so only its links contend for them. Made on first use.
  std::shared_ptr<device::ModuleLocks> module_locks();
  std::vector<SimDevice>& devices() { return devices_; }
  // Adds a device before (front = true) or after the ones present; returns its path.
  std::string AddDecoy(std::uint16_t vendor_id, std::uint16_t product_id,
                       std::uint16_t feature_report_length, bool front = true);
  // Adds another simulated module after the ones present, with its own serial number
  // ("SIM00002", ...) and USB location ("sim-2", ...); returns its path.
  std::string AddModule(std::shared_ptr<SimulatedModule> module);

  // Every report to or from a module takes this long on the wire, as a full-speed USB control
  // transfer does (about 1 ms); 0, the default, for tests. Reports to different modules overlap
  // in time, as they do on real USB, when they come from different threads. The time is waited
  // off in batches of up to 10 ms and at the end of every exchange.
  void SetWireTime(std::chrono::microseconds wire_time) { wire_time_ = wire_time; }
  // A module that comes back after it dropped off (its other personality, a restart) gets a new
  // path, as a hidraw node may; its USB location stays.
  void SetRenumberOnReattach(bool renumber) { renumber_ = renumber; }

  // Fault switches. The Nth send, or the Nth fetch, from now on (1 = the next one) is refused.
  void RefuseNthSend(std::uint64_t n) { refuse_send_at_ = sends_ + n; }
  void RefuseNthFetch(std::uint64_t n) { refuse_fetch_at_ = fetches_ + n; }

  // A fault plan: `fault` strikes at the Nth feature report from now, sends and fetches counted
  // together (1 = the next one), whichever device it is for. Several may be armed at once.
  enum class Fault {
    Refuse,             // that report is refused
    GoSilent,           // that report and every later one to or from the module is refused
    Unplug,             // the module vanishes at that report (Replug brings it back)
    SwitchPersonality,  // the module drops off at that report and comes back as the other one
  };
  void ArmFault(std::uint64_t report, Fault fault) {
    planned_faults_.push_back({reports_ + report, fault});
  }
  void DisarmFaults() { planned_faults_.clear(); }

  // Every report to or from the module is refused while silent; the device still enumerates.
  void SetSilent(bool silent) { silent_ = silent; }
  void Unplug() { SetPresent(false); }
  void Replug() { SetPresent(true); }
  // Refuse every enumeration (the platform cannot list its devices).
  void SetEnumerationFails(bool fails) { enumeration_fails_ = fails; }
  // List every device whatever ids are asked for, as a platform without an id filter does.
  void SetListAllDevices(bool all) { list_all_ = all; }

  // Inspection. Reports are recorded only between StartRecording and StopRecording (tests), so
  // that a simulator left running for days costs nothing per report. While recording, the log
  // keeps the latest reports: past kLogLimit the older half is dropped.
  static constexpr std::size_t kLogLimit = 250000;
  void StartRecording() { recording_ = true; }
  void StopRecording() { recording_ = false; }
  const std::vector<ReportRecord>& log() const { return log_; }
  void ClearLog() { log_.clear(); }
  std::size_t OpenHandleCount() const { return handles_.size(); }
  std::uint64_t OpenCount() const { return opens_; }

  // hid::Backend
  bool Enumerate(std::uint16_t vendor_id, std::uint16_t product_id,
                 std::vector<std::string>& paths) override;
  bool EnumerateDevices(std::uint16_t vendor_id, std::uint16_t product_id,
                        std::vector<hid::DeviceInfo>& devices) override;
  hid::Handle Open(const std::string& path) override;
  std::string OpenFailureReason() const override;
  bool OpenFailureIsPermission() const override;
  void Close(hid::Handle handle) override;
  bool GetAttributes(hid::Handle handle, std::uint16_t& vendor_id,
                     std::uint16_t& product_id) override;
  bool GetFeatureReportLength(hid::Handle handle, std::uint16_t& length) override;
  bool SetFeature(hid::Handle handle, const std::uint8_t* report, std::size_t length) override;
  bool GetFeature(hid::Handle handle, std::uint8_t* report, std::size_t length) override;

 private:
  struct OpenDevice {
    std::size_t device = 0;        // index into devices_
    std::uint64_t generation = 0;  // the module's generation when opened
    bool dead = false;             // the device was unplugged since
  };
  struct PlannedFault {
    std::uint64_t at = 0;  // the value of reports_ at which it strikes
    Fault fault = Fault::Refuse;
  };
  void SetPresent(bool present);
  // Counts one report and sets off the faults planned for it; true when it is to be refused.
  bool CountReport();
  void Record(ReportRecord::Direction direction, const SimDevice* device,
              const std::uint8_t* report, std::size_t length, bool accepted);
  // The device behind a handle that still reaches it, or null.
  SimDevice* Live(hid::Handle handle);
  void RenumberReattached();
  void SpendWireTime() const;

  // Every entry from the platform's side holds it: links on several threads share the bus.
  mutable std::recursive_mutex mutex_;
  std::shared_ptr<device::ModuleLocks> module_locks_;
  std::chrono::microseconds wire_time_{0};
  bool renumber_ = false;

  std::vector<SimDevice> devices_;  // index 0 is the module
  std::vector<std::size_t> enumeration_order_{0};
  std::map<hid::Handle, OpenDevice> handles_;
  hid::Handle next_handle_ = 0x100;
  std::vector<ReportRecord> log_;
  std::uint64_t sends_ = 0;
  std::uint64_t fetches_ = 0;
  std::uint64_t refuse_send_at_ = 0;
  std::uint64_t refuse_fetch_at_ = 0;
  std::uint64_t reports_ = 0;
  std::vector<PlannedFault> planned_faults_;
  std::uint64_t opens_ = 0;
  bool recording_ = false;
  bool silent_ = false;
  bool enumeration_fails_ = false;
  bool list_all_ = false;
  int open_error_ = 0;
};

}  // namespace tarven::sim
