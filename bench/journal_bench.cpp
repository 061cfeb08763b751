// What the journal costs a change. A record: the time Record takes for a change without parts
// (cnc stop), a configuration write (2 KiB written and kept) and a ROM write (16 KiB written and
// kept), against the 1 ms the change's budget allows. The before-read: a ROM write over a
// simulated wire of 1 ms a report with and without it, against the reports it adds times the wire
// time.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "device/change_journal.h"
#include "device/device.h"
#include "device/operations.h"
#include "journal/recorder.h"
#include "sim/sim_backend.h"

namespace tarven::bench {
namespace {

namespace fs = std::filesystem;

std::string FreshJournal(const char* name) {
  const fs::path folder = fs::temp_directory_path() / ("tarven-journal-bench-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  const fs::path file = folder / name;
  std::error_code ec;
  fs::remove(file, ec);
  return file.string();
}

device::ChangeNote Note(const char* operation, std::size_t size) {
  device::ChangeNote note;
  note.operation = operation;
  note.device.path = "/dev/hidraw3";
  note.device.serial_number = "T0042";
  note.device.usb_location = "1-2.3";
  note.firmware_version = 0x00045400;
  if (size > 0) {
    device::ChangedPart part;
    part.name = "rom";
    part.address = 0x08035800;
    part.written.assign(size, 0x5A);
    part.before = std::vector<std::uint8_t>(size, 0xA5);
    note.parts.push_back(std::move(part));
  }
  return note;
}

void RecordCost(benchmark::State& state, const char* operation, std::size_t size) {
  journal::Recorder recorder(FreshJournal(operation), {"tarvenctl", "4.54", "tarvenctl bench"},
                             true);
  const device::ChangeNote note = Note(operation, size);
  recorder.Record(note);  // the file is opened and set up by the first change of a run
  for (auto _ : state) recorder.Record(note);
  if (!recorder.TakeNotices().empty()) state.SkipWithError("the journal could not be written");
}

void BM_RecordCncStop(benchmark::State& state) { RecordCost(state, "cnc-stop", 0); }
void BM_RecordConfigWrite(benchmark::State& state) { RecordCost(state, "config-write", 2048); }
void BM_RecordRomWrite(benchmark::State& state) { RecordCost(state, "rom-write", 16384); }
// Real time: a record's cost is mostly the file system's.
BENCHMARK(BM_RecordCncStop)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_RecordConfigWrite)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_RecordRomWrite)->Unit(benchmark::kMicrosecond)->UseRealTime();

// A ROM write over a wire of `wire_ms` a report, recorded with or without the read before it.
void BM_RomWriteOverTheWire(benchmark::State& state) {
  const bool read_before = state.range(0) != 0;
  const auto wire = std::chrono::microseconds(state.range(1) * 1000);
  auto bus = std::make_shared<sim::SimBackend>();
  bus->SetWireTime(wire);
  device::Link link(bus);
  link.SetChangeRecorder(std::make_shared<journal::Recorder>(
      FreshJournal(read_before ? "wire-undo" : "wire-no-undo"),
      journal::Origin{"tarvenctl", "4.54", "tarvenctl bench"}, read_before));
  const std::vector<std::uint8_t> image(16384, 0x5A);
  std::uint64_t reports = 0;
  for (auto _ : state) {
    const std::uint64_t start = link.ReportsExchanged();
    if (!device::WriteFlashArea(link, model::AreaId::MainRom, image).ok()) {
      state.SkipWithError("the write failed");
    }
    reports = link.ReportsExchanged() - start;
  }
  state.counters["reports"] = static_cast<double>(reports);
  state.counters["wire_ms"] = static_cast<double>(reports) * static_cast<double>(state.range(1));
}
BENCHMARK(BM_RomWriteOverTheWire)
    ->ArgsProduct({{0, 1}, {1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

}  // namespace
}  // namespace tarven::bench
