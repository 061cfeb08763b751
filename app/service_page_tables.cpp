// The page "Сервис": the configuration and the parameters as files, in the formats of tarvenctl's
// config export and params export, every line checked before anything is written.

#include <QLabel>
#include <QProgressBar>
#include <optional>
#include <string>

#include "app/dialogs.h"
#include "app/service_page.h"
#include "app/service_text.h"
#include "service/sector_tables.h"
#include "storage/file_io.h"

namespace tarven::app {

using namespace service_text;

namespace {

namespace dev = tarven::device;

constexpr std::size_t kMaxTableFileSize = 1 << 20;

}  // namespace

// ---- The sector's tables as files ----

void ServicePage::ConfigExportButtonClick() {
  ExportTable(static_cast<int>(service::SectorTable::Config));
}
void ServicePage::ParamsExportButtonClick() {
  ExportTable(static_cast<int>(service::SectorTable::Params));
}
void ServicePage::ConfigImportButtonClick() {
  ImportTable(static_cast<int>(service::SectorTable::Config));
}
void ServicePage::ParamsImportButtonClick() {
  ImportTable(static_cast<int>(service::SectorTable::Params));
}

namespace {

// "Конфигурация сохранена", "Параметры сохранены": the sentence of each table, from `done`
// (feminine singular) and `done_plural`.
QString TableDone(service::SectorTable table, const char* done, const char* done_plural) {
  return table == service::SectorTable::Config
             ? QStringLiteral("Конфигурация ") + QString::fromUtf8(done)
             : QStringLiteral("Параметры ") + QString::fromUtf8(done_plural);
}

}  // namespace

void ServicePage::ExportTable(int which) {
  if (Working()) return;
  const auto table = static_cast<service::SectorTable>(which);
  const bool config = table == service::SectorTable::Config;
  const QString name = AskSaveName(
      config ? QStringLiteral("tarven-config.txt") : QStringLiteral("tarven-params.csv"),
      config ? QStringLiteral("Конфигурация (*.txt)") : QStringLiteral("Параметры CSV (*.csv)"));
  if (name.isEmpty()) return;
  const std::string path = name.toStdString();
  Start([this, table, name, path](dev::Link& link, const dev::Progress&) -> std::function<void()> {
    std::string text;
    const dev::Outcome read = service::ExportTable(link, table, text);
    std::optional<storage::ReplaceResult> saved;
    if (read.ok()) saved = storage::ReplaceFile(path, text);
    return [this, table, name, read, saved] {
      ui_.ServiceProgressBar->setValue(100);
      QString result;
      if (!read.ok()) {
        result = TableDone(table, "не сохранена", "не сохранены") +
                 QStringLiteral(": %1. Файл не записан.").arg(Why(read));
        Tell(result);
      } else if (!saved->ok()) {
        result = QStringLiteral("Файл \"%1\" не записан: %2.").arg(name, Text(saved->reason));
        services_.dialogs.ShowError(window(), result);
      } else {
        result = TableDone(table, "сохранена", "сохранены") + QStringLiteral(" в файл %1.").arg(name);
      }
      ui_.ResultLabel->setText(result);
    };
  });
}

void ServicePage::ImportTable(int which) {
  if (Working()) return;
  const auto table = static_cast<service::SectorTable>(which);
  const QString name = services_.dialogs.ChooseOpenFile(window());
  if (name.isEmpty()) return;
  std::string text;
  const storage::ReadResult read =
      storage::ReadRegularFile(name.toStdString(), kMaxTableFileSize, text);
  if (read.status != storage::ReadStatus::Read) {
    services_.dialogs.ShowError(
        window(), QStringLiteral("Файл \"%1\" не прочитан: %2.")
                      .arg(name, read.status == storage::ReadStatus::Failed
                                     ? Text(storage::SystemReason(read.error_number))
                                     : QStringLiteral("это не обычный файл подходящего размера")));
    return;
  }
  service::TableValues values;
  std::string why;
  // Every line is checked before anything is written.
  if (!service::ParseTableFile(table, text, values, why, Excerpt)) {
    Tell(QStringLiteral("Файл \"%1\" не принят, ничего не записано:\n%2").arg(name, Text(why)));
    return;
  }
  if (!services_.dialogs.AskYesNo(window(), kCaption, kWriteQuestion)) return;
  Start([this, table, values](dev::Link& link, const dev::Progress& progress) -> std::function<void()> {
    const dev::Outcome written = service::WriteTable(link, table, values, progress);
    return [this, table, written] {
      ui_.ServiceProgressBar->setValue(100);
      const QString result =
          written.ok() ? TableDone(table, "записана в модуль.", "записаны в модуль.")
                       : TableDone(table, "не записана", "не записаны") +
                             QStringLiteral(": %1.").arg(Why(written));
      ui_.ResultLabel->setText(result);
      if (!written.ok()) Tell(result);
    };
  });
}

}  // namespace tarven::app
