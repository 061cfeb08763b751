// The page "Сервис" in the real window against a simulated bench of three modules, each with
// memories of its own: the modules listed and one chosen (the status panel follows it), a backup
// that loses its module halfway (no file, the user told), a restore stopped by the user (it stops
// between blocks and says where), a compare after a change, the configuration and parameters as
// files, and the status tick that keeps off the module while the page's work holds it.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>

#include "app/service_page.h"
#include "device/forwarding_backend.h"
#include "form_fixture.h"
#include "model/backup.h"
#include "journal/recorder.h"
#include "model/config_sector.h"
#include "service/sector_tables.h"

namespace tarven::testing {
namespace {

namespace fs = std::filesystem;
using app::ServicePage;



constexpr int kModules = 3;
// Long work on a loaded machine: a deadline far beyond any run, never a measure of one.
constexpr int kWorkDeadlineMs = 120000;

// A module with bytes of its own in every memory, and a whole configuration sector.
void Fill(sim::SimulatedModule& module, std::uint8_t seed) {
  const std::size_t config_offset = 0x0803F800 - sim::ModuleState::kFlashBase;
  for (std::size_t i = 0; i < config_offset; ++i) {
    module.flash[i] = static_cast<std::uint8_t>(i * 7 + seed);
  }
  const model::Sector sector(module.flash.data() + config_offset, model::kSectorSize);
  model::WriteConfig(sector, model::kDefaultConfig);
  for (std::size_t n = 1; n <= model::kEaParamCount; ++n) {
    model::SetEaParam(sector, n, static_cast<std::int32_t>(n) * seed);
  }
  model::SealEaTable(sector);
  for (std::size_t i = 0; i < module.ram.size(); ++i) {
    module.ram[i] = static_cast<std::uint8_t>(i * 3 + seed);
  }
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

class ServicePageTest : public FormTest {
 protected:
  void SetUp() override {
    FormTest::SetUp();
    for (int n = 1; n < kModules; ++n) sim_->AddModule(std::make_shared<sim::SimulatedModule>());
    for (int n = 0; n < kModules; ++n) {
      sim::SimulatedModule& each = Module(n);
      Fill(each, static_cast<std::uint8_t>(10 * (n + 1)));
      // 4.54, 4.55, 4.56: tells them apart.
      each.firmware_version = 0x00045400u + (static_cast<std::uint32_t>(n) << 8);
    }
    // The window's links lock their modules, as the programs' do.
    link_->SetModuleLocks(sim_->module_locks());
    dir_ = fs::temp_directory_path() / ("tarven-service-page-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    form_.reset();
    fs::remove_all(dir_);
    FormTest::TearDown();
  }

  sim::SimulatedModule& Module(int n) { return *sim_->devices()[static_cast<std::size_t>(n)].module; }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  ServicePage& Page() {
    if (!form_) {
      form_ = MakeForm();
      form_->Timer1Timer();
    }
    ServicePage& page = form_->Service();
    if (page.modules().empty()) page.ListModules();
    return page;
  }
  app::TMainForm& Form() {
    Page();
    return *form_;
  }

  // Presses a button of the page and, when it started work, waits for the work's end.
  void Press(const char* button) {
    ServicePage& page = Page();
    QSignalSpy finished(&page, &ServicePage::WorkFinished);
    Child<QPushButton>(page, button)->click();
    if (page.Working()) {
      ASSERT_TRUE(finished.wait(kWorkDeadlineMs)) << button << " did not end";
    }
  }

  // The texts the page shows, as UTF-8 (failure messages then show them as text).
  std::string Result() { return Child<QLabel>(Page(), "ResultLabel")->text().toStdString(); }
  // The results table's rows, each as its cells joined by " | ".
  std::vector<std::string> Rows() {
    const auto* table = Child<QTableWidget>(Page(), "ResultsTable");
    std::vector<std::string> rows;
    for (int row = 0; row < table->rowCount(); ++row) {
      QStringList cells;
      for (int column = 0; column < table->columnCount(); ++column) {
        const QTableWidgetItem* item = table->item(row, column);
        cells << (item != nullptr ? item->text() : QString());
      }
      rows.push_back(cells.join(QStringLiteral(" | ")).toStdString());
    }
    return rows;
  }

  // A backup of the module the window serves, through the page.
  void Backup(const std::string& path) {
    dialogs().ChooseSaveFileName(QString::fromStdString(path));
    Press("BackupButton");
    ASSERT_TRUE(fs::exists(path)) << Result();
  }

  fs::path dir_;
  std::unique_ptr<app::TMainForm> form_;
};

TEST_F(ServicePageTest, ListsEveryModuleAndTheStatusPanelFollowsTheOneChosen) {
  ServicePage& page = Page();
  const auto* table = Child<QTableWidget>(page, "ModulesTable");
  ASSERT_EQ(table->rowCount(), kModules);
  for (int row = 0; row < kModules; ++row) {
    SCOPED_TRACE(row);
    EXPECT_EQ(table->item(row, 0)->text(), QStringLiteral("sim-%1").arg(row + 1));
    EXPECT_EQ(table->item(row, 1)->text(), QStringLiteral("SIM0000%1").arg(row + 1));
    EXPECT_EQ(table->item(row, 3)->text(), QStringLiteral("прошивка 4.5%1").arg(row + 4))
        << table->item(row, 3)->text().toStdString();
  }
  // Without a choice, the first module that answers, and a word that there are others.
  const QString unchosen = Child<QLabel>(page, "ModuleChoiceLabel")->text();
  EXPECT_TRUE(unchosen.contains(QStringLiteral("первым ответившим модулем: sim-1")))
      << unchosen.toStdString();
  EXPECT_TRUE(unchosen.contains(QStringLiteral("всего 3"))) << unchosen.toStdString();
  EXPECT_EQ(Form().StaticText8->text(), QStringLiteral("4.54"));

  page.ChooseModule(2);
  ASSERT_TRUE(link().pin().has_value());
  EXPECT_EQ(link().pin()->value, "sim-3");
  sim_->ClearLog();
  Form().Timer1Timer();
  EXPECT_EQ(Form().StaticText7->text(), QStringLiteral("подключен"));
  EXPECT_EQ(Form().StaticText8->text(), QStringLiteral("4.56"));
  for (const auto& record : sim_->log()) {
    EXPECT_EQ(record.path, sim_->devices()[2].path) << "a report went to another module";
  }
  EXPECT_TRUE(Form().StaticText7->toolTip().contains(QStringLiteral("выбранным модулем: sim-3")))
      << Form().StaticText7->toolTip().toStdString();
  EXPECT_TRUE(Child<QLabel>(page, "ModuleChoiceLabel")->text().contains(QStringLiteral("SIM00003")));

  // The buttons that need the module follow it; two backups are compared without one.
  page.ChooseModule(0);
  EXPECT_TRUE(Child<QPushButton>(page, "BackupButton")->isEnabled());
  sim_->Unplug();
  Form().Timer1Timer();
  for (const char* button : {"BackupButton", "RestoreButton", "CompareModuleButton",
                             "ConfigExportButton", "ParamsImportButton", "CancelButton"}) {
    EXPECT_FALSE(Child<QPushButton>(page, button)->isEnabled()) << button;
  }
  EXPECT_TRUE(Child<QPushButton>(page, "CompareFilesButton")->isEnabled());
}

TEST_F(ServicePageTest, BackupProposesANameAndRestoresTheModuleByteForByte) {
  Page().ChooseModule(1);
  const std::string path = Path("before.tar");
  Backup(path);
  ASSERT_FALSE(dialogs().asked().empty());
  const auto& save = dialogs().asked().front();
  EXPECT_TRUE(save.text.startsWith(QStringLiteral("tarven-SIM00002-"))) << save.text.toStdString();
  EXPECT_TRUE(save.text.endsWith(QStringLiteral(".tar")));
  EXPECT_EQ(Result().rfind("Копия сохранена", 0), 0u) << Result();
  EXPECT_EQ(Child<QProgressBar>(Page(), "ServiceProgressBar")->value(), 100);
  // The file is the format tarvenctl reads.
  model::Backup backup;
  std::string why;
  ASSERT_TRUE(model::ReadBackup(ReadFile(path), backup, why)) << why;
  EXPECT_EQ(backup.firmware, "4.55");

  const std::vector<std::uint8_t> flash = Module(1).flash;
  Fill(Module(1), 99);
  const std::vector<std::uint8_t> others = Module(0).flash;
  dialogs().ChooseOpenFileName(QString::fromStdString(path));
  dialogs().AnswerYes();
  Press("RestoreButton");
  const auto& question = dialogs().asked().back();
  EXPECT_TRUE(question.text.startsWith(QStringLiteral("Записать в ППЗУ Тарвен?")));
  EXPECT_TRUE(question.text.contains(QStringLiteral("конфигурация, параметры, пзу, пзу амт, квпп")))
      << question.text.toStdString();
  EXPECT_EQ(Module(1).flash, flash);
  EXPECT_EQ(Module(0).flash, others) << "another module was written";
  EXPECT_EQ(Rows(), (std::vector<std::string>{"Конфигурация, Параметры | записано, проверено",
                                          "ПЗУ | записано, проверено",
                                          "ПЗУ АМТ | записано, проверено",
                                          "КВПП | записано, проверено"}));
  EXPECT_EQ(Result(), "Восстановление выполнено.");
}

TEST_F(ServicePageTest, TheRamGoesBackOnlyIntoTheBankChosen) {
  const std::string path = Path("ram.tar");
  Backup(path);
  const std::vector<std::uint8_t> ram = Module(0).ram;
  Fill(Module(0), 55);
  const std::vector<std::uint8_t> reserve = Module(0).ram_reserve_bank;
  for (QCheckBox* check : Page().findChildren<QCheckBox*>()) check->setChecked(false);
  // Nothing chosen: nothing to write, and the user is told so.
  dialogs().ChooseOpenFileName(QString::fromStdString(path));
  dialogs().AcknowledgeMessage();
  Press("RestoreButton");
  EXPECT_EQ(dialogs().asked().back().text, QStringLiteral("Отметьте части, которые нужно восстановить."));

  Child<QComboBox>(Page(), "RamBankCombo")->setCurrentIndex(1);
  dialogs().ChooseOpenFileName(QString::fromStdString(path));
  dialogs().AnswerYes();
  Press("RestoreButton");
  EXPECT_EQ(Rows(), std::vector<std::string>{"ОЗУ | записано в основной банк; модуль перезапускается"});
  EXPECT_EQ(Module(0).ram_main_bank, ram);
  EXPECT_EQ(Module(0).ram_reserve_bank, reserve);
}

TEST_F(ServicePageTest, AModuleUnpluggedDuringABackupLeavesNoFileAndTheUserIsTold) {
  Page();
  const std::string path = Path("lost.tar");
  dialogs().ChooseSaveFileName(QString::fromStdString(path));
  dialogs().AcknowledgeMessage();
  // Well inside the main ROM's stream: the sector's 2048 bytes are about 40 reports.
  sim_->ArmFault(150, sim::SimBackend::Fault::Unplug);
  Press("BackupButton");
  EXPECT_FALSE(fs::exists(path));
  EXPECT_TRUE(fs::is_empty(dir_)) << "no temporary file left either";
  const auto& told = dialogs().asked().back();
  EXPECT_EQ(told.kind, ScriptedDialogs::Kind::Message);
  EXPECT_TRUE(told.text.startsWith(QStringLiteral("Резервная копия не сохранена при чтении: ПЗУ")))
      << told.text.toStdString();
  EXPECT_TRUE(told.text.contains(QStringLiteral("Файл не записан."))) << told.text.toStdString();
  // The row of the part says the same as the message.
  const std::string row = Rows().back();
  const std::string prefix = "ПЗУ | не считано: ";
  ASSERT_EQ(row.rfind(prefix, 0), 0u) << row;
  EXPECT_TRUE(told.text.contains(QString::fromStdString(row.substr(prefix.size())))) << row;
  EXPECT_EQ(sim_->OpenHandleCount(), 0u);
}

// Holds the page's thread at one report until the test lets it go, so that a cancel lands at a
// known place.
class GateBackend final : public hid::ForwardingBackend {
 public:
  using ForwardingBackend::ForwardingBackend;

  void HoldAtSend(std::uint64_t n) {
    const std::lock_guard lock(mutex_);
    hold_at_ = n;
  }
  void WaitUntilHeld() {
    std::unique_lock lock(mutex_);
    ASSERT_TRUE(changed_.wait_for(lock, std::chrono::milliseconds(kWorkDeadlineMs),
                                  [this] { return held_; }));
  }
  void Release() {
    const std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }

  bool SetFeature(hid::Handle handle, const std::uint8_t* report, std::size_t length) override {
    {
      std::unique_lock lock(mutex_);
      if (++sends_ == hold_at_) {
        held_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return released_; });
      }
    }
    return ForwardingBackend::SetFeature(handle, report, length);
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t sends_ = 0;
  std::uint64_t hold_at_ = 0;
  bool held_ = false;
  bool released_ = false;
};

TEST_F(ServicePageTest, ACancelledRestoreStopsBetweenBlocksAndSaysWhere) {
  const std::string path = Path("cancel.tar");
  Backup(path);
  Fill(Module(0), 77);
  const sim::ModuleState changed = Module(0);
  auto gate = std::make_shared<GateBackend>(sim_);
  Form().SetLinkMaker([this, gate] {
    auto link = std::make_unique<device::Link>(gate);
    link->SetModuleLocks(sim_->module_locks());
    return link;
  });
  // The sector and its read-back take about 40 sends; 150 is inside the main ROM's blocks.
  gate->HoldAtSend(150);
  ServicePage& page = Page();
  QSignalSpy finished(&page, &ServicePage::WorkFinished);
  dialogs().ChooseOpenFileName(QString::fromStdString(path));
  dialogs().AnswerYes();
  dialogs().AcknowledgeMessage();
  dialogs().AcknowledgeMessage();
  Child<QPushButton>(page, "RestoreButton")->click();
  gate->WaitUntilHeld();
  EXPECT_TRUE(Child<QPushButton>(page, "CancelButton")->isEnabled());
  EXPECT_FALSE(Child<QPushButton>(page, "RestoreButton")->isEnabled());
  // A button of another page meanwhile sends nothing and says who holds the module.
  Form().Button1Click();
  QApplication::processEvents();
  EXPECT_EQ(dialogs().asked().back().text,
            QStringLiteral("Модуль sim-1 занят: с ним работает страница «Сервис».\n"
                           "Команда не отправлена, повторите после её завершения."));
  Child<QPushButton>(page, "CancelButton")->click();
  gate->Release();
  ASSERT_TRUE(finished.wait(kWorkDeadlineMs));

  const std::vector<std::string> rows = Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], "Конфигурация, Параметры | записано, проверено");
  EXPECT_EQ(rows[1].rfind("ПЗУ | не записано: остановлено по запросу (выполнено ", 0), 0u)
      << rows[1];
  EXPECT_EQ(Result().rfind("Остановлено по запросу после части «ПЗУ»", 0), 0u)
      << Result();
  // The images after the stop kept what they had; the stop came between two blocks, so the
  // module is not inside a stream: it answers the next tick.
  const auto amt_from = 0x08039800 - sim::ModuleState::kFlashBase;
  EXPECT_TRUE(std::equal(changed.flash.begin() + amt_from, changed.flash.end() - 2048,
                         Module(0).flash.begin() + amt_from));
  Form().Timer1Timer();
  EXPECT_EQ(Form().StaticText7->text(), QStringLiteral("подключен"));
  EXPECT_EQ(sim_->OpenHandleCount(), 0u);
}

TEST_F(ServicePageTest, CompareSaysEqualThenShowsWhatChanged) {
  const std::string path = Path("compare.tar");
  Backup(path);
  dialogs().ChooseOpenFileName(QString::fromStdString(path));
  Press("CompareModuleButton");
  EXPECT_EQ(Result(), "Копия и Модуль: совпадают.");
  EXPECT_TRUE(Rows().empty());

  const std::size_t rom = 0x08035800 - sim::ModuleState::kFlashBase;
  Module(0).flash[rom + 0x10] ^= 0xFF;
  Module(0).flash[rom + 0x20] ^= 0xFF;
  const model::Sector sector(Module(0).flash.data() + (0x0803F800 - sim::ModuleState::kFlashBase),
                             model::kSectorSize);
  model::SetEaParam(sector, 7, -5);
  model::SealEaTable(sector);
  dialogs().ChooseOpenFileName(QString::fromStdString(path));
  Press("CompareModuleButton");
  EXPECT_EQ(Rows(), (std::vector<std::string>{
                        "Параметр 7 | 70 | -5",
                        "Сектор конфигурации | отличаются байты: 2 | контрольные "
                                       "суммы, байты 12..1023",
                        "ПЗУ | отличаются байты: 2 | первые: 0x08035810, 0x08035820",
                    }));
  EXPECT_EQ(Result(), "Копия и Модуль: различий 3.");

  // Two backups, without the module.
  const std::string after = Path("after.tar");
  Backup(after);
  sim_->ClearLog();
  dialogs().ChooseOpenFileName(QString::fromStdString(path));
  dialogs().ChooseOpenFileName(QString::fromStdString(after));
  Press("CompareFilesButton");
  EXPECT_TRUE(sim_->log().empty()) << "two files are compared without the module";
  EXPECT_EQ(Rows().front(), "Параметр 7 | 70 | -5");
}

TEST_F(ServicePageTest, ConfigurationAndParametersAsFilesAreCheckedBeforeAnythingIsWritten) {
  const std::string params = Path("params.csv");
  dialogs().ChooseSaveFileName(QString::fromStdString(params));
  Press("ParamsExportButton");
  const std::string text = ReadFile(params);
  EXPECT_EQ(text.substr(0, 20), "number,value\n1,10\n2,");

  const std::string config = Path("config.txt");
  dialogs().ChooseSaveFileName(QString::fromStdString(config));
  Press("ConfigExportButton");
  EXPECT_EQ(ReadFile(config).substr(0, 2), "X=");

  const auto sector_of = [this] {
    const std::size_t at = 0x0803F800 - sim::ModuleState::kFlashBase;
    return std::vector<std::uint8_t>(Module(0).flash.begin() + static_cast<std::ptrdiff_t>(at),
                                     Module(0).flash.begin() +
                                         static_cast<std::ptrdiff_t>(at + model::kSectorSize));
  };
  const std::vector<std::uint8_t> before = sector_of();
  // A good line, then a bad one: nothing is written, and the line is named.
  std::ofstream(Path("bad.csv")) << "number,value\n1,5\n2,x\n";
  dialogs().ChooseOpenFileName(QString::fromStdString(Path("bad.csv")));
  dialogs().AcknowledgeMessage();
  Press("ParamsImportButton");
  EXPECT_TRUE(dialogs().asked().back().text.contains(QStringLiteral("line 3")))
      << dialogs().asked().back().text.toStdString();
  EXPECT_EQ(sector_of(), before);

  std::ofstream(Path("good.txt")) << "# from a colleague\nT=12\n";
  dialogs().ChooseOpenFileName(QString::fromStdString(Path("good.txt")));
  dialogs().AnswerYes();
  Press("ConfigImportButton");
  EXPECT_EQ(Result(), "Конфигурация записана в модуль.");
  const model::ConstSector written(Module(0).flash.data() + (0x0803F800 - sim::ModuleState::kFlashBase),
                                   model::kSectorSize);
  EXPECT_TRUE(model::ConfigChecksumMatches(written));
  EXPECT_EQ(model::ReadConfig(written)[model::kNetworkAddressRow], 12);
}

TEST_F(ServicePageTest, TheStatusTickKeepsOffTheModuleWhileThePageWorksOnIt) {
  Page();
  // Every report takes a while, so that ticks come during the backup.
  sim_->SetWireTime(std::chrono::microseconds(300));
  const std::string path = Path("ticks.tar");
  dialogs().ChooseSaveFileName(QString::fromStdString(path));
  QSignalSpy finished(&Page(), &ServicePage::WorkFinished);
  Child<QPushButton>(Page(), "BackupButton")->click();
  int ticks = 0;
  while (Page().Working() && finished.isEmpty()) {
    Form().Timer1Timer();
    ++ticks;
    EXPECT_EQ(Form().StaticText7->text(), QStringLiteral("подключен")) << "after tick " << ticks;
    finished.wait(20);
  }
  if (finished.isEmpty()) {
    ASSERT_TRUE(finished.wait(kWorkDeadlineMs));
  }
  sim_->SetWireTime(std::chrono::microseconds(0));
  // Whatever the ticks did, the backup is whole and is the module's.
  dialogs().ChooseOpenFileName(QString::fromStdString(path));
  Press("CompareModuleButton");
  EXPECT_EQ(Result(), "Копия и Модуль: совпадают.");
}

// Parameter 1 of module `n`, as its configuration sector holds it.
std::int32_t Param1(sim::SimulatedModule& module) {
  const std::size_t config_offset = 0x0803F800 - sim::ModuleState::kFlashBase;
  return model::EaParam(model::ConstSector(module.flash.data() + config_offset, model::kSectorSize), 1);
}

// The journal of the module the window serves, newest first, and the way back from a write whose
// replaced sector the journal keeps; refused when the module changed since.
TEST_F(ServicePageTest, ShowsTheServedModulesJournalAndPutsAWriteBackUnlessChangedSince) {
  const std::string journal = Path("journal.sqlite");
  // Writes as tarvenctl makes them: recorded with what they replaced.
  const auto set_param = [&](const char* location, std::int32_t value, bool recorded) {
    device::Link link(sim_);
    link.SetModuleLocks(sim_->module_locks());
    link.Pin(device::DevicePin{device::DevicePin::By::Location, location});
    if (recorded) {
      link.SetChangeRecorder(std::make_shared<journal::Recorder>(
          journal, journal::Origin{"tarvenctl", "4.54", "tarvenctl params set"}, true));
    }
    ASSERT_TRUE(service::WriteTable(link, service::SectorTable::Params, {{1, value}}, {}).ok());
  };
  const std::int32_t original = Param1(Module(1));
  set_param("sim-2", 77, true);
  set_param("sim-1", 55, true);  // another module's record, not listed for sim-2
  form_ = MakeForm();
  form_->SetJournalFile(journal);
  // The page's links record as the window's do: without a read of their own.
  auto window_recorder = std::make_shared<journal::Recorder>(
      journal, journal::Origin{"tarven", "4.54", "tarven -f"}, false);
  form_->SetLinkMaker([this, window_recorder] {
    auto link = std::make_unique<device::Link>(sim_);
    link->SetModuleLocks(sim_->module_locks());
    link->SetChangeRecorder(window_recorder);
    return link;
  });
  form_->Timer1Timer();
  Page().ChooseModule(1);

  ASSERT_TRUE(Child<QPushButton>(Page(), "JournalButton")->isEnabled())
      << Child<QLabel>(Page(), "ModuleChoiceLabel")->text().toStdString();
  Press("JournalButton");
  std::vector<std::string> rows = Rows();
  ASSERT_EQ(rows.size(), 1u) << Result();
  EXPECT_NE(rows[0].find("tarvenctl 4.54 | config write"), std::string::npos) << rows[0];
  EXPECT_NE(rows[0].find("| config | выполнено | можно"), std::string::npos) << rows[0];
  EXPECT_FALSE(Child<QPushButton>(Page(), "UndoButton")->isEnabled()) << "no row chosen";

  // Back to the value the write replaced, after the write question.
  Child<QTableWidget>(Page(), "ResultsTable")->selectRow(0);
  ASSERT_TRUE(Child<QPushButton>(Page(), "UndoButton")->isEnabled());
  dialogs().AnswerYes();
  Press("UndoButton");
  EXPECT_TRUE(dialogs().asked().back().text.startsWith(QStringLiteral("Записать в ППЗУ Тарвен?")));
  EXPECT_EQ(Param1(Module(1)), original);
  EXPECT_EQ(Param1(Module(0)), 55) << "another module was written";
  EXPECT_EQ(Result().rfind("Возвращено как было до записи № 1: config", 0), 0u) << Result();
  // The undo is recorded, and says what it undid; the list shows it on top.
  rows = Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_NE(rows[0].find("tarven 4.54 | config write undo of record 1 | config | выполнено"),
            std::string::npos)
      << rows[0];

  // A write changed over since is left alone.
  set_param("sim-2", 88, true);
  set_param("sim-2", 99, false);
  Press("JournalButton");
  ASSERT_FALSE(Rows().empty());
  Child<QTableWidget>(Page(), "ResultsTable")->selectRow(0);
  dialogs().AnswerYes();
  dialogs().AcknowledgeMessage();
  Press("UndoButton");
  EXPECT_EQ(Param1(Module(1)), 99);
  EXPECT_NE(Result().find("Модуль изменился после записи"), std::string::npos) << Result();
}

}  // namespace
}  // namespace tarven::testing
