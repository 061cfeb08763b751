// The journal of changes to modules: every change recorded from every program and thread, a
// journal that cannot be written or is damaged never costs the change, and undo puts a module
// back as it was, but not over a change made since.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli_fixture.h"
#include "journal/journal.h"
#include "journal/user_place.h"
#include "model/sha256.h"
#include "sim/sim_backend.h"

extern char** environ;

namespace tarven::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kRom = 0x08035800;
constexpr std::uint32_t kAmt = 0x08039800;
constexpr std::uint32_t kKvp = 0x0803B800;
constexpr std::uint32_t kSector = 0x0803F800;
constexpr std::size_t kParamTable = 1024;  // parameter 1's byte in the sector

std::shared_ptr<sim::SimBackend> Bench(int count) {
  auto bus = std::make_shared<sim::SimBackend>();
  for (int n = 1; n < count; ++n) bus->AddModule(std::make_shared<sim::SimulatedModule>());
  return bus;
}

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class JournalTest : public ::testing::Test {
 public:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("tarven-journal-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    journal_ = (dir_ / "journal.sqlite").string();
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir_, ec);
  }

  // tarvenctl against `bus` (the fixture's module by default), with this test's journal.
  CtlResult Ctl(std::vector<std::string> args, std::shared_ptr<sim::SimBackend> bus = nullptr,
                const std::string& journal = {}) {
    args.insert(args.begin(), {"--journal", journal.empty() ? journal_ : journal});
    if (std::none_of(args.begin(), args.end(),
                     [](const std::string& a) { return a.rfind("--simulate", 0) == 0; })) {
      args.insert(args.begin(), "--simulate");
    }
    return RunCtl(args, bus ? bus : sim_, [](std::string_view) { return true; });
  }

  std::vector<journal::Record> Records(const std::string& path = {}) {
    journal::Journal::Opened opened = journal::Journal::Open(path.empty() ? journal_ : path);
    EXPECT_TRUE(opened.journal) << opened.error;
    std::vector<journal::Record> records;
    std::string error;
    if (opened.journal) {
      EXPECT_TRUE(opened.journal->List({}, records, error)) << error;
    }
    return records;
  }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  sim::SimulatedModule& Module() { return sim_->module(); }
  std::vector<std::uint8_t> Sector() { return Module().FlashAt(kSector, 2048); }
  std::vector<std::uint8_t> Rom() { return Module().FlashAt(kRom, 16384); }

  void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }

  fs::path dir_;
  std::string journal_;
  std::shared_ptr<sim::SimBackend> sim_ = std::make_shared<sim::SimBackend>();
};

TEST_F(JournalTest, AChangeIsRecordedWithItsModuleItsCommandAndTheDigestOfWhatWasWritten) {
  std::vector<std::uint8_t> image(16384);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7);
  WriteFile(Path("rom.bin"), image);
  const std::vector<std::uint8_t> rom_before = Rom();
  ASSERT_EQ(Ctl({"image", "write", "rom", Path("rom.bin"), "--yes"}).code, 0);
  ASSERT_EQ(Ctl({"cnc", "stop"}).code, 0);
  ASSERT_EQ(Ctl({"status"}).code, 0);  // reads only: no record

  const auto records = Records();
  ASSERT_EQ(records.size(), 2u);
  const journal::Record& write = records[0];
  EXPECT_EQ(write.operation, "image write");
  EXPECT_EQ(write.program, "tarvenctl");
  EXPECT_EQ(write.serial, "SIM00001");
  EXPECT_EQ(write.location, "sim-1");
  EXPECT_EQ(write.firmware, "4.54");
  EXPECT_EQ(write.result, "done");
  EXPECT_NE(write.arguments.find("image write rom"), std::string::npos) << write.arguments;
  ASSERT_EQ(write.parts.size(), 1u);
  EXPECT_EQ(write.parts[0].name, "rom");
  EXPECT_EQ(write.parts[0].address, kRom);
  EXPECT_EQ(write.parts[0].size, 16384u);
  EXPECT_EQ(write.parts[0].sha256, model::Sha256Hex(image));
  EXPECT_EQ(write.parts[0].before_sha256, model::Sha256Hex(rom_before));
  EXPECT_TRUE(write.parts[0].before_kept);
  EXPECT_EQ(records[1].operation, "cnc stop");
  EXPECT_EQ(records[1].firmware, "4.54");
  EXPECT_TRUE(records[1].parts.empty());

  // The listing shows the serial and the digest; show gives the whole of it.
  const CtlResult list = Ctl({"journal", "--device", "SIM00001"});
  ASSERT_EQ(list.code, 0) << list.err;
  EXPECT_NE(list.out.find("SIM00001"), std::string::npos);
  EXPECT_EQ(Count(list.out, "\n"), 2u) << list.out;
  const CtlResult show = Ctl({"journal", "show", std::to_string(write.id)});
  ASSERT_EQ(show.code, 0) << show.err;
  EXPECT_NE(show.out.find(model::Sha256Hex(image)), std::string::npos) << show.out;
  EXPECT_NE(Ctl({"journal", "show", "999"}).code, 0);
  EXPECT_EQ(Ctl({"journal", "--device", "SIM00002"}).out, "");
  EXPECT_EQ(Ctl({"journal", "--since", "2999-01-01"}).out, "");
  EXPECT_EQ(Ctl({"journal", "--since", "yesterday"}).code, 2);

  // No journal, no record; and an export is CSV with one line a record.
  ASSERT_EQ(Ctl({"--no-journal", "cnc", "start"}, nullptr, Path("other.sqlite")).code, 2);
  ASSERT_EQ(RunCtl({"--simulate", "--no-journal", "cnc", "start"}, sim_).code, 0);
  EXPECT_EQ(Records().size(), 2u);
  ASSERT_EQ(Ctl({"journal", "export", Path("journal.csv")}).code, 0);
  std::ifstream csv(Path("journal.csv"));
  std::string header, line;
  std::getline(csv, header);
  EXPECT_EQ(header.rfind("id,time,user,computer,program,version,serial,location", 0), 0u);
  int rows = 0;
  while (std::getline(csv, line)) ++rows;
  EXPECT_EQ(rows, 2);
  EXPECT_NE(Ctl({"journal", "export", Path("journal.csv")}).code, 0);  // kept without --force
}

TEST_F(JournalTest, RecordsFromEightThreadsAndASecondProcessAtOnceAreAllKept) {
  constexpr int kRounds = 4;
  constexpr int kModules = 8;
  // The other process has a bench of its own, with locks of its own.
  const std::string locks = Path("locks");
  fs::create_directories(locks);
  const std::string script =
      "i=0; while [ $i -lt " + std::to_string(kRounds) + " ]; do \"$0\" --simulate=" +
      std::to_string(kModules) + " --journal \"$1\" --all cnc stop >/dev/null || exit 1; " +
      "i=$((i+1)); done";
  const std::string lock_env = "TARVEN_LOCK_DIR=" + locks;
  std::vector<std::string> env_words;
  for (char** e = environ; *e != nullptr; ++e) env_words.emplace_back(*e);
  env_words.push_back(lock_env);
  std::vector<char*> envp;
  for (std::string& word : env_words) envp.push_back(word.data());
  envp.push_back(nullptr);
  std::string sh = "/bin/sh", c = "-c", binary = TARVENCTL_BINARY;
  std::vector<char*> argv = {sh.data(), c.data(), const_cast<char*>(script.c_str()), binary.data(),
                             journal_.data(), nullptr};
  pid_t child = 0;
  ASSERT_EQ(::posix_spawn(&child, "/bin/sh", nullptr, nullptr, argv.data(), envp.data()), 0);

  auto bus = Bench(kModules);
  for (int round = 0; round < kRounds; ++round) {
    const CtlResult r = Ctl({"--simulate=8", "--all", "params", "set", "7=3", "--yes"}, bus);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err.find("warning"), std::string::npos) << r.err;
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

  const auto records = Records();
  std::map<std::string, int> per_operation;
  std::set<std::string> serials;
  std::set<std::int64_t> ids;
  for (const journal::Record& record : records) {
    ++per_operation[record.operation];
    serials.insert(record.serial);
    ids.insert(record.id);
    EXPECT_EQ(record.result, "done") << record.result_detail;
  }
  EXPECT_EQ(per_operation["config write"], kRounds * kModules);
  EXPECT_EQ(per_operation["cnc stop"], kRounds * kModules);
  EXPECT_EQ(ids.size(), records.size());
  EXPECT_EQ(serials.size(), static_cast<std::size_t>(kModules));
}

// What makes a journal unwritable; each is set up before a change that must still succeed.
struct Unwritable {
  const char* name;
  // Prepares the journal file (or what stands in its place) and returns its path.
  std::function<std::string(JournalTest&, const std::string& dir)> prepare;
  // Runs around the change: for a full disk, the file size limit of the process.
  bool full_disk = false;
  bool as_other_user = false;
};

// A case prints as its name (its bytes would include padding that was never set).
void PrintTo(const Unwritable& c, std::ostream* out) { *out << c.name; }

class UnwritableJournalTest : public JournalTest,
                              public ::testing::WithParamInterface<Unwritable> {};

// Runs `body` in a child process as user nobody (a journal only root could write is read-only
// for it); the child's exit status is 0 when the body's checks held.
int AsNobody(const std::function<int()>& body) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(90);
    ::_exit(body());
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 99;
}

TEST_P(UnwritableJournalTest, TheChangeIsDoneAndTheJournalsFaultToldOnce) {
  const Unwritable& c = GetParam();
  const std::string journal = c.prepare(*this, dir_.string());
  const std::vector<std::uint8_t> before = Sector();
  auto change = [&]() {
    // Three modules, so that three records fail to be written; one in a child process, which
    // starts no thread of its own (a thread sanitizer does not follow threads past a fork).
    const int modules = c.as_other_user ? 1 : 3;
    auto bus = Bench(modules);
    CtlResult r = modules == 1
                      ? Ctl({"params", "set", "1=77", "--yes"}, bus, journal)
                      : Ctl({"--simulate=3", "--all", "params", "set", "1=77", "--yes"}, bus,
                            journal);
    bool changed = true;
    for (const auto& device : bus->devices()) {
      changed = changed && device.module->FlashAt(kSector, 2048)[kParamTable] == 77;
    }
    return std::make_pair(r, changed);
  };
  if (c.as_other_user) {
    const int status = AsNobody([&] {
      const auto [r, changed] = change();
      if (r.code != 0) return 1;
      if (!changed) return 2;
      if (Count(r.err, "tarvenctl: warning:") != 1) return 3;
      return 0;
    });
    EXPECT_EQ(status, 0);
    return;
  }
  rlimit saved{};
  if (c.full_disk) {
    ::signal(SIGXFSZ, SIG_IGN);
    ::getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ::setrlimit(RLIMIT_FSIZE, &small);
  }
  const auto [r, changed] = change();
  if (c.full_disk) {
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, SIG_DFL);
  }
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(changed);
  EXPECT_EQ(Count(r.err, "tarvenctl: warning:"), 1u) << r.err;
  EXPECT_NE(r.err.find("journal"), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Journal, UnwritableJournalTest,
    ::testing::Values(
        Unwritable{"read_only",
                   [](JournalTest& fixture, const std::string& dir) {
                     const std::string path = dir + "/ro.sqlite";
                     EXPECT_EQ(fixture.Ctl({"cnc", "stop"}, nullptr, path).code, 0);
                     fs::permissions(path, fs::perms::owner_read | fs::perms::group_read |
                                               fs::perms::others_read);
                     fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec |
                                              fs::perms::others_read | fs::perms::others_exec);
                     return path;
                   },
                   false, true},
        Unwritable{"full_disk",
                   [](JournalTest&, const std::string& dir) { return dir + "/full.sqlite"; },
                   true, false},
        Unwritable{"folder_is_a_file",
                   [](JournalTest&, const std::string& dir) {
                     std::ofstream(dir + "/plain") << "x";
                     return dir + "/plain/journal.sqlite";
                   }}),
    [](const ::testing::TestParamInfo<Unwritable>& p) { return std::string(p.param.name); });

// Damage of several kinds: the file is moved aside whole, a new journal takes the record.
struct Damage {
  const char* name;
  std::function<void(const std::string& path)> apply;
};

void PrintTo(const Damage& c, std::ostream* out) { *out << c.name; }

// The damaged journal is the user's own, in the data folder: there, whatever is damaged is moved
// aside.
class DamagedJournalTest : public JournalTest, public ::testing::WithParamInterface<Damage> {
 public:
  void SetUp() override {
    JournalTest::SetUp();
    const char* data = std::getenv("XDG_DATA_HOME");
    saved_data_home_ = data != nullptr ? std::optional<std::string>(data) : std::nullopt;
    ::setenv("XDG_DATA_HOME", dir_.string().c_str(), 1);
    journal_ = dir_.string() + "/tarven/journal.sqlite";
    ASSERT_EQ(journal_, journal::DefaultJournalPath());
  }
  void TearDown() override {
    if (saved_data_home_) {
      ::setenv("XDG_DATA_HOME", saved_data_home_->c_str(), 1);
    } else {
      ::unsetenv("XDG_DATA_HOME");
    }
    JournalTest::TearDown();
  }

 private:
  std::optional<std::string> saved_data_home_;
};

TEST_P(DamagedJournalTest, IsMovedAsideToldAndReplaced) {
  for (int i = 0; i < 40; ++i) ASSERT_EQ(Ctl({"cnc", "stop"}).code, 0);
  GetParam().apply(journal_);
  const std::string damaged = Contents(journal_);

  const CtlResult r = Ctl({"params", "set", "1=5", "--yes"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Sector()[kParamTable], 5);
  EXPECT_NE(r.err.find("was damaged; it was moved to " + journal_ + ".damaged-"),
            std::string::npos)
      << r.err;
  std::vector<fs::path> aside;
  for (const auto& entry : fs::directory_iterator(fs::path(journal_).parent_path())) {
    if (entry.path().filename().string().find(".damaged-") != std::string::npos &&
        entry.path().extension() != ".sqlite-wal") {
      aside.push_back(entry.path());
    }
  }
  ASSERT_EQ(aside.size(), 1u);
  EXPECT_TRUE(Contents(aside.front().string()) == damaged) << "the damaged file was changed";
  const auto records = Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].operation, "config write");
}

void Overwrite(const std::string& path, std::uint64_t at, const std::string& bytes) {
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  file.seekp(static_cast<std::streamoff>(at));
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Journal, DamagedJournalTest,
    ::testing::Values(
        Damage{"not_a_database",
               [](const std::string& path) { std::ofstream(path) << "not a journal\n"; }},
        Damage{"header_overwritten",
               [](const std::string& path) { Overwrite(path, 0, std::string(100, '\xA5')); }},
        Damage{"pages_overwritten",
               [](const std::string& path) {
                 Overwrite(path, 4096, std::string(8192, '\x5A'));
               }},
        Damage{"another_programs_database",
               [](const std::string& path) {
                 fs::remove(path);
                 const std::string sql = "sqlite3 '" + path + "' 'CREATE TABLE t(x);'";
                 ASSERT_EQ(std::system(sql.c_str()), 0);
               }}),
    [](const ::testing::TestParamInfo<Damage>& p) { return std::string(p.param.name); });

// A file named with --journal that is not a journal of ours is some other file named by mistake:
// it is left byte for byte as it was, not moved aside, and the change goes through with one
// warning.
TEST_F(JournalTest, ANamedFileThatIsNotAJournalIsLeftAsItIs) {
  const struct {
    const char* name;
    std::function<void(const std::string&)> make;
  } cases[] = {
      {"text", [](const std::string& path) { std::ofstream(path) << "root:x:0:0:root:/root\n"; }},
      {"another_programs_database",
       [](const std::string& path) {
         const std::string sql = "sqlite3 '" + path + "' 'CREATE TABLE t(x);'";
         ASSERT_EQ(std::system(sql.c_str()), 0);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Path(std::string(c.name) + ".txt");
    c.make(path);
    const std::string before = Contents(path);
    const CtlResult r = Ctl({"params", "set", "1=6", "--yes"}, nullptr, path);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Sector()[kParamTable], 6);
    EXPECT_EQ(Count(r.err, "tarvenctl: warning:"), 1) << r.err;
    EXPECT_NE(r.err.find("is not a journal"), std::string::npos) << r.err;
    EXPECT_EQ(Contents(path), before);
    for (const auto& entry : fs::directory_iterator(dir_)) {
      EXPECT_EQ(entry.path().filename().string().find(".damaged-"), std::string::npos)
          << entry.path();
    }
  }
}

TEST_F(JournalTest, AnExportRunsNoFormulaAndKeepsCommasAndQuotes) {
  {
    auto opened = journal::Journal::Open(journal_);
    ASSERT_TRUE(opened.journal) << opened.error;
    journal::Record record;
    record.serial = "=HYPERLINK(\"http://x\")";  // a serial number is the device's own text
    record.detail = "a, \"b\"";
    record.operation = "cnc stop";
    std::string error;
    ASSERT_TRUE(opened.journal->Append(record, {}, error)) << error;
  }
  ASSERT_EQ(Ctl({"journal", "export", Path("out.csv")}).code, 0);
  const std::string csv = Contents(Path("out.csv"));
  EXPECT_NE(csv.find(",\"'=HYPERLINK(\"\"http://x\"\")\","), std::string::npos) << csv;
  EXPECT_NE(csv.find(",\"a, \"\"b\"\"\","), std::string::npos) << csv;
  EXPECT_EQ(csv.find(",=HYPERLINK"), std::string::npos) << csv;
}

TEST_F(JournalTest, BeforeStatesAreBoundedOldestFirstAndRecordsStay) {
  auto opened = journal::Journal::Open(journal_, 5000);
  ASSERT_TRUE(opened.journal) << opened.error;
  std::string error;
  for (int i = 0; i < 4; ++i) {
    journal::Record record;
    record.operation = "image write";
    record.parts.push_back({"kvp", kKvp, 2000, "a", "b", false});
    ASSERT_TRUE(opened.journal->Append(
        record, {std::vector<std::uint8_t>(2000, static_cast<std::uint8_t>(i))}, error))
        << error;
  }
  std::vector<journal::Record> records;
  ASSERT_TRUE(opened.journal->List({}, records, error));
  ASSERT_EQ(records.size(), 4u);
  // 4 x 2000 bytes under 5000: the two oldest went.
  const std::vector<bool> kept = {false, false, true, true};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(records[i].parts.at(0).before_kept, kept[i]) << i;
    EXPECT_EQ(opened.journal->BeforeState(records[i].id, 0, error).has_value(), kept[i]);
  }
  EXPECT_EQ(opened.journal->BeforeState(records[3].id, 0, error),
            std::vector<std::uint8_t>(2000, 3));
  EXPECT_EQ(opened.journal->BeforeStateBytes(error), 4000u);
}

// The newest record of the journal.
std::int64_t LastId(const std::vector<journal::Record>& records) {
  return records.empty() ? 0 : records.back().id;
}

TEST_F(JournalTest, UndoPutsBackAParameterWriteAnImageWriteAndARestore) {
  // A parameter write.
  const std::vector<std::uint8_t> sector = Sector();
  ASSERT_EQ(Ctl({"params", "set", "1=99", "--yes"}).code, 0);
  ASSERT_NE(Sector(), sector);
  const std::int64_t params_id = LastId(Records());
  CtlResult r = Ctl({"undo", std::to_string(params_id), "--yes"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Sector(), sector);
  // The undo is recorded too, as a change of its own.
  auto records = Records();
  EXPECT_NE(records.back().arguments.find("undo"), std::string::npos);
  EXPECT_NE(records.back().detail.find("undo of record"), std::string::npos) << records.back().detail;
  EXPECT_GT(records.back().id, params_id);

  // An image write, undone as the newest undoable change (no ID).
  const std::vector<std::uint8_t> rom = Rom();
  WriteFile(Path("rom.bin"), std::vector<std::uint8_t>(16384, 0x3C));
  ASSERT_EQ(Ctl({"image", "write", "rom", Path("rom.bin"), "--yes"}).code, 0);
  ASSERT_EQ(Rom(), std::vector<std::uint8_t>(16384, 0x3C));
  r = Ctl({"undo", "--yes"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Rom(), rom);

  // A restore: every part it wrote goes back.
  ASSERT_EQ(Ctl({"backup", Path("a.tar")}).code, 0);
  WriteFile(Path("amt.bin"), std::vector<std::uint8_t>(8192, 0x11));
  ASSERT_EQ(Ctl({"image", "write", "amt", Path("amt.bin"), "--yes"}).code, 0);
  ASSERT_EQ(Ctl({"params", "set", "2=42", "--yes"}).code, 0);
  Module().ram.assign(Module().ram.size(), 0x77);
  const auto changed_sector = Sector();
  const auto changed_amt = Module().FlashAt(kAmt, 8192);
  const auto changed_ram = Module().ram;
  r = Ctl({"restore", Path("a.tar"), "--ram-bank", "main", "--yes"});
  ASSERT_EQ(r.code, 0) << r.err;
  ASSERT_NE(Sector(), changed_sector);
  const std::int64_t restore_id = LastId(Records());
  r = Ctl({"undo", std::to_string(restore_id), "--yes"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Sector(), changed_sector);
  EXPECT_EQ(Module().FlashAt(kAmt, 8192), changed_amt);
  EXPECT_EQ(Module().ram, changed_ram);
  EXPECT_NE(r.out.find("config"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("ram"), std::string::npos) << r.out;
}

TEST_F(JournalTest, UndoRefusesAModuleChangedSinceUnlessForced) {
  const std::vector<std::uint8_t> sector = Sector();
  ASSERT_EQ(Ctl({"params", "set", "1=99", "--yes"}).code, 0);
  const std::int64_t id = LastId(Records());
  // Changed since, by a run that kept no journal.
  ASSERT_EQ(RunCtl({"--simulate", "--no-journal", "params", "set", "1=98", "--yes"}, sim_).code, 0);
  const auto changed = Sector();
  CtlResult r = Ctl({"undo", std::to_string(id), "--yes"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("no longer holds"), std::string::npos) << r.err;
  EXPECT_EQ(Sector(), changed);
  r = Ctl({"undo", std::to_string(id), "--force", "--yes"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Sector(), sector);

  // A write made without reading what it replaced cannot be undone (the configuration sector is
  // read before every write of it anyway, so its writes always can).
  WriteFile(Path("kvp.bin"), std::vector<std::uint8_t>(16384, 0x44));
  ASSERT_EQ(Ctl({"--no-undo", "image", "write", "kvp", Path("kvp.bin"), "--yes"}).code, 0);
  r = Ctl({"undo", std::to_string(LastId(Records())), "--yes"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("no kept before-state"), std::string::npos) << r.err;
  // Nor is there undo without a terminal's or --yes's word.
  EXPECT_EQ(RunCtl({"--simulate", "--journal", journal_, "undo", std::to_string(id)}, sim_).code,
            2);
}

}  // namespace
}  // namespace tarven::testing
