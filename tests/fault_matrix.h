#pragma once
// The fault matrix shared by both front ends: the faults and where in an operation they strike,
// found from the reports of a clean run of that operation; the module and files as a cell sees
// them before and after; and the table the matrix prints.

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "model/config_sector.h"
#include "sim/sim_backend.h"

namespace tarven::testing::matrix {

namespace fs = std::filesystem;
using Fault = sim::SimBackend::Fault;
using Log = std::vector<sim::ReportRecord>;

enum class Where { Send, Fetch, Any };
enum class At { First, Middle, Last };

struct Column {
  const char* name;
  Fault fault;
  Where where;  // which of the operation's reports the position counts
  At at;
};

// A refused send, a lost answer (a refused fetch) and the module unplugged, each at the first,
// middle and last report of its kind; and the module turning into its other personality halfway.
inline const std::vector<Column>& Columns() {
  static const std::vector<Column> columns = {
      {"send 1st", Fault::Refuse, Where::Send, At::First},
      {"send mid", Fault::Refuse, Where::Send, At::Middle},
      {"send last", Fault::Refuse, Where::Send, At::Last},
      {"lost 1st", Fault::Refuse, Where::Fetch, At::First},
      {"lost mid", Fault::Refuse, Where::Fetch, At::Middle},
      {"lost last", Fault::Refuse, Where::Fetch, At::Last},
      {"unplug 1st", Fault::Unplug, Where::Any, At::First},
      {"unplug mid", Fault::Unplug, Where::Any, At::Middle},
      {"unplug last", Fault::Unplug, Where::Any, At::Last},
      {"switch mid", Fault::SwitchPersonality, Where::Any, At::Middle},
  };
  return columns;
}

// The report (counting from 1 over every report of the run, as the fault plan counts) at which
// `column` strikes in a run that exchanged `log`; 0 when the run has no report of that kind.
inline std::uint64_t ReportFor(const Log& log, const Column& column) {
  std::vector<std::uint64_t> reports;
  for (std::size_t i = 0; i < log.size(); ++i) {
    const bool sent = log[i].direction == sim::ReportRecord::Direction::Sent;
    if (column.where == Where::Any || sent == (column.where == Where::Send)) {
      reports.push_back(i + 1);
    }
  }
  if (reports.empty()) return 0;
  switch (column.at) {
    case At::First:
      return reports.front();
    case At::Middle:
      return reports[reports.size() / 2];
    case At::Last:
      break;
  }
  return reports.back();
}

// The first report of `log` that changes the module: a command frame (marker 0x55 in byte 1)
// with a code that writes, stores, runs, stops or restarts; past the end when there is none.
inline std::uint64_t FirstWrite(const Log& log) {
  // 6 update, 8/9 block end and begin, 12 stop, 13 restart, 14 register write, 16 start,
  // 18 RAM write, 19 RAM store, 20/21 external DAC on and off.
  static const std::vector<std::uint8_t> writes = {6, 8, 9, 12, 13, 14, 16, 18, 19, 20, 21};
  for (std::size_t i = 0; i < log.size(); ++i) {
    const auto& bytes = log[i].bytes;
    if (log[i].direction == sim::ReportRecord::Direction::Sent && bytes.size() > 2 &&
        bytes[1] == 0x55 && std::count(writes.begin(), writes.end(), bytes[2]) > 0) {
      return i + 1;
    }
  }
  return log.size() + 1;
}

// Whether a fault at `report` leaves nothing written: it struck before the first write, or at it
// when the module is gone from then on.
inline bool StruckBeforeFirstWrite(std::uint64_t report, std::uint64_t first_write, Fault fault) {
  return report < first_write || (report == first_write && fault != Fault::Refuse);
}

// The identify exchange of the search that opened the module for the operation's first write
// (or for its last search when it writes nothing): a fault up to its answer means that the
// handler never had the module.
inline std::uint64_t LastSearchBeforeWork(const Log& log) {
  const std::uint64_t first_write = FirstWrite(log);
  std::uint64_t answer = 0;
  for (std::size_t i = 0; i + 1 < log.size() && i + 1 < first_write; ++i) {
    const auto& bytes = log[i].bytes;
    if (log[i].direction == sim::ReportRecord::Direction::Sent && bytes[1] == 0x55 &&
        bytes[2] == 1) {
      answer = i + 2;
    }
  }
  return answer;
}

// What the module keeps, with what a fault itself changes (its personality) or a read takes by
// design (an encoder's count) left out.
inline sim::ModuleState Kept(sim::ModuleState state) {
  state.personality = sim::Personality::Application;
  state.encoder_pending = {};
  return state;
}

// A module with something in every memory, and a configuration and parameters of its own (both
// with their checksums), so that a read that broke off cannot pass for one that came whole, nor
// a failed read for the window's start-up values.
inline void FillModule(sim::SimulatedModule& module) {
  const std::uint32_t config_offset = 0x0803F800 - sim::ModuleState::kFlashBase;
  for (std::size_t i = 0; i < config_offset; ++i) {
    module.flash[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  }
  const model::Sector sector(module.flash.data() + config_offset, model::kSectorSize);
  model::ConfigValues values = model::ReadConfig(sector);
  values[model::kNetworkAddressRow] = 33;
  model::WriteConfig(sector, values);
  for (std::size_t n = 1; n <= model::kEaParamCount; ++n) {
    model::SetEaParam(sector, n, static_cast<std::int32_t>(n * 1000) - 77);
  }
  model::SealEaTable(sector);
  for (std::size_t i = 0; i < module.ram.size(); ++i) {
    module.ram[i] = static_cast<std::uint8_t>(i * 11 + 3);
    module.ram_main_bank[i] = static_cast<std::uint8_t>(i * 13 + 5);
    module.ram_reserve_bank[i] = static_cast<std::uint8_t>(i * 17 + 9);
  }
}

// Every file in a folder with its bytes.
using Files = std::map<std::string, std::string>;

inline Files FilesIn(const fs::path& dir) {
  Files files;
  for (const auto& entry : fs::directory_iterator(dir)) {
    std::string bytes(static_cast<std::size_t>(fs::file_size(entry.path())), '\0');
    std::ifstream(entry.path(), std::ios::binary)
        .read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    files[entry.path().filename().string()] = std::move(bytes);
  }
  return files;
}

// What went wrong with the files: each one must be as it was or as the clean run left it (a
// file written whole); none may appear that the clean run did not write, nor go away.
inline std::vector<std::string> FileProblems(const Files& before, const Files& after,
                                             const Files& clean) {
  std::vector<std::string> problems;
  for (const auto& [name, bytes] : after) {
    const auto was = before.find(name);
    const auto done = clean.find(name);
    if (was != before.end() && was->second == bytes) continue;
    if (done != clean.end() && done->second == bytes) continue;
    problems.push_back(was == before.end() ? "file created" : "file changed");
  }
  for (const auto& [name, bytes] : before) {
    if (after.count(name) == 0) problems.push_back("file removed");
  }
  return problems;
}

// A folder of its own for one run, gone with it.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& tag)
      : path_(fs::temp_directory_path() /
              ("tarven-matrix-" + tag + "-" + std::to_string(::getpid()) + "-" +
               std::to_string(counter_++))) {
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~ScratchDir() { fs::remove_all(path_); }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const fs::path& path() const { return path_; }
  std::string Put(const std::string& name, const std::string& bytes) const {
    std::ofstream(path_ / name, std::ios::binary) << bytes;
    return (path_ / name).string();
  }

 private:
  static inline int counter_ = 0;
  fs::path path_;
};

// Bytes of a pattern, as file content.
inline std::string PatternText(std::size_t size, unsigned seed) {
  std::string text(size, '\0');
  for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>(i * seed + seed / 2);
  return text;
}

// The printed matrix: one line per operation with its report count, one column per fault; a cell
// says "ok" when every check held ("ok+" when the operation was done in spite of the fault), or
// names the checks that failed.
class Table {
 public:
  void Add(const std::string& operation, std::uint64_t reports, std::vector<std::string> cells) {
    rows_.push_back({operation + " (" + std::to_string(reports) + ")", std::move(cells)});
  }

  void Print(std::ostream& out, const std::string& title) const {
    std::size_t first = 9;
    for (const auto& row : rows_) first = std::max(first, Width(row.name));
    std::vector<std::size_t> widths;
    for (const Column& column : Columns()) widths.push_back(std::string(column.name).size());
    for (const auto& row : rows_) {
      for (std::size_t i = 0; i < row.cells.size(); ++i) {
        widths[i] = std::max(widths[i], Width(row.cells[i]));
      }
    }
    out << "\n"
        << title
        << " (operation (reports) x fault at report; ok+: done all the same: the module, the files"
           " and the data as after a clean run)\n";
    Cell(out, "operation", first);
    for (std::size_t i = 0; i < widths.size(); ++i) Cell(out, Columns()[i].name, widths[i]);
    out << '\n';
    for (const auto& row : rows_) {
      Cell(out, row.name, first);
      for (std::size_t i = 0; i < row.cells.size(); ++i) Cell(out, row.cells[i], widths[i]);
      out << '\n';
    }
    out << std::flush;
  }

 private:
  struct Row {
    std::string name;
    std::vector<std::string> cells;
  };
  // Characters, not bytes: the names may be Russian.
  static std::size_t Width(const std::string& text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
  }
  static void Cell(std::ostream& out, const std::string& text, std::size_t width) {
    out << text << std::string(width - Width(text) + 2, ' ');
  }

  std::vector<Row> rows_;
};

// "ok", "ok+" or the failed checks of one cell.
inline std::string CellText(const std::vector<std::string>& problems, bool done) {
  if (problems.empty()) return done ? "ok+" : "ok";
  std::string text;
  for (const std::string& problem : problems) text += (text.empty() ? "" : ",") + problem;
  return text;
}

}  // namespace tarven::testing::matrix
