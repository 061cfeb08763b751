// Endurance of the window: many status ticks against the simulated module, with tab changes and
// button presses between them, as a service engineer's day (and night) at the bench. Prints the
// resident memory after warm-up and at the end, the open file descriptors and module handles, and
// fails when the memory grew by a MiB or more after warm-up or anything was left open.
//
//   tarven_endurance [--ticks 100000] [--max-growth-kib 1024]

#include <dirent.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/dialogs.h"
#include "app/main_form.h"
#include "device/device.h"
#include "device/hid.h"
#include "sim/sim_backend.h"

namespace {

// Answers every question yes, takes every message, and offers files in a scratch folder: the
// images it saved are the ones it opens again.
class AnsweringDialogs final : public tarven::app::Dialogs {
 public:
  explicit AnsweringDialogs(QString folder) : folder_(std::move(folder)) {}
  bool AskYesNo(QWidget*, const QString&, const QString&) override {
    ++questions;
    return true;
  }
  void ShowMessage(QWidget*, const QString&, const QString&) override { ++messages; }
  void ShowError(QWidget*, const QString&) override { ++errors; }
  QString ChooseOpenFile(QWidget*) override { return folder_ + "/image.bin"; }
  QString ChooseSaveFile(QWidget*) override { return folder_ + "/image.bin"; }

  long questions = 0;
  long messages = 0;
  long errors = 0;

 private:
  QString folder_;
};

long ResidentKib() {
  std::ifstream statm("/proc/self/statm");
  long size = 0;
  long resident = 0;
  statm >> size >> resident;
  return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

int OpenDescriptors() {
  int count = 0;
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    while (const dirent* entry = ::readdir(dir)) count += entry->d_name[0] != '.';
    ::closedir(dir);
  }
  return count - 1;  // the listing's own
}

long Argument(int argc, char** argv, const char* name, long fallback) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], name) == 0) return std::strtol(argv[i + 1], nullptr, 10);
  }
  return fallback;
}

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  const long ticks = Argument(argc, argv, "--ticks", 100000);
  const long max_growth_kib = Argument(argc, argv, "--max-growth-kib", 1024);
  if (ticks < 100) {
    std::fprintf(stderr, "tarven_endurance: --ticks must be at least 100\n");
    return 2;
  }
  QApplication application(argc, argv);
  QTemporaryDir scratch;
  auto sim = std::make_shared<tarven::sim::SimBackend>();
  auto dialogs = std::make_shared<AnsweringDialogs>(scratch.path());
  auto form = std::make_unique<tarven::app::TMainForm>(
      QStringList{"-f"}, std::make_shared<tarven::device::Link>(sim), dialogs);
  form->Timer1->stop();
  form->BuildPages();
  form->show();

  // What a person presses, in turn: reads and writes of the configuration, the parameters and
  // the images, run control, and the output and DAC commands (which act only while stopped).
  const char* const buttons[] = {"Button1",  "Button16", "BitBtn4", "Button8",  "Button10",
                                 "Button11", "Button12", "Button6", "BitBtn14", "Button2",
                                 "Button17", "Button5",  "BitBtn5", "Button8",  "Button4",
                                 "BitBtn1",  "Button7",  "BitBtn6", "Button9",  "Button14"};
  std::vector<QPushButton*> presses;
  for (const char* name : buttons) {
    auto* button = form->findChild<QPushButton*>(QString::fromLatin1(name));
    if (button == nullptr) {
      std::fprintf(stderr, "tarven_endurance: no button %s\n", name);
      return 2;
    }
    presses.push_back(button);
  }
  const int tabs = form->PageControl1->count();

  const long warm_up = ticks / 10;
  long warm_kib = 0;
  int warm_descriptors = 0;
  long presses_done = 0;
  std::size_t handles_left = 0;
  const auto start = std::chrono::steady_clock::now();
  for (long tick = 0; tick < ticks; ++tick) {
    if (tick % 10 == 0) form->PageControl1->setCurrentIndex(static_cast<int>((tick / 10) % tabs));
    if (tick % 50 == 25) {
      presses[static_cast<std::size_t>(presses_done) % presses.size()]->click();
      ++presses_done;
    }
    form->Timer1Timer();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    handles_left = std::max(handles_left, sim->OpenHandleCount());
    if (tick + 1 == warm_up) {
      warm_kib = ResidentKib();
      warm_descriptors = OpenDescriptors();
    }
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const long end_kib = ResidentKib();
  const int end_descriptors = OpenDescriptors();
  const long growth = end_kib - warm_kib;

  std::printf("ticks: %ld in %.1f s (%.0f µs a tick, presses and tab changes included)\n", ticks,
              seconds, seconds * 1e6 / static_cast<double>(ticks));
  std::printf("presses: %ld; questions %ld, messages %ld, error boxes %ld\n", presses_done,
              dialogs->questions, dialogs->messages, dialogs->errors);
  std::printf("resident memory: %ld KiB after %ld ticks of warm-up, %ld KiB at the end: %+ld KiB\n",
              warm_kib, warm_up, end_kib, growth);
  std::printf("file descriptors: %d after warm-up, %d at the end\n", warm_descriptors,
              end_descriptors);
  std::printf("module handles open after a tick: at most %zu\n", handles_left);

  form.reset();
  bool ok = true;
  if (growth >= max_growth_kib) {
    std::printf("FAIL: memory grew by %ld KiB (limit %ld)\n", growth, max_growth_kib);
    ok = false;
  }
  if (end_descriptors > warm_descriptors) {
    std::printf("FAIL: %d file descriptors more than after warm-up\n",
                end_descriptors - warm_descriptors);
    ok = false;
  }
  if (handles_left != 0) {
    std::printf("FAIL: a module handle stayed open after a tick\n");
    ok = false;
  }
  return ok ? 0 : 1;
}
