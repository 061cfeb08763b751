// "Обновить" and the status tick's transfer in the real window over the simulated module: the
// whole flow, the progress bar after every piece, the two messages, and the presses that must
// not talk to the module.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QLabel>
#include <QProgressBar>
#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/launch_options.h"
#include "app/main_form.h"
#include "device/forwarding_backend.h"
#include "firmware/firmware_image.h"
#include "form_fixture.h"

namespace tarven::testing {
namespace {

using sim::Personality;

const QString kNoImage = QStringLiteral("Образ прошивки не найден.");
const QString kFailed = QStringLiteral("Обновление прошивки не выполнено.");

// Watches the wire for the boot loader's stream: after the announcing command 6 it counts the
// data reports and calls `at_piece` before the first report of every piece (eight reports each)
// and once more when the handle is closed; `at_data` sees every data report first.
class StreamWatch : public hid::ForwardingBackend {
 public:
  using ForwardingBackend::ForwardingBackend;

  std::function<void()> at_piece;
  std::function<void(std::size_t data_report)> at_data;

  bool SetFeature(hid::Handle handle, const std::uint8_t* report, std::size_t length) override {
    if (streaming_) {
      if (at_data) at_data(data_reports_);
      if (data_reports_ % 8 == 0 && at_piece) at_piece();
      ++data_reports_;
    } else if (report[1] == 0x55 && report[2] == 6 && (report[3] | report[4] | report[5]) != 0) {
      streaming_ = true;
      data_reports_ = 0;
    }
    return ForwardingBackend::SetFeature(handle, report, length);
  }
  void Close(hid::Handle handle) override {
    if (streaming_ && at_piece) at_piece();
    streaming_ = false;
    ForwardingBackend::Close(handle);
  }

 private:
  bool streaming_ = false;
  std::size_t data_reports_ = 0;
};

class FirmwareWindowTest : public FormTest {
 protected:
  void SetUp() override {
    FormTest::SetUp();
    watch_ = std::make_shared<StreamWatch>(sim_);
    link_ = std::make_shared<device::Link>(watch_);
    form_ = MakeForm();
    form_->SetFirmwareImage(firmware::SyntheticImage(), true);
  }
  void TearDown() override {
    EXPECT_EQ(sim_->OpenHandleCount(), 0u);
    EXPECT_EQ(form_->HidHandle, device::kInvalidHandle);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    form_.reset();
    FormTest::TearDown();
  }

  const std::vector<std::uint8_t>& Image() { return form_->FirmwareImage().bytes; }

  std::shared_ptr<StreamWatch> watch_;
  std::unique_ptr<app::TMainForm> form_;
};

TEST_F(FirmwareWindowTest, PressSwitchesToTheBootLoaderWhoseTickTakesTheWholeImage) {
  form_->Timer1Timer();
  ASSERT_EQ(form_->StaticText7->text(), QStringLiteral("подключен"));
  sim_->ClearLog();

  form_->Button3->click();
  EXPECT_TRUE(form_->up_flag);
  EXPECT_EQ(SentCommands(), std::vector<Bytes>{Frame(6)}) << "command 6 without parameters";
  EXPECT_EQ(module().personality, Personality::BootLoader);

  std::vector<int> bar;
  watch_->at_piece = [&] { bar.push_back(form_->ProgressBar1->value()); };
  sim_->ClearLog();
  form_->Timer1Timer();

  EXPECT_FALSE(form_->up_flag);
  EXPECT_EQ(module().images_received, 1u);
  EXPECT_EQ(module().received_image, Image());
  // The boot loader's two version words, then the announcement (later "commands" are image
  // bytes that look like one).
  const std::vector<Bytes> commands = SentCommands();
  ASSERT_GE(commands.size(), 3u);
  EXPECT_EQ(commands[2], Frame(6, 206728, 3));
  // The bar as each piece starts (the first: the 0 set before the announcement) and at the end.
  ASSERT_EQ(bar.size(), 1u + 404u);
  EXPECT_EQ(bar[0], 0);
  const std::vector<int> first(bar.begin() + 1, bar.begin() + 4);
  EXPECT_EQ(first, (std::vector<int>{0, 0, 1}));
  EXPECT_EQ(bar.back(), 100);
  EXPECT_TRUE(std::is_sorted(bar.begin(), bar.end()));
  EXPECT_EQ(form_->ProgressBar1->value(), 0);
  EXPECT_EQ(form_->StaticText7->text(), QStringLiteral("загрузчик"));
  EXPECT_TRUE(dialogs().asked().empty()) << "a transfer that went says nothing";

  form_->Timer1Timer();
  EXPECT_EQ(form_->StaticText7->text(), QStringLiteral("подключен"));
  EXPECT_FALSE(link().BootModule().Found);
}

// Records the paints of the widgets it watches, with the progress bar's value at each.
class PaintLog : public QObject {
 public:
  PaintLog(QWidget& panel, QProgressBar& bar) : bar_(bar) {
    panel.installEventFilter(this);
    bar.installEventFilter(this);
  }
  std::vector<std::pair<const QObject*, int>> paints;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) paints.emplace_back(watched, bar_.value());
    return false;
  }

 private:
  QProgressBar& bar_;
};

// The transfer shows itself at once: the status panel with the texts the tick has just written as
// it starts, and the bar at 0 once the boot loader is found, before the first data report.
TEST_F(FirmwareWindowTest, PanelAndBarAreDrawnAtOnceWhenTheTransferStarts) {
  form_->show();
  module().personality = Personality::BootLoader;
  form_->Timer1Timer();
  form_->Button3->click();
  // Whatever the window had still to draw is drawn now; what follows is the transfer's own.
  QApplication::processEvents();
  PaintLog log(*form_->Panel3, *form_->ProgressBar1);
  std::vector<std::pair<const QObject*, int>> before_data;
  bool first = true;
  watch_->at_data = [&](std::size_t) {
    if (first) before_data = log.paints;
    first = false;
  };
  form_->Timer1Timer();
  ASSERT_EQ(module().images_received, 1u);
  const auto panel_painted = std::find_if(before_data.begin(), before_data.end(), [&](auto& p) {
    return p.first == form_->Panel3;
  });
  EXPECT_NE(panel_painted, before_data.end()) << "the panel is drawn as the transfer starts";
  const auto bar_painted = std::find_if(before_data.begin(), before_data.end(), [&](auto& p) {
    return p.first == form_->ProgressBar1 && p.second == 0;
  });
  EXPECT_NE(bar_painted, before_data.end()) << "the bar is drawn at 0 before the image goes";
  EXPECT_EQ(form_->StaticText7->text(), QStringLiteral("загрузчик"));
}

TEST_F(FirmwareWindowTest, BrokenTransferIsToldAndALaterPressSendsTheWholeImageAgain) {
  module().personality = Personality::BootLoader;
  form_->Timer1Timer();
  form_->Button3->click();
  // Halfway through, the module drops off the bus and comes back still in its boot loader.
  std::size_t last_data_report = 0;
  watch_->at_data = [&](std::size_t report) {
    last_data_report = report;
    if (report == 1600) sim_->Unplug();
  };
  std::vector<int> bar;
  watch_->at_piece = [&] { bar.push_back(form_->ProgressBar1->value()); };
  dialogs().AcknowledgeMessage();
  sim_->ClearLog();
  form_->Timer1Timer();

  ASSERT_EQ(dialogs().asked().size(), 1u);
  EXPECT_EQ(dialogs().asked()[0].text, kFailed);
  EXPECT_EQ(bar.back(), 50) << "the bar stood at the last whole piece";
  EXPECT_EQ(form_->ProgressBar1->value(), 0);
  EXPECT_EQ(module().images_received, 0u);
  EXPECT_FALSE(form_->up_flag);
  EXPECT_EQ(last_data_report, 1600u) << "nothing after the refused report";

  sim_->Replug();
  watch_->at_data = {};
  form_->Timer1Timer();
  EXPECT_EQ(module().images_received, 0u) << "no retry by itself";
  sim_->ClearLog();
  form_->Button3->click();
  EXPECT_TRUE(sim_->log().empty()) << "the boot loader is flagged: the press sends nothing";
  form_->Timer1Timer();
  EXPECT_EQ(module().images_received, 1u);
  EXPECT_EQ(module().received_image, Image());
  // The fresh announcement is followed by the image from its first byte.
  const std::vector<Bytes> sent = Sent();
  const auto announce = std::find(sent.begin(), sent.end(), Frame(6, 206728, 3));
  ASSERT_NE(announce, sent.end());
  EXPECT_TRUE(std::equal(Image().begin(), Image().begin() + 64, (announce + 1)->begin() + 1));
}

TEST_F(FirmwareWindowTest, FailuresBeforeTheStreamAreToldToo) {
  const struct {
    const char* name;
    std::function<void()> arrange;
  } cases[] = {
      // Identify of the application and of the boot loader, their answers, the two version
      // words (8 reports); the transfer's search (2); command 6.
      {"announcement refused", [&] { sim_->ArmFault(11, sim::SimBackend::Fault::Refuse); }},
      // The tick found the boot loader, which is gone when the transfer looks for it.
      {"boot loader gone", [&] { sim_->ArmFault(9, sim::SimBackend::Fault::Unplug); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim_->Replug();
    module().personality = Personality::BootLoader;
    form_->up_flag = true;
    c.arrange();
    dialogs().AcknowledgeMessage();
    form_->Timer1Timer();
    ASSERT_FALSE(dialogs().asked().empty());
    EXPECT_EQ(dialogs().asked().back().text, kFailed);
    EXPECT_EQ(form_->ProgressBar1->value(), 0);
    EXPECT_EQ(module().images_received, 0u);
    EXPECT_FALSE(form_->up_flag);
  }
}

TEST_F(FirmwareWindowTest, PressWithoutAModuleWaitsForTheBootLoader) {
  sim_->Unplug();
  form_->Timer1Timer();
  sim_->ClearLog();
  form_->Button3Click();  // the button is disabled without a module; the handler still holds
  EXPECT_TRUE(form_->up_flag);
  EXPECT_TRUE(sim_->log().empty());

  form_->Timer1Timer();
  EXPECT_TRUE(form_->up_flag) << "still waiting";
  module().personality = Personality::BootLoader;
  sim_->Replug();
  form_->Timer1Timer();
  EXPECT_FALSE(form_->up_flag);
  EXPECT_EQ(module().received_image, Image());
}

TEST_F(FirmwareWindowTest, WithoutAnImageThePressSaysSoAndSendsNothing) {
  const struct {
    const char* name;
    firmware::Image image;
    bool simulated;
  } cases[] = {
      {"no image carried", firmware::Image{}, true},
      {"stand-in on a real link", firmware::SyntheticImage(), false},
  };
  form_->Timer1Timer();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    form_->SetFirmwareImage(c.image, c.simulated);
    // The panel does not offer an update it cannot send.
    EXPECT_EQ(form_->Label47->text(), QStringLiteral("нет"));
    sim_->ClearLog();
    dialogs().AcknowledgeMessage();
    form_->Button3->click();
    ASSERT_FALSE(dialogs().asked().empty());
    EXPECT_EQ(dialogs().asked().back().text, kNoImage);
    EXPECT_FALSE(form_->up_flag);
    EXPECT_TRUE(sim_->log().empty());
    EXPECT_EQ(module().personality, Personality::Application);
  }
}

// With no image set, the window looks for one when "Обновить" is first pressed, not when it
// opens: over the simulated module that is the stand-in image, which then goes to the module.
TEST_F(FirmwareWindowTest, WithoutAnImageSetTheStandInIsFoundAtThePressForTheSimulatedLink) {
  form_ = MakeForm();
  form_->FindFirmwareImageWhenNeeded(/*simulated_link=*/true);
  EXPECT_EQ(form_->Label47->text(), QStringLiteral("v 4.54"));
  form_->Timer1Timer();
  form_->Button3->click();
  EXPECT_TRUE(form_->up_flag);
  sim_->Replug();
  form_->Timer1Timer();
  EXPECT_FALSE(form_->up_flag);
  EXPECT_EQ(module().received_image, firmware::SyntheticImage().bytes);

  // Over a real link the stand-in is never taken.
  form_ = MakeForm();
  form_->FindFirmwareImageWhenNeeded(/*simulated_link=*/false);
  // This build may carry an image, or find one installed beside the test; the panel offers the
  // version only when there is one.
  firmware::ImageQuery query;
  query.program_folder = firmware::ProgramFolder();
  firmware::Image found;
  std::string error;
  ASSERT_TRUE(firmware::FindImage(query, found, error)) << error;
  EXPECT_EQ(form_->Label47->text(),
            found.empty() ? QStringLiteral("нет") : QStringLiteral("v 4.54"));
  EXPECT_FALSE(firmware::IsSyntheticImage(form_->FirmwareImage().bytes));
  EXPECT_EQ(form_->Label47->text(),
            found.empty() ? QStringLiteral("нет") : QStringLiteral("v 4.54"));
}

// The bar's changes: a size that is a multiple of 512 ends with the empty piece, which leaves
// the bar at 100 until the clean-up; a size under 512 is one piece.
TEST_F(FirmwareWindowTest, BarAtThePieceBoundaries) {
  const struct {
    std::size_t size;
    std::vector<int> changes;
  } cases[] = {{1024, {50, 100, 0}}, {300, {100, 0}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    module().personality = Personality::BootLoader;
    firmware::Image image;
    image.bytes.resize(c.size);
    for (std::size_t i = 0; i < c.size; ++i) image.bytes[i] = static_cast<std::uint8_t>(i ^ 0xA5);
    form_->SetFirmwareImage(image, false);
    std::vector<int> changes;
    const QMetaObject::Connection connection =
        QObject::connect(form_->ProgressBar1, &QProgressBar::valueChanged,
                         [&](int value) { changes.push_back(value); });
    form_->up_flag = true;
    form_->Timer1Timer();
    QObject::disconnect(connection);
    EXPECT_EQ(module().received_image, image.bytes);
    EXPECT_EQ(changes, c.changes);
  }
}

// A bench of two modules: another module's boot loader comes first on the bus, waiting for an
// image of its own, and the module to update second. The updated module comes back under a new
// path each time it drops off, as a hidraw node may. The window follows it by its location, from
// the press to the end of the transfer, whether it was the first application found or the one
// named by --device; the other boot loader is never sent a report.
TEST_F(FormTest, UpdateGoesToTheModuleThatAskedNeverAnotherBootLoader) {
  for (const bool chosen_by_device : {false, true}) {
    SCOPED_TRACE(chosen_by_device ? "--device sim-2" : "first application found");
    sim_ = std::make_shared<sim::SimBackend>();
    sim_->AddModule(std::make_shared<sim::SimulatedModule>());
    sim_->SetRenumberOnReattach(true);
    sim_->StartRecording();
    sim::SimulatedModule& other = *sim_->devices()[0].module;
    sim::SimulatedModule& ours = *sim_->devices()[1].module;
    other.SwitchPersonality();
    link_ = std::make_shared<device::Link>(sim_);
    const device::DevicePin by_device{device::DevicePin::By::Location, "sim-2"};
    if (chosen_by_device) link().Pin(by_device);
    auto form = MakeForm();
    const firmware::Image image = firmware::SyntheticImage();
    form->SetFirmwareImage(image, true);

    form->Timer1Timer();
    ASSERT_EQ(form->StaticText7->text(), QStringLiteral("подключен"));
    // The paths as the platform listed them at that tick.
    const std::string other_path = sim_->devices()[0].path;
    const std::string ours_before = sim_->devices()[1].path;
    sim_->ClearLog();
    form->Button3->click();
    EXPECT_EQ(SentCommands(), std::vector<Bytes>{Frame(6)});
    EXPECT_EQ(sim_->log().back().path, ours_before) << "command 6 went to our module";
    ASSERT_EQ(ours.personality, Personality::BootLoader);

    sim_->ClearLog();
    form->Timer1Timer();
    EXPECT_NE(sim_->devices()[1].path, ours_before) << "the boot loader came back elsewhere";
    EXPECT_EQ(sim_->devices()[0].path, other_path);
    EXPECT_FALSE(form->up_flag);
    EXPECT_EQ(ours.images_received, 1u);
    EXPECT_EQ(ours.received_image, image.bytes);
    EXPECT_EQ(other.images_received, 0u);
    EXPECT_TRUE(other.received_image.empty());
    EXPECT_EQ(other.personality, Personality::BootLoader);
    const auto to_other =
        std::count_if(sim_->log().begin(), sim_->log().end(),
                      [&](const sim::ReportRecord& r) { return r.path == other_path; });
    EXPECT_EQ(to_other, 0) << "no report to the other boot loader";
    EXPECT_TRUE(dialogs().asked().empty());

    // Once the transfer is done, the window takes whichever module answers, as before the press.
    form->Timer1Timer();
    EXPECT_EQ(form->StaticText7->text(), QStringLiteral("подключен"));
    EXPECT_EQ(ours.personality, Personality::Application);
    ASSERT_EQ(link().pin().has_value(), chosen_by_device);
    if (chosen_by_device) {
      EXPECT_EQ(device::DescribePin(*link().pin()), "location sim-2");
    }
    EXPECT_EQ(sim_->OpenHandleCount(), 0u);
  }
}

TEST(FirmwareLaunchOption, NamesTheImageFileAnywhereAndNeedsOne) {
  app::LaunchOptions options;
  std::string error;
  ASSERT_TRUE(
      app::ParseLaunchOptions({"-f", "--firmware", "new.bin", "--simulate"}, options, error));
  EXPECT_EQ(options.firmware_file, "new.bin");
  EXPECT_TRUE(options.simulate);
  ASSERT_TRUE(app::ParseLaunchOptions({"-f"}, options, error));
  EXPECT_EQ(options.firmware_file, "");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--firmware"}, std::vector<std::string>{"--firmware", ""}}) {
    EXPECT_FALSE(app::ParseLaunchOptions(args, options, error));
    EXPECT_EQ(error, "--firmware needs a file name");
  }
}

}  // namespace
}  // namespace tarven::testing
