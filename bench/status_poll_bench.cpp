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
  device::Link link(sim);
  for (auto _ : state) {
    const device::StatusReading reading = device::PollStatus(link);
    benchmark::DoNotOptimize(reading);
  }
  if (link.AppModule().FirmwareVersion != sim->module().firmware_version) {
    state.SkipWithError("the poll did not read the simulated module's status");
  }
}
BENCHMARK(BM_PollStatusSimulated);

}  // namespace
}  // namespace tarven::bench
