// The once-a-second status poll, the status panel it fills, the run control of the CNC and the
// restart of the module.

#include <QPushButton>
#include <QTimer>
#include <chrono>

#include "app/application_title.h"

#include "app/application_title.h"
#include "app/cursor.h"
#include "app/main_form.h"
#include "device/operations.h"
#include "device/register_operations.h"
#include "model/little_endian.h"
#include "model/version_text.h"

namespace tarven::app {
namespace {

QString Text(const std::string& utf8) {
  return QString::fromStdString(utf8);
}

QString NotAvailable() {
  return QString::fromUtf8(model::kNotAvailable);
}

const QString kRunStateUnknown =
    QStringLiteral("Состояние УЧПУ неизвестно: команда не отправлена.");

}  // namespace

void TMainForm::Timer1Timer() {
  // The tick does not wait for a module another program holds: it skips this second and keeps
  // what it shows, rather than telling "не подключен" of a module that is there.
  const std::chrono::milliseconds handler_wait = link_->lock_wait();
  link_->SetLockWait(std::chrono::milliseconds(0));
  in_status_tick_ = true;
  const device::StatusReading reading = device::PollStatus(
      *link_, [this](device::Handle handle, std::uint8_t run_flag, std::uint8_t ext_dac_flag) {
        RefreshSignalPage(handle, PageControl1->currentIndex(), run_flag, ext_dac_flag);
      });
  in_status_tick_ = false;
  link_->SetLockWait(handler_wait);
  if (reading.outcome.failure == device::Failure::ModuleBusy) return;
  // Whatever the exchange showed while it ran, the window is idle once the tick's handle is closed.
  if (reading.presence != device::Presence::Absent) RestoreDefaultCursor();
  ShowModuleState(reading.presence);
  ShowRunState(reading);
  TellPagesModuleState();
}

void TMainForm::ShowModuleState(device::Presence presence) {
  module_state_.presence = presence;
  switch (presence) {
    case device::Presence::BootLoader:
      StaticText7->setText(QStringLiteral("загрузчик"));
      StaticText9->setText(Text(model::BootVersionText(link_->BootModule().BootVersion)));
      // A requested update runs here, to its end, inside this tick.
      if (up_flag) {
        up_flag = false;
        SendFirmwareImage();
      }
      StaticText8->setText(Text(model::FirmwareVersionText(link_->BootModule().FirmwareVersion)));
      for (QWidget* control : {Button3, Button8, Button13}) control->setEnabled(true);
      break;
    case device::Presence::Application:
      StaticText7->setText(QStringLiteral("подключен"));
      StaticText9->setText(NotAvailable());
      StaticText8->setText(Text(model::FirmwareVersionText(link_->AppModule().FirmwareVersion)));
      for (QWidget* control : {Button3, Button8, Button13}) control->setEnabled(true);
      break;
    case device::Presence::Absent:
      StaticText7->setText(QStringLiteral("не подключен"));
      StaticText8->setText(NotAvailable());
      StaticText9->setText(NotAvailable());
      for (QWidget* control : {Button3, Button8, Button13}) control->setEnabled(false);
      // The output controls stay disabled until a run state is shown with a module there.
      module_state_.run_state_shown = false;
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
  module_state_.run_flag_read = application && reading.status_read;
  if (!changed && !returned) return;
  proc_en = reading.run_flag;
  ext_dac_en = reading.ext_dac_flag;
  // Without a module the flags read as 0, but there is nothing to drive: the output controls
  // stay disabled until the application answers.
  module_state_.run_flag = proc_en;
  module_state_.ext_dac_flag = ext_dac_en;
  module_state_.run_state_shown = reading.presence != device::Presence::Absent;
  if (proc_en != 0) {
    Button8->setText(QStringLiteral("Остановить УЧПУ"));
    Tag = 0;
  } else {
    Button8->setText(QStringLiteral("Запустить УЧПУ"));
    Tag = 1;
  }
}

bool TMainForm::OutputsMayBeSent() {
  if (!link_->AppModule().Found) return false;
  // A lost status answer shows the CNC as stopped (its flag reads 0), so the controls may be
  // enabled while the CNC runs: a send then waits for a tick that has read the flag.
  if (!module_state_.run_flag_read) {
    dialogs().ShowMessage(this, ApplicationTitle(), kRunStateUnknown);
    return false;
  }
  return proc_en == 0;
}

void TMainForm::RefreshSignalPage(device::Handle handle, int page, std::uint8_t run_flag,
                                  std::uint8_t ext_dac_flag) {
  SignalTick tick{*link_, handle, run_flag, ext_dac_flag};
  model::WriteLe32(tick.buffer.data(), link_->AppModule().FirmwareVersion);
  tick.buffer[4] = run_flag;
  tick.buffer[5] = ext_dac_flag;
  // The external DAC mode follows its page: off again on the first tick after leaving it. The
  // switch-off takes the DAC page's place among the pages, after the pages before it.
  LivePage* const live = LivePageAt(page);
  const int dac_tab = DacTab();
  if (live != nullptr && page < dac_tab) live->Refresh(tick);
  if (page != dac_tab && ext_dac_flag == 1) {
    device::SendBareCommand(*link_, handle, device::CmdExtDacOff);
  }
  if (live != nullptr && page >= dac_tab) live->Refresh(tick);
}

void TMainForm::TellModuleBusy(const device::SearchReport::Busy& busy) {
  if (busy_told_) return;
  busy_told_ = true;
  // Told once the handler has returned to the event loop: the box's own event loop must not run
  // a status tick in the middle of the handler's search. One box per handler.
  const QString where = Text(busy.location.empty() ? busy.path : busy.location);
  const QString who = Text(device::DescribeHolder(busy.holder));
  // The holder may be this window's own page "Сервис", at work on the module on its thread.
  const bool page_at_work = ServicePageAtWork();
  QTimer::singleShot(0, this, [this, where, who, page_at_work] {
    busy_told_ = false;
    dialogs().ShowMessage(
        this, ApplicationTitle(),
        page_at_work ? QStringLiteral("Модуль %1 занят: с ним работает страница «Сервис».\n"
                                      "Команда не отправлена, повторите после её завершения.")
                           .arg(where)
                     : QStringLiteral("Модуль %1 занят другой программой: %2.\n"
                                      "Команда не отправлена, повторите позже.")
                           .arg(where, who));
  });
}

void TMainForm::Button8Click() {
  if (!link_->AppModule().Found) return;
  const std::uint8_t command = Tag == 1 ? device::CmdStartCnc : device::CmdStopCnc;
  device::SendApplicationCommand(*link_, command);
}

void TMainForm::Button13Click() {
  if (!link_->AppModule().Found) return;
  device::SendApplicationCommand(*link_, device::CmdRestart);
}

}  // namespace tarven::app
