// Host cost of a firmware update of the shipped size (206,728 bytes, 3,231 data reports) against
// the simulated module: the device operation alone, and the window's transfer as a status tick
// runs it (busy cursor, the bar set after every piece and drawn now and then, the clean-up, and
// the window's paint that follows it). The window's figure is read as a ratio to the operation's,
// both measured in this run. CPU time of the whole process is what counts (the toolkit draws
// with helper threads).
//
//   QT_QPA_PLATFORM=offscreen build/fw/bin/tarven_firmware_bench
//   xvfb-run -a build/fw/bin/tarven_firmware_bench      (drawn by a real X server)

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTimer>
#include <memory>

#include "app/dialogs.h"
#include "app/main_form.h"
#include "device/firmware_update.h"
#include "firmware/firmware_image.h"
#include "sim/sim_backend.h"

namespace tarven::bench {
namespace {

// The window is never to ask anything here; if it did, the answer is No.
class SilentDialogs final : public app::Dialogs {
 public:
  bool AskYesNo(QWidget*, const QString&, const QString&) override { return false; }
  void ShowMessage(QWidget*, const QString&, const QString&) override { ++messages; }
  void ShowError(QWidget*, const QString&) override { ++messages; }
  QString ChooseOpenFile(QWidget*) override { return {}; }
  QString ChooseSaveFile(QWidget*) override { return {}; }
  int messages = 0;
};

// The simulated module back in its boot loader, ready for the next image.
void BackToBootLoader(sim::SimBackend& sim) {
  if (sim.module().personality != sim::Personality::BootLoader) sim.module().SwitchPersonality();
}

void Check(benchmark::State& state, sim::SimBackend& sim, std::uint32_t images,
           const std::vector<std::uint8_t>& image) {
  if (sim.module().images_received != images || sim.module().received_image != image) {
    state.SkipWithError("the simulated module did not receive the whole image every time");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(images) *
                          static_cast<std::int64_t>(image.size()));
}

void BM_SendFirmwareOperation(benchmark::State& state) {
  auto sim = std::make_shared<sim::SimBackend>();
  device::Link link(sim);
  const firmware::Image image = firmware::SyntheticImage();
  std::uint32_t images = 0;
  for (auto _ : state) {
    state.PauseTiming();
    BackToBootLoader(*sim);
    state.ResumeTiming();
    const device::Outcome outcome = device::SendFirmware(link, image.bytes);
    benchmark::DoNotOptimize(outcome);
    ++images;
  }
  Check(state, *sim, images, image.bytes);
}
BENCHMARK(BM_SendFirmwareOperation)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

void BM_WindowSendFirmwareImage(benchmark::State& state) {
  auto sim = std::make_shared<sim::SimBackend>();
  auto dialogs = std::make_shared<SilentDialogs>();
  app::TMainForm form({}, std::make_shared<device::Link>(sim), dialogs);
  form.Timer1->stop();
  form.BuildPages();
  form.show();
  QApplication::processEvents();
  form.SetFirmwareImage(firmware::SyntheticImage(), true);
  const std::vector<std::uint8_t> image = form.FirmwareImage().bytes;
  std::uint32_t images = 0;
  for (auto _ : state) {
    state.PauseTiming();
    BackToBootLoader(*sim);
    state.ResumeTiming();
    form.SendFirmwareImage();
    // The bar back at 0 is drawn by the window's next paint: the host pays for that too.
    QApplication::processEvents();
    ++images;
  }
  if (dialogs->messages != 0) state.SkipWithError("the window told of a failed transfer");
  Check(state, *sim, images, image);
}
BENCHMARK(BM_WindowSendFirmwareImage)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

}  // namespace
}  // namespace tarven::bench

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
