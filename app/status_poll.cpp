// The once-a-second status poll, the status panel it fills, the run control of the CNC and the
// restart of the module.

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

#include "app/cursor.h"
#include "app/main_form.h"
#include "device/operations.h"
#include "model/version_text.h"

namespace tarven::app {
namespace {

QString Text(const std::string& utf8) {
  return QString::fromStdString(utf8);
}

QString NotAvailable() {
  return QString::fromUtf8(model::kNotAvailable);
}

}  // namespace

void TMainForm::Timer1Timer() {
  BuildPages();
  const device::StatusReading reading = device::PollStatus(
      *link_, [this](device::Handle handle, std::uint8_t run_flag, std::uint8_t ext_dac_flag) {
        RefreshSignalPage(handle, PageControl1->currentIndex(), run_flag, ext_dac_flag);
      });
  // Whatever the exchange showed while it ran, the window is idle once the tick's handle is closed.
  if (reading.presence != device::Presence::Absent) RestoreDefaultCursor();
  ShowModuleState(reading.presence);
  ShowRunState(reading);
}

void TMainForm::ShowModuleState(device::Presence presence) {
  switch (presence) {
    case device::Presence::BootLoader:
      StaticText7->setText(QStringLiteral("загрузчик"));
      StaticText9->setText(Text(model::BootVersionText(link_->BootModule.BootVersion)));
      // A requested update runs here, to its end, inside this tick.
      if (up_flag) {
        up_flag = false;
        SendFirmwareImage();
      }
      StaticText8->setText(Text(model::FirmwareVersionText(link_->BootModule.FirmwareVersion)));
      SetModuleControlsEnabled(true);
      break;
    case device::Presence::Application:
      StaticText7->setText(QStringLiteral("подключен"));
      StaticText9->setText(NotAvailable());
      StaticText8->setText(Text(model::FirmwareVersionText(link_->AppModule.FirmwareVersion)));
      SetModuleControlsEnabled(true);
      break;
    case device::Presence::Absent:
      StaticText7->setText(QStringLiteral("не подключен"));
      StaticText8->setText(NotAvailable());
      StaticText9->setText(NotAvailable());
      SetModuleControlsEnabled(false);
      DisableOutputChecks();
      DisableDacEdits();
      break;
  }
}

void TMainForm::ShowRunState(const device::StatusReading& reading) {
  const bool changed = reading.run_flag != proc_en || reading.ext_dac_flag != ext_dac_en;
  // The presentation is also applied when the application answers again after a tick without
  // it: at start-up the window shows "running" before anything was read, and after the module
  // was away the output controls were disabled while the stored flags may not have changed.
  const bool application = reading.presence == device::Presence::Application;
  const bool returned = application && !application_seen_last_tick_;
  application_seen_last_tick_ = application;
  if (!changed && !returned) return;
  proc_en = reading.run_flag;
  ext_dac_en = reading.ext_dac_flag;
  // Without a module the flags read as 0, but there is nothing to drive: the output controls
  // stay disabled until the application answers.
  const bool module_present = reading.presence != device::Presence::Absent;
  if (proc_en != 0) {
    Button8->setText(QStringLiteral("Остановить УЧПУ"));
    Tag = 0;
    DisableOutputChecks();
    DisableDacEdits();
  } else {
    Button8->setText(QStringLiteral("Запустить УЧПУ"));
    Tag = 1;
    if (module_present) EnableOutputChecks();
    if (module_present && ext_dac_en != 0) {
      EnableDacEdits();
    } else {
      DisableDacEdits();
    }
  }
}

void TMainForm::SetModuleControlsEnabled(bool enabled) {
  QWidget* const controls[] = {Button1,  Button2,  Button10, Button11,
                               Button12, Button3,  Button8,  Button13};
  for (QWidget* control : controls) control->setEnabled(enabled);
  MainRom().SetModuleControlsEnabled(enabled);
  AmtRom().SetModuleControlsEnabled(enabled);
  Kvp().SetModuleControlsEnabled(enabled);
  Ram().SetModuleControlsEnabled(enabled);
}

std::array<QCheckBox*, 36> TMainForm::OutputChecks() const {
  return {CheckBox1,  CheckBox2,  CheckBox3,  CheckBox4,  CheckBox5,  CheckBox6,
          CheckBox7,  CheckBox8,  CheckBox9,  CheckBox10, CheckBox11, CheckBox12,
          CheckBox13, CheckBox14, CheckBox15, CheckBox16, CheckBox17, CheckBox18,
          CheckBox19, CheckBox20, CheckBox21, CheckBox22, CheckBox23, CheckBox24,
          CheckBox25, CheckBox26, CheckBox27, CheckBox28, CheckBox29, CheckBox30,
          CheckBox31, CheckBox32, CheckBox33, CheckBox34, CheckBox35, CheckBox36};
}

std::array<QLineEdit*, 4> TMainForm::DacEdits() const {
  return {Edit7, Edit8, Edit9, Edit10};
}

void TMainForm::DisableOutputChecks() {
  BuildPages();
  for (QCheckBox* box : OutputChecks()) box->setEnabled(false);
}

void TMainForm::EnableOutputChecks() {
  BuildPages();
  for (QCheckBox* box : OutputChecks()) box->setEnabled(true);
}

void TMainForm::DisableDacEdits() {
  BuildPages();
  for (QLineEdit* edit : DacEdits()) edit->setEnabled(false);
}

void TMainForm::EnableDacEdits() {
  BuildPages();
  for (QLineEdit* edit : DacEdits()) edit->setEnabled(true);
}

void TMainForm::Button8Click() {
  if (!link_->AppModule.Found) return;
  const std::uint8_t command = Tag == 1 ? device::CmdStartCnc : device::CmdStopCnc;
  device::SendApplicationCommand(*link_, command);
}

void TMainForm::Button13Click() {
  if (!link_->AppModule.Found) return;
  device::SendApplicationCommand(*link_, device::CmdRestart);
}

}  // namespace tarven::app
