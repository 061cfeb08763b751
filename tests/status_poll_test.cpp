// The status tick over the simulated module: the panel texts for each personality, the module
// controls, the run-state presentation, the live-page hook, the run-control buttons, and a long
// run of ticks that must leave no handle open.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QCursor>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/main_form.h"
#include "device/module_lock.h"
#include "form_fixture.h"

namespace tarven::testing {
namespace {

using app::TMainForm;
using sim::Personality;

const QSet<QString> kModuleControls = {"Button1",  "Button2",  "BitBtn4",  "Button5",  "BitBtn5",
                                       "Button7",  "BitBtn6",  "Button9",  "BitBtn14", "Button4",
                                       "Button14", "Button10", "Button11", "Button12", "Button3",
                                       "Button8",  "Button13"};

// The disabled buttons of the status panel and the specified pages ("Сервис" keeps its own).
QSet<QString> DisabledButtons(const TMainForm& form) {
  QSet<QString> disabled;
  for (const QPushButton* button : form.findChildren<QPushButton*>()) {
    if (!button->isEnabled() && !form.TabSheet12->isAncestorOf(button)) {
      disabled.insert(button->objectName());
    }
  }
  return disabled;
}

// Enabled state of the 36 output check boxes, or -1 when they disagree.
int OutputChecksEnabled(const TMainForm& form) {
  int enabled = -1;
  for (int i = 1; i <= 36; ++i) {
    const auto* box = form.findChild<QCheckBox*>(QStringLiteral("CheckBox%1").arg(i));
    const int state = box != nullptr && box->isEnabled() ? 1 : 0;
    if (enabled != -1 && enabled != state) return -1;
    enabled = state;
  }
  return enabled;
}

int DacEditsEnabled(TMainForm& form) {
  const app::DacPage& page = form.Dac();
  const QLineEdit* edits[] = {Child<QLineEdit>(page, "Edit7"), Child<QLineEdit>(page, "Edit8"),
                              Child<QLineEdit>(page, "Edit9"), Child<QLineEdit>(page, "Edit10")};
  const int enabled = edits[0]->isEnabled() ? 1 : 0;
  for (const QLineEdit* edit : edits) {
    if ((edit->isEnabled() ? 1 : 0) != enabled) return -1;
  }
  return enabled;
}

struct StateCase {
  const char* name;
  std::function<void(sim::SimBackend&)> arrange;
  const char* status;
  const char* firmware;
  const char* boot;
};

// Test names and failure messages show the case's name, not its bytes.
void PrintTo(const StateCase& c, std::ostream* os) {
  *os << c.name;
}

class ModuleStateTest : public FormTest, public ::testing::WithParamInterface<StateCase> {};

TEST_P(ModuleStateTest, TickShowsStateVersionsAndModuleControls) {
  const StateCase& c = GetParam();
  auto form = MakeForm();
  // Outputs and DAC codes enabled first: a stopped CNC in the external DAC mode.
  module().cnc_running = false;
  module().ext_dac = true;
  form->Timer1Timer();
  ASSERT_EQ(OutputChecksEnabled(*form), 1);
  ASSERT_EQ(DacEditsEnabled(*form), 1);
  module().cnc_running = true;
  module().ext_dac = false;
  c.arrange(*sim_);
  const bool present = std::string(c.status) != "не подключен";
  QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));

  form->Timer1Timer();

  EXPECT_EQ(form->StaticText7->text(), QString::fromUtf8(c.status));
  EXPECT_EQ(form->StaticText8->text(), QString::fromUtf8(c.firmware));
  EXPECT_EQ(form->StaticText9->text(), QString::fromUtf8(c.boot));
  EXPECT_EQ(DisabledButtons(*form), present ? QSet<QString>{} : kModuleControls);
  if (present) {
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "default cursor after an exchange";
  } else {
    EXPECT_EQ(OutputChecksEnabled(*form), 0);
    EXPECT_EQ(DacEditsEnabled(*form), 0);
  }
  EXPECT_EQ(sim_->OpenHandleCount(), 0u);
  EXPECT_EQ(form->HidHandle, device::kInvalidHandle);
  while (QApplication::overrideCursor() != nullptr) QApplication::restoreOverrideCursor();
}

INSTANTIATE_TEST_SUITE_P(
    States, ModuleStateTest,
    ::testing::Values(
        StateCase{"unplugged", [](sim::SimBackend& s) { s.Unplug(); }, "не подключен", "н/д",
                  "н/д"},
        StateCase{"silent", [](sim::SimBackend& s) { s.SetSilent(true); }, "не подключен", "н/д",
                  "н/д"},
        StateCase{"application",
                  [](sim::SimBackend& s) { s.module().firmware_version = 0x00045400; }, "подключен",
                  "4.54", "н/д"},
        // Identify is the first fetch of the tick, the status answer the second.
        StateCase{"application_status_lost", [](sim::SimBackend& s) { s.RefuseNthFetch(2); },
                  "подключен", "0.00", "н/д"},
        StateCase{"boot_loader",
                  [](sim::SimBackend& s) {
                    s.module().personality = Personality::BootLoader;
                    s.module().boot_version = 0x00010203;
                    s.module().firmware_version = 0x00045400;
                  },
                  "загрузчик", "4.54", "1.2.3."}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST_F(FormTest, ModuleControlsFollowPresenceAndNothingElse) {
  auto form = MakeForm();
  const QSet<QString> disabled_at_start = DisabledButtons(*form);
  sim_->Unplug();
  form->Timer1Timer();
  EXPECT_EQ(DisabledButtons(*form) - disabled_at_start, kModuleControls);
  sim_->Replug();
  form->Timer1Timer();
  EXPECT_EQ(DisabledButtons(*form), disabled_at_start);
}

TEST_F(FormTest, RunStatePresentationFollowsTheFlags) {
  auto form = MakeForm();
  const struct Step {
    const char* name;
    bool present;
    bool running;
    bool ext_dac;
    const char* caption;
    int tag;
    int checks;
    int edits;
  } steps[] = {
      {"running", true, true, false, "Остановить УЧПУ", 0, 0, 0},
      {"stopped", true, false, false, "Запустить УЧПУ", 1, 1, 0},
      {"stopped_dac_on", true, false, true, "Запустить УЧПУ", 1, 1, 1},
      {"stopped_dac_off", true, false, false, "Запустить УЧПУ", 1, 1, 0},
      {"running_dac_on", true, true, true, "Остановить УЧПУ", 0, 0, 0},
      {"stopped_again_dac_on", true, false, true, "Запустить УЧПУ", 1, 1, 1},
      // No module reads as both flags 0: the stopped presentation is applied, but with nothing to
      // drive the output controls stay disabled.
      {"unplugged", false, false, false, "Запустить УЧПУ", 1, 0, 0},
      // Back with the same flags as while away: the controls come back all the same.
      {"back_stopped", true, false, false, "Запустить УЧПУ", 1, 1, 0},
      {"unplugged_again", false, false, false, "Запустить УЧПУ", 1, 0, 0},
      {"back_running", true, true, false, "Остановить УЧПУ", 0, 0, 0},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    if (step.present) {
      sim_->Replug();
      module().cnc_running = step.running;
      module().ext_dac = step.ext_dac;
    } else {
      sim_->Unplug();
    }
    form->Timer1Timer();
    EXPECT_EQ(form->Button8->text(), QString::fromUtf8(step.caption));
    EXPECT_EQ(form->Tag, step.tag);
    EXPECT_EQ(form->proc_en, step.running ? 1u : 0u);
    EXPECT_EQ(form->ext_dac_en, step.ext_dac ? 1u : 0u);
    EXPECT_EQ(OutputChecksEnabled(*form), step.checks);
    EXPECT_EQ(DacEditsEnabled(*form), step.edits);
  }
}

TEST_F(FormTest, FirstStatusReadAppliesTheRunStateEvenWithoutAChange) {
  module().cnc_running = false;
  auto stopped_at_start = MakeForm();
  stopped_at_start->Timer1Timer();
  EXPECT_EQ(stopped_at_start->Button8->text(), QStringLiteral("Запустить УЧПУ"));
  EXPECT_EQ(stopped_at_start->Tag, 1);
  EXPECT_EQ(OutputChecksEnabled(*stopped_at_start), 1);
  EXPECT_EQ(DacEditsEnabled(*stopped_at_start), 0);

  // Without a module nothing was read: the window keeps its start-up presentation.
  sim_->Unplug();
  auto absent_at_start = MakeForm();
  absent_at_start->Timer1Timer();
  EXPECT_EQ(absent_at_start->Button8->text(), QStringLiteral("Остановить УЧПУ"));
  EXPECT_EQ(absent_at_start->Tag, 0);
  EXPECT_EQ(OutputChecksEnabled(*absent_at_start), 0);

  sim_->Replug();
  absent_at_start->Timer1Timer();
  EXPECT_EQ(absent_at_start->Button8->text(), QStringLiteral("Запустить УЧПУ"));
  EXPECT_EQ(absent_at_start->Tag, 1);
  EXPECT_EQ(OutputChecksEnabled(*absent_at_start), 1);
}

// Records where the tick hands over to the live page.
class RecordingForm : public TMainForm {
 public:
  using TMainForm::TMainForm;
  struct Call {
    bool handle_valid;
    int page;
    std::uint8_t run_flag;
    std::uint8_t ext_dac_flag;
    std::uint32_t proc_en_then;
    std::uint32_t ext_dac_en_then;
  };
  std::vector<Call> calls;

 protected:
  void RefreshSignalPage(device::Handle handle, int page, std::uint8_t run_flag,
                         std::uint8_t ext_dac_flag) override {
    calls.push_back({handle != device::kInvalidHandle && handle == HidHandle, page, run_flag,
                     ext_dac_flag, proc_en, ext_dac_en});
  }
};

TEST_F(FormTest, LivePageRunsOnlyWithTheApplicationOpenAndThisTicksFlags) {
  auto form = MakeForm<RecordingForm>({"-f"});
  form->PageControl1->setCurrentIndex(9);
  module().cnc_running = true;
  module().ext_dac = true;
  form->Timer1Timer();
  ASSERT_EQ(form->calls.size(), 1u);
  const RecordingForm::Call& call = form->calls.front();
  EXPECT_TRUE(call.handle_valid);
  EXPECT_EQ(call.page, 9);
  EXPECT_EQ(call.run_flag, 1);
  EXPECT_EQ(call.ext_dac_flag, 1);
  EXPECT_EQ(call.proc_en_then, 0u) << "the stored run state is updated after the live page";
  EXPECT_EQ(call.ext_dac_en_then, 0u);
  EXPECT_EQ(form->proc_en, 1u);

  module().personality = Personality::BootLoader;
  form->Timer1Timer();
  sim_->Unplug();
  form->Timer1Timer();
  EXPECT_EQ(form->calls.size(), 1u) << "no live page without the application";
}

TEST_F(FormTest, RunControlAndRestartSendTheirCommandsOnlyToAFoundApplication) {
  auto form = MakeForm();
  form->Button8Click();
  form->Button13Click();
  EXPECT_TRUE(sim_->log().empty()) << "nothing was found yet";
  EXPECT_EQ(sim_->OpenCount(), 0u);

  module().cnc_running = true;
  form->Timer1Timer();
  ASSERT_EQ(form->Tag, 0);
  sim_->ClearLog();
  form->Button8Click();
  EXPECT_EQ(SentCommands(), std::vector<Bytes>{Frame(12)});
  EXPECT_FALSE(module().cnc_running);
  EXPECT_EQ(form->Button8->text(), QStringLiteral("Остановить УЧПУ")) << "the next tick shows it";

  form->Timer1Timer();
  ASSERT_EQ(form->Tag, 1);
  sim_->ClearLog();
  form->Button8Click();
  EXPECT_EQ(SentCommands(), std::vector<Bytes>{Frame(16)});
  EXPECT_TRUE(module().cnc_running);

  const std::uint32_t restarts = module().restarts;
  sim_->ClearLog();
  form->Button13Click();
  EXPECT_EQ(SentCommands(), std::vector<Bytes>{Frame(13)});
  EXPECT_EQ(module().restarts, restarts + 1);
  EXPECT_EQ(sim_->OpenHandleCount(), 0u);
  EXPECT_EQ(form->HidHandle, device::kInvalidHandle);

  // Found by the last tick, gone since: the search fails and nothing is sent.
  form->Timer1Timer();
  sim_->Unplug();
  sim_->ClearLog();
  form->Button8Click();
  form->Button13Click();
  EXPECT_TRUE(SentCommands().empty());
  EXPECT_EQ(form->HidHandle, device::kInvalidHandle);
}

// Another program (a script) holds the module: the tick sends nothing and keeps what it showed;
// a button sends nothing and tells the user once; once let go, both work again.
TEST_F(FormTest, AModuleAnotherProgramHoldsIsLeftAloneByTheTickAndTheButtons) {
  link().SetModuleLocks(sim_->module_locks());
  auto form = MakeForm();
  form->Timer1Timer();
  ASSERT_EQ(form->StaticText7->text(), QStringLiteral("подключен"));
  const auto script = device::FolderModuleLocks(sim_->module_locks()->folder(), "tarvenctl", false);
  auto held = script->TryTake("location sim-1").lock;
  ASSERT_TRUE(held);
  sim_->ClearLog();

  for (int tick = 0; tick < 3; ++tick) form->Timer1Timer();
  EXPECT_EQ(form->StaticText7->text(), QStringLiteral("подключен"));
  EXPECT_EQ(form->StaticText8->text(), QStringLiteral("4.54"));
  EXPECT_TRUE(form->Button8->isEnabled());
  EXPECT_TRUE(dialogs().asked().empty()) << "the tick said something";

  dialogs().AcknowledgeMessage();
  form->Button8Click();
  form->Button13Click();  // the same press's box is not shown twice
  for (int turn = 0; turn < 100 && dialogs().asked().empty(); ++turn) {
    QCoreApplication::processEvents();
  }
  EXPECT_TRUE(sim_->log().empty()) << "a report reached the held module";
  ASSERT_EQ(dialogs().asked().size(), 1u);
  EXPECT_TRUE(dialogs().asked()[0].text.startsWith(
      QStringLiteral("Модуль sim-1 занят другой программой: tarvenctl (pid ")))
      << dialogs().asked()[0].text.toStdString();

  held.reset();
  form->Button8Click();
  EXPECT_EQ(SentCommands().size(), 1u);
  form->Timer1Timer();
  EXPECT_EQ(form->StaticText7->text(), QStringLiteral("подключен"));
}

TEST_F(FormTest, TenThousandTicksLeaveNoHandleOpen) {
  auto form = MakeForm();
  for (int tick = 0; tick < 10000; ++tick) {
    const int phase = (tick / 7) % 5;
    if (phase == 1 || phase == 3) {
      sim_->Unplug();
    } else {
      sim_->Replug();
      module().personality = phase == 4 ? Personality::BootLoader : Personality::Application;
      // Exchange errors after the application was found: its status send or answer is lost. One
      // at a time: after a lost send the answer is not fetched, and a refusal armed for it would
      // strike the next tick's search instead.
      if (phase != 4 && tick % 13 == 0) {
        sim_->RefuseNthFetch(2);
      } else if (phase != 4 && tick % 17 == 0) {
        sim_->RefuseNthSend(2);
      }
    }
    form->Timer1Timer();
    const char* expected = phase == 1 || phase == 3 ? "не подключен"
                           : phase == 4             ? "загрузчик"
                                                    : "подключен";
    if (sim_->OpenHandleCount() != 0 || form->HidHandle != device::kInvalidHandle ||
        form->StaticText7->text() != QString::fromUtf8(expected)) {
      ADD_FAILURE() << "tick " << tick << ": " << sim_->OpenHandleCount() << " open, status "
                    << form->StaticText7->text().toStdString();
      break;
    }
    if (tick % 100 == 0) sim_->ClearLog();
  }
  EXPECT_EQ(sim_->OpenHandleCount(), 0u);
  EXPECT_EQ(form->HidHandle, device::kInvalidHandle);
}

}  // namespace
}  // namespace tarven::testing
