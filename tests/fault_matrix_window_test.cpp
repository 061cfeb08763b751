// The fault matrix of the window: every handler that talks to the module, run in a fresh window
// over a fresh simulated module with one fault planned at a report of the handler's exchange
// (found from a clean run of the same handler), and what a person sees afterwards: a message
// where the window speaks of a failure and silence where it is silent by design, the default
// cursor back, no handle left open, no file created or spoilt, no image, parameter or counter
// that is neither what it was nor what the module holds, and the module untouched when the fault
// came before the first write.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/cursor.h"
#include "app/dialogs.h"
#include "app/main_form.h"
#include "fault_matrix.h"
#include "firmware/firmware_image.h"
#include "form_fixture.h"
#include "model/backup.h"

namespace tarven::testing {
namespace {

using namespace matrix;
using app::TMainForm;

// A person who answers every question with Yes and picks the one file for every file dialog; the
// messages and error boxes are kept to be read afterwards.
class AnsweringDialogs final : public app::Dialogs {
 public:
  explicit AnsweringDialogs(QString file) : file_(std::move(file)) {}

  bool AskYesNo(QWidget*, const QString&, const QString&) override { return true; }
  void ShowMessage(QWidget*, const QString&, const QString& text) override {
    shown.push_back(text);
  }
  void ShowError(QWidget*, const QString& text) override { shown.push_back(text); }
  QString ChooseOpenFile(QWidget*) override { return file_; }
  QString ChooseSaveFile(QWidget*) override { return file_; }

  std::vector<QString> shown;

 private:
  QString file_;
};

// Whether the window says anything when the handler fails: the specified handlers that report
// neither success nor failure, and those that tell a failure in a message.
// PerPart: a work of several parts that tells how each went, and goes on with the next part after
// one failed (a restore), so that a fault before its first write may still leave later parts
// written.
enum class Speech { Silent, Speaks, PerPart };

struct Operation {
  const char* name;
  Speech speech;
  // The module as the handler expects to find it, beyond a filled fresh one.
  void (*arrange)(sim::SimulatedModule&);
  // The window, after the status tick that found the module, as the person left it.
  void (*prepare)(TMainForm&);
  std::function<void(TMainForm&)> handler;
};

void AsDelivered(sim::SimulatedModule&) {}
void Stopped(sim::SimulatedModule& module) {
  module.cnc_running = false;
}
void AsFound(TMainForm&) {}

// Presses a button of the page "Сервис" and waits for the work it started, on the page's own
// thread, to end.
void PressOnServicePage(TMainForm& form, const char* button) {
  app::ServicePage& page = form.Service();
  QSignalSpy finished(&page, &app::ServicePage::WorkFinished);
  Child<QPushButton>(page, button)->click();
  if (page.Working()) {
    ASSERT_TRUE(finished.wait(120000)) << button;
  }
}

template <const char* kButton>
void OnServicePage(TMainForm& form) {
  PressOnServicePage(form, kButton);
}

constexpr char kBackup[] = "BackupButton";
constexpr char kRestore[] = "RestoreButton";
constexpr char kCompare[] = "CompareModuleButton";
constexpr char kConfigExport[] = "ConfigExportButton";
constexpr char kConfigImport[] = "ConfigImportButton";
constexpr char kParamsExport[] = "ParamsExportButton";
constexpr char kParamsImport[] = "ParamsImportButton";

// The module changed through the specified pages, so that what the page writes back shows.
void ChangeConfiguration(TMainForm& form) {
  Child<QLineEdit>(form.Config(), "Edit2")->setText(QStringLiteral("17"));
  form.Button2Click();
}
void ChangeParameters(TMainForm& form) {
  form.Button16Click();
  form.StringGrid1SetEditText(1, 1, QStringLiteral("5"));
  form.Button17Click();
}

void BackUpThenChangeEverything(TMainForm& form) {
  PressOnServicePage(form, kBackup);
  ChangeConfiguration(form);
  form.Button5Click();  // the images on their 0xFF fill
  form.Button7Click();
  form.Button9Click();
}
void ExportConfigurationThenChangeIt(TMainForm& form) {
  PressOnServicePage(form, kConfigExport);
  ChangeConfiguration(form);
}
void ExportParametersThenChangeThem(TMainForm& form) {
  PressOnServicePage(form, kParamsExport);
  ChangeParameters(form);
}

// Page indexes of the live pages.
template <int kPage>
void OnPage(TMainForm& form) {
  form.PageControl1->setCurrentIndex(kPage);
}

const Operation kOperations[] = {
    {"tick", Speech::Silent, AsDelivered, AsFound, &TMainForm::Timer1Timer},
    {"tick on КЭ/БФОС", Speech::Silent, AsDelivered, OnPage<6>, &TMainForm::Timer1Timer},
    {"tick on КИП/БОС", Speech::Silent,
     [](sim::SimulatedModule& module) {
       module.cnc_running = false;
       for (int channel = 1; channel <= 4; ++channel) module.MoveEncoder(channel, 7 * channel);
     },
     OnPage<7>, &TMainForm::Timer1Timer},
    {"tick on КП(ЦАП)", Speech::Silent, AsDelivered, OnPage<8>, &TMainForm::Timer1Timer},
    {"tick on Контроллер ЭА", Speech::Silent, AsDelivered, OnPage<9>, &TMainForm::Timer1Timer},
    {"run control", Speech::Silent, AsDelivered, AsFound, &TMainForm::Button8Click},
    {"restart", Speech::Silent, Stopped, AsFound, &TMainForm::Button13Click},
    {"configuration read", Speech::Speaks, AsDelivered, AsFound, &TMainForm::Button1Click},
    {"configuration write", Speech::Speaks, AsDelivered,
     [](TMainForm& form) {
       Child<QLineEdit>(form.Config(), "Edit2")->setText(QStringLiteral("17"));
     },
     &TMainForm::Button2Click},
    {"parameters read", Speech::Speaks, AsDelivered, AsFound, &TMainForm::Button16Click},
    {"parameters write", Speech::Speaks, AsDelivered,
     [](TMainForm& form) {
       form.Button16Click();
       form.StringGrid1SetEditText(1, 1, QStringLiteral("5"));
     },
     &TMainForm::Button17Click},
    {"read ПЗУ", Speech::Speaks, AsDelivered, AsFound, &TMainForm::BitBtn4Click},
    {"read ПЗУ АМТ", Speech::Speaks, AsDelivered, AsFound, &TMainForm::BitBtn5Click},
    {"read КВПП/ЭА", Speech::Speaks, AsDelivered, AsFound, &TMainForm::BitBtn6Click},
    {"read ОЗУ", Speech::Speaks, AsDelivered, AsFound, &TMainForm::BitBtn14Click},
    {"write ПЗУ", Speech::Speaks, AsDelivered, AsFound, &TMainForm::Button5Click},
    {"write ПЗУ АМТ", Speech::Speaks, AsDelivered, AsFound, &TMainForm::Button7Click},
    {"write КВПП/ЭА", Speech::Speaks, AsDelivered, AsFound, &TMainForm::Button9Click},
    {"write ОЗУ, main bank", Speech::Speaks, AsDelivered, AsFound, &TMainForm::Button4Click},
    {"write ОЗУ, reserve bank", Speech::Speaks, AsDelivered, AsFound, &TMainForm::Button14Click},
    {"outputs", Speech::Silent, Stopped,
     [](TMainForm& form) {
       Child<QCheckBox>(form.Io(), "CheckBox1")->setChecked(true);
       Child<QCheckBox>(form.Io(), "CheckBox32")->setChecked(true);
     },
     &TMainForm::Button10Click},
    {"КИП0 bits", Speech::Silent, Stopped,
     [](TMainForm& form) { Child<QCheckBox>(form.Encoders(), "CheckBox33")->setChecked(true); },
     &TMainForm::Button11Click},
    {"DAC codes", Speech::Silent, Stopped,
     [](TMainForm& form) {
       Child<QLineEdit>(form.Dac(), "Edit7")->setText(QStringLiteral("3777"));
       Child<QLineEdit>(form.Dac(), "Edit8")->setText(QStringLiteral("1000"));
       Child<QLineEdit>(form.Dac(), "Edit9")->setText(QStringLiteral("100000"));
       Child<QLineEdit>(form.Dac(), "Edit10")->setText(QStringLiteral("7"));
     },
     &TMainForm::Button12Click},
    {"update request", Speech::Silent, AsDelivered, AsFound, &TMainForm::Button3Click},
    // The tick that finds the boot loader after "Обновить" streams the image.
    {"firmware transfer", Speech::Speaks,
     [](sim::SimulatedModule& module) { module.personality = sim::Personality::BootLoader; },
     [](TMainForm& form) { form.Button3Click(); }, &TMainForm::Timer1Timer},
    // The page "Сервис": each press runs its work on the page's thread to the end. A restore and
    // a compare take the backup the page made of the module; an import the file an export made.
    {"Сервис: backup", Speech::Speaks, AsDelivered, AsFound, OnServicePage<kBackup>},
    {"Сервис: restore", Speech::PerPart, AsDelivered, BackUpThenChangeEverything,
     OnServicePage<kRestore>},
    {"Сервис: compare", Speech::Speaks, AsDelivered, OnServicePage<kBackup>,
     OnServicePage<kCompare>},
    {"Сервис: config export", Speech::Speaks, AsDelivered, AsFound,
     OnServicePage<kConfigExport>},
    {"Сервис: config import", Speech::Speaks, AsDelivered, ExportConfigurationThenChangeIt,
     OnServicePage<kConfigImport>},
    {"Сервис: params export", Speech::Speaks, AsDelivered, AsFound,
     OnServicePage<kParamsExport>},
    {"Сервис: params import", Speech::Speaks, AsDelivered, ExportParametersThenChangeThem,
     OnServicePage<kParamsImport>},
};

// A backup's bytes without its time (the manifest's and the members'), so that two backups of
// one module made at different seconds are the same file; any other file as it is.
Files WithoutBackupTimes(Files files) {
  for (auto& [name, bytes] : files) {
    model::Backup backup;
    std::string why;
    if (!model::ReadBackup(bytes, backup, why)) continue;
    backup.created.clear();
    bytes = model::WriteBackup(backup, 0);
  }
  return files;
}

// The window's data that a handler fills from the module: the images, the working copy of the
// configuration sector and the encoder counters, one item each.
std::vector<std::string> WindowData(TMainForm& form) {
  const auto text = [](const auto& bytes) {
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  };
  return {text(form.MainRom().MAT_array),
          text(form.AmtRom().AMT_array),
          text(form.Kvp().KVP_array),
          text(form.Ram().RAM_array),
          text(form.params_array),
          std::to_string(form.Encoders().KIP1),
          std::to_string(form.Encoders().KIP2),
          std::to_string(form.Encoders().KIP3),
          std::to_string(form.Encoders().KIP4)};
}

// One press or tick and what it left.
struct Outcome {
  std::vector<QString> shown;
  std::size_t open_handles = 0;
  bool handle_kept = false;  // HidHandle still holds a handle
  bool busy_cursor = false;
  sim::ModuleState initial, module;
  Files before, after;
  std::vector<std::string> data_before, data_after;
  // What the page "Сервис" says of its work (a compare's result shows nowhere else).
  QString page_result;
  Log log;
};

class FaultMatrixWindow : public FormTest {
 protected:
  // A fresh module and window for every run: a fault leaves both as a person would find them.
  Outcome Execute(const Operation& operation, const Column* column = nullptr,
                  std::uint64_t report = 0) {
    SetUp();
    Outcome outcome;
    {
      const ScratchDir dir("window");
      const std::string file = dir.Put("out", "what was there before\n");
      FillModule(module());
      operation.arrange(module());
      auto dialogs = std::make_shared<AnsweringDialogs>(QString::fromStdString(file));
      auto form =
          std::make_unique<TMainForm>(QStringList{QStringLiteral("-f")}, link_shared(), dialogs);
      form->Timer1->stop();
      form->BuildPages();
      form->SetFirmwareImage(firmware::SyntheticImage(), true);
      form->Timer1Timer();  // finds the module, as the window's ticks do
      operation.prepare(*form);
      dialogs->shown.clear();
      outcome.initial = module();
      outcome.before = WithoutBackupTimes(FilesIn(dir.path()));
      outcome.data_before = WindowData(*form);
      sim_->ClearLog();
      if (column != nullptr) sim_->ArmFault(report, column->fault);

      operation.handler(*form);

      outcome.shown = dialogs->shown;
      outcome.open_handles = sim_->OpenHandleCount();
      outcome.handle_kept = form->HidHandle != device::kInvalidHandle;
      outcome.busy_cursor = QApplication::overrideCursor() != nullptr;
      outcome.module = module();
      outcome.after = WithoutBackupTimes(FilesIn(dir.path()));
      outcome.data_after = WindowData(*form);
      outcome.page_result = Child<QLabel>(form->Service(), "ResultLabel")
                                ->text()
                                .replace(QString::fromStdString(dir.path().string()), "DIR");
      outcome.log = sim_->log();
      app::RestoreDefaultCursor();  // so that the next run starts as a person would
    }
    TearDown();
    return outcome;
  }
};

// The checks of one cell; empty when every one held. `done`: the handler did all that the clean
// run did. `search_struck`: the fault broke the search that opens the module for the handler's
// work, after which a handler ends silently as specified.
std::vector<std::string> Check(const Operation& operation, const Outcome& clean, const Outcome& run,
                               bool done, bool before_first_write, bool search_struck) {
  std::vector<std::string> problems;
  if (run.open_handles != 0 || run.handle_kept) problems.push_back("handle left open");
  if (run.busy_cursor) problems.push_back("busy cursor left");
  const bool spoke = !run.shown.empty();
  if (operation.speech == Speech::Silent && spoke) problems.push_back("spoke");
  const bool speaks = operation.speech != Speech::Silent;
  if (speaks && !done && !spoke && !search_struck) {
    problems.push_back("failure not told");
  }
  if (speaks && done && spoke) {
    problems.push_back("success told as failure");
  }
  for (std::string& problem : FileProblems(run.before, run.after, clean.after)) {
    problems.push_back(std::move(problem));
  }
  for (std::size_t i = 0; i < run.data_after.size(); ++i) {
    if (run.data_after[i] != run.data_before[i] && run.data_after[i] != clean.data_after[i]) {
      problems.push_back("window data spoilt");
      break;
    }
  }
  // A handler that got over the fault (a search repeated) did its writes; one that did not must
  // have left the module as it was.
  if (!done && before_first_write && operation.speech != Speech::PerPart &&
      !(Kept(run.module) == Kept(run.initial))) {
    problems.push_back("module changed");
  }
  return problems;
}

TEST_F(FaultMatrixWindow, EveryHandlerThatTalksToTheModuleSurvivesEveryFault) {
  Table table;
  for (const Operation& operation : kOperations) {
    SCOPED_TRACE(operation.name);
    const Outcome clean = Execute(operation);
    ASSERT_FALSE(clean.log.empty()) << "a clean run does not talk to the module";
    ASSERT_TRUE(clean.shown.empty()) << "a clean run speaks: " << clean.shown.front().toStdString();
    const std::uint64_t first_write = FirstWrite(clean.log);
    const std::uint64_t search = LastSearchBeforeWork(clean.log);
    std::vector<std::string> cells;
    for (const Column& column : Columns()) {
      SCOPED_TRACE(column.name);
      const std::uint64_t report = ReportFor(clean.log, column);
      const Outcome run = Execute(operation, &column, report);
      const bool done = run.module == clean.module && run.after == clean.after &&
                        run.data_after == clean.data_after && run.page_result == clean.page_result;
      const auto problems =
          Check(operation, clean, run, done,
                StruckBeforeFirstWrite(report, first_write, column.fault), report <= search);
      std::string shown;
      for (const QString& text : run.shown) shown += "\n  " + text.toStdString();
      EXPECT_TRUE(problems.empty())
          << "report " << report << ": " << CellText(problems, done) << "\nshown:" << shown;
      cells.push_back(CellText(problems, done));
    }
    table.Add(operation.name, clean.log.size(), cells);
  }
  table.Print(std::cout, "tarven fault matrix");
}

}  // namespace
}  // namespace tarven::testing
