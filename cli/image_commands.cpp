// image read|write: the module's memory images to and from files.

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/context.h"
#include "cli/number_option.h"
#include "cli/progress_line.h"
#include "device/operations.h"
#include "model/memory_image.h"
#include "storage/file_io.h"

namespace tarven::cli {
namespace {

namespace dev = tarven::device;
using model::AreaId;

struct ImageOptions {
  std::string area;
  std::string file;
  bool force = false;
  std::string low, high;
  std::vector<std::string> chips;
  std::string bank;
  bool verify = false;
  bool yes = false;
};

// The image areas tarvenctl moves: the three flash images and the RAM.
const model::MemoryArea* ImageArea(const std::string& word) {
  const model::MemoryArea* area = model::AreaByWord(word);
  if (area == nullptr || area->id == AreaId::ConfigSector) return nullptr;
  return area;
}

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

std::string Hex32(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

// A file's first `limit` bytes and its size, or the exit status of the failure.
std::optional<int> ReadInput(Context& context, const std::string& path, std::size_t limit,
                             std::vector<std::uint8_t>& bytes, std::uint64_t& size) {
  const storage::ReadResult read = storage::ReadFilePrefix(path, limit, bytes);
  size = read.size;
  const std::string name = Shorten(path, 80);
  switch (read.status) {
    case storage::ReadStatus::Read:
      return std::nullopt;
    case storage::ReadStatus::NotRegular:
      return context.Fail("image write", "cannot read " + name + ": not a regular file");
    default:
      return context.Fail("image write",
                          "cannot read " + name + ": " + storage::SystemReason(read.error_number) +
                              "; nothing was written");
  }
}

// A file that does not hold exactly what it stands for (a whole image, or a chip's lane) is most
// likely the wrong file: it goes to the module only with --force, cut or filled as the window
// takes it. The exit status of the refusal, or nothing.
std::optional<int> CheckInputSize(Context& context, const ImageOptions& options,
                                  const std::string& path, std::uint64_t size,
                                  std::uint64_t expected, const std::string& what) {
  if (size == expected) return std::nullopt;
  const std::string name = Shorten(path, 80);
  if (!options.force) {
    return context.Fail("image write", name + " holds " + std::to_string(size) +
                                           " bytes, " + what + " " + std::to_string(expected) +
                                           "; nothing was written (--force writes it " +
                                           (size > expected ? "cut" : "on the fill") + ")");
  }
  context.err << "tarvenctl: image write: note: " << name << " holds " << size << " bytes; "
              << (size > expected ? "the first " + std::to_string(expected) + " are written"
                                  : "the rest is the fill")
              << '\n';
  return std::nullopt;
}

int Read(Context& context, const ImageOptions& options) {
  const model::MemoryArea* area = ImageArea(options.area);
  if (!options.force && storage::PathExists(options.file)) {
    return context.Fail("image read", Shorten(options.file, 80) + " exists (--force replaces it)");
  }
  std::vector<std::uint8_t> image(area->size);
  const StopOnSignals signals(context.stop);
  ProgressLine line = context.Progress("read " + std::string(area->word));
  // The RAM read leaves the CNC as it was found: a stopped machine is not started.
  dev::CncFound cnc;
  const dev::Outcome outcome =
      area->id == AreaId::Ram ? dev::ReadRamAsFound(context.link, image, cnc, std::ref(line))
                              : dev::ReadFlashArea(context.link, area->id, image, std::ref(line));
  line.Finish();
  const std::string note = area->id == AreaId::Ram ? CncNote(cnc, outcome) : std::string();
  // The file is written only once the whole image has arrived; a RAM that arrived whole is kept
  // also when the CNC could not be started again afterwards.
  const bool left_stopped = outcome.failure == dev::Failure::CncLeftStopped;
  if (!outcome.ok() && !left_stopped) {
    if (note.empty()) return context.Fail("image read", outcome);
    return context.Fail("image read", dev::Describe(outcome) + "; " + note);
  }
  const std::string name = Shorten(options.file, 80);
  const std::string stopped =
      "the CNC was left stopped: the module did not take the command to start it again (report " +
      std::to_string(outcome.report) + ", send)";
  const std::string_view bytes(reinterpret_cast<const char*>(image.data()), image.size());
  const storage::ReplaceResult saved = storage::ReplaceFile(options.file, bytes);
  if (!saved.ok()) {
    return context.Fail("image read", "cannot write " + name + ": " + saved.reason +
                                          (left_stopped ? "; " + stopped : std::string()) +
                                          (note.empty() ? std::string() : "; " + note));
  }
  if (left_stopped) return context.Fail("image read", stopped + "; the RAM was read whole into " + name);
  if (!note.empty()) context.err << "tarvenctl: image read: " << note << '\n';
  return kExitOk;
}

// Assembles the image to write on the area's start-up fill, as the window does: a whole file
// first, then chip files into their lanes.
std::optional<int> Assemble(Context& context, const ImageOptions& options,
                            const model::MemoryArea& area, std::vector<std::uint8_t>& image) {
  image.assign(area.size, area.startup_fill);
  std::vector<std::uint8_t> bytes;
  std::uint64_t size = 0;
  if (!options.file.empty()) {
    if (auto failed = ReadInput(context, options.file, area.size, bytes, size)) return failed;
    if (auto refused = CheckInputSize(context, options, options.file, size, area.size,
                                      "the " + std::string(area.word) + " image holds")) {
      return refused;
    }
    model::ImportWholeImage(image, bytes);
  }
  std::vector<std::pair<std::string, std::string>> chips;
  if (!options.low.empty()) chips.emplace_back("D83", options.low);
  if (!options.high.empty()) chips.emplace_back("D82", options.high);
  for (const std::string& chip : options.chips) {
    const auto equals = chip.find('=');
    chips.emplace_back(Upper(chip.substr(0, equals)),
                       equals == std::string::npos ? std::string() : chip.substr(equals + 1));
  }
  for (const auto& [chip, path] : chips) {
    const model::ChipLane* lane = model::LaneByChip(area, chip);
    if (lane == nullptr || path.empty()) {
      std::string known;
      for (const model::ChipLane& l : area.lanes)
        known += (known.empty() ? "" : ", ") + std::string(l.chip);
      context.err << "tarvenctl: image write: '" << Shorten(chip + "=" + path) << "': "
                  << (known.empty() ? "the " + std::string(area.word) + " image has no chip files"
                                    : "chips of " + std::string(area.word) + " are " + known)
                  << '\n';
      return kExitUsage;
    }
    if (auto failed = ReadInput(context, path, lane->words, bytes, size)) return failed;
    if (auto refused = CheckInputSize(context, options, path, size, lane->words,
                                      "chip " + std::string(lane->chip) + " holds")) {
      return refused;
    }
    model::ImportChipLane(image, *lane, bytes);
  }
  if (options.file.empty() && chips.empty()) {
    context.err << "tarvenctl: image write: give FILE, or chip files with --low/--high or --chip\n";
    return kExitUsage;
  }
  return std::nullopt;
}

int Write(Context& context, const ImageOptions& options) {
  const model::MemoryArea* area = ImageArea(options.area);
  const bool ram = area->id == AreaId::Ram;
  if (ram == options.bank.empty() || (ram && options.bank != "main" && options.bank != "reserve")) {
    context.err << "tarvenctl: image write: "
                << (ram ? "the ram needs --bank main or --bank reserve"
                        : "--bank is for the ram only")
                << '\n';
    return kExitUsage;
  }
  if (ram && options.verify) {
    context.err << "tarvenctl: image write: --verify is for the flash images\n";
    return kExitUsage;
  }
  std::vector<std::uint8_t> image;
  if (auto failed = Assemble(context, options, *area, image)) return *failed;
  const char* question =
      ram ? "Записать в ОЗУ и энергонезависимую память Тарвен?" : "Записать в ППЗУ Тарвен?";
  if (auto refused = context.RefuseUnconfirmed("image write", question, options.yes)) {
    return *refused;
  }
  const StopOnSignals signals(context.stop);
  ProgressLine line = context.Progress("write " + std::string(area->word));
  dev::Outcome outcome =
      ram ? dev::WriteRam(context.link, image,
                          options.bank == "main" ? dev::RamBank::Main : dev::RamBank::Reserve,
                          std::ref(line))
          : dev::WriteFlashArea(context.link, area->id, image, std::ref(line));
  line.Finish();
  if (!outcome.ok()) return context.Fail("image write", outcome);
  if (!options.verify) return kExitOk;

  std::vector<std::uint8_t> back(area->size);
  ProgressLine reading = context.Progress("verify " + std::string(area->word));
  outcome = dev::ReadFlashArea(context.link, area->id, back, std::ref(reading));
  reading.Finish();
  if (!outcome.ok()) return context.Fail("image write: verify", outcome);
  const auto differs = std::mismatch(image.begin(), image.end(), back.begin());
  if (differs.first != image.end()) {
    const auto offset = static_cast<std::uint32_t>(differs.first - image.begin());
    return context.Fail("image write: verify", "differs at " + Hex32(*area->address + offset) +
                                                   " (written " + Hex32(*differs.first).substr(8) +
                                                   ", read " + Hex32(*differs.second).substr(8) +
                                                   ")");
  }
  context.out << "verified\n";
  return kExitOk;
}

}  // namespace

void RegisterImageCommands(CLI::App& app, Action& action) {
  auto options = std::make_shared<ImageOptions>();
  CLI::App* image = app.add_subcommand("image", "the module's memory images and files");
  image->require_subcommand(1);
  const auto area_check = CLI::IsMember({"rom", "amt", "kvp", "ram"});

  CLI::App* read = image->add_subcommand("read", "read an image from the module into a file");
  read->add_option("area", options->area, "rom, amt, kvp or ram")->required()->check(area_check);
  read->add_option("file", options->file, "the file to write")
      ->required()
      ->check(NotEmpty("the file name"));
  read->add_flag("--force", options->force, "replace an existing file");
  read->callback(
      [&action, options] { action = [options](Context& c) { return Read(c, *options); }; });

  CLI::App* write = image->add_subcommand("write", "write an image from files into the module");
  write->add_option("area", options->area, "rom, amt, kvp or ram")->required()->check(area_check);
  write->add_option("file", options->file, "a whole-image file")->check(NotEmpty("the file name"));
  write->add_option("--low", options->low, "rom: the low-byte chip file (D83)")
      ->type_name("FILE")
      ->check(NotEmpty("the file name"));
  write->add_option("--high", options->high, "rom: the high-byte chip file (D82)")
      ->type_name("FILE")
      ->check(NotEmpty("the file name"));
  write
      ->add_option("--chip", options->chips,
                   "a chip file by its chip: D83, D82, D76, D77, D74, D75")
      ->type_name("CHIP=FILE");
  write->add_option("--bank", options->bank, "ram: the non-volatile bank, main or reserve");
  write->add_flag("--verify", options->verify, "flash: read the area back and compare");
  write->add_flag("--force", options->force,
                  "write a file of another size than its image or chip: cut, or on the fill");
  write->add_flag("-y,--yes", options->yes, "do not ask before writing");
  write->callback(
      [&action, options] { action = [options](Context& c) { return Write(c, *options); }; });
}

}  // namespace tarven::cli
