// The entry point: binds the module link (USB, or the simulated module with --simulate), runs the
// main window, and releases the link when the window has closed.

#include <QApplication>
#include <QString>
#include <QStringList>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/launch_options.h"
#include "app/main_form.h"
#include "app/quit_on_signal.h"
#include "device/hid.h"
#include "sim/sim_backend.h"
#include "sim/sim_state.h"

int main(int argc, char** argv) {
  // Taken before the toolkit removes the options it knows, so that "-f" is judged as given.
  const std::vector<std::string> args(argv + 1, argv + argc);
  tarven::app::LaunchOptions options;
  std::string error;
  if (!tarven::app::ParseLaunchOptions(args, options, error)) {
    std::cerr << "tarven: " << error << '\n';
    return 2;
  }
  std::shared_ptr<tarven::sim::SimBackend> simulator;
  if (options.simulate) {
    simulator = std::make_shared<tarven::sim::SimBackend>();
    if (!options.sim_state_path.empty() &&
        !tarven::sim::LoadState(simulator->module(), options.sim_state_path, error)) {
      std::cerr << "tarven: " << error << '\n';
      return 2;
    }
  }

  QApplication application(argc, argv);
  tarven::app::QuitOnTerminationSignals(application);
  if (simulator) {
    tarven::hid::LoadHidLibrary(simulator);
  } else {
    tarven::hid::LoadHidLibrary();
  }
  int status = 0;
  {
    QStringList arguments;
    for (const std::string& arg : args) arguments << QString::fromLocal8Bit(arg);
    tarven::app::TMainForm form(arguments);
    form.show();
    status = QApplication::exec();
  }
  tarven::hid::UnloadHidLibrary();

  if (simulator && !options.sim_state_path.empty() &&
      !tarven::sim::SaveState(simulator->module(), options.sim_state_path, error)) {
    std::cerr << "tarven: " << error << '\n';
    return 2;
  }
  return status;
}
