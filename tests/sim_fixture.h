#pragma once
// Binds a fresh simulated module for each test and gives short views of the reports it saw.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "device/device.h"
#include "device/hid.h"
#include "device/link_access.h"
#include "sim/sim_backend.h"

namespace tarven::testing {

using Bytes = std::vector<std::uint8_t>;

inline std::uint32_t Le32At(const Bytes& bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at]) | (static_cast<std::uint32_t>(bytes[at + 1]) << 8) |
         (static_cast<std::uint32_t>(bytes[at + 2]) << 16) |
         (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
}

// A command frame as it must look on the wire, written out independently of the link code.
inline Bytes Frame(std::uint8_t code, std::uint32_t p1 = 0, std::uint32_t p2 = 0,
                   std::uint32_t p3 = 0) {
  Bytes frame(65, 0);
  frame[1] = 0x55;
  frame[2] = code;
  for (int i = 0; i < 4; ++i) {
    frame[static_cast<std::size_t>(3 + i)] = static_cast<std::uint8_t>(p1 >> (8 * i));
    frame[static_cast<std::size_t>(7 + i)] = static_cast<std::uint8_t>(p2 >> (8 * i));
    frame[static_cast<std::size_t>(11 + i)] = static_cast<std::uint8_t>(p3 >> (8 * i));
  }
  return frame;
}

class SimTest : public ::testing::Test {
 protected:
  // A fresh simulated module and a link to it.
  void SetUp() override {
    sim_ = std::make_shared<sim::SimBackend>();
    sim_->StartRecording();
    link_ = std::make_shared<device::Link>(sim_);
  }
  void TearDown() override { link_->CloseModule(handle_); }

  device::Link& link() { return *link_; }
  // The link's records, writable: for a search to open with, or a stale state to set up.
  device::TModuleId& app_record() { return device::LinkAccess::AppModule(*link_); }
  device::TModuleId& boot_record() { return device::LinkAccess::BootModule(*link_); }
  std::shared_ptr<device::Link> link_shared() const { return link_; }

  // Opens the application and forgets the identify exchange, so tests see only their own reports.
  void OpenApplication() {
    handle_ = link_->OpenModule(app_record());
    ASSERT_NE(handle_, device::kInvalidHandle);
    sim_->ClearLog();
  }

  std::vector<Bytes> Sent() const {
    std::vector<Bytes> sent;
    for (const auto& record : sim_->log()) {
      if (record.direction == sim::ReportRecord::Direction::Sent) sent.push_back(record.bytes);
    }
    return sent;
  }
  std::size_t Fetches() const {
    std::size_t fetches = 0;
    for (const auto& record : sim_->log()) {
      fetches += record.direction == sim::ReportRecord::Direction::Fetched;
    }
    return fetches;
  }
  sim::SimulatedModule& module() { return sim_->module(); }

  std::shared_ptr<sim::SimBackend> sim_;
  std::shared_ptr<device::Link> link_;
  // A handle the test opens itself (the operations use the link's own, HidHandle).
  device::Handle handle_ = device::kInvalidHandle;
};

}  // namespace tarven::testing
