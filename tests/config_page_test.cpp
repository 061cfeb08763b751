// The pages "Конфигурация" and "Параметры электроавтоматики" against the simulated module, with
// the dialogs answered by the test.

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPalette>
#include <QTableWidget>
#include <algorithm>
#include <array>
#include <vector>

#include "app/main_form.h"
#include "form_fixture.h"

namespace tarven::testing {
namespace {

using app::TMainForm;

constexpr std::uint32_t kSectorAddress = 0x0803F800;
const QColor kRed(255, 0, 0);

QString Shown(const QComboBox* list) {
  return list->currentIndex() < 0 ? QStringLiteral("<none>") : list->currentText();
}

std::vector<QString> ConfigShown(const TMainForm& form) {
  return {Shown(Child<QComboBox>(form.Config(), "ComboBox1")),
          Shown(Child<QComboBox>(form.Config(), "ComboBox2")),
          Shown(Child<QComboBox>(form.Config(), "ComboBox3")),
          Shown(Child<QComboBox>(form.Config(), "ComboBox4")),
          Shown(Child<QComboBox>(form.Config(), "ComboBox5")),
          Child<QLineEdit>(form.Config(), "Edit2")->text(),
          Shown(Child<QComboBox>(form.Config(), "ComboBox10")),
          Shown(Child<QComboBox>(form.Config(), "ComboBox7"))};
}

bool IsRed(const QLineEdit* edit) {
  return edit->palette().color(QPalette::Text) == kRed;
}

class ConfigPageTest : public FormTest {
 protected:
  void SetUp() override {
    FormTest::SetUp();
    form_ = MakeForm();
    app_record().Found = true;
  }
  Bytes Sector() { return module().FlashAt(kSectorAddress, 2048); }
  // A sector whose first twelve bytes are the given values and stored checksum.
  void PutConfig(std::array<std::uint8_t, 8> values, std::uint32_t checksum) {
    Bytes sector = Sector();
    std::copy(values.begin(), values.end(), sector.begin());
    for (int i = 0; i < 4; ++i)
      sector[8 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(checksum >> (8 * i));
    module().SetFlash(kSectorAddress, sector);
  }
  std::vector<ScriptedDialogs::Question> Asked() { return dialogs().asked(); }

  std::unique_ptr<TMainForm> form_;
};

TEST_F(ConfigPageTest, StartsWithTheDefaultsInByteOrder) {
  EXPECT_EQ(ConfigShown(*form_),
            (std::vector<QString>{"4- версия 4", "1- для 16А20Т", "1- ОЗУ", "0- выкл",
                                  "1- автоматический", "1", "6 - 57600 бод.", "0- по ~12В"}));
  EXPECT_EQ(Bytes(form_->params_array.begin(), form_->params_array.begin() + 8),
            (Bytes{4, 1, 1, 0, 1, 1, 6, 0}));
  EXPECT_FALSE(IsRed(Child<QLineEdit>(form_->Config(), "Edit2")));
  // The lists carry the items of the sector's rows, in order.
  const QComboBox* lists[] = {Child<QComboBox>(form_->Config(), "ComboBox1"),
                              Child<QComboBox>(form_->Config(), "ComboBox2"),
                              Child<QComboBox>(form_->Config(), "ComboBox3"),
                              Child<QComboBox>(form_->Config(), "ComboBox4"),
                              Child<QComboBox>(form_->Config(), "ComboBox5"),
                              nullptr,
                              Child<QComboBox>(form_->Config(), "ComboBox10"),
                              Child<QComboBox>(form_->Config(), "ComboBox7")};
  for (std::size_t row = 0; row < 8; ++row) {
    if (lists[row] == nullptr) continue;
    const auto& items = model::ConfigRows()[row].items;
    ASSERT_EQ(static_cast<std::size_t>(lists[row]->count()), items.size()) << row;
    for (std::size_t i = 0; i < items.size(); ++i) {
      EXPECT_EQ(lists[row]->itemText(static_cast<int>(i)).toStdString(), items[i].text);
    }
  }
}

TEST_F(ConfigPageTest, ReadShowsGoldenSectorsAsTheRulesSay) {
  // Zeros with checksum 1 pass: every list shows its fallback, the address 0 in red, and the
  // working copy keeps the zeros.
  PutConfig({0, 0, 0, 0, 0, 0, 0, 0}, 1);
  form_->Button1Click();
  EXPECT_TRUE(Asked().empty());
  EXPECT_EQ(ConfigShown(*form_),
            (std::vector<QString>{"4- версия 4", "1- для 16А20Т", "1- ОЗУ", "0- выкл",
                                  "1- автоматический", "0", "6 - 57600 бод.", "0- по ~12В"}));
  EXPECT_TRUE(IsRed(Child<QLineEdit>(form_->Config(), "Edit2")));
  EXPECT_EQ(Bytes(form_->params_array.begin(), form_->params_array.begin() + 8), Bytes(8, 0));

  // An immediate write sends them back unchanged, with checksum 1.
  dialogs().AnswerYes();
  form_->Button2Click();
  const Bytes written = Sector();
  EXPECT_EQ(Bytes(written.begin(), written.begin() + 12),
            (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0}));

  // X = 1 shows the first item and is written back as 1; F = 7 leaves its list empty.
  PutConfig({1, 1, 1, 0, 1, 5, 6, 7}, 1 + 1 + 1 + 0 + 1 + 5 + 6 + 7);
  form_->Button1Click();
  EXPECT_EQ(Shown(Child<QComboBox>(form_->Config(), "ComboBox1")), "2- версия 2");
  EXPECT_EQ(Shown(Child<QComboBox>(form_->Config(), "ComboBox7")), "<none>");
  EXPECT_EQ(form_->params_array[0], 1);
  EXPECT_EQ(form_->params_array[7], 7);
  dialogs().AnswerYes();
  form_->Button2Click();
  EXPECT_EQ(Sector()[0], 1);
  EXPECT_EQ(Sector()[7], 7);
}

TEST_F(ConfigPageTest, ChecksumMismatchSaysSoAndRestoresTheDefaults) {
  PutConfig({0, 0, 0, 0, 0, 0, 0, 0}, 0);  // all zeros: computed 1, stored 0
  const Bytes before = Sector();
  dialogs().AcknowledgeMessage();
  form_->Button1Click();
  ASSERT_EQ(Asked().size(), 1u);
  EXPECT_EQ(Asked()[0].caption, QStringLiteral("Тарвен v 4.54"));
  EXPECT_EQ(Asked()[0].text, QStringLiteral("Не совпала контрольная сумма параметров.\r"
                                            "Восстановлены параметры по умолчанию"));
  EXPECT_EQ(Asked()[0].buttons, QStringLiteral("OK"));
  EXPECT_EQ(Bytes(form_->params_array.begin(), form_->params_array.begin() + 8),
            (Bytes{4, 1, 1, 0, 1, 1, 6, 0}));
  EXPECT_EQ(Shown(Child<QComboBox>(form_->Config(), "ComboBox1")), "4- версия 4");
  EXPECT_EQ(Sector(), before) << "the module is not written";
}

TEST_F(ConfigPageTest, ListsStoreOnlyWhatTheUserPicks) {
  Child<QComboBox>(form_->Config(), "ComboBox1")
      ->setCurrentIndex(4);  // set by the program: stores nothing
  EXPECT_EQ(form_->params_array[0], 4);
  const struct {
    QComboBox* list;
    int index;
    std::size_t byte;
    std::uint8_t value;
  } picks[] = {{Child<QComboBox>(form_->Config(), "ComboBox1"), 6, 0, 8},
               {Child<QComboBox>(form_->Config(), "ComboBox2"), 3, 1, 4},
               {Child<QComboBox>(form_->Config(), "ComboBox3"), 1, 2, 2},
               {Child<QComboBox>(form_->Config(), "ComboBox4"), 1, 3, 1},
               {Child<QComboBox>(form_->Config(), "ComboBox5"), 2, 4, 3},
               {Child<QComboBox>(form_->Config(), "ComboBox10"), 9, 6, 10},
               {Child<QComboBox>(form_->Config(), "ComboBox7"), 4, 7, 4}};
  for (const auto& pick : picks) {
    pick.list->setCurrentIndex(pick.index);
    emit pick.list->activated(pick.index);  // what a pick by the user signals
    EXPECT_EQ(form_->params_array[pick.byte], pick.value) << pick.byte;
  }
}

TEST_F(ConfigPageTest, AddressEditTurnsRedAndKeepsTheLastGoodValue) {
  const struct {
    const char* text;
    bool valid;
    std::uint8_t stored;
  } cases[] = {{"248", true, 248},  {"249", false, 248}, {"0", false, 248},
               {"12a", false, 248}, {"", false, 248},    {"1", true, 1},
               {"$F8", true, 248},  {"  12", true, 12},  {"-3", false, 12}};
  for (const auto& c : cases) {
    Child<QLineEdit>(form_->Config(), "Edit2")->setText(QString::fromUtf8(c.text));
    EXPECT_EQ(IsRed(Child<QLineEdit>(form_->Config(), "Edit2")), !c.valid) << c.text;
    EXPECT_EQ(form_->params_array[5], c.stored) << c.text;
  }
}

TEST_F(ConfigPageTest, DecliningOrNoModuleSendsNothing) {
  form_->Button16Click();
  sim_->ClearLog();
  dialogs().AnswerNo();
  form_->Button2Click();
  dialogs().AnswerNo();
  form_->Button17Click();
  EXPECT_TRUE(sim_->log().empty()) << "not even the read";

  app_record().Found = false;
  form_->Button1Click();
  form_->Button2Click();
  form_->Button16Click();
  form_->Button17Click();
  EXPECT_TRUE(sim_->log().empty());
  EXPECT_EQ(Asked().size(), 2u) << "no question without a module";
}

TEST_F(ConfigPageTest, EachWriteChangesOnlyItsOwnPartOfTheSector) {
  Bytes sector = Sector();
  sector[100] = 0x42;
  sector[1024] = 9;  // parameter 1 on the module
  model::SealEaTable(std::span<std::uint8_t, 2048>(sector.data(), 2048));
  module().SetFlash(kSectorAddress, sector);

  // A parameter edited but not written stays out of a configuration write.
  form_->Button16Click();
  form_->StringGrid1SetEditText(1, 1, QStringLiteral("77"));
  emit Child<QComboBox>(form_->Config(), "ComboBox1")->activated(3);  // X = 5
  dialogs().AnswerYes();
  form_->Button2Click();
  Bytes after = Sector();
  EXPECT_EQ(after[0], 5);
  EXPECT_EQ(Bytes(after.begin() + 12, after.end()), Bytes(sector.begin() + 12, sector.end()));

  // A parameter write leaves bytes 0..1023 as the module held them.
  form_->params_array[0] = 2;  // not written by the parameter page
  dialogs().AnswerYes();
  form_->Button17Click();
  const Bytes last = Sector();
  EXPECT_EQ(Bytes(last.begin(), last.begin() + 1024), Bytes(after.begin(), after.begin() + 1024));
  EXPECT_EQ(last[1024], 77);
}

// Before the first read the grid shows no parameters: a write of the working copy's zeros would
// wipe the module's table on one confirmation. It is refused, also after an edit of one cell.
TEST_F(ConfigPageTest, ParameterWriteBeforeAnyReadIsRefused) {
  Bytes table = Sector();
  table[1024] = 9;
  model::SealEaTable(std::span<std::uint8_t, 2048>(table.data(), 2048));
  module().SetFlash(kSectorAddress, table);
  form_->StringGrid1SetEditText(1, 2, QStringLiteral("5"));
  sim_->ClearLog();
  for (int press = 0; press < 2; ++press) {
    dialogs().AcknowledgeMessage();
    form_->Button17Click();
    ASSERT_EQ(Asked().size(), static_cast<std::size_t>(press + 1));
    EXPECT_EQ(Asked().back().text, QStringLiteral("Параметры не считаны. Запись не выполнена."));
    EXPECT_EQ(Asked().back().caption, QStringLiteral("Тарвен v 4.54"));
  }
  EXPECT_TRUE(sim_->log().empty()) << "nothing is sent, not even the read";
  EXPECT_EQ(Sector(), table);

  // A read whose table fails its checksum shows zeros in every row: those may be written, with
  // checksum 1 and the configuration block as the module held it.
  table[2044] ^= 1;
  module().SetFlash(kSectorAddress, table);
  dialogs().AcknowledgeMessage();
  form_->Button16Click();
  EXPECT_EQ(Child<QTableWidget>(form_->EaParams(), "StringGrid1")->item(1, 1)->text(), "0");
  dialogs().AnswerYes();
  form_->Button17Click();
  EXPECT_EQ(Asked().back().text, QStringLiteral("Записать в ППЗУ Тарвен?"));
  const Bytes sector = Sector();
  EXPECT_EQ(Bytes(sector.begin() + 1024, sector.begin() + 2044), Bytes(1020, 0));
  EXPECT_EQ(Bytes(sector.begin() + 2044, sector.end()), (Bytes{1, 0, 0, 0}));
  EXPECT_EQ(Bytes(sector.begin(), sector.begin() + 8), (Bytes{4, 1, 1, 0, 1, 1, 6, 0}));
}

TEST_F(ConfigPageTest, ParameterReadShowsTheTableOrZerosAfterAMismatch) {
  Bytes sector = Sector();
  sector[1024] = 0xFB;  // parameter 1 = -5
  sector[1025] = sector[1026] = sector[1027] = 0xFF;
  sector[2040] = 7;  // parameter 255
  model::SealEaTable(std::span<std::uint8_t, 2048>(sector.data(), 2048));
  module().SetFlash(kSectorAddress, sector);
  form_->Button16Click();
  EXPECT_EQ(Child<QTableWidget>(form_->EaParams(), "StringGrid1")->item(1, 1)->text(), "-5");
  EXPECT_EQ(Child<QTableWidget>(form_->EaParams(), "StringGrid1")->item(2, 1)->text(), "0");
  EXPECT_EQ(Child<QTableWidget>(form_->EaParams(), "StringGrid1")->item(255, 1)->text(), "7");
  EXPECT_TRUE(Asked().empty());

  sector[2044] ^= 1;
  module().SetFlash(kSectorAddress, sector);
  dialogs().AcknowledgeMessage();
  form_->Button16Click();
  ASSERT_EQ(Asked().size(), 1u);
  EXPECT_EQ(Asked()[0].text,
            QStringLiteral("Не совпала контрольная сумма параметров электроавтоматики.\r"
                           "Восстановлены параметры по умолчанию"));
  EXPECT_EQ(Child<QTableWidget>(form_->EaParams(), "StringGrid1")->item(1, 1)->text(), "0");
  EXPECT_EQ(Child<QTableWidget>(form_->EaParams(), "StringGrid1")->item(255, 1)->text(), "0");
  EXPECT_EQ(model::EaParam(std::span<const std::uint8_t, 2048>(form_->params_array), 1), 0);
}

// Keystrokes in a value cell, through the grid's own editor.
class GridTyping {
 public:
  GridTyping(TMainForm& form, int row) : form_(form), row_(row) {
    form.show();
    form.PageControl1->setCurrentWidget(form.TabSheet11);
    QTableWidgetItem* cell = Child<QTableWidget>(form.EaParams(), "StringGrid1")->item(row, 1);
    if (cell == nullptr) {
      cell = new QTableWidgetItem;
      Child<QTableWidget>(form.EaParams(), "StringGrid1")->setItem(row, 1, cell);
    }
    Child<QTableWidget>(form.EaParams(), "StringGrid1")->setCurrentItem(cell);
    Child<QTableWidget>(form.EaParams(), "StringGrid1")->editItem(cell);
    // The editor of the cell before is closed by now; let it go, so that only this one is left.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    editor_ =
        Child<QTableWidget>(form.EaParams(), "StringGrid1")->viewport()->findChild<QLineEdit*>();
  }
  QLineEdit* editor() const { return editor_; }
  void Type(const QString& text) {
    for (const QChar c : text) Key(0, c);
  }
  void Backspace() { Key(Qt::Key_Backspace, QChar()); }
  std::int32_t Parameter() const {
    return model::EaParam(std::span<const std::uint8_t, 2048>(form_.params_array),
                          static_cast<std::size_t>(row_));
  }

 private:
  void Key(int key, QChar c) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, c.isNull() ? QString() : QString(c));
    QApplication::sendEvent(editor_, &press);
  }
  TMainForm& form_;
  int row_;
  QLineEdit* editor_ = nullptr;
};

TEST_F(ConfigPageTest, EveryKeystrokeInACellIsCheckedAtOnce) {
  GridTyping minus(*form_, 3);
  ASSERT_NE(minus.editor(), nullptr);
  minus.Type("-");
  EXPECT_EQ(minus.editor()->text(), "-") << "a lone minus starts a negative number";
  EXPECT_EQ(minus.Parameter(), 0);
  minus.Type("5");
  EXPECT_EQ(minus.Parameter(), -5);

  GridTyping digits(*form_, 4);
  digits.Type("1");
  EXPECT_EQ(digits.Parameter(), 1);
  digits.Type("2");
  EXPECT_EQ(digits.Parameter(), 12);
  digits.Type("a");
  EXPECT_EQ(digits.editor()->text(), "") << "a letter empties the cell";
  EXPECT_EQ(digits.Parameter(), 12);

  GridTyping big(*form_, 5);
  big.Type("2147483647");
  EXPECT_EQ(big.Parameter(), 2147483647);
  big.Type("0");
  EXPECT_EQ(big.editor()->text(), "");
  EXPECT_EQ(big.Parameter(), 2147483647);

  GridTyping hex(*form_, 6);
  hex.Type("$7");
  EXPECT_EQ(hex.Parameter(), 7);
  hex.Backspace();
  hex.Backspace();
  EXPECT_EQ(hex.editor()->text(), "");
  EXPECT_EQ(hex.Parameter(), 7) << "the last valid value stays";
}

// Where the module stops answering, the page says so instead of passing silence off as data.
TEST_F(ConfigPageTest, FailuresAtTheLinkAreToldAndChangeNothing) {
  using F = sim::SimBackend::Fault;
  form_->params_array[0] = 7;
  // Read: the sector's data stops after the identify and the command (report 4 is a data fetch).
  sim_->ArmFault(5, F::GoSilent);
  dialogs().AcknowledgeMessage();
  form_->Button1Click();
  sim_->DisarmFaults();
  sim_->SetSilent(false);
  ASSERT_EQ(Asked().size(), 1u);
  EXPECT_EQ(Asked()[0].text, QStringLiteral("Модуль не ответил. Данные не изменены."));
  EXPECT_EQ(form_->params_array[0], 7) << "no defaults restored";

  // Write: the read before it fails, so nothing is written.
  const Bytes before = Sector();
  sim_->ArmFault(5, F::Refuse);
  dialogs().AnswerYes();
  dialogs().AcknowledgeMessage();
  form_->Button2Click();
  EXPECT_EQ(Asked().back().text, QStringLiteral("Модуль не ответил. Запись не выполнена."));
  EXPECT_EQ(Sector(), before);

  // Write: a data report of the block is refused; the whole block is still sent, then told.
  form_->Button16Click();
  sim_->ArmFault(3 + 33 + 2 + 5, F::Refuse);
  dialogs().AnswerYes();
  dialogs().AcknowledgeMessage();
  form_->Button17Click();
  EXPECT_EQ(Asked().back().text, QStringLiteral("Ошибка записи в модуль."));
  EXPECT_EQ(form_->HidHandle, device::kInvalidHandle);
  EXPECT_EQ(sim_->OpenHandleCount(), 0u);
}

}  // namespace
}  // namespace tarven::testing
