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
#include "app/toolkit_translation.h"
#include "comport/comport.h"
#include "device/device_select.h"
#include "firmware/firmware_image.h"
#include "model/printable_text.h"
#include "sim/modbus_slave.h"
#include "sim/session.h"

int main(int argc, char** argv) {
  // Taken before the toolkit removes the options it knows, so that "-f" is judged as given.
  const std::vector<std::string> args(argv + 1, argv + argc);
  tarven::app::LaunchOptions options;
  std::string error;
  if (!tarven::app::ParseLaunchOptions(args, options, error)) {
    std::cerr << "tarven: " << tarven::model::Printable(error) << " (try --help)\n";
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
  // The image "Обновить" sends. A file named with --firmware is checked now, not at the press;
  // without one, the window looks for the image when an update first needs it.
  tarven::firmware::Image firmware_image;
  if (!options.firmware_file.empty()) {
    tarven::firmware::ImageQuery image_query;
    image_query.file = options.firmware_file;
    if (!tarven::firmware::FindImage(image_query, firmware_image, error) ||
        !tarven::firmware::CheckImageForLink(firmware_image, options.simulate, error)) {
      std::cerr << "tarven: " << tarven::model::Printable(error) << '\n';
      return 1;  // a file that cannot be sent, not a wrong word on the line
    }
  }
  // The window holds the simulated module's state file for its whole run, and its run is long:
  // a file that could not be saved at the end is refused now, not after an hour of work.
  tarven::sim::SessionOptions session_options;
  session_options.simulate = options.simulate;
  session_options.sim_state_path = options.sim_state_path;
  session_options.check_writable = true;
  std::unique_ptr<tarven::sim::Session> session =
      tarven::sim::Session::Start(session_options, nullptr, error);
  if (!session) {
    std::cerr << "tarven: " << tarven::model::Printable(error) << '\n';
    return 1;  // a state file in use, damaged or unreadable: not a wrong word on the line
  }

  // The network page gets a slave to poll as well: a simulated one on a pseudo-terminal, offered
  // among the serial ports. It is started when the page first looks for ports, not before the
  // window is shown. Without a pseudo-terminal the page simply has no such port.
  tarven::comport::PortSource port_source;
  if (options.simulate) {
    struct LazySlave {
      std::unique_ptr<tarven::sim::ModbusSlave> slave;
      bool tried = false;
    };
    port_source = [lazy = std::make_shared<LazySlave>()] {
      std::vector<tarven::comport::PortInfo> ports = tarven::comport::SystemPorts();
      if (!lazy->tried) {
        lazy->tried = true;
        std::string why;
        lazy->slave = tarven::sim::ModbusSlave::Start(1, why);
        if (!lazy->slave) std::cerr << "tarven: " << why << '\n';
      }
      if (lazy->slave) ports.push_back({lazy->slave->port_path(), "simulated Modbus slave"});
      return ports;
    };
  }

  QApplication application(argc, argv);
  tarven::app::QuitOnTerminationSignals(application);
  tarven::app::InstallToolkitTranslation(application);
  int status = 0;
  {
    QStringList arguments;
    for (const std::string& arg : args) arguments << QString::fromLocal8Bit(arg);
    tarven::device::LinkOptions link_options;
    link_options.simulated = session->simulator_shared();
    link_options.trace = options.trace ? &std::cerr : nullptr;
    std::shared_ptr<tarven::device::Link> link = tarven::device::MakeLink(link_options);
    if (!options.device.empty()) {
      // The window talks to one module all its run; one that is not there now is an error, with
      // what is there.
      const tarven::device::Selection selection =
          tarven::device::SelectDevice(*link, options.device);
      if (!selection.ok) {
        std::cerr << "tarven: --device: " << tarven::model::PrintableLines(selection.error);
        return 1;
      }
      link->Pin(selection.pin);
    }
    tarven::app::TMainForm form(arguments, link);
    if (options.firmware_file.empty()) {
      form.FindFirmwareImageWhenNeeded(session->simulator() != nullptr);
    } else {
      form.SetFirmwareImage(std::move(firmware_image), session->simulator() != nullptr);
    }
    form.SetPortSource(std::move(port_source));
    form.show();
    status = QApplication::exec();
  }
  if (!session->Finish(error)) {
    std::cerr << "tarven: " << tarven::model::Printable(error) << '\n';
    return 1;
  }
  return status;
}
