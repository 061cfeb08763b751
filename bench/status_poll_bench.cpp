// CPU cost of one status poll against the simulated module: the search (identify), the status
// command and its answer, and the close, with the simulator's own work included.

#include <benchmark/benchmark.h>

#include <memory>

#include "device/operations.h"
#include "sim/sim_backend.h"

namespace tarven::bench {
namespace {

void BM_PollStatusSimulated(benchmark::State& state) {
  auto sim = std::make_shared<sim::SimBackend>();
  hid::LoadHidLibrary(sim);
  device::ResetModuleRecords();
  device::Handle handle = device::kInvalidHandle;
  for (auto _ : state) {
    const device::StatusReading reading = device::PollStatus(handle);
    benchmark::DoNotOptimize(reading);
  }
  if (device::AppModule.FirmwareVersion != sim->module().firmware_version) {
    state.SkipWithError("the poll did not read the simulated module's status");
  }
  hid::UnloadHidLibrary();
}
BENCHMARK(BM_PollStatusSimulated);

}  // namespace
}  // namespace tarven::bench
