#pragma once
// A simulated module whose status answers get lost once it has taken a firmware image: the first
// `losses` answers to command 2 after that are refused on their way back.

#include <cstdint>
#include <limits>

#include "sim/sim_backend.h"

namespace tarven::testing {

class StatusLosingBus final : public sim::SimBackend {
 public:
  explicit StatusLosingBus(std::uint64_t losses = std::numeric_limits<std::uint64_t>::max())
      : losses_(losses) {}

  std::uint64_t lost() const { return lost_; }

  bool SetFeature(hid::Handle handle, const std::uint8_t* report, std::size_t length) override {
    // A command frame: marker 0x55 in byte 1, the code in byte 2 (command 2 asks for the status).
    status_asked_ = module().images_received > 0 && length > 2 && report[1] == 0x55 &&
                    report[2] == 2;
    return SimBackend::SetFeature(handle, report, length);
  }
  bool GetFeature(hid::Handle handle, std::uint8_t* report, std::size_t length) override {
    if (status_asked_ && lost_ < losses_) {
      status_asked_ = false;
      ++lost_;
      return false;
    }
    status_asked_ = false;
    return SimBackend::GetFeature(handle, report, length);
  }

 private:
  std::uint64_t losses_;
  std::uint64_t lost_ = 0;
  bool status_asked_ = false;
};

}  // namespace tarven::testing
