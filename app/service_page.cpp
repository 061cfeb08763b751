// The page "Сервис": the modules plugged in, which one the window serves, and the page's work on
// a thread of its own. The work itself is in service_page_backup.cpp (back up, restore, compare),
// service_page_tables.cpp (the sector's tables as files) and service_page_journal.cpp (the
// journal and the way back).

#include "app/service_page.h"

#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <algorithm>
#include <chrono>
#include <string>
#include <utility>

#include "app/dialogs.h"
#include "app/module_watcher.h"
#include "app/service_text.h"
#include "device/device_select.h"
#include "model/backup.h"
#include "storage/file_io.h"

namespace tarven::app {

using namespace service_text;

namespace {

namespace dev = tarven::device;

const QString kOverwriteCaption = QStringLiteral("Внимание!");
const QString kOverwriteQuestion = QStringLiteral("Файл с таким именем существует\n\rПродолжить?");
constexpr std::chrono::milliseconds kWorkLockWait{5000};

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
  connect(ui_.JournalButton, &QPushButton::clicked, this, &ServicePage::JournalButtonClick);
  connect(ui_.UndoButton, &QPushButton::clicked, this, &ServicePage::UndoButtonClick);
  connect(ui_.ResultsTable, &QTableWidget::itemSelectionChanged, this,
          &ServicePage::EnableButtons);
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
  served_serial_.clear();
  served_device_.clear();
  if (served >= 0) {
    const hid::DeviceInfo& info = modules_[static_cast<std::size_t>(served)].info;
    served_serial_ = info.serial_number;
    served_device_ = info.serial_number.empty() ? info.usb_location : info.serial_number;
  }
  ui_.ModuleChoiceLabel->setText(text);
  EnableButtons();
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
  ui_.JournalButton->setEnabled(idle && !journal_file_.empty() && !served_device_.empty());
  const int row = ui_.ResultsTable->currentRow();
  ui_.UndoButton->setEnabled(idle && module_there_ && row >= 0 &&
                             row < static_cast<int>(journal_rows_.size()) &&
                             journal_rows_[static_cast<std::size_t>(row)].undoable);
  ui_.CancelButton->setEnabled(!idle && cancellable_);
}

void ServicePage::Start(Work work, bool cancellable) {
  cancellable_ = cancellable;
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
  journal_rows_.clear();
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

}  // namespace tarven::app
