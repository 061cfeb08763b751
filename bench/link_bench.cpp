// Host cost per feature report of the link's bulk routines, against the bare backend call on the
// same do-nothing backend. Both are timed in the same iteration, one after the other, so that
// they see the same caches and clock speed; the benchmark's own time is the routine's.

#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "bench/null_backend.h"
#include "device/device.h"

namespace tarven::bench {
namespace {

constexpr std::uint32_t kImageLength = 16384;
// Eight blocks of 2048 bytes, each announced, streamed in 32 reports and closed.
constexpr std::uint32_t kWriteBlockReports = 272;
// One fetch more than whole chunks when the count is a multiple of 64.
constexpr std::uint32_t kReadDataFetches = 257;

using Clock = std::chrono::steady_clock;

class NullBinding {
 public:
  NullBinding() : link_(std::make_shared<NullBackend>()) {}
  NullBinding(const NullBinding&) = delete;
  NullBinding& operator=(const NullBinding&) = delete;
  hid::Backend& backend() const { return *link_.backend(); }
  device::Link& link() const { return link_; }

 private:
  mutable device::Link link_;
};

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

template <typename Routine, typename BareCall>
void PairedWithBare(benchmark::State& state, std::uint32_t reports, Routine routine,
                    BareCall bare) {
  double routine_seconds = 0;
  double bare_seconds = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    routine();
    const auto routine_end = Clock::now();
    for (std::uint32_t i = 0; i < reports; ++i) bare();
    const auto bare_end = Clock::now();
    state.SetIterationTime(Seconds(routine_end - start));
    routine_seconds += Seconds(routine_end - start);
    bare_seconds += Seconds(bare_end - routine_end);
  }
  const double total_reports = static_cast<double>(state.iterations()) * reports;
  state.counters["ns_per_report"] = routine_seconds / total_reports * 1e9;
  state.counters["bare_ns_per_report"] = bare_seconds / total_reports * 1e9;
  state.counters["ratio_to_bare"] = routine_seconds / bare_seconds;
}

void BM_WriteBlock16K(benchmark::State& state) {
  const NullBinding binding;
  std::vector<std::uint8_t> image(kImageLength);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7);
  std::array<std::uint8_t, hid::kReportLength> report{};
  report[1] = 0x55;
  hid::Backend& backend = binding.backend();
  PairedWithBare(
      state, kWriteBlockReports,
      [&] {
        benchmark::DoNotOptimize(binding.link().WriteBlock(NullBackend::kHandle, image.data(),
                                                    kImageLength, device::kMainRomAddress));
      },
      [&] {
        benchmark::DoNotOptimize(
            backend.SetFeature(NullBackend::kHandle, report.data(), report.size()));
      });
}
BENCHMARK(BM_WriteBlock16K)->UseManualTime();

void BM_ReadData16K(benchmark::State& state) {
  const NullBinding binding;
  std::vector<std::uint8_t> buffer(kImageLength);
  std::array<std::uint8_t, hid::kReportLength> report{};
  hid::Backend& backend = binding.backend();
  PairedWithBare(
      state, kReadDataFetches,
      [&] {
        benchmark::DoNotOptimize(
            binding.link().ReadData(NullBackend::kHandle, buffer.data(), kImageLength));
        benchmark::ClobberMemory();
      },
      [&] {
        benchmark::DoNotOptimize(
            backend.GetFeature(NullBackend::kHandle, report.data(), report.size()));
      });
}
BENCHMARK(BM_ReadData16K)->UseManualTime();

}  // namespace
}  // namespace tarven::bench
