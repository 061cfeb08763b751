// The page "Сервис": the whole module into a backup, a backup back into the module, and a backup
// compared with the module or with another backup.

#include <QFileInfo>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <optional>
#include <string>
#include <utility>

#include "app/dialogs.h"
#include "app/service_page.h"
#include "app/service_text.h"
#include "model/backup.h"
#include "model/backup_compare.h"
#include "service/module_backup.h"
#include "storage/file_io.h"

namespace tarven::app {

using namespace service_text;

namespace {

namespace dev = tarven::device;
using model::BackupPart;

const QString kBackupFilter = QStringLiteral("Резервная копия модуля (*.tar)");

}  // namespace

// ---- Back up ----

void ServicePage::BackupButtonClick() {
  if (Working()) return;
  const QString name = AskSaveName(
      QString::fromStdString(service::ProposedBackupName(served_serial_)), kBackupFilter);
  if (name.isEmpty()) return;
  const std::string path = name.toStdString();
  Start([this, name, path](dev::Link& link, const dev::Progress& progress) -> std::function<void()> {
    model::Backup backup;
    const service::ModuleReading reading = service::ReadModule(link, backup, progress);
    std::optional<storage::ReplaceResult> saved;
    std::size_t size = 0;
    if (reading.whole()) {
      const std::string archive = service::BackupArchive(backup);
      size = archive.size();
      saved = storage::ReplaceFile(path, archive);
    }
    return [this, name, reading, saved, size] {
      ShowRows({QStringLiteral("Часть"), QStringLiteral("Результат")}, ReadingRows(reading));
      const QString cnc = CncNote(reading);
      if (!reading.whole()) {
        const QString where = reading.failed_at == service::ReadStage::Status
                                  ? QString()
                                  : QStringLiteral(" при чтении: ") + StageName(reading.failed_at);
        const QString text = QStringLiteral("Резервная копия не сохранена%1 (%2). Файл не записан.")
                                 .arg(where, Why(reading.outcome)) +
                             (cnc.isEmpty() ? QString() : QStringLiteral("\n") + cnc);
        ui_.ResultLabel->setText(text);
        Tell(text);
        return;
      }
      if (!saved->ok()) {
        const QString text = QStringLiteral("Модуль считан, но файл \"%1\" не записан: %2.")
                                 .arg(name, Text(saved->reason));
        ui_.ResultLabel->setText(text);
        services_.dialogs.ShowError(window(), text);
        return;
      }
      ui_.ServiceProgressBar->setValue(100);
      ui_.ResultLabel->setText(QStringLiteral("Копия сохранена: %1 (%2 байт). %3")
                                   .arg(name)
                                   .arg(size)
                                   .arg(cnc)
                                   .trimmed());
      // A CNC that stands where it ran must not go unnoticed.
      if (reading.outcome.failure == dev::Failure::CncLeftStopped) Tell(cnc);
    };
  });
}

// ---- Restore ----

void ServicePage::RestoreButtonClick() {
  if (Working()) return;
  model::Backup backup;
  QString name;
  if (!OpenBackup(backup, name)) return;
  service::RestoreRequest request;
  const std::pair<QCheckBox*, BackupPart> checks[] = {{ui_.PartConfigCheck, BackupPart::Config},
                                                      {ui_.PartParamsCheck, BackupPart::Params},
                                                      {ui_.PartRomCheck, BackupPart::Rom},
                                                      {ui_.PartAmtCheck, BackupPart::Amt},
                                                      {ui_.PartKvpCheck, BackupPart::Kvp}};
  QStringList names;
  for (const auto& [check, part] : checks) {
    if (check->isChecked()) {
      request.parts.insert(part);
      names << PartName(part).toLower();
    }
  }
  // The RAM goes back only into a bank the user chose.
  const int bank = ui_.RamBankCombo->currentIndex();
  if (bank > 0) {
    request.parts.insert(BackupPart::Ram);
    request.ram_bank = bank == 1 ? dev::RamBank::Main : dev::RamBank::Reserve;
    names << (bank == 1 ? QStringLiteral("ОЗУ в основной банк")
                        : QStringLiteral("ОЗУ в резервный банк"));
  }
  if (request.parts.empty()) {
    Tell(QStringLiteral("Отметьте части, которые нужно восстановить."));
    return;
  }
  switch (service::FindDamagedSector(request.parts, backup)) {
    case service::DamagedSector::ConfigBlock:
      Tell(QStringLiteral("В копии не сходится контрольная сумма конфигурации. Ничего не записано "
                          "(снимите отметку «Конфигурация»)."));
      return;
    case service::DamagedSector::ParamTable:
      Tell(QStringLiteral("В копии не сходится контрольная сумма параметров. Ничего не записано "
                          "(снимите отметку «Параметры»)."));
      return;
    case service::DamagedSector::None:
      break;
  }
  if (!services_.dialogs.AskYesNo(
          window(), kCaption,
          kWriteQuestion + QStringLiteral("\n\nИз копии %1: %2.").arg(name, names.join(QStringLiteral(", "))))) {
    return;
  }
  const dev::RamBank ram_bank = request.ram_bank.value_or(dev::RamBank::Main);
  Start([this, backup, request, ram_bank](dev::Link& link,
                                          const dev::Progress& progress) -> std::function<void()> {
    const service::RestoreReport report = service::Restore(link, backup, request, progress);
    return [this, report, ram_bank] {
      std::vector<QStringList> rows;
      for (const service::PartResult& part : report.parts) {
        rows.push_back({PartNames(part.parts), RestoreResultText(part, ram_bank)});
      }
      ShowRows({QStringLiteral("Часть"), QStringLiteral("Результат")}, rows);
      if (report.stopped) {
        const QString text =
            report.parts.empty()
                ? QStringLiteral("Остановлено по запросу: ничего не записано.")
                : QStringLiteral("Остановлено по запросу после части «%1»: записано только то, "
                                 "что указано в таблице.")
                      .arg(PartNames(report.parts.back().parts));
        ui_.ResultLabel->setText(text);
        Tell(text);
      } else if (report.all_done()) {
        ui_.ResultLabel->setText(QStringLiteral("Восстановление выполнено."));
      } else {
        const QString text = QStringLiteral("Восстановлено не всё: см. таблицу.");
        ui_.ResultLabel->setText(text);
        Tell(text);
      }
    };
  });
}

// ---- Compare ----

void ServicePage::CompareWith(const model::Backup& a, const model::Backup& b, const QString& a_name,
                              const QString& b_name) {
  const model::BackupDifferences differences = model::CompareBackups(a, b);
  std::vector<QStringList> rows;
  for (const auto& config : differences.config) {
    rows.push_back({QStringLiteral("Конфигурация %1").arg(QChar::fromLatin1(config.letter)),
                    QString::number(config.a), QString::number(config.b)});
  }
  for (const auto& param : differences.params) {
    rows.push_back({QStringLiteral("Параметр %1").arg(param.number), QString::number(param.a),
                    QString::number(param.b)});
  }
  if (differences.other_sector_bytes > 0) {
    rows.push_back({QStringLiteral("Сектор конфигурации"),
                    QStringLiteral("отличаются байты: %1").arg(differences.other_sector_bytes),
                    QStringLiteral("контрольные суммы, байты 12..1023")});
  }
  for (const auto& image : differences.images) {
    QStringList first;
    for (const std::uint32_t place : image.first) {
      first << (image.address ? Hex32(place) : QStringLiteral("смещение ") + Hex32(place));
    }
    rows.push_back({PartName(image.part), QStringLiteral("отличаются байты: %1").arg(image.count),
                    QStringLiteral("первые: ") + first.join(QStringLiteral(", ")) +
                        (image.count > static_cast<std::size_t>(first.size()) ? QStringLiteral(", …") : QString())});
  }
  ShowRows({QStringLiteral("Что"), a_name, b_name}, rows);
  ui_.ResultLabel->setText(differences.empty()
                               ? QStringLiteral("%1 и %2: совпадают.").arg(a_name, b_name)
                               : QStringLiteral("%1 и %2: различий %3.")
                                     .arg(a_name, b_name)
                                     .arg(rows.size()));
}

void ServicePage::CompareModuleButtonClick() {
  if (Working()) return;
  model::Backup backup;
  QString name;
  if (!OpenBackup(backup, name)) return;
  Start([this, backup](dev::Link& link, const dev::Progress& progress) -> std::function<void()> {
    model::Backup module;
    const service::ModuleReading reading = service::ReadModule(link, module, progress);
    return [this, backup, module, reading] {
      if (!reading.whole()) {
        ShowRows({QStringLiteral("Часть"), QStringLiteral("Результат")}, ReadingRows(reading));
        const QString text =
            QStringLiteral("Сравнение не выполнено: модуль не считан (%1).").arg(Why(reading.outcome));
        ui_.ResultLabel->setText(text);
        Tell(text);
        return;
      }
      ui_.ServiceProgressBar->setValue(100);
      CompareWith(backup, module, QStringLiteral("Копия"), QStringLiteral("Модуль"));
      if (reading.outcome.failure == dev::Failure::CncLeftStopped) Tell(CncNote(reading));
    };
  });
}

void ServicePage::CompareFilesButtonClick() {
  if (Working()) return;
  model::Backup a;
  model::Backup b;
  QString a_name;
  QString b_name;
  if (!OpenBackup(a, a_name) || !OpenBackup(b, b_name)) return;
  ShowRows({}, {});
  CompareWith(a, b, QFileInfo(a_name).fileName(), QFileInfo(b_name).fileName());
}

}  // namespace tarven::app
