// Host cost of moving a 16 KiB image through the operations layer, the preview redraw included,
// against the time the same reports take on full-speed USB (one report per millisecond frame);
// and the data stream alone against the bare backend calls, measured in the same iteration.

#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "bench/null_backend.h"
#include "device/device.h"
#include "device/operations.h"
#include "model/checksum.h"
#include "model/memory_image.h"

namespace tarven::bench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kImageLength = 16384;
// On full-speed USB a feature report is one control transfer of about a millisecond.
constexpr double kUsbSecondsPerReport = 1e-3;
constexpr double kWriteReports = 1 + 1 + 272;  // identify out and back, then the eight blocks
constexpr double kReadReports = 1 + 1 + 1 + 257;

class Binding {
 public:
  Binding() : backend_(std::make_shared<NullBackend>()), link_(backend_) {}
  Binding(const Binding&) = delete;
  Binding& operator=(const Binding&) = delete;
  hid::Backend& backend() const { return *backend_; }
  device::Link& link() const { return link_; }

 private:
  std::shared_ptr<NullBackend> backend_;
  mutable device::Link link_;
};

std::vector<std::uint8_t> Image() {
  std::vector<std::uint8_t> image(kImageLength);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7);
  return image;
}

void BM_FlashWriteOperation16K(benchmark::State& state) {
  const Binding binding;
  const auto image = Image();
  for (auto _ : state) {
    const auto outcome = device::WriteFlashArea(binding.link(), model::AreaId::MainRom, image);
    benchmark::DoNotOptimize(outcome.failure);
  }
  // share_of_usb_time: host time per write over the 274 reports' millisecond frames.
  state.counters["share_of_usb_time"] = benchmark::Counter(
      kWriteReports * kUsbSecondsPerReport,
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_FlashWriteOperation16K);

void BM_FlashReadOperationAndPreview16K(benchmark::State& state) {
  const Binding binding;
  std::vector<std::uint8_t> image(kImageLength);
  for (auto _ : state) {
    const auto outcome = device::ReadFlashArea(binding.link(), model::AreaId::MainRom, image);
    benchmark::DoNotOptimize(outcome.failure);
    const auto lines = model::ImageListing(image, 0, 16);
    benchmark::DoNotOptimize(lines.data());
  }
  state.counters["share_of_usb_time"] = benchmark::Counter(
      kReadReports * kUsbSecondsPerReport,
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_FlashReadOperationAndPreview16K);

// The stream of a flash write without its commands and checksums: WriteData's 256 reports
// against 256 bare backend calls, one after the other in each iteration.
void BM_DataStreamAgainstBareCalls16K(benchmark::State& state) {
  const Binding binding;
  const auto image = Image();
  std::array<std::uint8_t, hid::kReportLength> report{};
  double stream_seconds = 0;
  double bare_seconds = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    benchmark::DoNotOptimize(binding.link().WriteData(NullBackend::kHandle, image.data(), kImageLength));
    const auto middle = Clock::now();
    for (int i = 0; i < 256; ++i) {
      benchmark::DoNotOptimize(
          binding.backend().SetFeature(NullBackend::kHandle, report.data(), report.size()));
    }
    const auto end = Clock::now();
    stream_seconds += std::chrono::duration<double>(middle - start).count();
    bare_seconds += std::chrono::duration<double>(end - middle).count();
    state.SetIterationTime(std::chrono::duration<double>(middle - start).count());
  }
  state.counters["ratio_to_bare"] = stream_seconds / bare_seconds;
}
BENCHMARK(BM_DataStreamAgainstBareCalls16K)->UseManualTime();

// The block checksums of a 16 KiB write, reported apart.
void BM_BlockChecksums16K(benchmark::State& state) {
  const auto image = Image();
  for (auto _ : state) {
    for (std::uint32_t block = 0; block < kImageLength; block += 2048) {
      benchmark::DoNotOptimize(model::ModuleChecksum(image.data() + block, 2048));
    }
  }
}
BENCHMARK(BM_BlockChecksums16K);

}  // namespace
}  // namespace tarven::bench
