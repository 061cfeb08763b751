#pragma once
// How long transfers report their progress and are asked to stop.
//
// The operation calls the callback once before the first block (done 0) and after every block
// with the bytes done so far and the total. The callback returns true to go on, false to stop:
// the operation then stops at the next block boundary, never inside a block, and returns
// Failure::Cancelled with the bytes done. A data stream that the module has already started to
// send (a read) is always taken to its end first, so a cancelled read still leaves the link in
// step.

#include <cstdint>
#include <functional>

namespace tarven::device {

using Progress = std::function<bool(std::uint64_t done, std::uint64_t total)>;

// Calls `progress` when there is one; true (go on) when there is none.
inline bool Report(const Progress& progress, std::uint64_t done, std::uint64_t total) {
  return !progress || progress(done, total);
}

}  // namespace tarven::device
