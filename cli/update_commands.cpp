// update [--firmware FILE]: the module's firmware from a script, both stages in one command.

#include <functional>
#include <memory>
#include <string>

#include "cli/context.h"
#include "cli/number_option.h"
#include "cli/progress_line.h"
#include "device/firmware_update.h"
#include "firmware/firmware_image.h"
#include "model/version_text.h"

namespace tarven::cli {
namespace {

namespace dev = tarven::device;

constexpr const char* kWhat = "update";
constexpr const char* kQuestion = "Обновить прошивку Тарвен?";

std::string PresenceWord(dev::Presence presence) {
  switch (presence) {
    case dev::Presence::Application:
      return "application";
    case dev::Presence::BootLoader:
      return "bootloader";
    case dev::Presence::Absent:
      break;
  }
  return "absent";
}

// The image to send, or the exit status when there is none that may go.
bool ChooseImage(Context& context, const std::string& file, firmware::Image& image, int& status) {
  firmware::ImageQuery query;
  query.file = file;
  query.simulated = context.simulated;
  query.program_folder = firmware::ProgramFolder();
  std::string error;
  std::string note;
  if (!firmware::FindImage(query, image, error, &note) ||
      !firmware::CheckImageForLink(image, context.simulated, error)) {
    // The reason begins with the file's name as given, which may be of any length.
    if (!file.empty() && error.rfind(file + ": ", 0) == 0) {
      error = Shorten(file, 80) + error.substr(file.size());
    }
    status = context.Fail(kWhat, error);
    return false;
  }
  if (image.empty()) {
    status = context.Fail(
        kWhat, note.empty() ? "no firmware image: this build carries none; name one with --firmware"
                            : "no firmware image: " + note);
    return false;
  }
  return true;
}

int Update(Context& context, const std::string& file, bool yes) {
  firmware::Image image;
  int status = kExitOk;
  if (!ChooseImage(context, file, image, status)) return status;
  if (auto refused = context.RefuseUnconfirmed(kWhat, kQuestion, yes)) return *refused;

  const dev::UpdateTiming timing;
  dev::UpdateResult result;
  {
    const StopOnSignals signals(context.stop);
    ProgressLine line = context.Progress(kWhat);
    // The simulated module changes only when it is spoken to, never with the time that passes:
    // the pauses between searches for it would only make the run slower.
    const dev::Sleep no_pause = [](std::chrono::milliseconds) {};
    result = dev::UpdateFirmware(context.link, image.bytes, std::ref(line), timing,
                                 context.simulated ? no_pause : dev::Sleep());
    line.Finish();
  }
  const auto seconds = [](std::chrono::milliseconds wait) {
    return std::to_string(wait.count() / 1000) + " s";
  };
  switch (result.stage) {
    case dev::UpdateStage::FindModule:
      return context.Fail(kWhat, result.outcome);
    case dev::UpdateStage::GiveWay:
      return context.Fail(kWhat, "the application did not take the update command: " +
                                     dev::Describe(result.outcome));
    case dev::UpdateStage::WaitBootLoader:
      return context.Fail(kWhat, "the boot loader did not appear within " +
                                     seconds(timing.boot_loader_wait) +
                                     " after the application was asked to give way");
    case dev::UpdateStage::Transfer: {
      std::string text =
          "the image did not reach the boot loader: " + dev::Describe(result.outcome);
      if (result.outcome.done > 0 || result.outcome.failure == dev::Failure::Cancelled) {
        text += "; the module waits in its boot loader for a whole image";
      }
      return context.Fail(kWhat, text);
    }
    case dev::UpdateStage::Return:
    case dev::UpdateStage::Done:
      break;
  }
  context.out << "sent: " << image.bytes.size() << " bytes\n";
  context.out << "state: " << PresenceWord(result.after.presence) << '\n';
  if (result.stage == dev::UpdateStage::Return) {
    if (result.after.presence == dev::Presence::Application) {
      return context.Fail(kWhat, "the image went and the module came back as its application, "
                                 "but its status did not arrive within " +
                                     seconds(timing.return_wait) + " (" +
                                     dev::Describe(result.after.outcome) +
                                     "): the update is not confirmed");
    }
    return context.Fail(kWhat,
                        "the image went, but the module did not come back as its "
                        "application within " +
                            seconds(timing.return_wait));
  }
  context.out << "firmware: " << model::FirmwareVersionText(context.link.AppModule.FirmwareVersion)
              << '\n';
  return kExitOk;
}

}  // namespace

void RegisterUpdateCommands(CLI::App& app, Action& action) {
  struct Options {
    std::string file;
    bool yes = false;
  };
  auto options = std::make_shared<Options>();
  CLI::App* update = app.add_subcommand(
      "update",
      "update the module's firmware: the application gives way to its boot loader, which takes "
      "the image");
  update
      ->add_option("--firmware", options->file, "send the image in FILE instead of the carried one")
      ->type_name("FILE")
      ->check(NotEmpty("the file name"));
  update->add_flag("-y,--yes", options->yes, "do not ask before updating");
  update->callback([&action, options] {
    action = [options](Context& context) { return Update(context, options->file, options->yes); };
  });
}

}  // namespace tarven::cli
