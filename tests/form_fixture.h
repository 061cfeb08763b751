#pragma once
// The real main window over a fresh simulated module. Its status timer is stopped, so that the
// test decides when a tick runs, and its dialogs are scripted, so that no test ever waits on a
// modal box: a question the test did not queue an answer for fails it.

#include <QStringList>
#include <QTimer>
#include <memory>
#include <vector>

#include "app/main_form.h"
#include "dialogs_scripted.h"
#include "page_controls.h"
#include "sim_fixture.h"

namespace tarven::testing {

class FormTest : public SimTest {
 protected:
  void TearDown() override {
    dialogs_->ExpectAllAnswersUsed();
    SimTest::TearDown();
  }

  // Every window of the test shares the test's one script of answers. The window comes with all
  // its pages built, as a person finds it once it has been painted.
  template <typename Form = app::TMainForm>
  std::unique_ptr<Form> MakeForm(const QStringList& arguments = {}) {
    auto form = std::make_unique<Form>(arguments, link_shared(), dialogs_);
    form->Timer1->stop();
    form->BuildPages();
    return form;
  }

  // As MakeForm, with the status timer left running as the window starts it.
  std::unique_ptr<app::TMainForm> MakePollingForm(const QStringList& arguments = {}) {
    return std::make_unique<app::TMainForm>(arguments, link_shared(), dialogs_);
  }

  ScriptedDialogs& dialogs() { return *dialogs_; }
  std::shared_ptr<ScriptedDialogs> dialogs_shared() const { return dialogs_; }

  // The command frames sent since the log was last cleared, the searches' identify frames left out.
  std::vector<Bytes> SentCommands() const {
    std::vector<Bytes> commands;
    for (const Bytes& report : Sent()) {
      if (report[1] == 0x55 && report[2] != 1) commands.push_back(report);
    }
    return commands;
  }

 private:
  std::shared_ptr<ScriptedDialogs> dialogs_ = std::make_shared<ScriptedDialogs>();
};

}  // namespace tarven::testing
