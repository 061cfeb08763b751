#include "journal/recorder.h"

#include <chrono>
#include <random>
#include <utility>

#include "journal/user_place.h"
#include "model/sha256.h"
#include "model/version_text.h"

namespace tarven::journal {
namespace {

// A name for one program run that no other run shares: the time and a random number.
std::string NewRunId() {
  std::random_device random;
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  return std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(now).count()) +
         "-" + std::to_string(random()) + std::to_string(random());
}

std::string ResultDetail(const device::Outcome& outcome) {
  if (outcome.failure == device::Failure::Cancelled) {
    return "stopped at byte " + std::to_string(outcome.done) + " of " +
           std::to_string(outcome.total);
  }
  std::string text = device::Describe(outcome);
  if (outcome.total > 0) {
    text += "; " + std::to_string(outcome.done) + " of " + std::to_string(outcome.total) +
            " bytes written";
  }
  return text;
}

std::string FirmwareText(std::uint32_t version) {
  if (version == 0) return {};
  return model::FirmwareVersionText(version);
}

}  // namespace

std::string CommandLine(const std::vector<std::string>& words) {
  std::string line;
  for (const std::string& word : words) {
    if (!line.empty()) line += ' ';
    const bool plain = !word.empty() && word.find_first_of(" \t\n'\"\\$`*?;&|<>(){}") ==
                                            std::string::npos;
    if (plain) {
      line += word;
      continue;
    }
    line += '\'';
    for (const char c : word) {
      if (c == '\'') {
        line += "'\\''";
      } else {
        line += c;
      }
    }
    line += '\'';
  }
  return line;
}

Record RecordOf(const device::ChangeNote& note, const Origin& origin, const std::string& run) {
  Record record;
  record.user = UserName();
  record.computer = ComputerName();
  record.program = origin.program;
  record.version = origin.version;
  record.serial = note.device.serial_number;
  record.location = note.device.usb_location;
  record.path = note.device.path;
  record.firmware = FirmwareText(note.firmware_version);
  record.operation = note.operation;
  record.detail = note.detail;
  record.arguments = origin.arguments;
  record.run = run;
  if (note.outcome.ok()) {
    record.result = "done";
  } else {
    record.result = note.outcome.failure == device::Failure::Cancelled ? "stopped" : "failed";
    record.result_detail = ResultDetail(note.outcome);
  }
  for (const device::ChangedPart& changed : note.parts) {
    Part part;
    part.name = changed.name;
    part.address = changed.address;
    part.size = changed.written.size();
    part.sha256 = model::Sha256Hex(changed.written);
    if (changed.before) part.before_sha256 = model::Sha256Hex(*changed.before);
    record.parts.push_back(std::move(part));
  }
  return record;
}

Recorder::Recorder(std::string path, Origin origin, bool read_before,
                   std::uint64_t before_state_limit)
    : path_(std::move(path)),
      origin_(std::move(origin)),
      read_before_(read_before),
      limit_(before_state_limit),
      run_(NewRunId()) {}

Recorder::~Recorder() = default;

Journal* Recorder::Opened() {
  if (!tried_open_) {
    tried_open_ = true;
    if (path_.empty()) {
      notices_.push_back("no journal was written: no data folder is known (HOME is not set)");
      warned_ = true;
      return nullptr;
    }
    Journal::Opened opened = Journal::Open(path_, limit_);
    if (!opened.moved_aside.empty()) {
      notices_.push_back("the journal " + path_ + " was damaged; it was moved to " +
                         opened.moved_aside + " and a new one started");
    }
    if (!opened.journal) {
      notices_.push_back("no journal was written: " + opened.error);
      warned_ = true;
    }
    journal_ = std::move(opened.journal);
  }
  return journal_.get();
}

void Recorder::Record(const device::ChangeNote& note) {
  journal::Record record = RecordOf(note, origin_, run_);
  std::vector<std::optional<std::vector<std::uint8_t>>> before;
  for (const device::ChangedPart& part : note.parts) before.push_back(part.before);
  const std::lock_guard<std::mutex> lock(mutex_);
  record.arguments = origin_.arguments;
  Journal* journal = Opened();
  if (journal == nullptr) return;
  std::string error;
  if (!journal->Append(record, before, error)) {
    if (!warned_) {
      notices_.push_back("the journal " + path_ + " could not be written: " + error);
      warned_ = true;
    }
    return;
  }
  last_id_ = record.id;
}

std::vector<std::string> Recorder::TakeNotices() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return std::exchange(notices_, {});
}

std::int64_t Recorder::last_id() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return last_id_;
}

void Recorder::SetArguments(std::string arguments) {
  const std::lock_guard<std::mutex> lock(mutex_);
  origin_.arguments = std::move(arguments);
}

}  // namespace tarven::journal
