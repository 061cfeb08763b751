#include "device/hid.h"

#include <utility>

namespace tarven::hid {
namespace {
std::shared_ptr<Backend>& Binding() {
  static std::shared_ptr<Backend> bound;
  return bound;
}
}  // namespace

bool LoadHidLibrary() {
  return LoadHidLibrary(MakePlatformBackend());
}

bool LoadHidLibrary(std::shared_ptr<Backend> backend) {
  Binding() = std::move(backend);
  return Binding() != nullptr;
}

void UnloadHidLibrary() {
  Binding().reset();
}

Backend* BoundBackend() {
  return Binding().get();
}

}  // namespace tarven::hid
