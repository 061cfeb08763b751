#include "journal/undo.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <string>

#include "device/operations.h"
#include "model/memory_areas.h"
#include "model/sha256.h"

namespace tarven::journal {
namespace {

// One part to put back: where it lives, what the command wrote, what was there before.
struct Step {
  const model::MemoryArea* area = nullptr;
  device::RamBank bank = device::RamBank::Main;
  std::string written_sha256;
  std::vector<std::uint8_t> before;
};

const model::MemoryArea* AreaOf(const std::string& name) {
  return model::AreaByWord(name);
}

device::Outcome ReadPart(device::Link& link, const Step& step, std::vector<std::uint8_t>& bytes) {
  bytes.assign(step.area->size, 0);
  if (step.area->id == model::AreaId::Ram) {
    // The CNC is left as it was found.
    device::CncFound found;
    return device::ReadRamAsFound(link, bytes, found);
  }
  return device::ReadFlashArea(link, step.area->id, bytes);
}

device::Outcome WritePart(device::Link& link, const Step& step) {
  switch (step.area->id) {
    case model::AreaId::Ram:
      return device::WriteRam(link, step.before, step.bank);
    case model::AreaId::ConfigSector:
      return device::UpdateConfigSector(link, [&step](model::Sector sector) {
        std::copy(step.before.begin(), step.before.end(), sector.begin());
        return device::Outcome::Done();
      });
    default:
      return device::WriteFlashArea(link, step.area->id, step.before);
  }
}

// The link's recorder for the length of an undo: every change it notes says which record it
// undoes, whichever program ran it (the window's records carry no command of their own).
class UndoNotes final : public device::ChangeRecorder {
 public:
  UndoNotes(device::Link& link, std::int64_t id)
      : link_(link), inner_(link.shared_change_recorder()), mark_("undo of record " + std::to_string(id)) {}
  ~UndoNotes() override = default;
  UndoNotes(const UndoNotes&) = delete;
  UndoNotes& operator=(const UndoNotes&) = delete;

  bool ReadsBeforeState() const override { return inner_->ReadsBeforeState(); }
  bool AsksFirmwareVersion() const override { return inner_->AsksFirmwareVersion(); }
  void Record(const device::ChangeNote& note) override {
    device::ChangeNote marked = note;
    marked.detail = marked.detail.empty() ? mark_ : marked.detail + "; " + mark_;
    inner_->Record(marked);
  }

  // Hangs `notes` on its link for as long as the scope lasts (nothing when the link has no
  // recorder).
  class Scope {
   public:
    explicit Scope(const std::shared_ptr<UndoNotes>& notes) : notes_(notes) {
      if (notes_->inner_) notes_->link_.SetChangeRecorder(notes_);
    }
    ~Scope() {
      if (notes_->inner_) notes_->link_.SetChangeRecorder(notes_->inner_);
    }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    std::shared_ptr<UndoNotes> notes_;
  };

 private:
  device::Link& link_;
  std::shared_ptr<device::ChangeRecorder> inner_;
  std::string mark_;
};

UndoResult Status(UndoStatus status, std::string part = {}, std::string detail = {},
                  device::Outcome outcome = {}) {
  UndoResult result;
  result.status = status;
  result.part = std::move(part);
  result.detail = std::move(detail);
  result.outcome = std::move(outcome);
  return result;
}

bool Undoable(const Record& record) {
  return std::any_of(record.parts.begin(), record.parts.end(), [](const Part& part) {
    return part.before_kept && AreaOf(part.name) != nullptr;
  });
}

}  // namespace

namespace {

// The parts record `id`'s command wrote whose before-states are kept, newest first, so that a
// part written twice ends as it was before the first write. Nothing, with `failed` set, when the
// journal cannot say or keeps nothing to put back.
std::optional<std::vector<Step>> PlanSteps(Journal& journal, const Record& record,
                                           UndoResult& failed) {
  std::string error;
  std::vector<Record> run;
  if (!journal.RunRecords(record, run, error)) {
    failed = Status(UndoStatus::JournalError, {}, error);
    return std::nullopt;
  }
  std::vector<Step> steps;
  for (auto each = run.rbegin(); each != run.rend(); ++each) {
    for (std::size_t i = each->parts.size(); i-- > 0;) {
      const Part& part = each->parts[i];
      const model::MemoryArea* area = AreaOf(part.name);
      if (!part.before_kept || area == nullptr) continue;
      auto before = journal.BeforeState(each->id, i, error);
      if (!before) {
        if (error.empty()) continue;
        failed = Status(UndoStatus::JournalError, {}, error);
        return std::nullopt;
      }
      if (before->size() != area->size) {
        failed = Status(UndoStatus::JournalError, part.name,
                        "the kept bytes of " + part.name + " are not of its size");
        return std::nullopt;
      }
      Step step;
      step.area = area;
      // "bank reserve", or "bank reserve; undo of record 7" for an undo's own write.
      step.bank = each->detail.rfind("bank reserve", 0) == 0 ? device::RamBank::Reserve
                                                             : device::RamBank::Main;
      step.written_sha256 = part.sha256;
      step.before = std::move(*before);
      steps.push_back(std::move(step));
    }
  }
  if (steps.empty()) {
    failed = Status(UndoStatus::NothingKept, {},
                    "record " + std::to_string(record.id) + " has no kept before-state to put back");
    return std::nullopt;
  }
  return steps;
}

// Whether the module reached is the one the record names and still holds what the command left
// there (for a part written twice, the newest write, which comes first); why not otherwise.
std::optional<UndoResult> RefuseChanged(device::Link& link, const Record& record,
                                        const std::vector<Step>& steps) {
  std::vector<const model::MemoryArea*> checked;
  for (const Step& step : steps) {
    if (std::find(checked.begin(), checked.end(), step.area) != checked.end()) continue;
    checked.push_back(step.area);
    const std::string name(step.area->word);
    std::vector<std::uint8_t> now;
    const device::Outcome read = ReadPart(link, step, now);
    if (!read.ok() && read.failure != device::Failure::CncLeftStopped) {
      return Status(UndoStatus::Failed, name, "reading " + name + " failed", read);
    }
    if (checked.size() == 1 && link.LastOpened().serial_number != record.serial) {
      return Status(UndoStatus::OtherModule, {},
                    "the module reached has serial number '" + link.LastOpened().serial_number +
                        "', the record's is '" + record.serial +
                        "'; --force writes to it all the same");
    }
    if (model::Sha256Hex(now) != step.written_sha256) {
      return Status(UndoStatus::Changed, name,
                    name + " no longer holds what record " + std::to_string(record.id) +
                        "'s command wrote; --force puts the old bytes back all the same");
    }
  }
  return std::nullopt;
}

// Writes every step's before-state, in order; the parts put back go into `result`.
std::optional<UndoResult> PutBack(device::Link& link, const std::vector<Step>& steps,
                                  UndoResult& result) {
  for (const Step& step : steps) {
    const std::string name(step.area->word);
    const device::Outcome written = WritePart(link, step);
    if (!written.ok()) {
      UndoResult failed = Status(UndoStatus::Failed, name, "writing " + name + " failed", written);
      failed.restored = result.restored;
      return failed;
    }
    result.restored.push_back(name);
  }
  return std::nullopt;
}

// Reads every part back: the last step written to a part decides what it holds.
std::optional<UndoResult> CheckPutBack(device::Link& link, const std::vector<Step>& steps,
                                       const UndoResult& result) {
  for (std::size_t i = steps.size(); i-- > 0;) {
    const Step& step = steps[i];
    const std::string name(step.area->word);
    bool later = false;
    for (std::size_t j = i + 1; j < steps.size(); ++j) later = later || steps[j].area == step.area;
    if (later) continue;
    std::vector<std::uint8_t> now;
    const device::Outcome read = ReadPart(link, step, now);
    if (!read.ok() && read.failure != device::Failure::CncLeftStopped) {
      return Status(UndoStatus::Failed, name, "reading back " + name + " failed", read);
    }
    if (now != step.before) {
      UndoResult differs = Status(UndoStatus::NotVerified, name,
                                  name + " reads back different from what was put back");
      differs.restored = result.restored;
      return differs;
    }
  }
  return std::nullopt;
}

}  // namespace

UndoResult Undo(device::Link& link, Journal& journal, std::int64_t id, bool force) {
  std::string error;
  const std::optional<Record> record = journal.Get(id, error);
  if (!record) {
    if (!error.empty()) return Status(UndoStatus::JournalError, {}, error);
    return Status(UndoStatus::NoSuchRecord, {}, "the journal has no record " + std::to_string(id));
  }
  UndoResult result;
  const std::optional<std::vector<Step>> steps = PlanSteps(journal, *record, result);
  if (!steps) return result;
  // The module stays this undo's from the first check to the last read back.
  const device::Link::Hold hold(link);
  if (!force) {
    if (auto refused = RefuseChanged(link, *record, *steps)) return *refused;
  }
  {
    const UndoNotes::Scope marked(std::make_shared<UndoNotes>(link, id));
    if (auto failed = PutBack(link, *steps, result)) return *failed;
  }
  if (auto differs = CheckPutBack(link, *steps, result)) return *differs;
  return result;
}

std::int64_t LastUndoable(Journal& journal, const std::string& serial, std::string& error) {
  Filter filter;
  filter.device = serial;
  std::vector<Record> records;
  if (!journal.List(filter, records, error)) return 0;
  for (auto record = records.rbegin(); record != records.rend(); ++record) {
    if (Undoable(*record)) return record->id;
  }
  return 0;
}

std::string Describe(const UndoResult& result) {
  if (result.status == UndoStatus::Done) {
    std::string parts;
    for (const std::string& part : result.restored) parts += (parts.empty() ? "" : ", ") + part;
    return "put back " + parts + "; each read back as it was";
  }
  std::string text = result.detail;
  if (!result.outcome.ok()) text += ": " + device::Describe(result.outcome);
  return text;
}

}  // namespace tarven::journal
