#pragma once
// The page "Сервис": the modules plugged in, which one the window serves (a row chosen pins the
// window's link to it), and the whole-module work tarvenctl does: back up, restore with a check
// of each part, compare a backup with the module or with another backup, and the configuration
// and the parameters as files. The long work runs on a thread of its own with a link of its own,
// holding the module's lock from its start to its end, so that the window stays responsive and
// its status tick, which does not wait for a held module, skips those seconds instead of
// interleaving. Nothing of the page runs inside the status tick.

#include <QString>
#include <QStringList>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/page_services.h"
#include "device/device.h"
#include "device/device_probe.h"
#include "device/progress.h"
#include "model/backup.h"
#include "ui_tab_sheet12.h"

namespace tarven::app {

class ModuleWatcher;

// Another link to the modules the window's link reaches: the same bus and the same module locks,
// for work on another thread.
using LinkMaker = std::function<std::unique_ptr<device::Link>()>;

class ServicePage final : public QWidget {
  Q_OBJECT

 private:
  Ui::TabSheet12Page ui_{};  // the page's form

 public:
  ServicePage(QWidget* parent, PageServices services, LinkMaker make_link);
  ~ServicePage() override;

  void BackupButtonClick();
  void RestoreButtonClick();
  void CompareModuleButtonClick();
  void CompareFilesButtonClick();
  void ConfigExportButtonClick();
  void ConfigImportButtonClick();
  void ParamsExportButtonClick();
  void ParamsImportButtonClick();
  void CancelButtonClick();
  void JournalButtonClick();
  void UndoButtonClick();

  // The journal the page lists and undoes from; empty (the default) when the window keeps none.
  void SetJournalFile(std::string path);

  // Looks at every device with the module's ids (as `tarvenctl devices` does) and shows them.
  void ListModules();
  const std::vector<device::DeviceProbe>& modules() const { return modules_; }
  // Pins the window's link to the module in row `row` of the table.
  void ChooseModule(int row);
  // Which module the window serves, in words for the page and the status field's tip.
  QString ChoiceText() const { return choice_text_; }

  void ShowModuleState(const ModuleState& state);

  // Whether work runs on the page's thread.
  bool Working() const { return worker_.joinable(); }
  // Asks the work to stop at its next safe point and waits for it; its result is not shown.
  void StopWork();

 signals:
  // The work the page ran has ended and its result is shown.
  void WorkFinished();
  // The module the window serves, or what the page knows of it, changed (ChoiceText).
  void ChoiceChanged();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  // Work on the page's thread: runs with the thread's link (held to the module for its whole
  // length) and the progress callback, and gives what the window thread is to do with the
  // result.
  using Work = std::function<std::function<void()>(device::Link& link,
                                                  const device::Progress& progress)>;
  // `cancellable`: whether "Отменить" can stop it (an undo runs whole once begun).
  void Start(Work work, bool cancellable = true);
  void Finished(const std::function<void()>& show);
  void Progress(std::uint64_t done, std::uint64_t total);
  void EnableButtons();

  // Asks for a backup file and reads it whole; false (the user told why) when there is none.
  bool OpenBackup(model::Backup& backup, QString& name);
  // A name to save to, asked with `proposed`; empty when cancelled or not to be replaced.
  QString AskSaveName(const QString& proposed, const QString& filter);
  void ExportTable(int table);
  void ImportTable(int table);
  void CompareWith(const model::Backup& a, const model::Backup& b, const QString& a_name,
                   const QString& b_name);
  void ShowRows(const QStringList& headers, const std::vector<QStringList>& rows);
  void ShowChoice();
  void Tell(const QString& text);
  // Lists the served module's records, newest first, in the results table.
  void ShowJournal();

  PageServices services_;
  LinkMaker make_link_;
  ModuleWatcher* watcher_ = nullptr;
  std::vector<device::DeviceProbe> modules_;
  QString choice_text_;
  // The serial number of the module the window serves, as last listed; empty when none.
  std::string served_serial_;
  // The same module as the journal names it: its serial number, else its USB location.
  std::string served_device_;
  std::string journal_file_;
  // While the results table lists the journal: each row's record id and whether the journal
  // keeps what it replaced. Empty while the table shows anything else.
  struct JournalRow {
    std::int64_t id = 0;
    bool undoable = false;
  };
  std::vector<JournalRow> journal_rows_;
  bool shown_once_ = false;
  bool list_stale_ = true;
  bool module_there_ = false;

  std::thread worker_;
  std::atomic<bool> stop_{false};
  bool cancellable_ = true;
  std::atomic<int> percent_shown_{-1};
  bool discard_result_ = false;
};

}  // namespace tarven::app
