// The page "Сервис": the modules plugged in and the whole-module work, on a thread of its own.

#include "app/service_page.h"

#include <QComboBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "app/dialogs.h"
#include "app/module_watcher.h"
#include "device/device_select.h"
#include "device/operations.h"
#include "model/backup_compare.h"
#include "model/printable_text.h"
#include "model/version_text.h"
#include "service/module_backup.h"
#include "service/sector_tables.h"
#include "storage/file_io.h"

namespace tarven::app {
namespace {

namespace dev = tarven::device;
using model::BackupPart;

const QString kCaption = QStringLiteral("Тарвен");
const QString kWriteQuestion = QStringLiteral("Записать в ППЗУ Тарвен?");
const QString kOverwriteCaption = QStringLiteral("Внимание!");
const QString kOverwriteQuestion = QStringLiteral("Файл с таким именем существует\n\rПродолжить?");
const QString kBackupFilter = QStringLiteral("Резервная копия модуля (*.tar)");
constexpr std::size_t kMaxTableFileSize = 1 << 20;
constexpr std::chrono::milliseconds kWorkLockWait{5000};

QString Text(const std::string& utf8) {
  return QString::fromStdString(model::Printable(utf8));
}

QString Hex32(std::uint32_t value) {
  return QStringLiteral("0x%1").arg(value, 8, 16, QLatin1Char('0')).toUpper().replace(
      QStringLiteral("0X"), QStringLiteral("0x"));
}

QString PartName(BackupPart part) {
  switch (part) {
    case BackupPart::Config:
      return QStringLiteral("Конфигурация");
    case BackupPart::Params:
      return QStringLiteral("Параметры");
    case BackupPart::Rom:
      return QStringLiteral("ПЗУ");
    case BackupPart::Amt:
      return QStringLiteral("ПЗУ АМТ");
    case BackupPart::Kvp:
      return QStringLiteral("КВПП");
    case BackupPart::Ram:
      return QStringLiteral("ОЗУ");
  }
  return {};
}

QString StageName(service::ReadStage stage) {
  switch (stage) {
    case service::ReadStage::Status:
      return QStringLiteral("Состояние модуля");
    case service::ReadStage::Sector:
      return QStringLiteral("Конфигурация и параметры");
    case service::ReadStage::Rom:
      return PartName(BackupPart::Rom);
    case service::ReadStage::Amt:
      return PartName(BackupPart::Amt);
    case service::ReadStage::Kvp:
      return PartName(BackupPart::Kvp);
    case service::ReadStage::Ram:
      return PartName(BackupPart::Ram);
  }
  return {};
}

// Why an operation did not go through, in the window's words.
QString Why(const dev::Outcome& outcome) {
  switch (outcome.failure) {
    case dev::Failure::None:
      return QStringLiteral("выполнено");
    case dev::Failure::NoModule:
      return QStringLiteral("модуль не найден");
    case dev::Failure::BootLoaderOnly:
      return QStringLiteral("модуль работает в режиме загрузчика");
    case dev::Failure::NoIdentify:
      return QStringLiteral("устройство не отвечает на команду опознания");
    case dev::Failure::NoAccess:
      return QStringLiteral("нет доступа к устройству %1: %2")
          .arg(Text(outcome.subject), Text(outcome.reason));
    case dev::Failure::NotAnswering:
      return QStringLiteral("модуль не ответил (пакет %1)").arg(outcome.report);
    case dev::Failure::ChecksumMismatch:
      return QStringLiteral("не сходится контрольная сумма");
    case dev::Failure::ReadBeforeWrite:
      return QStringLiteral("сектор не считан перед записью, запись не выполнена");
    case dev::Failure::FileError:
      return QStringLiteral("файл %1: %2").arg(Text(outcome.subject), Text(outcome.reason));
    case dev::Failure::Cancelled:
      return outcome.total > 0 ? QStringLiteral("остановлено по запросу (выполнено %1 из %2 байт)")
                                     .arg(outcome.done)
                                     .arg(outcome.total)
                               : QStringLiteral("остановлено по запросу");
    case dev::Failure::CncLeftStopped:
      return QStringLiteral("УЧПУ осталось остановленным: модуль не ответил на команду запуска");
    case dev::Failure::InvalidRequest:
      return QStringLiteral("недопустимый запрос");
    case dev::Failure::ModuleBusy:
      return QStringLiteral("модуль %1 занят другой программой: %2")
          .arg(Text(outcome.subject), Text(outcome.reason));
  }
  return {};
}

// What became of the CNC when the RAM was read.
QString CncNote(const service::ModuleReading& reading) {
  if (!reading.ram_reached || reading.outcome.not_reached()) return {};
  if (!reading.cnc.read) {
    return QStringLiteral("Состояние УЧПУ не получено: УЧПУ не останавливалось.");
  }
  if (!reading.cnc.was_running) return QStringLiteral("УЧПУ было остановлено и осталось остановленным.");
  if (reading.outcome.failure == dev::Failure::CncLeftStopped) {
    return QStringLiteral("УЧПУ осталось остановленным: модуль не ответил на команду запуска.");
  }
  if (reading.outcome.ok() || reading.outcome.failure == dev::Failure::Cancelled) {
    return QStringLiteral("УЧПУ было остановлено для чтения ОЗУ и запущено снова.");
  }
  return QStringLiteral("УЧПУ было остановлено для чтения ОЗУ и, возможно, осталось остановленным.");
}

// The rows of a module read: each part read, and the one that failed.
std::vector<QStringList> ReadingRows(const service::ModuleReading& reading) {
  std::vector<QStringList> rows;
  const service::ReadStage stages[] = {service::ReadStage::Sector, service::ReadStage::Rom,
                                       service::ReadStage::Amt, service::ReadStage::Kvp,
                                       service::ReadStage::Ram};
  for (const service::ReadStage stage : stages) {
    if (!reading.whole() && stage == reading.failed_at) {
      rows.push_back({StageName(stage), QStringLiteral("не считано: ") + Why(reading.outcome)});
      break;
    }
    rows.push_back({StageName(stage), QStringLiteral("считано")});
  }
  return rows;
}

QString PartNames(const std::vector<BackupPart>& parts) {
  QStringList names;
  for (const BackupPart part : parts) names << PartName(part);
  return names.join(QStringLiteral(", "));
}

QString RestoreResultText(const service::PartResult& result, dev::RamBank bank) {
  using State = service::PartResult::State;
  switch (result.state) {
    case State::Failed:
      return QStringLiteral("не записано: ") + Why(result.written);
    case State::Written:
      if (result.parts.front() == BackupPart::Ram) {
        return bank == dev::RamBank::Main
                   ? QStringLiteral("записано в основной банк; модуль перезапускается")
                   : QStringLiteral("записано в резервный банк; модуль перезапускается");
      }
      return QStringLiteral("записано, не проверено");
    case State::Verified:
      return QStringLiteral("записано, проверено");
    case State::Differs:
      return QStringLiteral("записано, но при проверке отличается с адреса ") +
             Hex32(result.first_difference);
    case State::ReadBackFailed:
      return QStringLiteral("записано, но проверить не удалось: ") + Why(result.read_back);
  }
  return {};
}

// What the modules table says of a device.
QString StateText(const dev::DeviceProbe& probe) {
  const auto firmware = [&] {
    return probe.firmware_version ? Text(model::FirmwareVersionText(*probe.firmware_version))
                                  : QString::fromUtf8(model::kNotAvailable);
  };
  switch (probe.personality) {
    case dev::Personality::Application:
      return QStringLiteral("прошивка ") + firmware();
    case dev::Personality::BootLoader:
      return QStringLiteral("загрузчик ") +
             (probe.boot_version ? Text(model::BootVersionText(*probe.boot_version))
                                 : QString::fromUtf8(model::kNotAvailable)) +
             QStringLiteral(", прошивка ") + firmware();
    case dev::Personality::Other:
      return QStringLiteral("не модуль (код опознания 0x%1)")
          .arg(probe.device_code, 4, 16, QLatin1Char('0'));
    case dev::Personality::Silent:
      return QStringLiteral("не отвечает на команду опознания");
    case dev::Personality::NotAsked:
      break;
  }
  if (probe.busy) {
    return QStringLiteral("занят: ") + Text(dev::DescribeHolder(*probe.busy));
  }
  if (!probe.opened) {
    return QStringLiteral("не открывается: ") +
           (probe.open_error.empty() ? QString::fromUtf8(model::kNotAvailable)
                                     : Text(probe.open_error));
  }
  if (!probe.feature_report_length) return QStringLiteral("не читается описание отчётов");
  return QStringLiteral("не модуль (отчёт %1 байт, у модуля 65)")
      .arg(*probe.feature_report_length);
}

// How to mend a device that cannot be opened, for its row's tip.
QString FixText(const dev::DeviceProbe& probe) {
  if (probe.busy) {
    return QStringLiteral("Модулем пользуется другая программа. Дождитесь её завершения.");
  }
  if (probe.opened || probe.personality != dev::Personality::NotAsked) return {};
  if (probe.permission) {
    return QStringLiteral(
        "Нет прав на устройство. Установите пакет tarven (правило udev) или скопируйте "
        "resources/70-tarven.rules в /etc/udev/rules.d/ и выполните от имени root:\n"
        "udevadm control --reload && udevadm trigger --subsystem-match=hidraw\n"
        "Пользователю без своего места за компьютером (ssh, служба) дайте права группе: "
        "см. README, «Who may open the module».");
  }
  return QStringLiteral("Переподключите модуль; «tarvenctl devices» покажет причину подробно.");
}

bool Serves(const dev::DevicePin& pin, const hid::DeviceInfo& info) {
  switch (pin.by) {
    case dev::DevicePin::By::Path:
      return info.path == pin.value;
    case dev::DevicePin::By::Location:
      return info.usb_location == pin.value;
    case dev::DevicePin::By::Serial:
      return info.serial_number == pin.value;
  }
  return false;
}

QString ModuleName(const dev::DeviceProbe& probe) {
  const QString where = Text(probe.info.usb_location.empty() ? probe.info.path
                                                              : probe.info.usb_location);
  return probe.info.serial_number.empty()
             ? where
             : QStringLiteral("%1 (серийный № %2)").arg(where, Text(probe.info.serial_number));
}

// A line of a file quoted in a message: printable, and cut (between letters) when long.
std::string Excerpt(std::string_view line) {
  const std::string shown = model::Printable(line);
  constexpr std::size_t kLimit = 40;
  if (shown.size() <= kLimit) return shown;
  std::size_t cut = kLimit;
  while (cut > 0 && (static_cast<unsigned char>(shown[cut]) & 0xC0) == 0x80) --cut;
  return shown.substr(0, cut) + "…";
}

bool Answers(const dev::DeviceProbe& probe) {
  return probe.personality == dev::Personality::Application ||
         probe.personality == dev::Personality::BootLoader;
}

}  // namespace

ServicePage::ServicePage(QWidget* parent, PageServices services, LinkMaker make_link)
    : QWidget(parent), services_(services), make_link_(std::move(make_link)) {
  ui_.setupUi(this);
  ui_.ModulesTable->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  ui_.ModulesTable->horizontalHeader()->setStretchLastSection(true);
  ui_.ResultsTable->horizontalHeader()->setStretchLastSection(true);
  ui_.ResultsTable->setColumnCount(2);
  ui_.CancelButton->setEnabled(false);
  ui_.ServiceProgressBar->setRange(0, 100);
  connect(ui_.BackupButton, &QPushButton::clicked, this, &ServicePage::BackupButtonClick);
  connect(ui_.RestoreButton, &QPushButton::clicked, this, &ServicePage::RestoreButtonClick);
  connect(ui_.CompareModuleButton, &QPushButton::clicked, this,
          &ServicePage::CompareModuleButtonClick);
  connect(ui_.CompareFilesButton, &QPushButton::clicked, this,
          &ServicePage::CompareFilesButtonClick);
  connect(ui_.ConfigExportButton, &QPushButton::clicked, this,
          &ServicePage::ConfigExportButtonClick);
  connect(ui_.ConfigImportButton, &QPushButton::clicked, this,
          &ServicePage::ConfigImportButtonClick);
  connect(ui_.ParamsExportButton, &QPushButton::clicked, this,
          &ServicePage::ParamsExportButtonClick);
  connect(ui_.ParamsImportButton, &QPushButton::clicked, this,
          &ServicePage::ParamsImportButtonClick);
  connect(ui_.CancelButton, &QPushButton::clicked, this, &ServicePage::CancelButtonClick);
  connect(ui_.ModulesTable, &QTableWidget::cellClicked, this,
          [this](int row, int) { ChooseModule(row); });
  watcher_ = new ModuleWatcher(this);
  connect(watcher_, &ModuleWatcher::Changed, this, [this] {
    // A page not shown yet lists the modules when it is; work in progress lists them at its end.
    list_stale_ = true;
    if (shown_once_ && !Working()) ListModules();
  });
  EnableButtons();
}

ServicePage::~ServicePage() {
  StopWork();
}

void ServicePage::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // The modules are asked only once the page is looked at: the window's start sends them nothing
  // of the page's. Without udev's notices, the list is made again each time the page is shown.
  const bool first = !shown_once_;
  shown_once_ = true;
  if ((first || list_stale_ || !watcher_->watching()) && !Working()) ListModules();
}

// ---- The modules ----

void ServicePage::ListModules() {
  list_stale_ = false;
  std::unique_ptr<dev::Link> link = make_link_();
  // A module another program (or the page's own work) holds is listed as such, not waited for.
  link->SetLockWait(std::chrono::milliseconds(0));
  modules_.clear();
  dev::ProbeDevices(*link, modules_);
  QTableWidget& table = *ui_.ModulesTable;
  table.setRowCount(static_cast<int>(modules_.size()));
  for (int row = 0; row < static_cast<int>(modules_.size()); ++row) {
    const dev::DeviceProbe& probe = modules_[static_cast<std::size_t>(row)];
    const QString cells[] = {Text(probe.info.usb_location), Text(probe.info.serial_number),
                             Text(probe.info.path), StateText(probe)};
    for (int column = 0; column < 4; ++column) {
      auto* item = new QTableWidgetItem(cells[column]);
      item->setToolTip(FixText(probe));
      table.setItem(row, column, item);
    }
  }
  ShowChoice();
}

void ServicePage::ChooseModule(int row) {
  if (row < 0 || row >= static_cast<int>(modules_.size())) return;
  const dev::DeviceProbe& probe = modules_[static_cast<std::size_t>(row)];
  // What --device takes: the USB location where there is one, so that the module is followed
  // through its boot loader, the path otherwise.
  services_.link.Pin(dev::PinFor(probe.info));
  ShowChoice();
}

void ServicePage::ShowChoice() {
  const auto& pin = services_.link.pin();
  const auto answering = static_cast<int>(std::count_if(modules_.begin(), modules_.end(), Answers));
  int served = -1;
  for (std::size_t i = 0; i < modules_.size() && served < 0; ++i) {
    if (pin ? Serves(*pin, modules_[i].info) : modules_[i].personality == dev::Personality::Application) {
      served = static_cast<int>(i);
    }
  }
  // Unpinned, the window takes the first application that answers, else the first boot loader.
  for (std::size_t i = 0; i < modules_.size() && served < 0 && !pin; ++i) {
    if (modules_[i].personality == dev::Personality::BootLoader) served = static_cast<int>(i);
  }
  QString text;
  if (pin) {
    text = served >= 0
               ? QStringLiteral("Окно работает с выбранным модулем: %1.")
                     .arg(ModuleName(modules_[static_cast<std::size_t>(served)]))
               : QStringLiteral("Окно работает с выбранным модулем (%1), сейчас его нет.")
                     .arg(Text(dev::DescribePin(*pin)));
  } else if (served >= 0) {
    text = QStringLiteral("Окно работает с первым ответившим модулем: %1.")
               .arg(ModuleName(modules_[static_cast<std::size_t>(served)]));
    if (answering > 1) {
      text += QStringLiteral(" Подключены и другие модули (всего %1): выберите строку, чтобы "
                             "работать с другим.")
                  .arg(answering);
    }
  } else {
    text = QStringLiteral("Модуль не найден.");
  }
  for (int row = 0; row < ui_.ModulesTable->rowCount(); ++row) {
    for (int column = 0; column < ui_.ModulesTable->columnCount(); ++column) {
      if (QTableWidgetItem* item = ui_.ModulesTable->item(row, column)) {
        QFont font = item->font();
        font.setBold(row == served);
        item->setFont(font);
      }
    }
  }
  ui_.ModuleChoiceLabel->setText(text);
  if (text != choice_text_) {
    choice_text_ = text;
    emit ChoiceChanged();
  }
}

void ServicePage::ShowModuleState(const ModuleState& state) {
  module_there_ = state.presence == dev::Presence::Application;
  EnableButtons();
}

// ---- The work on the page's thread ----

void ServicePage::EnableButtons() {
  const bool idle = !Working();
  for (QPushButton* button : {ui_.BackupButton, ui_.RestoreButton, ui_.CompareModuleButton,
                              ui_.ConfigExportButton, ui_.ConfigImportButton,
                              ui_.ParamsExportButton, ui_.ParamsImportButton}) {
    button->setEnabled(idle && module_there_);
  }
  ui_.CompareFilesButton->setEnabled(idle);
  ui_.CancelButton->setEnabled(!idle);
}

void ServicePage::Start(Work work) {
  std::unique_ptr<dev::Link> link = make_link_();
  link->Pin(services_.link.pin());
  // The status tick holds the module for a moment each second: the work waits for it to let go,
  // rather than fail on a module this very window holds.
  link->SetLockWait(std::max(link->lock_wait(), kWorkLockWait));
  stop_ = false;
  discard_result_ = false;
  percent_shown_ = -1;
  ui_.ServiceProgressBar->setValue(0);
  ui_.ResultLabel->clear();
  ShowRows({}, {});
  worker_ = std::thread([this, link = std::move(link), work = std::move(work)]() mutable {
    std::function<void()> show;
    {
      // The module stays locked from the first exchange to the last: the window's status tick
      // skips its seconds meanwhile, and no other program comes in between two parts.
      const dev::Link::Hold hold(*link);
      show = work(*link, [this](std::uint64_t done, std::uint64_t total) {
        Progress(done, total);
        return !stop_.load();
      });
    }
    link.reset();
    QMetaObject::invokeMethod(this, [this, show] { Finished(show); }, Qt::QueuedConnection);
  });
  EnableButtons();
}

void ServicePage::Progress(std::uint64_t done, std::uint64_t total) {
  const int percent = total == 0 ? 0 : static_cast<int>(done * 100 / total);
  if (percent_shown_.exchange(percent) == percent) return;
  QMetaObject::invokeMethod(
      this, [this, percent] { ui_.ServiceProgressBar->setValue(percent); }, Qt::QueuedConnection);
}

void ServicePage::Finished(const std::function<void()>& show) {
  if (worker_.joinable()) worker_.join();
  EnableButtons();
  if (discard_result_) return;
  show();
  ListModules();
  emit WorkFinished();
}

void ServicePage::StopWork() {
  if (!worker_.joinable()) return;
  stop_ = true;
  worker_.join();
  discard_result_ = true;
  EnableButtons();
}

void ServicePage::CancelButtonClick() {
  stop_ = true;
  ui_.CancelButton->setEnabled(false);
}

void ServicePage::Tell(const QString& text) {
  services_.dialogs.ShowMessage(window(), kCaption, text);
}

void ServicePage::ShowRows(const QStringList& headers, const std::vector<QStringList>& rows) {
  QTableWidget& table = *ui_.ResultsTable;
  table.clearContents();
  if (!headers.isEmpty()) {
    table.setColumnCount(static_cast<int>(headers.size()));
    table.setHorizontalHeaderLabels(headers);
  }
  table.setRowCount(static_cast<int>(rows.size()));
  for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
    const QStringList& cells = rows[static_cast<std::size_t>(row)];
    for (int column = 0; column < cells.size(); ++column) {
      table.setItem(row, column, new QTableWidgetItem(cells[column]));
    }
  }
  table.resizeColumnsToContents();
}

// ---- Files ----

QString ServicePage::AskSaveName(const QString& proposed, const QString& filter) {
  const QString name = services_.dialogs.ChooseSaveFileAs(window(), proposed, filter);
  if (name.isEmpty()) return name;
  if (QFileInfo::exists(name) &&
      !services_.dialogs.AskYesNo(window(), kOverwriteCaption, kOverwriteQuestion)) {
    return {};
  }
  return name;
}

bool ServicePage::OpenBackup(model::Backup& backup, QString& name) {
  name = services_.dialogs.ChooseOpenFile(window());
  if (name.isEmpty()) return false;
  std::string bytes;
  const storage::ReadResult read =
      storage::ReadRegularFile(name.toStdString(), model::kMaxBackupSize, bytes);
  if (read.status != storage::ReadStatus::Read) {
    const QString reason = read.status == storage::ReadStatus::Missing   ? QStringLiteral("нет такого файла")
                           : read.status == storage::ReadStatus::NotRegular ? QStringLiteral("это не обычный файл")
                           : read.status == storage::ReadStatus::TooLarge   ? QStringLiteral("слишком большой для резервной копии")
                                                                   : Text(storage::SystemReason(read.error_number));
    services_.dialogs.ShowError(window(), QStringLiteral("Файл \"%1\" не прочитан: %2.").arg(name, reason));
    return false;
  }
  std::string why;
  if (!model::ReadBackup(bytes, backup, why)) {
    Tell(QStringLiteral("Файл \"%1\" не является пригодной резервной копией модуля: %2")
             .arg(name, Text(why)));
    return false;
  }
  return true;
}

// ---- Back up ----

void ServicePage::BackupButtonClick() {
  if (Working()) return;
  std::string serial;
  for (const dev::DeviceProbe& probe : modules_) {
    if (services_.link.pin() ? Serves(*services_.link.pin(), probe.info) : Answers(probe)) {
      serial = probe.info.serial_number;
      break;
    }
  }
  const QString name =
      AskSaveName(QString::fromStdString(service::ProposedBackupName(serial)), kBackupFilter);
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
