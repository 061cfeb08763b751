#include "app/launch_options.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>
#include <string_view>

namespace tarven::app {
namespace {

struct Option {
  QStringList names;
  const char* value;  // the value's name, or nullptr for a switch
  const char* help;   // nullptr: accepted but not listed (the toolkit's own options)
};

// The window's options, then the toolkit's, which QApplication takes from the command line itself.
const Option kOptions[] = {
    {{"f"}, nullptr, "As the first argument: also show the tabs \"Контроллер ЭА\" and \"Сеть\"."},
    {{"simulate"},
     nullptr,
     "Talk to the built-in simulated module instead of USB (--simulate=N: a bench of N modules, "
     "1 to 64)."},
    {{"sim-state"},
     "FILE",
     "Keep the simulated module's memories and flags in FILE between runs (with --simulate)."},
    {{"trace"},
     nullptr,
     "Print every feature report in hex on standard error (-> sent, <- fetched)."},
    {{"firmware"}, "FILE", "Send FILE on \"Обновить\" instead of the image the tool carries."},
    {{"device"},
     "SELECTOR",
     "Talk to the module with this hidraw path, USB location or serial number (see tarvenctl "
     "devices), when several are plugged in."},
    {{"journal"},
     "FILE",
     "Record the changes made to modules in FILE instead of the user's journal "
     "(tarvenctl journal reads it)."},
    {{"no-journal"}, nullptr, "Record no change in any journal."},
    {{"h", "help"}, nullptr, "Print this help and exit."},
    {{"V", "version"},
     nullptr,
     "Print the version and the firmware image the tool carries, and exit."},
    {{"platform"}, "NAME", nullptr},
    {{"platformtheme"}, "NAME", nullptr},
    {{"style"}, "NAME", nullptr},
    {{"stylesheet"}, "FILE", nullptr},
    {{"display"}, "DISPLAY", nullptr},
    {{"qwindowgeometry"}, "GEOMETRY", nullptr},
    {{"reverse"}, nullptr, nullptr},
    {{"session"}, "ID", nullptr},
};

// The option `name` (without its dashes or a value after '='), or null.
const Option* FindOption(std::string_view name) {
  for (const Option& o : kOptions) {
    for (const QString& each : o.names) {
      if (each.toStdString() == name) return &o;
    }
  }
  return nullptr;
}

// The arguments the parser judges: a word with one dash that names no option of the window's or
// the toolkit's ("-F", "-fx", "-foo") is taken and ignored, as any word that is not an option is.
// An unknown option with two dashes stays, to be refused: a misspelt --simulate must not reach a
// real module.
std::vector<std::string> WithoutUnknownSingleDashWords(const std::vector<std::string>& args) {
  std::vector<std::string> kept;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    const bool dashes = word.size() > 1 && word[0] == '-';
    if (!dashes) {
      kept.push_back(word);
      continue;
    }
    const std::size_t start = word[1] == '-' ? 2 : 1;
    const std::string name = word.substr(start, word.find('=') - start);
    const Option* option = FindOption(name);
    if (option == nullptr && start == 1) continue;
    kept.push_back(word);
    // The value of an option that takes one, given as the next word, is kept whatever it is.
    if (option != nullptr && option->value != nullptr && word.find('=') == std::string::npos &&
        i + 1 < args.size()) {
      kept.push_back(args[++i]);
    }
  }
  return kept;
}

void AddOptions(QCommandLineParser& parser) {
  // "-platform xcb" and "-style fusion" are the toolkit's spelling: one dash, a whole word.
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  parser.setApplicationDescription(
      "Service and set-up tool for the Тарвен module in an NC-31 or MS-2109 CNC controller.");
  for (const Option& o : kOptions) {
    QCommandLineOption option(o.names, QString::fromUtf8(o.help ? o.help : ""));
    if (o.value != nullptr) option.setValueName(QString::fromUtf8(o.value));
    if (o.help == nullptr) option.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(option);
  }
}

}  // namespace

bool ParseLaunchOptions(const std::vector<std::string>& given, LaunchOptions& options,
                        std::string& error) {
  options = LaunchOptions{};
  std::vector<std::string> args = WithoutUnknownSingleDashWords(given);
  // --simulate=N names the size of the bench; the parser takes --simulate as a switch.
  for (std::string& arg : args) {
    constexpr std::string_view kBench = "--simulate=";
    if (arg.rfind(kBench, 0) != 0) continue;
    const std::string count = arg.substr(kBench.size());
    const bool digits = !count.empty() && count.size() <= 2 && count.front() != '0' &&
                        count.find_first_not_of("0123456789") == std::string::npos;
    if (!digits || std::stoi(count) > 64) {
      error = "--simulate: '" + count + "' is not a whole number from 1 to 64";
      return false;
    }
    options.simulated_modules = std::stoi(count);
    arg = "--simulate";
  }
  QStringList arguments{QStringLiteral("tarven")};
  for (const std::string& arg : args) arguments << QString::fromLocal8Bit(arg);
  for (const char* name : {"--sim-state", "--firmware", "--device", "--journal"}) {
    if (!args.empty() && args.back() == name) {
      error = std::string(name) +
              (std::string_view(name) == "--device" ? " needs a selector" : " needs a file name");
      return false;
    }
  }
  QCommandLineParser parser;
  AddOptions(parser);
  if (!parser.parse(arguments)) {
    error = parser.errorText().toStdString();
    // Named as the user typed it: "unknown option '--simualte'".
    const QStringList unknown = parser.unknownOptionNames();
    for (const std::string& arg : args) {
      if (unknown.isEmpty() || arg.size() < 2 || arg[0] != '-') continue;
      const std::string name = arg.substr(arg.find_first_not_of('-'));
      if (name.substr(0, name.find('=')) == unknown.constFirst().toLocal8Bit().toStdString()) {
        error = "unknown option '" + arg + "'";
        break;
      }
    }
    return false;
  }
  options.show_help = parser.isSet("help");
  options.show_version = parser.isSet("version");
  options.simulate = parser.isSet("simulate");
  options.trace = parser.isSet("trace");
  // The last of a repeated option counts, as with the toolkit's own.
  const auto last = [&parser](const char* name) {
    const QStringList values = parser.values(QString::fromLatin1(name));
    return values.isEmpty() ? std::string() : values.constLast().toLocal8Bit().toStdString();
  };
  if (parser.isSet("sim-state")) {
    options.sim_state_path = last("sim-state");
    if (options.sim_state_path.empty()) {
      error = "--sim-state needs a file name";
      return false;
    }
  }
  if (parser.isSet("firmware")) {
    options.firmware_file = last("firmware");
    if (options.firmware_file.empty()) {
      error = "--firmware needs a file name";
      return false;
    }
  }
  if (parser.isSet("device")) {
    options.device = last("device");
    if (options.device.empty()) {
      error = "--device needs a selector";
      return false;
    }
  }
  if (parser.isSet("journal")) {
    options.journal_file = last("journal");
    if (options.journal_file.empty()) {
      error = "--journal needs a file name";
      return false;
    }
  }
  options.no_journal = parser.isSet("no-journal");
  if (options.show_help || options.show_version) return true;
  if (options.no_journal && !options.journal_file.empty()) {
    error = "--journal and --no-journal exclude each other";
    return false;
  }
  if (!options.sim_state_path.empty() && !options.simulate) {
    error = "--sim-state is only meaningful with --simulate";
    return false;
  }
  return true;
}

std::string LaunchHelpText() {
  QCommandLineParser parser;
  AddOptions(parser);
  // Without an application object the parser cannot know the program's name.
  std::string text = parser.helpText().toStdString();
  text.replace(0, text.find('\n'), "Usage: tarven [-f] [options]");
  text +=
      "\nOther words, and words with one dash that name no option (such as -F), are ignored; an\n"
      "unknown option with two dashes is an error.\n";
  return text;
}

}  // namespace tarven::app
