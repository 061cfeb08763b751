#include "startup/workbench.h"

#include <algorithm>
#include <utility>

#include "device/device_select.h"
#include "device/module_lock.h"
#include "sim/modbus_slave.h"
#include "sim/session.h"

namespace tarven::startup {

struct Workbench::Impl {
  std::unique_ptr<sim::Session> session;
  device::LinkOptions link_options;
};

Workbench::Workbench() : impl_(std::make_unique<Impl>()) {}
Workbench::~Workbench() = default;

std::unique_ptr<Workbench> Workbench::Open(const WorkbenchOptions& options, std::string& error,
                                           std::shared_ptr<sim::SimBackend> simulator) {
  sim::SessionOptions session_options;
  session_options.simulate = options.simulated_modules > 0;
  session_options.modules = std::max(options.simulated_modules, 1);
  session_options.wire_time = options.wire_time;
  session_options.sim_state_path = options.sim_state_path;
  session_options.check_writable = options.check_state_writable;
  // The state file stands for the simulated modules: a program that waits longer for a module
  // waits as long for the state.
  session_options.lock_wait = std::max(session_options.lock_wait, options.lock_wait);
  std::unique_ptr<Workbench> bench(new Workbench());
  Impl& impl = *bench->impl_;
  impl.session = sim::Session::Start(session_options, std::move(simulator), error);
  if (!impl.session) return nullptr;
  device::LinkOptions& link = impl.link_options;
  link.simulated = impl.session->simulator_shared();
  link.trace = options.trace;
  // The simulated bench's modules are this process's own: only its links contend for them.
  link.locks = link.simulated ? impl.session->simulator()->module_locks()
                              : device::SystemModuleLocks(options.program);
  link.lock_wait = options.lock_wait;
  return bench;
}

bool Workbench::simulated() const {
  return impl_->link_options.simulated != nullptr;
}

const device::LinkOptions& Workbench::link_options() const {
  return impl_->link_options;
}

std::unique_ptr<device::Link> Workbench::MakeLink(std::string& error,
                                                  const std::string& selector) const {
  std::unique_ptr<device::Link> link = device::MakeLink(impl_->link_options);
  if (selector.empty()) return link;
  const device::Selection selection = device::SelectDevice(*link, selector);
  if (!selection.ok) {
    error = selection.error;
    return nullptr;
  }
  link->Pin(selection.pin);
  return link;
}

comport::PortSource Workbench::SerialPorts(std::ostream& err, const std::string& program) const {
  if (!simulated()) return {};
  struct LazySlave {
    std::unique_ptr<sim::ModbusSlave> slave;
    bool tried = false;
  };
  return [lazy = std::make_shared<LazySlave>(), &err, program] {
    std::vector<comport::PortInfo> ports = comport::SystemPorts();
    if (!lazy->tried) {
      lazy->tried = true;
      std::string why;
      lazy->slave = sim::ModbusSlave::Start(1, why);
      if (!lazy->slave) err << program << ": " << why << '\n';
    }
    if (lazy->slave) ports.push_back({lazy->slave->port_path(), "simulated Modbus slave"});
    return ports;
  };
}

bool Workbench::Finish(std::string& error) {
  return impl_->session->Finish(error);
}

}  // namespace tarven::startup
