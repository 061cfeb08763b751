// The entry point: binds the module link (USB, or the simulated module with --simulate), runs the
// main window, and releases the link when the window has closed.

#include <QApplication>
#include <QString>
#include <QStringList>
#include <chrono>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/launch_options.h"
#include "app/main_form.h"
#include "app/quit_on_signal.h"
#include "app/toolkit_translation.h"
#include "comport/comport.h"
#include "firmware/firmware_image.h"
#include "journal/recorder.h"
#include "journal/user_place.h"
#include "model/printable_text.h"
#include "startup/workbench.h"

namespace {

using tarven::model::Printable;

// The image "Обновить" sends. A file named with --firmware is checked now, not at the press;
// without one, the window looks for the image when an update first needs it. False when the
// file cannot be sent.
bool TakeFirmwareFile(const tarven::app::LaunchOptions& options,
                      tarven::firmware::Image& image, std::string& error) {
  if (options.firmware_file.empty()) return true;
  tarven::firmware::ImageQuery image_query;
  image_query.file = options.firmware_file;
  return tarven::firmware::FindImage(image_query, image, error) &&
         tarven::firmware::CheckImageForLink(image, options.simulate, error);
}

std::unique_ptr<tarven::startup::Workbench> OpenWorkbench(
    const tarven::app::LaunchOptions& options, std::string& error) {
  tarven::startup::WorkbenchOptions bench_options;
  bench_options.simulated_modules = options.simulate ? options.simulated_modules : 0;
  bench_options.sim_state_path = options.sim_state_path;
  // The window holds the simulated module's state file for its whole run, and its run is long:
  // a file that could not be saved at the end is refused now, not after an hour of work.
  bench_options.check_state_writable = true;
  bench_options.program = "tarven";
  // A button waits a little for a module another program is using; the status tick not at all.
  bench_options.lock_wait = std::chrono::milliseconds(1000);
  bench_options.trace = options.trace ? &std::cerr : nullptr;
  return tarven::startup::Workbench::Open(bench_options, error);
}

// Shows the window over the bench's link until it is closed; its exit status.
int RunWindow(QApplication& application, const std::vector<std::string>& args,
              const tarven::app::LaunchOptions& options, tarven::startup::Workbench& bench,
              tarven::firmware::Image firmware_image) {
  QStringList arguments;
  for (const std::string& arg : args) arguments << QString::fromLocal8Bit(arg);
  // The window talks to one module all its run; one that is not there now is an error, with
  // what is there.
  std::string error;
  std::shared_ptr<tarven::device::Link> link = bench.MakeLink(error, options.device);
  if (!link) {
    std::cerr << "tarven: --device: " << tarven::model::PrintableLines(error);
    return 1;
  }
  // Every change the window makes is journalled as it is made: the window reads nothing more
  // than its own sequence does (the configuration sector it reads first is kept).
  std::shared_ptr<tarven::journal::Recorder> recorder;
  std::string journal_file;
  if (!options.no_journal && tarven::journal::Kept()) {
    journal_file = options.journal_file.empty() ? tarven::journal::DefaultJournalPath()
                                                : options.journal_file;
    recorder = std::make_shared<tarven::journal::Recorder>(
        journal_file,
        tarven::journal::Origin{"tarven", TARVEN_TOOL_VERSION,
                                "tarven " + tarven::journal::CommandLine(args)},
        false);
    link->SetChangeRecorder(recorder);
  }
  tarven::app::TMainForm form(arguments, link);
  form.SetJournalFile(journal_file);
  if (options.firmware_file.empty()) {
    form.FindFirmwareImageWhenNeeded(bench.simulated());
  } else {
    form.SetFirmwareImage(std::move(firmware_image), bench.simulated());
  }
  form.SetPortSource(bench.SerialPorts(std::cerr, "tarven"));
  // The page "Сервис" works on a thread of its own, over a link of its own to the same bench,
  // journalled like the window's own.
  tarven::device::LinkOptions page_links = bench.link_options();
  page_links.recorder = recorder;
  form.SetLinkMaker([page_links] { return tarven::device::MakeLink(page_links); });
  form.show();
  const int status = application.exec();
  if (recorder) {
    for (const std::string& notice : recorder->TakeNotices()) {
      std::cerr << "tarven: warning: " << tarven::model::Printable(notice) << '\n';
    }
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  // Taken before the toolkit removes the options it knows, so that "-f" is judged as given.
  const std::vector<std::string> args(argv + 1, argv + argc);
  tarven::app::LaunchOptions options;
  std::string error;
  if (!tarven::app::ParseLaunchOptions(args, options, error)) {
    std::cerr << "tarven: " << Printable(error) << " (try --help)\n";
    return 2;
  }
  if (options.show_help) {
    std::cout << tarven::app::LaunchHelpText();
    return 0;
  }
  if (options.show_version) {
    std::cout << tarven::firmware::VersionText("tarven", tarven::firmware::ProgramFolder());
    return 0;
  }
  // A file that cannot be sent, a state file in use, damaged or unreadable: a failure (1), not a
  // wrong word on the line (2).
  tarven::firmware::Image firmware_image;
  if (!TakeFirmwareFile(options, firmware_image, error)) {
    std::cerr << "tarven: " << Printable(error) << '\n';
    return 1;
  }
  const std::unique_ptr<tarven::startup::Workbench> bench = OpenWorkbench(options, error);
  if (!bench) {
    std::cerr << "tarven: " << Printable(error) << '\n';
    return 1;
  }
  QApplication application(argc, argv);
  tarven::app::QuitOnTerminationSignals(application);
  tarven::app::InstallToolkitTranslation(application);
  const int status = RunWindow(application, args, options, *bench, std::move(firmware_image));
  if (!bench->Finish(error)) {
    std::cerr << "tarven: " << Printable(error) << '\n';
    return 1;
  }
  return status;
}
