// The main window as it starts and closes: title, status panel, pages, parameter grid, the "-f"
// switch, the status timer and what closing does to the module link.

#include "app/main_form.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEnterEvent>
#include <QEventLoop>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QProgressBar>
#include <QTabBar>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <algorithm>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "device/forwarding_backend.h"
#include "form_fixture.h"

namespace tarven::testing {
namespace {

using app::TMainForm;

TEST_F(FormTest, StartsWithTitleVersionsAndIdlePanel) {
  app_record() = device::TModuleId{true, 1, 2, 3, 4, 5};
  boot_record() = device::TModuleId{true, 1, 2, 3, 4, 5};
  auto form = MakeForm();

  EXPECT_EQ(form->windowTitle(), QStringLiteral("Тарвен v 4.54"));
  // The task bar shows the window's own title. Set as the application's display name, the title
  // would also be appended to the caption of every message box (see window_captions_test.cpp).
  EXPECT_NE(QApplication::applicationDisplayName(), QStringLiteral("Тарвен v 4.54"));
  EXPECT_EQ(form->Label47->text(), QStringLiteral("v 4.54"));
  // With no module, the state says only "не подключен"; its tip says what to try.
  const QString tip = form->StaticText7->toolTip();
  for (const char* hint : {"кабель USB", "lsusb -d 03eb:6202", "tarven --simulate"}) {
    EXPECT_TRUE(tip.contains(QString::fromUtf8(hint))) << hint;
  }

  const struct {
    QWidget* control;
    const char* text;
  } panel[] = {
      {form->StaticText3, "Тарвен"},
      {form->StaticText4, "Статус"},
      {form->StaticText5, "Версия прошивки"},
      {form->StaticText6, "Версия загрузчика"},
      {form->Button8, "Остановить УЧПУ"},
      {form->Button13, "Перезапустить Модуль"},
      {form->Panel5, nullptr},
      {form->Button3, "Обновить"},
      {form->ProgressBar1, nullptr},
  };
  int previous_top = -1;
  for (const auto& [control, text] : panel) {
    SCOPED_TRACE(control->objectName().toStdString());
    EXPECT_EQ(control->parentWidget(), form->Panel3);
    EXPECT_GT(control->y(), previous_top) << "panel order";
    previous_top = control->y();
    if (text != nullptr) {
      EXPECT_EQ(control->property("text").toString(), QString::fromUtf8(text));
    }
  }
  EXPECT_EQ(form->StaticText7->text(), QStringLiteral("не подключен"));
  EXPECT_EQ(form->StaticText8->text(), QStringLiteral("н/д"));
  EXPECT_EQ(form->StaticText9->text(), QStringLiteral("н/д"));
  EXPECT_EQ(form->Label46->text(), QStringLiteral("Доступная версия обновления прошивки:"));
  EXPECT_EQ(form->Label46->parentWidget(), form->Panel5);
  EXPECT_EQ(form->Label47->parentWidget(), form->Panel5);
  EXPECT_EQ(form->ProgressBar1->minimum(), 0);
  EXPECT_EQ(form->ProgressBar1->maximum(), 100);

  EXPECT_EQ(form->Tag, 0);
  EXPECT_FALSE(form->up_flag);
  EXPECT_EQ(form->HidHandle, device::kInvalidHandle);
  EXPECT_EQ(form->proc_en, 0u);
  EXPECT_EQ(form->ext_dac_en, 0u);
  EXPECT_EQ(form->PageControl1->currentIndex(), 0);
  for (int i = 1; i <= 36; ++i) {
    auto* box = form->findChild<QCheckBox*>(QStringLiteral("CheckBox%1").arg(i));
    ASSERT_NE(box, nullptr) << i;
    EXPECT_FALSE(box->isEnabled()) << "CheckBox" << i;
  }

  // The window's start-up sets both personality records up, whatever they held before.
  EXPECT_FALSE(link().AppModule().Found);
  EXPECT_EQ(link().AppModule().VendorId, 0x03EB);
  EXPECT_EQ(link().AppModule().ProductId, 0x6202);
  EXPECT_EQ(link().AppModule().DeviceCode, 0x3B03);
  EXPECT_FALSE(link().BootModule().Found);
  EXPECT_EQ(link().BootModule().VendorId, 0x03EB);
  EXPECT_EQ(link().BootModule().ProductId, 0x6202);
  EXPECT_EQ(link().BootModule().DeviceCode, 0x3B01);
}

// The window paints its first page before it builds the others, right after that first paint; the
// pages then hold what the start-up gives them.
TEST_F(FormTest, OtherPagesAreBuiltRightAfterTheFirstPaint) {
  auto form = std::make_unique<TMainForm>(QStringList{}, link_shared(), dialogs_shared());
  form->Timer1->stop();
  EXPECT_FALSE(form->PagesBuilt());
  EXPECT_EQ(form->findChild<QTableWidget*>(QStringLiteral("StringGrid1")), nullptr);
  EXPECT_NE(Child<QPushButton>(form->Config(), "Button1"), nullptr)
      << "the first page comes with the window";

  form->show();
  for (int i = 0; i < 50 && !form->PagesBuilt(); ++i) {
    QApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  ASSERT_TRUE(form->PagesBuilt());
  const auto* grid = form->findChild<QTableWidget*>(QStringLiteral("StringGrid1"));
  ASSERT_NE(grid, nullptr);
  EXPECT_EQ(grid, Child<QTableWidget>(form->EaParams(), "StringGrid1"));
  EXPECT_EQ(grid->parentWidget(), &form->EaParams());
  EXPECT_EQ(form->EaParams().parentWidget(), form->TabSheet11);
  EXPECT_EQ(grid->item(0, 1)->text(), QStringLiteral("Значение пераметра"));
  EXPECT_EQ(grid->item(255, 0)->text(), QStringLiteral("255"));
  EXPECT_FALSE(Child<QCheckBox>(form->Encoders(), "CheckBox36")->isEnabled());
  EXPECT_EQ(Child<QListWidget>(form->MainRom(), "ListBox1")->parentWidget(), &form->MainRom());
  EXPECT_EQ(form->MainRom().parentWidget(), form->TabSheet2);
  EXPECT_EQ(Child<QPushButton>(form->Network(), "Button15")->parentWidget(), &form->Network());
  EXPECT_EQ(form->Network().parentWidget(), form->TabSheet10);
}

TEST_F(FormTest, WindowIsFixedAt712By340WithPagesLeftAndPanelRight) {
  auto form = MakeForm();
  EXPECT_EQ(form->size(), QSize(712, 340));
  EXPECT_EQ(form->minimumSize(), QSize(712, 340));
  EXPECT_EQ(form->maximumSize(), QSize(712, 340));
  EXPECT_FALSE(form->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_TRUE(form->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_EQ(form->PageControl1->geometry(), QRect(0, 0, 470, 340));
  EXPECT_EQ(form->Panel3->geometry(), QRect(470, 0, 242, 340));
}

TEST_F(FormTest, ParameterGridHasHeaderRowAndNumberedRows) {
  auto form = MakeForm();
  QTableWidget* grid = Child<QTableWidget>(form->EaParams(), "StringGrid1");
  ASSERT_EQ(grid->columnCount(), 2);
  ASSERT_EQ(grid->rowCount(), 256);
  EXPECT_EQ(grid->columnWidth(0), 48);
  EXPECT_EQ(grid->columnWidth(1), 116);
  ASSERT_NE(grid->item(0, 0), nullptr);
  ASSERT_NE(grid->item(0, 1), nullptr);
  EXPECT_EQ(grid->item(0, 0)->text(), QStringLiteral("№"));
  EXPECT_EQ(grid->item(0, 1)->text(), QStringLiteral("Значение пераметра"));
  EXPECT_FALSE(grid->item(0, 1)->flags().testFlag(Qt::ItemIsEditable));
  for (int row = 1; row <= 255; ++row) {
    ASSERT_NE(grid->item(row, 0), nullptr) << row;
    EXPECT_EQ(grid->item(row, 0)->text(), QString::number(row));
    EXPECT_FALSE(grid->item(row, 0)->flags().testFlag(Qt::ItemIsEditable)) << row;
    EXPECT_EQ(grid->item(row, 1), nullptr) << "values stay empty until the first read";
  }
  EXPECT_NE(grid->editTriggers(), QAbstractItemView::NoEditTriggers);
}

// Whether the characters a value box shows line up in columns in `font`: every one of them takes
// the same width. This is what the user sees, whatever the font calls itself (some monospaced
// fonts are not flagged fixed-pitch).
bool CharactersLineUp(const QFont& font) {
  const QFontMetrics metrics(font);
  const QString shown = QStringLiteral("0123456789ABCDEF -+.,:");
  const int advance = metrics.horizontalAdvance(shown.front());
  return advance > 0 && std::all_of(shown.begin(), shown.end(), [&](QChar c) {
           return metrics.horizontalAdvance(c) == advance;
         });
}

TEST_F(FormTest, ValueBoxesShareOneFixedPitchFont) {
  auto form = MakeForm({"-f"});
  // Each page as the user opens it.
  for (int page = 0; page < form->PageControl1->count(); ++page) {
    form->PageControl1->setCurrentIndex(page);
  }
  const struct {
    const char* name;
    int pixels;
  } fixed[] = {{"ListBox1", 11},     {"ListBox4", 11},  {"ListBox5", 11}, {"Edit10", 11},
               {"In170461Bits", 12}, {"Kip4Count", 12}, {"Kp1Volts", 12}, {"EaOut170464Octal", 12}};
  const QString family =
      QFontInfo(Child<QListWidget>(form->MainRom(), "ListBox1")->font()).family();
  for (const auto& [name, pixels] : fixed) {
    SCOPED_TRACE(name);
    const auto* control = form->findChild<QWidget*>(QString::fromUtf8(name));
    ASSERT_NE(control, nullptr);
    const QFontInfo info(control->font());
    EXPECT_TRUE(CharactersLineUp(control->font()));
    EXPECT_EQ(info.family(), family);
    EXPECT_EQ(control->font().pixelSize(), pixels);
  }
  int marked = 0;
  for (const QWidget* control : form->findChildren<QWidget*>()) {
    if (control->property("fixedPitchPixels").toInt() <= 0) continue;
    ++marked;
    EXPECT_TRUE(CharactersLineUp(control->font())) << control->objectName().toStdString();
  }
  EXPECT_EQ(marked, 51) << "five listings, four DAC edits, 42 value boxes";
  // Captions keep the window's font: not the one the value boxes were given.
  EXPECT_NE(form->StaticText7->font().family(),
            Child<QListWidget>(form->MainRom(), "ListBox1")->font().family())
      << "captions stay proportional";
  EXPECT_FALSE(form->StaticText7->property("fixedPitchPixels").isValid());
  EXPECT_EQ(form->StaticText7->font().pixelSize(), 11);
}

TEST_F(FormTest, ValueLabelsBecomeSelectableOnceTheMouseComesOverThem) {
  auto form = MakeForm();
  form->PageControl1->setCurrentIndex(6);
  const auto enter = [](QLabel* label) {
    QEnterEvent event(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QApplication::sendEvent(label, &event);
  };
  for (QLabel* label : {form->StaticText7, form->StaticText9,
                        form->findChild<QLabel*>(QStringLiteral("In170461Bits")),
                        form->findChild<QLabel*>(QStringLiteral("ConfigLetterX"))}) {
    ASSERT_NE(label, nullptr);
    SCOPED_TRACE(label->objectName().toStdString());
    enter(label);
    EXPECT_EQ(label->textInteractionFlags(), Qt::TextSelectableByMouse);
    const QString text = label->text();
    label->setText(QStringLiteral("1.2.3."));
    EXPECT_EQ(label->text(), QStringLiteral("1.2.3."));
    label->setText(text);
  }
  enter(form->StaticText4);
  EXPECT_FALSE(form->StaticText4->textInteractionFlags().testFlag(Qt::TextSelectableByMouse))
      << "a caption";
}

TEST_F(FormTest, DropDownListsOpenInTheFontOfTheirBoxes) {
  auto form = MakeForm({"-f"});
  form->show();
  const auto boxes = form->findChildren<QComboBox*>();
  ASSERT_EQ(boxes.size(), 10) << "nine on the specified pages, the RAM bank on \"Сервис\"";
  for (QComboBox* box : boxes) {
    SCOPED_TRACE(box->objectName().toStdString());
    EXPECT_EQ(box->font().pixelSize(), 11);
    EXPECT_EQ(box->view()->font().pixelSize(), box->font().pixelSize());
  }
}

struct FactoryCase {
  const char* name;
  std::vector<const char*> arguments;
  bool factory_pages;
};

// Test names and failure messages show the case's name, not its bytes.
void PrintTo(const FactoryCase& c, std::ostream* os) {
  *os << c.name;
}

class FactoryPagesTest : public FormTest, public ::testing::WithParamInterface<FactoryCase> {};

TEST_P(FactoryPagesTest, OnlyAnExactFirstArgumentShowsTheLastTwoPages) {
  QStringList arguments;
  for (const char* argument : GetParam().arguments) arguments << QString::fromUtf8(argument);
  auto form = MakeForm(arguments);

  const struct {
    const char* page;
    const char* caption;
  } pages[] = {{"TabSheet1", "Конфигурация"}, {"TabSheet11", "Параметры электроавтоматики"},
               {"TabSheet2", "ПЗУ"},          {"TabSheet3", "ПЗУ АМТ"},
               {"TabSheet4", "КВПП/ЭА"},      {"TabSheet5", "ОЗУ"},
               {"TabSheet6", "КЭ/БФОС"},      {"TabSheet8", "КИП/БОС"},
               {"TabSheet7", "КП(ЦАП)"},      {"TabSheet9", "Контроллер ЭА"},
               {"TabSheet10", "Сеть"},        {"TabSheet12", "Сервис"}};
  // The eleven pages in their places, and "Сервис" after them, shown in both modes.
  ASSERT_EQ(form->PageControl1->count(), 12);
  for (int index = 0; index < 12; ++index) {
    SCOPED_TRACE(index);
    const auto& expected = pages[index];
    EXPECT_EQ(form->PageControl1->widget(index)->objectName(), QString::fromUtf8(expected.page));
    EXPECT_EQ(form->PageControl1->tabText(index), QString::fromUtf8(expected.caption));
    const bool shown = index < 9 || index == 11 || GetParam().factory_pages;
    EXPECT_EQ(form->PageControl1->isTabVisible(index), shown);
    EXPECT_EQ(form->PageControl1->tabBar()->isTabEnabled(index), shown);
  }
  EXPECT_EQ(form->PageControl1->currentIndex(), 0);
}

INSTANTIATE_TEST_SUITE_P(Arguments, FactoryPagesTest,
                         ::testing::Values(FactoryCase{"none", {}, false},
                                           FactoryCase{"upper_case", {"-F"}, false},
                                           FactoryCase{"no_dash", {"f"}, false},
                                           FactoryCase{"longer", {"-fx"}, false},
                                           FactoryCase{"second", {"--simulate", "-f"}, false},
                                           FactoryCase{"first", {"-f"}, true},
                                           FactoryCase{"first_of_two", {"-f", "--simulate"}, true}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

// The commands of the last tick as (code, Param1), the searches' identify left out.
std::vector<std::pair<int, std::uint32_t>> CommandsOf(const std::vector<Bytes>& frames) {
  std::vector<std::pair<int, std::uint32_t>> commands;
  for (const Bytes& frame : frames) commands.emplace_back(frame[2], Le32At(frame, 3));
  return commands;
}

// Without "-f" the last two pages are out of reach: no key of the page control or of its tab bar,
// and no turn of the wheel over the bar, makes one of them current, and no tick runs their
// section (commands 22 and 23, reads of 170462 and 170461). With "-f" the same keys reach them.
TEST_F(FormTest, HiddenPagesAreOutOfReachOfEveryKeyAndTheWheel) {
  constexpr int kReadEaInputs = 22, kReadEaOutputs = 23, kReadRegister = 15;
  const auto wheel = [](QWidget* bar, int delta) {
    const QPointF at(bar->width() / 2.0, bar->height() / 2.0);
    QWheelEvent event(at, bar->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(bar, &event);
  };
  const struct {
    const char* name;
    std::function<void(TMainForm&)> press;
  } actions[] = {
      // The page control takes these from whatever control on the page has the focus.
      {"Ctrl+Tab",
       [](TMainForm& f) {
         QTest::keyClick(f.PageControl1->currentWidget(), Qt::Key_Tab, Qt::ControlModifier);
       }},
      {"Ctrl+Shift+Tab",
       [](TMainForm& f) {
         QTest::keyClick(f.PageControl1->currentWidget(), Qt::Key_Backtab,
                         Qt::ControlModifier | Qt::ShiftModifier);
       }},
      {"Ctrl+PgDown",
       [](TMainForm& f) {
         QTest::keyClick(f.PageControl1->currentWidget(), Qt::Key_PageDown, Qt::ControlModifier);
       }},
      {"Ctrl+PgUp",
       [](TMainForm& f) {
         QTest::keyClick(f.PageControl1->currentWidget(), Qt::Key_PageUp, Qt::ControlModifier);
       }},
      // The tab bar's own keys and the wheel over it.
      {"Right", [](TMainForm& f) { QTest::keyClick(f.PageControl1->tabBar(), Qt::Key_Right); }},
      {"Left", [](TMainForm& f) { QTest::keyClick(f.PageControl1->tabBar(), Qt::Key_Left); }},
      {"End", [](TMainForm& f) { QTest::keyClick(f.PageControl1->tabBar(), Qt::Key_End); }},
      {"Home", [](TMainForm& f) { QTest::keyClick(f.PageControl1->tabBar(), Qt::Key_Home); }},
      {"wheel down", [&](TMainForm& f) { wheel(f.PageControl1->tabBar(), -120); }},
      {"wheel up", [&](TMainForm& f) { wheel(f.PageControl1->tabBar(), 120); }},
  };

  auto form = MakeForm();
  form->show();
  for (const auto& action : actions) {
    for (const int start : {0, 1, 2, 3, 4, 5, 6, 7, 8, 11}) {
      SCOPED_TRACE(std::string(action.name) + " from page " + std::to_string(start));
      form->PageControl1->setCurrentIndex(start);
      // Twelve presses go once round every page there is ("Сервис" after the hidden two).
      for (int press = 0; press < 12; ++press) {
        action.press(*form);
        const int page = form->PageControl1->currentIndex();
        ASSERT_TRUE(page >= 0 && page < 12 && page != 9 && page != 10)
            << "page " << page << " after press " << press + 1;
        sim_->ClearLog();
        form->Timer1Timer();
        for (const auto& [code, param1] : CommandsOf(SentCommands())) {
          EXPECT_NE(code, kReadEaInputs);
          EXPECT_NE(code, kReadEaOutputs);
          if (page != 6 && code == kReadRegister) {
            EXPECT_TRUE(param1 != 0xF131 && param1 != 0xF132) << "read of " << param1;
          }
        }
      }
    }
  }

  // The same keys, with the pages shown, reach them and run their sections.
  auto factory = MakeForm({"-f"});
  factory->show();
  factory->PageControl1->setCurrentIndex(8);
  actions[0].press(*factory);
  EXPECT_EQ(factory->PageControl1->currentIndex(), 9);
  sim_->ClearLog();
  factory->Timer1Timer();
  const auto commands = CommandsOf(SentCommands());
  const auto sent = [&](int code) {
    return std::any_of(commands.begin(), commands.end(),
                       [&](const auto& command) { return command.first == code; });
  };
  EXPECT_TRUE(sent(kReadEaInputs) && sent(kReadEaOutputs));
  factory->PageControl1->setCurrentIndex(0);
  actions[1].press(*factory);
  EXPECT_EQ(factory->PageControl1->currentIndex(), 11);
  actions[1].press(*factory);
  EXPECT_EQ(factory->PageControl1->currentIndex(), 10);
}

// Counts the closes that reach the HID binding, so that a close of nothing shows.
class CountingBackend final : public hid::ForwardingBackend {
 public:
  using ForwardingBackend::ForwardingBackend;
  int closes = 0;

  void Close(hid::Handle handle) override {
    ++closes;
    ForwardingBackend::Close(handle);
  }
};

TEST_F(FormTest, ClosingTheWindowClosesOnlyAnExchangeInProgress) {
  auto counting = std::make_shared<CountingBackend>(sim_);
  link_ = std::make_shared<device::Link>(counting);

  auto idle = MakeForm();
  idle->show();
  idle->Timer1Timer();
  const int closes_by_tick = counting->closes;
  idle->close();
  EXPECT_EQ(counting->closes, closes_by_tick) << "no exchange was in progress";
  EXPECT_FALSE(idle->Timer1->isActive()) << "a closed window stops polling";

  auto busy = MakeForm();
  busy->show();
  device::LinkAccess::HidHandle(link()) = link().OpenModule(app_record());
  ASSERT_NE(busy->HidHandle, device::kInvalidHandle);
  busy->close();
  EXPECT_EQ(counting->closes, closes_by_tick + 1);
  EXPECT_EQ(busy->HidHandle, device::kInvalidHandle);
  EXPECT_EQ(sim_->OpenHandleCount(), 0u);
}

void RunEventLoopFor(int milliseconds) {
  QEventLoop loop;
  QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
  loop.exec();
}

TEST_F(FormTest, StatusTimerPollsOnceASecondFromCreation) {
  auto form = MakePollingForm();
  EXPECT_TRUE(form->Timer1->isActive());
  EXPECT_EQ(form->Timer1->interval(), 1000);

  RunEventLoopFor(500);
  EXPECT_EQ(form->StaticText7->text(), QStringLiteral("не подключен")) << "no poll before 1000 ms";
  RunEventLoopFor(1000);
  EXPECT_EQ(form->StaticText7->text(), QStringLiteral("подключен"));
}

}  // namespace
}  // namespace tarven::testing
