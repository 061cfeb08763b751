// The options the entry point reads before the window exists.

#include "app/launch_options.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTranslator>
#include <string>
#include <vector>

#include "app/toolkit_translation.h"

namespace tarven::app {
namespace {

TEST(LaunchOptions, ReadsSimulatorOptionsAnywhereAndRefusesMisuse) {
  const struct {
    std::vector<std::string> args;
    bool ok;
    bool simulate;
    std::string state;
    bool trace = false;
    std::string device = "";
    std::string journal = "";
    bool no_journal = false;
  } cases[] = {
      {{}, true, false, ""},
      {{"-f"}, true, false, ""},
      {{"-f", "--simulate"}, true, true, ""},
      {{"--simulate", "--sim-state", "module.state", "-f"}, true, true, "module.state"},
      {{"--sim-state", "module.state", "--simulate"}, true, true, "module.state"},
      {{"-f", "--trace"}, true, false, "", true},
      {{"--simulate", "--trace", "--sim-state", "--trace"}, true, true, "--trace", true},
      {{"--sim-state", "module.state"}, false, false, ""},
      {{"--simulate", "--sim-state"}, false, false, ""},
      {{"--simulate", "--sim-state", ""}, false, false, ""},
      // The toolkit's own options, and words that are not options, pass.
      {{"-platform", "offscreen", "--simulate"}, true, true, ""},
      {{"f"}, true, false, ""},
      {{"--simulate", "-f"}, true, true, ""},
      {{"--sim-state=module.state", "--simulate"}, true, true, "module.state"},
      // Words with one dash that name no option are taken and ignored, as other words are.
      {{"-F"}, true, false, ""},
      {{"-fx", "--simulate"}, true, true, ""},
      {{"-foo", "-F", "-", "--trace"}, true, false, "", true},
      {{"--simulate", "-sim-state", "module.state"}, true, true, "module.state"},
      // The value of an option may begin with a dash.
      {{"--device", "-F"}, true, false, "", false, "-F"},
      // A misspelt option with two dashes stops the program before it opens anything.
      {{"--simualte"}, false, false, ""},
      {{"-F", "--F"}, false, false, ""},
      {{"--simulate", "--trace=yes"}, false, false, ""},
      {{"--firmware"}, false, false, ""},
      // One module among several.
      {{"--device", "1-2.3", "--simulate"}, true, true, "", false, "1-2.3"},
      {{"--device=T0042"}, true, false, "", false, "T0042"},
      {{"--simulate", "--device"}, false, false, ""},
      {{"--device", ""}, false, false, ""},
      // The journal: another file, or none; not both.
      {{"--journal", "bench.sqlite", "--simulate"}, true, true, "", false, "", "bench.sqlite"},
      {{"--no-journal"}, true, false, "", false, "", "", true},
      {{"--journal"}, false, false, ""},
      {{"--journal="}, false, false, ""},
      {{"--journal", "j.sqlite", "--no-journal"}, false, false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    LaunchOptions options;
    std::string error;
    ASSERT_EQ(ParseLaunchOptions(c.args, options, error), c.ok);
    if (c.ok) {
      EXPECT_EQ(options.simulate, c.simulate);
      EXPECT_EQ(options.sim_state_path, c.state);
      EXPECT_EQ(options.trace, c.trace);
      EXPECT_EQ(options.device, c.device);
      EXPECT_EQ(options.journal_file, c.journal);
      EXPECT_EQ(options.no_journal, c.no_journal);
    } else {
      EXPECT_FALSE(error.empty());
      EXPECT_EQ(error.find('\n'), std::string::npos);
    }
  }
}

TEST(LaunchOptions, SimulateTakesTheSizeOfTheBench) {
  const struct {
    const char* word;
    int modules;  // 0: refused
  } cases[] = {{"--simulate", 1},     {"--simulate=3", 3},    {"--simulate=64", 64},
               {"--simulate=0", 0},   {"--simulate=65", 0},   {"--simulate=03", 0},
               {"--simulate=", 0},    {"--simulate=2x", 0},   {"--simulate=-1", 0},
               {"--simulate=100", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.word);
    LaunchOptions options;
    std::string error;
    ASSERT_EQ(ParseLaunchOptions({"-f", c.word}, options, error), c.modules > 0) << error;
    if (c.modules > 0) {
      EXPECT_TRUE(options.simulate);
      EXPECT_EQ(options.simulated_modules, c.modules);
    } else {
      EXPECT_NE(error.find("--simulate"), std::string::npos) << error;
    }
  }
}

TEST(LaunchOptions, ErrorNamesTheUnknownOptionAsTyped) {
  for (const std::string word : {"--simualte", "--F", "--simualte=1"}) {
    LaunchOptions options;
    std::string error;
    ASSERT_FALSE(ParseLaunchOptions({"--simulate", word}, options, error));
    EXPECT_EQ(error, "unknown option '" + word + "'");
  }
}

TEST(LaunchOptions, HelpAndVersionWinOverEverythingElse) {
  const struct {
    std::vector<std::string> args;
    bool help;
    bool version;
  } cases[] = {
      {{"--help"}, true, false},
      {{"-h", "-f"}, true, false},
      {{"--version"}, false, true},
      {{"-F", "-V"}, false, true},
      // Asked for help: a --sim-state without --simulate does not stop it.
      {{"--sim-state", "x", "--version"}, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    LaunchOptions options;
    std::string error;
    ASSERT_TRUE(ParseLaunchOptions(c.args, options, error)) << error;
    EXPECT_EQ(options.show_help, c.help);
    EXPECT_EQ(options.show_version, c.version);
  }
  const std::string help = LaunchHelpText();
  for (const char* option :
       {"-f", "--simulate", "--sim-state <FILE>", "--trace", "--firmware <FILE>",
        "--device <SELECTOR>", "--help", "-V, --version"}) {
    EXPECT_NE(help.find(option), std::string::npos) << option;
  }
  // The toolkit's options are accepted but not offered.
  EXPECT_EQ(help.find("platform"), std::string::npos);
}

TEST(ToolkitTranslation, StandardButtonsAndFileDialogsSpeakRussian) {
  QTranslator* translator = InstallToolkitTranslation(*QCoreApplication::instance());
  ASSERT_NE(translator, nullptr) << "the toolkit's Russian translation is not installed";
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Отмена"));
  EXPECT_EQ(QCoreApplication::translate("QFileDialog", "File &name:"),
            QStringLiteral("&Имя файла:"));
  QCoreApplication::removeTranslator(translator);
  delete translator;
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));
}

}  // namespace
}  // namespace tarven::app
