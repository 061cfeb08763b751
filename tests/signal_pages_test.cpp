// The live signal pages over the simulated module: what each page's part of a status tick puts on
// the wire and on the page, the encoder counters, the external DAC following the page, and the
// buttons and edits that drive outputs and DAC codes while the CNC is stopped.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <string>
#include <utility>
#include <vector>

#include "app/main_form.h"
#include "form_fixture.h"

namespace tarven::testing {
namespace {

using app::TMainForm;

constexpr std::uint8_t kStatus = 2, kWriteRegister = 14, kReadRegister = 15, kExtDacOn = 20,
                       kExtDacOff = 21, kReadEaInputs = 22, kReadEaOutputs = 23;

using Exchange = std::pair<int, std::uint32_t>;  // command code, Param1

class SignalPagesTest : public FormTest {
 protected:
  void SetUp() override {
    FormTest::SetUp();
    module().cnc_running = false;
  }

  std::unique_ptr<TMainForm> MakeFormOnPage(int page) {
    auto form = MakeForm({"-f"});
    form->PageControl1->setCurrentIndex(page);
    EXPECT_EQ(form->PageControl1->currentIndex(), page);
    return form;
  }

  // The command frames of one tick as (code, Param1), the search's identify left out.
  std::vector<Exchange> Tick(TMainForm& form) {
    sim_->ClearLog();
    form.Timer1Timer();
    std::vector<Exchange> exchanges;
    for (const Bytes& frame : SentCommands()) exchanges.emplace_back(frame[2], Le32At(frame, 3));
    return exchanges;
  }

  std::vector<sim::RegisterWrite> WritesOf(const std::function<void()>& click) {
    module().register_writes.clear();
    click();
    return module().register_writes;
  }
};

QString Text(const char* utf8) {
  return QString::fromUtf8(utf8);
}

TEST_F(SignalPagesTest, EachPageReadsItsRegistersInOrderOverTheTicksHandle) {
  const struct {
    const char* name;
    int page;
    bool running;
    bool ext_dac;
    std::vector<Exchange> exchanges;
  } cases[] = {
      {"io",
       6,
       false,
       false,
       {{kStatus, 0},
        {kReadRegister, 0xF131},
        {kReadRegister, 0xF133},
        {kReadRegister, 0xF135},
        {kReadRegister, 0xF137},
        {kReadRegister, 0xF132},
        {kReadRegister, 0xF134}}},
      {"encoders_stopped",
       7,
       false,
       false,
       {{kStatus, 0},
        {kReadRegister, 0xF150},
        {kReadRegister, 0xF151},
        {kReadRegister, 0xF152},
        {kReadRegister, 0xF153},
        {kReadRegister, 0xF154}}},
      {"encoders_running", 7, true, false, {{kStatus, 0}}},
      {"dac_mode_off",
       8,
       false,
       false,
       {{kStatus, 0},
        {kExtDacOn, 0},
        {kReadRegister, 0xF140},
        {kReadRegister, 0xF141},
        {kReadRegister, 0xF142},
        {kReadRegister, 0xF143}}},
      {"dac_mode_on",
       8,
       true,
       true,
       {{kStatus, 0},
        {kReadRegister, 0xF140},
        {kReadRegister, 0xF141},
        {kReadRegister, 0xF142},
        {kReadRegister, 0xF143}}},
      {"ea_controller",
       9,
       false,
       false,
       {{kStatus, 0},
        {kReadEaInputs, 0},
        {kReadEaOutputs, 0},
        {kReadRegister, 0xF132},
        {kReadRegister, 0xF131}}},
      // Away from the DAC page the mode is switched off, after the page's own reads.
      {"io_dac_mode_on",
       6,
       false,
       true,
       {{kStatus, 0},
        {kReadRegister, 0xF131},
        {kReadRegister, 0xF133},
        {kReadRegister, 0xF135},
        {kReadRegister, 0xF137},
        {kReadRegister, 0xF132},
        {kReadRegister, 0xF134},
        {kExtDacOff, 0}}},
      {"encoders_running_dac_mode_on", 7, true, true, {{kStatus, 0}, {kExtDacOff, 0}}},
      {"ea_controller_dac_mode_on",
       9,
       false,
       true,
       {{kStatus, 0},
        {kExtDacOff, 0},
        {kReadEaInputs, 0},
        {kReadEaOutputs, 0},
        {kReadRegister, 0xF132},
        {kReadRegister, 0xF131}}},
      {"configuration_page_dac_mode_on", 0, false, true, {{kStatus, 0}, {kExtDacOff, 0}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto form = MakeFormOnPage(c.page);
    module().cnc_running = c.running;
    module().ext_dac = c.ext_dac;
    const std::uint64_t opens = sim_->OpenCount();
    EXPECT_EQ(Tick(*form), c.exchanges);
    EXPECT_EQ(sim_->OpenHandleCount(), 0u);
    EXPECT_EQ(sim_->OpenCount(), opens + 1) << "one search, one handle for the whole tick";
  }
}

TEST_F(SignalPagesTest, InputAndOutputWordsShowInBinaryAndOctal) {
  auto form = MakeFormOnPage(6);
  module().registers[0xF131] = 0x8001;
  module().registers[0xF133] = 0x0001;
  module().registers[0xF135] = 0xFFFF;
  module().registers[0xF137] = 0x0000;
  module().registers[0xF132] = 0x8000;
  module().registers[0xF134] = 0x00A5;
  Tick(*form);
  const struct {
    QLabel* bits;
    QLabel* octal;
    const char* bits_text;
    const char* octal_text;
  } rows[] = {
      {Child<QLabel>(form->Io(), "In170461Bits"), Child<QLabel>(form->Io(), "In170461Octal"),
       "1 0 0 0 0 0 0 0 0 0 0 0 0 0 0 1 ", "100001"},
      {Child<QLabel>(form->Io(), "In170463Bits"), Child<QLabel>(form->Io(), "In170463Octal"),
       "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 1 ", "000001"},
      {Child<QLabel>(form->Io(), "In170465Bits"), Child<QLabel>(form->Io(), "In170465Octal"),
       "1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 ", "177777"},
      {Child<QLabel>(form->Io(), "In170467Bits"), Child<QLabel>(form->Io(), "In170467Octal"),
       "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 ", "000000"},
      {Child<QLabel>(form->Io(), "Out170462Bits"), Child<QLabel>(form->Io(), "Out170462Octal"),
       "1 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 ", "100000"},
      {Child<QLabel>(form->Io(), "Out170464Bits"), Child<QLabel>(form->Io(), "Out170464Octal"),
       "0 0 0 0 0 0 0 0 1 0 1 0 0 1 0 1 ", "000245"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.bits->text(), Text(row.bits_text)) << row.bits->objectName().toStdString();
    EXPECT_EQ(row.octal->text(), Text(row.octal_text)) << row.octal->objectName().toStdString();
  }
  // The other pages keep what they showed.
  EXPECT_EQ(Child<QLabel>(form->EaController(), "EaIn170461Octal")->text(),
            QStringLiteral("000000"));
}

TEST_F(SignalPagesTest, CountersAccumulateEncoderChangesOnlyWhileTheCncIsStopped) {
  auto form = MakeFormOnPage(7);
  module().registers[0xF150] = 0x000A;
  module().MoveEncoder(1, 5);
  module().MoveEncoder(2, -1);
  module().MoveEncoder(3, 40000);  // more than one read can report
  module().MoveEncoder(4, -32768);
  Tick(*form);
  EXPECT_EQ(Child<QLabel>(form->Encoders(), "Kip0Bits")->text(),
            Text("0 0 0 0 0 0 0 0 0 0 0 0 1 0 1 0 "));
  EXPECT_EQ(Child<QLabel>(form->Encoders(), "Kip0Octal")->text(), QStringLiteral("000012"));
  EXPECT_EQ((std::vector<std::int32_t>{form->Encoders().KIP1, form->Encoders().KIP2,
                                       form->Encoders().KIP3, form->Encoders().KIP4}),
            (std::vector<std::int32_t>{5, -1, 32767, -32768}));
  EXPECT_EQ(Child<QLabel>(form->Encoders(), "Kip4Count")->text(), QStringLiteral("-32768"));

  Tick(*form);
  EXPECT_EQ(form->Encoders().KIP3, 40000);
  EXPECT_EQ(Child<QLabel>(form->Encoders(), "Kip3Count")->text(), QStringLiteral("40000"));

  // While the CNC runs the page is not refreshed and the changes stay with the module.
  module().cnc_running = true;
  module().MoveEncoder(1, 100);
  Tick(*form);
  Tick(*form);
  EXPECT_EQ(form->Encoders().KIP1, 5);
  EXPECT_EQ(Child<QLabel>(form->Encoders(), "Kip1Count")->text(), QStringLiteral("5"));
  module().cnc_running = false;
  Tick(*form);
  EXPECT_EQ(form->Encoders().KIP1, 105);

  // Another page: the counters keep their values.
  form->PageControl1->setCurrentIndex(6);
  module().MoveEncoder(1, 1);
  Tick(*form);
  EXPECT_EQ(form->Encoders().KIP1, 105);
}

TEST_F(SignalPagesTest, CountersWrapAroundAndResetWithoutTheModule) {
  auto form = MakeFormOnPage(7);
  form->Encoders().KIP2 = INT32_MAX;
  module().MoveEncoder(2, 1);
  Tick(*form);
  EXPECT_EQ(form->Encoders().KIP2, INT32_MIN);
  EXPECT_EQ(Child<QLabel>(form->Encoders(), "Kip2Count")->text(), QStringLiteral("-2147483648"));

  sim_->Unplug();
  form->Timer1Timer();
  sim_->ClearLog();
  Child<QPushButton>(form->Encoders(), "Button6")->click();
  EXPECT_EQ((std::vector<std::int32_t>{form->Encoders().KIP1, form->Encoders().KIP2,
                                       form->Encoders().KIP3, form->Encoders().KIP4}),
            (std::vector<std::int32_t>{0, 0, 0, 0}));
  for (const QLabel* box :
       {Child<QLabel>(form->Encoders(), "Kip1Count"), Child<QLabel>(form->Encoders(), "Kip2Count"),
        Child<QLabel>(form->Encoders(), "Kip3Count"),
        Child<QLabel>(form->Encoders(), "Kip4Count")}) {
    EXPECT_EQ(box->text(), QStringLiteral("0"));
  }
  EXPECT_TRUE(sim_->log().empty()) << "the reset does not talk to the module";
}

TEST_F(SignalPagesTest, AnEncoderReadThatFailsAddsNothing) {
  auto form = MakeFormOnPage(7);
  module().MoveEncoder(1, 3);
  module().MoveEncoder(2, 7);
  // Fetches of the tick: identify, status, КИП0, КИП1, КИП2...
  sim_->RefuseNthFetch(5);
  Tick(*form);
  EXPECT_EQ(form->Encoders().KIP1, 3);
  EXPECT_EQ(form->Encoders().KIP2, 0) << "the buffer still held КИП1's change";
  EXPECT_EQ(sim_->OpenHandleCount(), 0u);
}

TEST_F(SignalPagesTest, DacCodesAndVoltsInTheUsersDecimalSeparator) {
  const struct {
    std::uint32_t code;
    const char* octal;
    const char* volts;
  } cases[] = {
      {0x0000, "0", "0.000"},       {0x0001, "1", "0.005"},        {0x0400, "2000", "5.002"},
      {0x07FF, "3777", "10.000"},   {0x8000, "100000", "-10.005"}, {0x8400, "102000", "-5.002"},
      {0x87FF, "103777", "-0.005"}, {0xFFFF, "177777", "—"},
  };
  for (const char* locale : {"C", "ru_RU"}) {
    SCOPED_TRACE(locale);
    QLocale::setDefault(QLocale(QString::fromLatin1(locale)));
    auto form = MakeFormOnPage(8);
    QLabel* const codes[] = {
        Child<QLabel>(form->Dac(), "Kp1Code"), Child<QLabel>(form->Dac(), "Kp2Code"),
        Child<QLabel>(form->Dac(), "Kp3Code"), Child<QLabel>(form->Dac(), "Kp4Code")};
    QLabel* const volts[] = {
        Child<QLabel>(form->Dac(), "Kp1Volts"), Child<QLabel>(form->Dac(), "Kp2Volts"),
        Child<QLabel>(form->Dac(), "Kp3Volts"), Child<QLabel>(form->Dac(), "Kp4Volts")};
    const QString comma = QString::fromLatin1(locale) == "ru_RU" ? "," : ".";
    EXPECT_EQ(Child<QLabel>(form->Dac(), "Kp1Volts")->text(),
              QStringLiteral("0") + comma + QStringLiteral("000"));
    for (std::size_t first = 0; first < std::size(cases); first += 4) {
      for (std::size_t n = 0; n < 4 && first + n < std::size(cases); ++n) {
        module().registers[static_cast<std::uint16_t>(0xF140 + n)] = cases[first + n].code;
      }
      Tick(*form);
      for (std::size_t n = 0; n < 4 && first + n < std::size(cases); ++n) {
        const auto& c = cases[first + n];
        EXPECT_EQ(codes[n]->text(), Text(c.octal)) << c.code;
        EXPECT_EQ(volts[n]->text(), Text(c.volts).replace(".", comma)) << c.code;
      }
    }
  }
  QLocale::setDefault(QLocale::c());
}

TEST_F(SignalPagesTest, ExternalDacFollowsThePageOneTickLate) {
  auto form = MakeFormOnPage(8);
  const auto sent = [](const std::vector<Exchange>& exchanges, int code) {
    return std::count_if(exchanges.begin(), exchanges.end(),
                         [code](const Exchange& e) { return e.first == code; });
  };
  // On the page: switched on at the first tick; the window sees it on at the next one.
  EXPECT_EQ(sent(Tick(*form), kExtDacOn), 1);
  EXPECT_TRUE(module().ext_dac);
  EXPECT_EQ(form->ext_dac_en, 0u);
  EXPECT_FALSE(Child<QLineEdit>(form->Dac(), "Edit7")->isEnabled());
  EXPECT_EQ(sent(Tick(*form), kExtDacOn), 0);
  EXPECT_EQ(form->ext_dac_en, 1u);
  EXPECT_TRUE(Child<QLineEdit>(form->Dac(), "Edit7")->isEnabled());

  // Left: switched off at the next tick, seen off one tick later.
  form->PageControl1->setCurrentIndex(6);
  EXPECT_EQ(sent(Tick(*form), kExtDacOff), 1);
  EXPECT_FALSE(module().ext_dac);
  EXPECT_EQ(form->ext_dac_en, 1u);
  EXPECT_EQ(sent(Tick(*form), kExtDacOff), 0);
  EXPECT_EQ(form->ext_dac_en, 0u);
  EXPECT_FALSE(Child<QLineEdit>(form->Dac(), "Edit7")->isEnabled());
}

TEST_F(SignalPagesTest, EaControllerPageShowsTheControllersWordsAndTheHostRegisters) {
  auto form = MakeFormOnPage(9);
  module().ea_inputs = {0x8001, 0x0002, 0x0004, 0xFFFF};
  module().ea_outputs = {0x0010, 0x0020, 0x1111, 0x2222};
  module().registers[0xF132] = 0x0100;
  module().registers[0xF131] = 0x0200;
  Tick(*form);
  const std::pair<QLabel*, const char*> octal[] = {
      {Child<QLabel>(form->EaController(), "EaIn170461Octal"), "100001"},
      {Child<QLabel>(form->EaController(), "EaIn170463Octal"), "000002"},
      {Child<QLabel>(form->EaController(), "EaIn170465Octal"), "000004"},
      {Child<QLabel>(form->EaController(), "EaIn170467Octal"), "177777"},
      {Child<QLabel>(form->EaController(), "EaOut170462Octal"), "000020"},
      {Child<QLabel>(form->EaController(), "EaOut170464Octal"), "000040"},
      {Child<QLabel>(form->EaController(), "HostOut170462Octal"), "000400"},
      {Child<QLabel>(form->EaController(), "HostIn170461Octal"), "001000"},
  };
  for (const auto& [box, text] : octal) {
    EXPECT_EQ(box->text(), Text(text)) << box->objectName().toStdString();
  }
  EXPECT_EQ(Child<QLabel>(form->EaController(), "EaIn170461Bits")->text(),
            Text("1 0 0 0 0 0 0 0 0 0 0 0 0 0 0 1 "));
  EXPECT_EQ(Child<QLabel>(form->EaController(), "HostIn170461Bits")->text(),
            Text("0 0 0 0 0 0 1 0 0 0 0 0 0 0 0 0 "));
}

TEST_F(SignalPagesTest, OutputWordsFromTheTickedBoxesAppearOnThePageAtTheNextTick) {
  auto form = MakeFormOnPage(6);
  Tick(*form);
  ASSERT_EQ(form->proc_en, 0u);
  std::vector<QCheckBox*> boxes;
  for (int i = 1; i <= 32; ++i) {
    boxes.push_back(form->findChild<QCheckBox*>(QStringLiteral("CheckBox%1").arg(i)));
  }
  const struct {
    const char* name;
    std::vector<int> ticked;
    std::uint32_t first;
    std::uint32_t second;
  } cases[] = {
      {"only_the_first", {1}, 0x8000, 0},
      {"only_the_last", {32}, 0, 1},
      {"bit_0_and_bit_15_of_the_second", {16, 17}, 1, 0x8000},
      {"all", {}, 0xFFFF, 0xFFFF},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (std::size_t i = 0; i < boxes.size(); ++i) {
      const bool tick = c.ticked.empty() ||
                        std::find(c.ticked.begin(), c.ticked.end(), int(i) + 1) != c.ticked.end();
      boxes[i]->setChecked(tick);
    }
    EXPECT_EQ(WritesOf([&] { Child<QPushButton>(form->Io(), "Button10")->click(); }),
              (std::vector<sim::RegisterWrite>{{0xF132, c.first}, {0xF134, c.second}}));
    Tick(*form);
    EXPECT_EQ(Child<QLabel>(form->Io(), "Out170462Octal")->text(),
              QString::number(c.first, 8).rightJustified(6, QLatin1Char('0')));
    EXPECT_EQ(Child<QLabel>(form->Io(), "Out170464Octal")->text(),
              QString::number(c.second, 8).rightJustified(6, QLatin1Char('0')));
  }
  EXPECT_EQ(sim_->OpenHandleCount(), 0u);
  EXPECT_EQ(form->HidHandle, device::kInvalidHandle);
}

TEST_F(SignalPagesTest, Kip0BitsGoToTheLowFourBits) {
  auto form = MakeFormOnPage(7);
  Tick(*form);
  QCheckBox* const boxes[] = {Child<QCheckBox>(form->Encoders(), "CheckBox33"),
                              Child<QCheckBox>(form->Encoders(), "CheckBox34"),
                              Child<QCheckBox>(form->Encoders(), "CheckBox35"),
                              Child<QCheckBox>(form->Encoders(), "CheckBox36")};
  const struct {
    std::vector<bool> ticked;
    std::uint32_t word;
  } cases[] = {
      {{true, false, false, false}, 8},
      {{false, false, false, true}, 1},
      {{true, true, true, true}, 15},
      {{false, false, false, false}, 0},
  };
  for (const auto& c : cases) {
    for (std::size_t i = 0; i < 4; ++i) boxes[i]->setChecked(c.ticked[i]);
    EXPECT_EQ(WritesOf([&] { Child<QPushButton>(form->Encoders(), "Button11")->click(); }),
              (std::vector<sim::RegisterWrite>{{0xF150, c.word}}));
  }
}

TEST_F(SignalPagesTest, CodeEditsKeepTheLastValidCodeAndShowInvalidTextInRed) {
  auto form = MakeFormOnPage(8);
  const QColor red(255, 0, 0);
  const struct {
    const char* text;
    bool valid;
    std::int32_t code;  // KP1 afterwards
  } steps[] = {
      {"7", true, 7},           {"10", true, 8},       {"3777", true, 0x7FF},
      {"100000", true, 0x8000}, {"8", false, 0x8000},  {"177777", true, 0xFFFF},
      {"19", false, 0xFFFF},    {"-1", false, 0xFFFF}, {"12 ", false, 0xFFFF},
      {"", false, 0xFFFF},      {"200000", true, 0},   {"Ю", false, 0},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(std::string("\"") + step.text + "\"");
    Child<QLineEdit>(form->Dac(), "Edit7")->setText(Text(step.text));
    EXPECT_EQ(form->Dac().KP1, step.code);
    EXPECT_EQ(Child<QLineEdit>(form->Dac(), "Edit7")->palette().color(QPalette::Text) == red,
              !step.valid);
  }
  // Each edit feeds its own code.
  Child<QLineEdit>(form->Dac(), "Edit8")->setText(QStringLiteral("1"));
  Child<QLineEdit>(form->Dac(), "Edit9")->setText(QStringLiteral("2"));
  Child<QLineEdit>(form->Dac(), "Edit10")->setText(QStringLiteral("3"));
  EXPECT_EQ((std::vector<std::int32_t>{form->Dac().KP1, form->Dac().KP2, form->Dac().KP3,
                                       form->Dac().KP4}),
            (std::vector<std::int32_t>{0, 1, 2, 3}));
}

TEST_F(SignalPagesTest, DacCodesAreSentInChannelOrderAndShownAtTheNextTick) {
  auto form = MakeFormOnPage(8);
  Tick(*form);
  Tick(*form);
  ASSERT_TRUE(Child<QLineEdit>(form->Dac(), "Edit7")->isEnabled());
  Child<QLineEdit>(form->Dac(), "Edit7")->setText(QStringLiteral("3777"));
  Child<QLineEdit>(form->Dac(), "Edit8")->setText(QStringLiteral("100000"));
  Child<QLineEdit>(form->Dac(), "Edit9")->setText(QStringLiteral("1"));
  Child<QLineEdit>(form->Dac(), "Edit9")
      ->setText(QStringLiteral("8"));  // red: the last valid code goes
  Child<QLineEdit>(form->Dac(), "Edit10")->setText(QStringLiteral("103777"));
  EXPECT_EQ(WritesOf([&] { Child<QPushButton>(form->Dac(), "Button12")->click(); }),
            (std::vector<sim::RegisterWrite>{
                {0xF140, 0x7FF}, {0xF141, 0x8000}, {0xF142, 1}, {0xF143, 0x87FF}}));
  Tick(*form);
  EXPECT_EQ(Child<QLabel>(form->Dac(), "Kp1Code")->text(), QStringLiteral("3777"));
  EXPECT_EQ(Child<QLabel>(form->Dac(), "Kp1Volts")->text(), QStringLiteral("10.000"));
  EXPECT_EQ(Child<QLabel>(form->Dac(), "Kp2Volts")->text(), QStringLiteral("-10.005"));
  EXPECT_EQ(Child<QLabel>(form->Dac(), "Kp4Volts")->text(), QStringLiteral("-0.005"));
}

TEST_F(SignalPagesTest, NoButtonSendsAnythingWhileTheCncRunsOrWithoutAModule) {
  auto form = MakeFormOnPage(6);
  for (int i = 1; i <= 36; ++i) {
    form->findChild<QCheckBox*>(QStringLiteral("CheckBox%1").arg(i))->setChecked(true);
  }
  Child<QLineEdit>(form->Dac(), "Edit7")->setText(QStringLiteral("3777"));
  const auto click_all = [&] {
    sim_->ClearLog();
    form->Button10Click();
    form->Button11Click();
    form->Button12Click();
  };

  // Nothing found yet.
  click_all();
  EXPECT_TRUE(sim_->log().empty());

  module().cnc_running = true;
  Tick(*form);
  ASSERT_EQ(form->proc_en, 1u);
  click_all();
  EXPECT_TRUE(sim_->log().empty()) << "the CNC runs";
  EXPECT_FALSE(Child<QCheckBox>(form->Io(), "CheckBox1")->isEnabled());

  module().cnc_running = false;
  Tick(*form);
  sim_->Unplug();
  Tick(*form);
  click_all();
  EXPECT_TRUE(SentCommands().empty()) << "gone since the last tick";
  EXPECT_TRUE(module().register_writes.empty());
}

// A tick whose status answer is lost shows the CNC as stopped (its run flag reads 0) while it may
// run: the controls follow that presentation, but the sends wait for a tick that read the flag,
// and tell the user why nothing went.
TEST_F(SignalPagesTest, SendsWaitForATickThatReadTheRunFlag) {
  auto form = MakeFormOnPage(6);
  Child<QCheckBox>(form->Io(), "CheckBox1")->setChecked(true);
  Child<QCheckBox>(form->Encoders(), "CheckBox36")->setChecked(true);
  Child<QLineEdit>(form->Dac(), "Edit7")->setText(QStringLiteral("3777"));
  module().cnc_running = true;
  Tick(*form);
  ASSERT_EQ(form->proc_en, 1u);

  sim_->RefuseNthFetch(2);  // the identify's answer, then the status's
  Tick(*form);
  ASSERT_EQ(form->StaticText7->text(), QStringLiteral("подключен"));
  EXPECT_EQ(form->proc_en, 0u);
  EXPECT_EQ(form->Button8->text(), QStringLiteral("Запустить УЧПУ"));
  EXPECT_TRUE(Child<QCheckBox>(form->Io(), "CheckBox1")->isEnabled());

  const QString unknown = QStringLiteral("Состояние УЧПУ неизвестно: команда не отправлена.");
  const struct {
    const char* name;
    QPushButton* button;
    std::vector<sim::RegisterWrite> writes;  // once the run flag was read with the CNC stopped
  } sends[] = {
      {"outputs", Child<QPushButton>(form->Io(), "Button10"), {{0xF132, 0x8000}, {0xF134, 0}}},
      {"КИП0", Child<QPushButton>(form->Encoders(), "Button11"), {{0xF150, 1}}},
      {"DAC codes",
       Child<QPushButton>(form->Dac(), "Button12"),
       {{0xF140, 0x7FF}, {0xF141, 0}, {0xF142, 0}, {0xF143, 0}}},
  };
  for (const auto& send : sends) {
    SCOPED_TRACE(send.name);
    ASSERT_TRUE(send.button->isEnabled());
    const std::size_t asked_before = dialogs().asked().size();
    dialogs().AcknowledgeMessage();
    sim_->ClearLog();
    EXPECT_TRUE(WritesOf([&] { send.button->click(); }).empty());
    EXPECT_TRUE(sim_->log().empty()) << "nothing goes on the wire";
    ASSERT_EQ(dialogs().asked().size(), asked_before + 1);
    EXPECT_EQ(dialogs().asked().back().text, unknown);
    EXPECT_EQ(dialogs().asked().back().caption, form->windowTitle());
  }

  module().cnc_running = false;
  Tick(*form);
  ASSERT_EQ(form->proc_en, 0u);
  const std::size_t asked_before = dialogs().asked().size();
  for (const auto& send : sends) {
    SCOPED_TRACE(send.name);
    EXPECT_EQ(WritesOf([&] { send.button->click(); }), send.writes);
  }
  EXPECT_EQ(dialogs().asked().size(), asked_before) << "the sends work and say nothing";
}

TEST_F(SignalPagesTest, RowLabelsReadAsOnTheController) {
  auto form = MakeForm({"-f"});
  const std::pair<QLabel*, const char*> labels[] = {
      {Child<QLabel>(form->Io(), "In170461Label"), "170461"},
      {Child<QLabel>(form->Io(), "Out170464Label"), "170464"},
      {Child<QLabel>(form->Encoders(), "Kip0Label"), "Канал КИП0  170520"},
      {Child<QLabel>(form->Encoders(), "Kip1Label"), "Канал КИП1 (X) 170521"},
      {Child<QLabel>(form->Encoders(), "Kip2Label"), "Канал КИП2 (Z) 170522"},
      {Child<QLabel>(form->Encoders(), "Kip3Label"), "Канал КИП3 (S) 170523"},
      {Child<QLabel>(form->Encoders(), "Kip4Label"), "Канал КИП4 (M) 170524"},
      {Child<QLabel>(form->Encoders(), "CountersHeading"), "Счетчики (дес)"},
      {Child<QLabel>(form->Dac(), "Kp1Label"), "Канал КП1 (X) 170500"},
      {Child<QLabel>(form->Dac(), "Kp2Label"), "Канал КП2 (Z) 170501"},
      {Child<QLabel>(form->Dac(), "Kp3Label"), "Канал КП3  170502"},
      {Child<QLabel>(form->Dac(), "Kp4Label"), "Канал КП4 (S) 170503"},
      {Child<QLabel>(form->Dac(), "DacCodeHeading"), "oct"},
      {Child<QLabel>(form->Dac(), "Kp1Unit"), "В"},
      {Child<QLabel>(form->EaController(), "HostOut170462Label"), "Выход"},
      {Child<QLabel>(form->EaController(), "HostIn170461Label"), "Вход"},
  };
  for (const auto& [label, text] : labels) {
    EXPECT_EQ(label->text(), Text(text)) << label->objectName().toStdString();
  }
  EXPECT_EQ(Child<QGroupBox>(form->EaController(), "EaHostGroup")->title(), Text("НЦ-31"));
  EXPECT_EQ(Child<QPushButton>(form->Encoders(), "Button6")->text(), Text("Сбросить счетчики"));
  for (const QLineEdit* edit :
       {Child<QLineEdit>(form->Dac(), "Edit7"), Child<QLineEdit>(form->Dac(), "Edit8"),
        Child<QLineEdit>(form->Dac(), "Edit9"), Child<QLineEdit>(form->Dac(), "Edit10")}) {
    EXPECT_EQ(edit->text(), QStringLiteral("0"));
  }
  EXPECT_EQ(Child<QLabel>(form->Io(), "In170461Bits")->text(),
            Text("0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0"));
  EXPECT_EQ(Child<QLabel>(form->Encoders(), "Kip1Count")->text(), QStringLiteral("0"));
}

}  // namespace
}  // namespace tarven::testing
