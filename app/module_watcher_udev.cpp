// The module watcher on Linux: udev's monitor of the hidraw subsystem, read when its socket has
// something, on the window's thread.

#include <libudev.h>

#include <QSocketNotifier>

#include "app/module_watcher.h"

namespace tarven::app {

struct ModuleWatcher::Monitor {
  udev* context = nullptr;
  udev_monitor* monitor = nullptr;
  QSocketNotifier* notifier = nullptr;

  ~Monitor() {
    if (monitor != nullptr) udev_monitor_unref(monitor);
    if (context != nullptr) udev_unref(context);
  }
};

ModuleWatcher::ModuleWatcher(QObject* parent) : QObject(parent) {
  auto* monitor = new Monitor;
  monitor->context = udev_new();
  if (monitor->context != nullptr) {
    // "udev": the events after udev has made the device node and applied its rules, so that
    // the node may be opened when the list is made.
    monitor->monitor = udev_monitor_new_from_netlink(monitor->context, "udev");
  }
  if (monitor->monitor == nullptr ||
      udev_monitor_filter_add_match_subsystem_devtype(monitor->monitor, "hidraw", nullptr) < 0 ||
      udev_monitor_enable_receiving(monitor->monitor) < 0) {
    delete monitor;
    return;
  }
  monitor_ = monitor;
  monitor_->notifier =
      new QSocketNotifier(udev_monitor_get_fd(monitor_->monitor), QSocketNotifier::Read, this);
  connect(monitor_->notifier, &QSocketNotifier::activated, this, [this] {
    // Every waiting event is taken; one notice covers them all.
    bool any = false;
    while (udev_device* device = udev_monitor_receive_device(monitor_->monitor)) {
      udev_device_unref(device);
      any = true;
    }
    if (any) emit Changed();
  });
}

ModuleWatcher::~ModuleWatcher() {
  if (monitor_ == nullptr) return;
  delete monitor_->notifier;  // before the socket it watches is closed
  delete monitor_;
}

bool ModuleWatcher::watching() const {
  return monitor_ != nullptr;
}

}  // namespace tarven::app
