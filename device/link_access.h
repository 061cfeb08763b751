#pragma once
// Write access to a link's module records and exchange handle. The device layer keeps them as the
// searches, the status reads and the exchanges leave them; above it they are read-only (through
// Link::AppModule(), BootModule(), HidHandle()). Tests of the device layer use it to set a stale
// state up.

#include "device/device.h"

namespace tarven::device {

struct LinkAccess {
  static TModuleId& AppModule(Link& link) { return link.app_module_; }
  static TModuleId& BootModule(Link& link) { return link.boot_module_; }
  static Handle& HidHandle(Link& link) { return link.hid_handle_; }
};

}  // namespace tarven::device
