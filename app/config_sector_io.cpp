#include "app/config_sector_io.h"

#include <QString>

#include "app/application_title.h"
#include "app/cursor.h"
#include "app/dialogs.h"
#include "device/operations.h"

namespace tarven::app {
namespace {

// A module that does not answer is told as such: a failed
// read must not pass for a checksum mismatch (whose defaults a later write would store), and a
// write must not put into the sector bytes that were never read from it.
const QString kReadFailed = QStringLiteral("Модуль не ответил. Данные не изменены.");
const QString kWriteNotDone = QStringLiteral("Модуль не ответил. Запись не выполнена.");
const QString kWriteFailed = QStringLiteral("Ошибка записи в модуль.");

}  // namespace

QString WriteQuestionCaption() {
  return QStringLiteral("Тарвен");
}

QString WriteQuestion() {
  return QStringLiteral("Записать в ППЗУ Тарвен?");
}

bool ReadConfigSector(const PageServices& services, QWidget* owner, model::Sector sector) {
  if (!services.link.AppModule().Found) return false;
  device::Outcome outcome;
  {
    const BusyCursor busy;
    outcome = device::ReadFlashArea(services.link, model::AreaId::ConfigSector, sector);
  }
  if (!outcome.ok() && !outcome.not_reached()) {
    services.dialogs.ShowMessage(owner, ApplicationTitle(), kReadFailed);
  }
  return outcome.ok();
}

void WriteConfigSector(const PageServices& services, QWidget* owner,
                       const std::function<void(model::Sector)>& change) {
  device::Outcome outcome;
  {
    const BusyCursor busy;
    outcome = device::UpdateConfigSector(services.link, [&change](model::Sector sector) {
      change(sector);
      return device::Outcome::Done();
    });
  }
  if (outcome.ok() || outcome.not_reached()) return;
  services.dialogs.ShowMessage(
      owner, ApplicationTitle(),
      outcome.failure == device::Failure::ReadBeforeWrite ? kWriteNotDone : kWriteFailed);
}

}  // namespace tarven::app
