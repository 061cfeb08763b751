#pragma once
// Tells when a device comes or goes, so that a list of modules stays current without asking the
// modules again and again: on Linux, udev's monitor of hidraw devices. Where the system has no
// such monitor (or it cannot be opened), nothing is told, and the list is made again when its
// page is shown.

#include <QObject>

namespace tarven::app {

class ModuleWatcher final : public QObject {
  Q_OBJECT

 public:
  explicit ModuleWatcher(QObject* parent);
  ~ModuleWatcher() override;
  ModuleWatcher(const ModuleWatcher&) = delete;
  ModuleWatcher& operator=(const ModuleWatcher&) = delete;

  // Whether the system tells this watcher of devices coming and going.
  bool watching() const;

 signals:
  // A HID device was added or removed (any one: the list is made again).
  void Changed();

 private:
  struct Monitor;
  Monitor* monitor_ = nullptr;
};

}  // namespace tarven::app
