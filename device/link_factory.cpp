#include <utility>

#include "device/device.h"
#include "device/trace_backend.h"

namespace tarven::device {

std::unique_ptr<Link> MakeLink(const LinkOptions& options) {
  std::shared_ptr<hid::Backend> backend =
      options.simulated ? options.simulated : hid::MakePlatformBackend();
  if (backend && options.trace != nullptr) {
    backend = std::make_shared<hid::TraceBackend>(std::move(backend), *options.trace);
  }
  auto link = std::make_unique<Link>(std::move(backend));
  link->SetModuleLocks(options.locks);
  link->SetLockWait(options.lock_wait);
  link->SetChangeRecorder(options.recorder);
  return link;
}

}  // namespace tarven::device
