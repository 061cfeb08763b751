// Bounded reads of ordinary files: what the file holds counts, not the size the system lists.

#include "storage/file_io.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace tarven::testing {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

TEST(ReadFilePrefix, TakesThePrefixAndTellsTheWholeSize) {
  const fs::path path = fs::temp_directory_path() / ("tarven-prefix-" + std::to_string(::getpid()));
  std::string content(100000, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
  std::ofstream(path, std::ios::binary) << content;
  const struct {
    std::size_t limit;
    std::size_t taken;
  } cases[] = {{16384, 16384}, {100000, 100000}, {200000, 100000}, {0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.limit);
    Bytes bytes;
    const storage::ReadResult read = storage::ReadFilePrefix(path.string(), c.limit, bytes);
    ASSERT_EQ(read.status, storage::ReadStatus::Read);
    EXPECT_EQ(read.size, 100000u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), content.substr(0, c.taken));
  }
  fs::remove(path);
}

TEST(ReadFilePrefix, FileThatListsNoSizeIsReadToItsEnd) {
  // /proc lists 0 bytes for its files, which hold text all the same.
  Bytes bytes;
  const storage::ReadResult read = storage::ReadFilePrefix("/proc/self/status", 16384, bytes);
  ASSERT_EQ(read.status, storage::ReadStatus::Read);
  EXPECT_GT(read.size, 5u);
  EXPECT_EQ(read.size, bytes.size());
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 5), "Name:");
}

TEST(ReadFilePrefix, ReadErrorIsAFailureWithNoBytes) {
  // Reading a process's memory at address 0 fails with an I/O error.
  Bytes bytes;
  const storage::ReadResult read = storage::ReadFilePrefix("/proc/self/mem", 16384, bytes);
  EXPECT_EQ(read.status, storage::ReadStatus::Failed);
  EXPECT_EQ(read.error_number, EIO);
  EXPECT_TRUE(bytes.empty());
}

}  // namespace
}  // namespace tarven::testing
