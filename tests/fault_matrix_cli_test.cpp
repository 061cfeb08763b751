// The fault matrix of tarvenctl: every command that talks to the module, run against a fresh
// simulated module with one fault planned at a report of the run (found from a clean run of the
// same command), and what a script sees afterwards: the exit status and one line on standard
// error when it failed, exactly what the clean run gave when it says it succeeded, no handle left
// open, no file created or spoilt, and the module untouched when the fault came before the first
// write.

#include <gtest/gtest.h>

#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli_fixture.h"
#include "fault_matrix.h"

namespace tarven::testing {
namespace {

using namespace matrix;

struct Operation {
  const char* name;
  // "@NAME" stands for the file NAME in the run's folder.
  std::vector<std::string> args;
  // The module as the command expects to find it, beyond a filled fresh one.
  void (*arrange)(sim::SimulatedModule&) = [](sim::SimulatedModule&) {};
};

void Stopped(sim::SimulatedModule& module) {
  module.cnc_running = false;
}

const Operation kOperations[] = {
    {"status", {"status"}},
    {"cnc stop", {"cnc", "stop"}},
    {"cnc start", {"cnc", "start"}, Stopped},
    {"restart", {"restart"}, Stopped},
    {"config show", {"config", "show"}},
    {"config set", {"config", "set", "T=17", "--yes"}},
    {"params get", {"params", "get"}},
    {"params set", {"params", "set", "1=5", "2=-7", "--yes"}},
    {"params import", {"params", "import", "@params.csv", "--yes"}},
    {"params export", {"params", "export", "@out", "--force"}},
    {"image read rom", {"image", "read", "rom", "@out", "--force"}},
    {"image read amt", {"image", "read", "amt", "@out", "--force"}},
    {"image read kvp", {"image", "read", "kvp", "@out", "--force"}},
    {"image read ram", {"image", "read", "ram", "@out", "--force"}},
    {"image write rom", {"image", "write", "rom", "@rom.bin", "--yes"}},
    {"image write amt", {"image", "write", "amt", "@amt.bin", "--yes"}},
    {"image write kvp", {"image", "write", "kvp", "@kvp.bin", "--yes"}},
    {"image write ram", {"image", "write", "ram", "@ram.bin", "--bank", "main", "--yes"}},
    {"image write --verify", {"image", "write", "rom", "@rom.bin", "--verify", "--yes"}},
    {"io", {"io"}},
    {"reg read", {"reg", "read", "170461", "170462"}},
    {"reg write", {"reg", "write", "170462=1", "170464=2"}, Stopped},
    {"dac set", {"dac", "set", "1", "3777"}, Stopped},
    {"dac off", {"dac", "off"}, [](sim::SimulatedModule& module) { module.ext_dac = true; }},
    {"update", {"update", "--yes"}},
    {"devices", {"devices"}},
};

// One run of a command and what it left.
struct Outcome {
  int code = 0;
  std::string out, err;  // the run's folder named DIR
  std::size_t open_handles = 0;
  sim::ModuleState initial, module;
  Files before, after;
  Log log;  // the reports, for a run without a fault
};

std::string Anonymous(std::string text, const std::string& dir) {
  for (std::size_t at; (at = text.find(dir)) != std::string::npos;)
    text.replace(at, dir.size(), "DIR");
  return text;
}

Outcome Execute(const Operation& operation, const Column* column = nullptr,
                std::uint64_t report = 0) {
  const ScratchDir dir("cli");
  dir.Put("rom.bin", PatternText(16384, 3));
  dir.Put("amt.bin", PatternText(8192, 5));
  dir.Put("kvp.bin", PatternText(16384, 7));
  dir.Put("ram.bin", PatternText(16384, 9));
  dir.Put("params.csv", "number,value\n1,5\n2,-7\n");
  dir.Put("out", "what was there before\n");
  auto sim = std::make_shared<sim::SimBackend>();
  FillModule(sim->module());
  operation.arrange(sim->module());
  Outcome outcome;
  outcome.initial = sim->module();
  outcome.before = FilesIn(dir.path());
  if (column != nullptr) {
    sim->ArmFault(report, column->fault);
  } else {
    sim->StartRecording();
  }
  std::vector<std::string> args{"--simulate"};
  for (const std::string& arg : operation.args) {
    args.push_back(arg.front() == '@' ? (dir.path() / arg.substr(1)).string() : arg);
  }
  const CtlResult result = RunCtl(args, sim);
  outcome.code = result.code;
  outcome.out = Anonymous(result.out, dir.path().string());
  outcome.err = Anonymous(result.err, dir.path().string());
  outcome.open_handles = sim->OpenHandleCount();
  outcome.module = sim->module();
  outcome.after = FilesIn(dir.path());
  outcome.log = sim->log();
  return outcome;
}

// The checks of one cell; empty when every one held.
std::vector<std::string> Check(const Outcome& clean, const Outcome& run, bool before_first_write) {
  std::vector<std::string> problems;
  if (run.open_handles != 0) problems.push_back("handle left open");
  if (run.code == 0) {
    // Success must be the clean run's success, to the byte.
    if (run.out != clean.out || run.err != clean.err || !(run.module == clean.module) ||
        run.after != clean.after) {
      problems.push_back("failure reported as success");
    }
  } else {
    const bool one_line =
        run.err.rfind("tarvenctl: ", 0) == 0 && run.err.find('\n') == run.err.size() - 1;
    if (!one_line) problems.push_back("not told in one line");
  }
  for (std::string& problem : FileProblems(run.before, run.after, clean.after)) {
    problems.push_back(std::move(problem));
  }
  // A failed command whose fault came before its first write has written nothing.
  if (run.code != 0 && before_first_write && !(Kept(run.module) == Kept(run.initial))) {
    problems.push_back("module changed");
  }
  return problems;
}

TEST(FaultMatrix, EveryCommandThatTalksToTheModuleSurvivesEveryFault) {
  Table table;
  for (const Operation& operation : kOperations) {
    SCOPED_TRACE(operation.name);
    const Outcome clean = Execute(operation);
    ASSERT_EQ(clean.code, 0) << "a clean run fails: " << clean.err;
    ASSERT_FALSE(clean.log.empty()) << "a clean run does not talk to the module";
    const std::uint64_t first_write = FirstWrite(clean.log);
    std::vector<std::string> cells;
    for (const Column& column : Columns()) {
      SCOPED_TRACE(column.name);
      const std::uint64_t report = ReportFor(clean.log, column);
      const Outcome run = Execute(operation, &column, report);
      const auto problems =
          Check(clean, run, StruckBeforeFirstWrite(report, first_write, column.fault));
      EXPECT_TRUE(problems.empty()) << "report " << report << ": " << CellText(problems, false)
                                    << "\nexit " << run.code << "\nstdout:\n"
                                    << run.out << "stderr:\n"
                                    << run.err;
      cells.push_back(CellText(problems, run.code == 0));
    }
    table.Add(operation.name, clean.log.size(), cells);
  }
  table.Print(std::cout, "tarvenctl fault matrix");
}

}  // namespace
}  // namespace tarven::testing
