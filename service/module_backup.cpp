#include "service/module_backup.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <ctime>
#include <span>

#include "firmware/firmware_image.h"
#include "model/config_sector.h"
#include "model/version_text.h"
#include "platform/local_time.h"

namespace tarven::service {
namespace {

namespace dev = tarven::device;
using model::AreaId;
using model::Backup;
using model::BackupPart;

struct ImagePart {
  BackupPart part;
  AreaId area;
  ReadStage stage;
};
constexpr ImagePart kImages[] = {{BackupPart::Rom, AreaId::MainRom, ReadStage::Rom},
                                 {BackupPart::Amt, AreaId::AmtRom, ReadStage::Amt},
                                 {BackupPart::Kvp, AreaId::Kvp, ReadStage::Kvp}};

std::string UtcNow() {
  const std::tm utc = platform::UtcTime(std::time(nullptr));
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

// Progress of one step inside a whole: the step's bytes counted after `before` of `total`.
dev::Progress Within(const dev::Progress& progress, const std::uint64_t& before,
                     std::uint64_t total) {
  if (!progress) return {};
  return [&progress, &before, total](std::uint64_t done, std::uint64_t) {
    return progress(before + done, total);
  };
}

// The same, for a step that must not be stopped halfway: it is told, but cannot be stopped.
dev::Progress Told(const dev::Progress& progress, const std::uint64_t& before,
                   std::uint64_t total) {
  if (!progress) return {};
  return [&progress, &before, total](std::uint64_t done, std::uint64_t) {
    progress(before + done, total);
    return true;
  };
}

}  // namespace

ModuleReading ReadModule(dev::Link& link, Backup& backup, const dev::Progress& progress) {
  ModuleReading reading;
  const dev::StatusReading status = dev::PollStatus(link);
  if (status.presence != dev::Presence::Application) {
    reading.outcome = status.outcome;
    if (reading.outcome.ok()) reading.outcome = dev::Outcome::Failed(dev::Failure::BootLoaderOnly);
    return reading;
  }
  backup.tool_version = std::string(firmware::ToolVersion());
  backup.firmware = status.status_read
                        ? model::FirmwareVersionText(link.AppModule().FirmwareVersion)
                        : std::string(model::kNotAvailable);
  backup.bootloader = std::string(model::kNotAvailable);  // the application does not tell it
  backup.created = UtcNow();

  const std::uint64_t total = model::kSectorSize + model::Area(AreaId::MainRom).size +
                              model::Area(AreaId::AmtRom).size + model::Area(AreaId::Kvp).size +
                              model::Area(AreaId::Ram).size;
  std::uint64_t before = 0;
  const dev::Progress step = Within(progress, before, total);
  reading.failed_at = ReadStage::Sector;
  reading.outcome = dev::ReadFlashArea(link, AreaId::ConfigSector, backup.sector, step);
  if (!reading.outcome.ok()) return reading;
  before += model::kSectorSize;
  for (const ImagePart& image : kImages) {
    std::vector<std::uint8_t>& bytes = model::ImageOf(backup, image.area);
    bytes.assign(model::Area(image.area).size, 0);
    reading.failed_at = image.stage;
    reading.outcome = dev::ReadFlashArea(link, image.area, bytes, step);
    if (!reading.outcome.ok()) return reading;
    before += bytes.size();
  }
  backup.ram.assign(model::Area(AreaId::Ram).size, 0);
  // A stopped machine must not start because a file was saved.
  reading.failed_at = ReadStage::Ram;
  reading.ram_reached = true;
  reading.outcome = dev::ReadRamAsFound(link, backup.ram, reading.cnc, step);
  return reading;
}

std::string BackupArchive(const Backup& backup) {
  return model::WriteBackup(backup, static_cast<std::int64_t>(std::time(nullptr)));
}

std::string ProposedBackupName(const std::string& serial_number) {
  const std::tm local = platform::LocalTime(std::time(nullptr));
  char date[16];
  std::strftime(date, sizeof date, "%Y-%m-%d", &local);
  std::string serial;
  for (const char c : serial_number) {
    const auto byte = static_cast<unsigned char>(c);
    serial += std::isalnum(byte) != 0 || c == '-' || c == '.' ? c : '_';
  }
  // A name must not begin with a dot (hidden) nor climb out of the folder.
  if (!serial.empty() && serial.front() == '.') serial.front() = '_';
  return "tarven-" + (serial.empty() ? std::string() : serial + "-") + date + ".tar";
}

DamagedSector FindDamagedSector(const std::set<BackupPart>& parts, const Backup& backup) {
  if (parts.count(BackupPart::Config) != 0 && !model::ConfigChecksumMatches(backup.sector)) {
    return DamagedSector::ConfigBlock;
  }
  if (parts.count(BackupPart::Params) != 0 && !model::EaChecksumMatches(backup.sector)) {
    return DamagedSector::ParamTable;
  }
  return DamagedSector::None;
}

bool RestoreReport::all_done() const {
  return std::all_of(parts.begin(), parts.end(), [](const PartResult& part) { return part.done(); });
}

namespace {

// The written part's state after reading it back: `wanted` and `back` are what was meant and
// what came back, at module address `address`.
void CheckReadBack(PartResult& result, const dev::Outcome& read,
                   std::span<const std::uint8_t> wanted, std::span<const std::uint8_t> back,
                   std::uint32_t address) {
  result.read_back = read;
  if (!read.ok()) {
    result.state = PartResult::State::ReadBackFailed;
    return;
  }
  const auto differ = std::mismatch(wanted.begin(), wanted.end(), back.begin());
  if (differ.first == wanted.end()) {
    result.state = PartResult::State::Verified;
    return;
  }
  result.state = PartResult::State::Differs;
  result.first_difference = address + static_cast<std::uint32_t>(differ.first - wanted.begin());
}

PartResult RestoreSector(dev::Link& link, const Backup& backup, bool config, bool params,
                         bool verify, const dev::Progress& told, std::uint64_t& before) {
  PartResult result;
  if (config) result.parts.push_back(BackupPart::Config);
  if (params) result.parts.push_back(BackupPart::Params);
  // Both: the whole sector, byte for byte; one: only its own bytes, the rest as the module has it.
  const auto copy = [&](model::Sector sector) {
    const auto range = [&](std::size_t from, std::size_t to) {
      std::copy(backup.sector.begin() + static_cast<std::ptrdiff_t>(from),
                backup.sector.begin() + static_cast<std::ptrdiff_t>(to),
                sector.begin() + static_cast<std::ptrdiff_t>(from));
    };
    if (config && params) {
      range(0, model::kSectorSize);
    } else if (config) {
      range(0, model::kConfigChecksumOffset + 4);
    } else {
      range(model::kEaTableOffset, model::kSectorSize);
    }
    return dev::Outcome::Done();
  };
  result.written = dev::UpdateConfigSector(link, copy);
  if (!result.written.ok()) return result;
  result.state = PartResult::State::Written;
  before += model::kSectorSize;
  if (!verify) return result;
  std::array<std::uint8_t, model::kSectorSize> back{};
  const dev::Outcome read = dev::ReadFlashArea(link, AreaId::ConfigSector, back, told);
  std::array<std::uint8_t, model::kSectorSize> wanted = back;
  if (read.ok()) copy(wanted);
  CheckReadBack(result, read, wanted, back, *model::Area(AreaId::ConfigSector).address);
  return result;
}

PartResult RestoreImage(dev::Link& link, const Backup& backup, const ImagePart& image, bool verify,
                        const dev::Progress& go_on, const dev::Progress& told,
                        std::uint64_t& before) {
  PartResult result;
  result.parts = {image.part};
  const std::vector<std::uint8_t>& bytes = model::ImageOf(backup, image.area);
  result.written = dev::WriteFlashArea(link, image.area, bytes, go_on);
  if (!result.written.ok()) return result;
  result.state = PartResult::State::Written;
  before += bytes.size();
  if (!verify) return result;
  std::vector<std::uint8_t> back(bytes.size());
  const dev::Outcome read = dev::ReadFlashArea(link, image.area, back, told);
  CheckReadBack(result, read, bytes, back, *model::Area(image.area).address);
  return result;
}

}  // namespace

RestoreReport Restore(dev::Link& link, const Backup& backup, const RestoreRequest& request,
                      const dev::Progress& progress) {
  const bool config = request.parts.count(BackupPart::Config) != 0;
  const bool params = request.parts.count(BackupPart::Params) != 0;
  const bool ram = request.parts.count(BackupPart::Ram) != 0 && request.ram_bank.has_value();
  const std::uint64_t reads = request.verify ? 2 : 1;
  std::uint64_t total = config || params ? model::kSectorSize * reads : 0;
  for (const ImagePart& image : kImages) {
    if (request.parts.count(image.part) != 0) total += model::Area(image.area).size * reads;
  }
  if (ram) total += model::Area(AreaId::Ram).size;

  RestoreReport report;
  std::uint64_t before = 0;
  const dev::Progress go_on = Within(progress, before, total);
  const dev::Progress told = Told(progress, before, total);
  // Between parts: whether to go on.
  const auto next_part = [&] {
    if (!report.stopped && !dev::Report(progress, before, total)) report.stopped = true;
    return !report.stopped;
  };
  if ((config || params) && next_part()) {
    const std::uint64_t start = before;
    report.parts.push_back(
        RestoreSector(link, backup, config, params, request.verify, told, before));
    before = start + model::kSectorSize * reads;
  }
  for (const ImagePart& image : kImages) {
    if (request.parts.count(image.part) == 0) continue;
    if (!next_part()) break;
    const std::uint64_t start = before;
    report.parts.push_back(
        RestoreImage(link, backup, image, request.verify, go_on, told, before));
    if (report.parts.back().written.failure == dev::Failure::Cancelled) report.stopped = true;
    before = start + model::Area(image.area).size * reads;
  }
  if (ram && next_part()) {
    PartResult result;
    result.parts = {BackupPart::Ram};
    result.written = dev::WriteRam(link, backup.ram, *request.ram_bank, told);
    // The store restarts the module: there is nothing to read back from.
    if (result.written.ok()) result.state = PartResult::State::Written;
    report.parts.push_back(result);
    before += model::Area(AreaId::Ram).size;
  }
  if (!report.stopped) dev::Report(progress, total, total);
  return report;
}

}  // namespace tarven::service
