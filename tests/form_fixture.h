#pragma once
// The real main window over a fresh simulated module. Its status timer is stopped, so that the
// test decides when a tick runs.

#include <QStringList>
#include <QTimer>
#include <memory>
#include <vector>

#include "app/main_form.h"
#include "sim_fixture.h"

namespace tarven::testing {

class FormTest : public SimTest {
 protected:
  template <typename Form = app::TMainForm>
  std::unique_ptr<Form> MakeForm(const QStringList& arguments = {}) {
    auto form = std::make_unique<Form>(arguments);
    form->Timer1->stop();
    return form;
  }

  // The command frames sent since the log was last cleared, the searches' identify frames left out.
  std::vector<Bytes> SentCommands() const {
    std::vector<Bytes> commands;
    for (const Bytes& report : Sent()) {
      if (report[1] == 0x55 && report[2] != 1) commands.push_back(report);
    }
    return commands;
  }
};

}  // namespace tarven::testing
