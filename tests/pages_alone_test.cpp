// Each kind of page on its own, without the window: built into a bare stand-in over a link to the
// simulated module and scripted dialogs, its handlers talk to the module as they do in the window.
// And the window's side of it: every tab builds the page its caption names, and the module's state
// reaches each page as one thing.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/config_page.h"
#include "app/ea_params_page.h"
#include "app/main_form.h"
#include "app/memory_pages.h"
#include "app/signal_pages.h"
#include "dialogs_scripted.h"
#include "model/config_sector.h"
#include "page_controls.h"
#include "sim_fixture.h"

namespace tarven::testing {
namespace {

using device::Presence;
namespace fs = std::filesystem;

constexpr std::uint32_t kSectorAddress = 0x0803F800;

class PageAloneTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    app_record().Found = true;
  }
  void TearDown() override {
    dialogs_.ExpectAllAnswersUsed();
    stand_in_.reset();
    SimTest::TearDown();
  }

  app::PageServices services() { return {link(), dialogs_}; }
  QWidget* stand_in() { return stand_in_.get(); }
  ScriptedDialogs& dialogs() { return dialogs_; }
  Bytes Sector() { return module().FlashAt(kSectorAddress, 2048); }

 private:
  ScriptedDialogs dialogs_;
  std::unique_ptr<QWidget> stand_in_ = std::make_unique<QWidget>();
};

TEST_F(PageAloneTest, ConfigPageReadsAndWritesTheSectorsConfiguration) {
  app::ConfigImage working_copy{};
  app::ConfigPage page(stand_in(), services(), working_copy);
  Bytes sector = Sector();
  const std::array<std::uint8_t, 8> values{1, 1, 1, 0, 1, 5, 6, 7};
  std::copy(values.begin(), values.end(), sector.begin());
  const std::uint32_t checksum = 1 + 1 + 1 + 0 + 1 + 5 + 6 + 7;
  sector[8] = static_cast<std::uint8_t>(checksum);
  sector[9] = sector[10] = sector[11] = 0;
  module().SetFlash(kSectorAddress, sector);

  page.Button1Click();
  EXPECT_EQ(Bytes(working_copy.begin(), working_copy.begin() + 8),
            Bytes(values.begin(), values.end()));
  EXPECT_EQ(Child<QComboBox>(page, "ComboBox1")->currentText(), "2- версия 2");
  EXPECT_EQ(Child<QLineEdit>(page, "Edit2")->text(), "5");

  // A pick of the user goes into the working copy, and the write carries it to the module.
  QComboBox* const version = Child<QComboBox>(page, "ComboBox1");
  version->setCurrentIndex(6);
  emit version->activated(6);
  dialogs().AnswerYes();
  page.Button2Click();
  EXPECT_EQ(Sector()[0], working_copy[0]);
  EXPECT_EQ(Sector()[0], 8);
  EXPECT_EQ(Sector()[7], 7);
}

TEST_F(PageAloneTest, EaParamsPageReadsTheTableIntoItsGrid) {
  app::ConfigImage working_copy{};
  app::EaParamsPage page(stand_in(), services(), working_copy);
  Bytes sector = Sector();
  sector[1024] = 0xFB;  // parameter 1 = -5
  sector[1025] = sector[1026] = sector[1027] = 0xFF;
  sector[2040] = 7;  // parameter 255
  model::SealEaTable(std::span<std::uint8_t, 2048>(sector.data(), 2048));
  module().SetFlash(kSectorAddress, sector);

  page.Button16Click();
  const auto* grid = Child<QTableWidget>(page, "StringGrid1");
  EXPECT_EQ(grid->item(1, 1)->text(), "-5");
  EXPECT_EQ(grid->item(255, 1)->text(), "7");
  EXPECT_TRUE(page.ea_params_shown);
  EXPECT_EQ(model::EaParam(std::span<const std::uint8_t, 2048>(working_copy), 1), -5);
  EXPECT_TRUE(dialogs().asked().empty());
}

TEST_F(PageAloneTest, MemoryPageImportsAFileAndWritesItToTheModule) {
  const fs::path file =
      fs::temp_directory_path() / ("tarven-page-alone-" + std::to_string(::getpid()) + ".bin");
  Bytes rom(16384);
  for (std::size_t i = 0; i < rom.size(); ++i) rom[i] = static_cast<std::uint8_t>(i * 29 + 7);
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(rom.data()), static_cast<std::streamsize>(rom.size()));

  app::MainRomPage page(stand_in(), services());
  dialogs().ChooseOpenFileName(QString::fromStdString(file.string()));
  page.BitBtn1Click();
  fs::remove(file);
  EXPECT_EQ(Bytes(page.MAT_array.begin(), page.MAT_array.end()), rom);
  dialogs().AnswerYes();
  page.Button5Click();
  EXPECT_EQ(dialogs().asked().back().text, QStringLiteral("Записать в ППЗУ Тарвен?"));
  EXPECT_EQ(module().FlashAt(0x08035800, 16384), rom);
}

TEST_F(PageAloneTest, SignalPageSendsItsOutputWordsOnlyWhenTheWindowLetsIt) {
  bool may_send = false;
  int asked = 0;
  app::IoPage page(stand_in(), services(), [&] {
    ++asked;
    return may_send;
  });
  Child<QCheckBox>(page, "CheckBox1")->setChecked(true);
  Child<QCheckBox>(page, "CheckBox32")->setChecked(true);

  module().register_writes.clear();
  page.Button10Click();
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(module().register_writes.empty());

  may_send = true;
  page.Button10Click();
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(module().register_writes,
            (std::vector<sim::RegisterWrite>{{0xF132, 0x8000}, {0xF134, 1}}));
}

// What each page enables for a state of the module, the pages built alone.
TEST_F(PageAloneTest, PagesEnableTheirControlsFromTheModuleStateAlone) {
  const auto always = [] { return true; };
  app::ConfigImage working_copy{};
  app::ConfigPage config(stand_in(), services(), working_copy);
  app::RamPage ram(stand_in(), services());
  app::IoPage io(stand_in(), services(), always);
  app::EncoderPage encoders(stand_in(), services(), always);
  app::DacPage dac(stand_in(), services(), always);
  // Before anything is told, the output controls start disabled.
  EXPECT_FALSE(Child<QCheckBox>(io, "CheckBox1")->isEnabled());
  EXPECT_FALSE(Child<QCheckBox>(encoders, "CheckBox33")->isEnabled());

  struct Case {
    const char* name;
    app::ModuleState state;
    bool module_controls;
    bool outputs;
    bool dac_edits;
  };
  const auto state = [](Presence presence, bool shown, std::uint32_t run, std::uint32_t ext_dac) {
    app::ModuleState s;
    s.presence = presence;
    s.run_flag_read = presence == Presence::Application;
    s.run_flag = run;
    s.ext_dac_flag = ext_dac;
    s.run_state_shown = shown;
    return s;
  };
  const Case cases[] = {
      {"absent", state(Presence::Absent, false, 0, 0), false, false, false},
      {"stopped", state(Presence::Application, true, 0, 0), true, true, false},
      {"stopped_external_dac", state(Presence::Application, true, 0, 1), true, true, true},
      {"running", state(Presence::Application, true, 1, 1), true, false, false},
      {"boot_loader_before_any_run_state", state(Presence::BootLoader, false, 0, 0), true, false,
       false},
      {"boot_loader_after_a_stopped_cnc", state(Presence::BootLoader, true, 0, 0), true, true,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    config.ShowModuleState(c.state);
    ram.ShowModuleState(c.state);
    io.ShowModuleState(c.state);
    encoders.ShowModuleState(c.state);
    dac.ShowModuleState(c.state);
    for (const auto& [page, button] : {std::pair<QWidget*, const char*>{&config, "Button1"},
                                       {&config, "Button2"},
                                       {&ram, "Button4"},
                                       {&ram, "Button14"},
                                       {&io, "Button10"},
                                       {&encoders, "Button11"},
                                       {&dac, "Button12"}}) {
      EXPECT_EQ(Child<QPushButton>(*page, button)->isEnabled(), c.module_controls) << button;
    }
    EXPECT_EQ(Child<QCheckBox>(io, "CheckBox1")->isEnabled(), c.outputs);
    EXPECT_EQ(Child<QCheckBox>(io, "CheckBox32")->isEnabled(), c.outputs);
    EXPECT_EQ(Child<QCheckBox>(encoders, "CheckBox36")->isEnabled(), c.outputs);
    EXPECT_EQ(Child<QLineEdit>(dac, "Edit7")->isEnabled(), c.dac_edits);
    EXPECT_EQ(Child<QLineEdit>(dac, "Edit10")->isEnabled(), c.dac_edits);
  }
}

// The window's pages are built on first use: showing a tab builds the page its caption names into
// that tab, and nothing else.
TEST_F(PageAloneTest, EveryTabBuildsThePageItsCaptionNames) {
  const std::vector<std::pair<QString, const char*>> tabs = {
      {"Параметры электроавтоматики", "tarven::app::EaParamsPage"},
      {"ПЗУ", "tarven::app::MainRomPage"},
      {"ПЗУ АМТ", "tarven::app::AmtRomPage"},
      {"КВПП/ЭА", "tarven::app::KvpPage"},
      {"ОЗУ", "tarven::app::RamPage"},
      {"КЭ/БФОС", "tarven::app::IoPage"},
      {"КИП/БОС", "tarven::app::EncoderPage"},
      {"КП(ЦАП)", "tarven::app::DacPage"},
      {"Контроллер ЭА", "tarven::app::EaControllerPage"},
      {"Сеть", "tarven::app::NetworkPage"},
  };
  auto dialogs = std::make_shared<ScriptedDialogs>();
  for (const auto& [caption, page_class] : tabs) {
    SCOPED_TRACE(caption.toStdString());
    app::TMainForm form({"-f"}, link_shared(), dialogs);
    form.Timer1->stop();
    int index = -1;
    for (int i = 0; i < form.PageControl1->count(); ++i) {
      if (form.PageControl1->tabText(i) == caption) index = i;
    }
    ASSERT_GE(index, 1);
    form.PageControl1->setCurrentIndex(index);
    int built_pages = 0;
    for (int i = 1; i < form.PageControl1->count(); ++i) {
      const QObjectList& children = form.PageControl1->widget(i)->children();
      const auto page = std::find_if(children.begin(), children.end(),
                                     [](const QObject* child) { return child->isWidgetType(); });
      if (page == children.end()) continue;
      ++built_pages;
      EXPECT_EQ(i, index) << (*page)->metaObject()->className();
      EXPECT_STREQ((*page)->metaObject()->className(), page_class);
    }
    EXPECT_EQ(built_pages, 1);
    EXPECT_FALSE(form.PagesBuilt());
  }
  dialogs->ExpectAllAnswersUsed();
}

}  // namespace
}  // namespace tarven::testing
