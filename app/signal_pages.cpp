// The live signal pages ("КЭ/БФОС", "КИП/БОС", "КП(ЦАП)", "Контроллер ЭА"), refreshed by the
// status tick over its open handle, and their controls that drive outputs and DAC codes while the
// CNC is stopped.

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <span>

#include "app/edit_colour.h"
#include "app/main_form.h"
#include "device/register_operations.h"
#include "model/little_endian.h"
#include "model/signal_text.h"

namespace tarven::app {
namespace {

namespace dev = tarven::device;

// Page indexes of the live pages (their page components do not run in step: TabSheet8 is the
// encoder page, TabSheet7 the DAC page).
constexpr int kIoPage = 6;
constexpr int kEncoderPage = 7;
constexpr int kDacPage = 8;

QString FromUtf8(const std::string& text) {
  return QString::fromStdString(text);
}

QString DacVolts(std::uint32_t code) {
  return FromUtf8(model::DacVoltsText(code, QLocale().decimalPoint().toStdString()));
}

// A row's word from its check boxes, the first box bit 15.
std::uint16_t WordOf(std::span<QCheckBox* const> boxes) {
  std::uint32_t word = 0;
  for (const QCheckBox* box : boxes) word = (word << 1) | (box->isChecked() ? 1u : 0u);
  return static_cast<std::uint16_t>(word);
}

}  // namespace

void TMainForm::ShowBits(QLabel* box, std::uint16_t word) {
  box->setText(FromUtf8(model::BitsText(word)));
}

void TMainForm::ShowOctalWord(QLabel* box, std::uint16_t word) {
  box->setText(FromUtf8(model::OctalWordText(word)));
}

void TMainForm::SetUpSignalPages() {
  connect(Button6, &QPushButton::clicked, this, &TMainForm::Button6Click);
  connect(Button10, &QPushButton::clicked, this, &TMainForm::Button10Click);
  connect(Button11, &QPushButton::clicked, this, &TMainForm::Button11Click);
  connect(Button12, &QPushButton::clicked, this, &TMainForm::Button12Click);
  connect(Edit7, &QLineEdit::textChanged, this, &TMainForm::Edit7Change);
  connect(Edit8, &QLineEdit::textChanged, this, &TMainForm::Edit8Change);
  connect(Edit9, &QLineEdit::textChanged, this, &TMainForm::Edit9Change);
  connect(Edit10, &QLineEdit::textChanged, this, &TMainForm::Edit10Change);
  // The layout writes the voltage of code 0 with a point; the user's separator may be a comma.
  for (QLabel* volts : {Kp1Volts, Kp2Volts, Kp3Volts, Kp4Volts}) volts->setText(DacVolts(0));
}

void TMainForm::RefreshSignalPage(dev::Handle handle, int page, std::uint8_t run_flag,
                                  std::uint8_t ext_dac_flag) {
  // The tick has one answer buffer. It holds the status answer when the page's reads begin, and
  // every read lands in it; a read that fails leaves it as it was, and the page shows what it
  // holds. Replies are not checked here: the next tick shows the module as it is.
  model::RegisterReply buffer{};
  model::WriteLe32(buffer.data(), link_->AppModule.FirmwareVersion);
  buffer[4] = run_flag;
  buffer[5] = ext_dac_flag;
  const auto read_into = [&](std::uint16_t address, QLabel* bits, QLabel* octal) {
    dev::ReadRegisterOver(*link_, handle, address, buffer);
    ShowBits(bits, model::RegisterValue(buffer));
    ShowOctalWord(octal, model::RegisterValue(buffer));
  };

  if (page == kIoPage) {
    read_into(dev::kInputRegisters[0], In170461Bits, In170461Octal);
    read_into(dev::kInputRegisters[1], In170463Bits, In170463Octal);
    read_into(dev::kInputRegisters[2], In170465Bits, In170465Octal);
    read_into(dev::kInputRegisters[3], In170467Bits, In170467Octal);
    read_into(dev::kOutputRegisters[0], Out170462Bits, Out170462Octal);
    read_into(dev::kOutputRegisters[1], Out170464Bits, Out170464Octal);
  }

  // While the CNC runs, the encoders' changes are the CNC's: they are not read.
  if (page == kEncoderPage && run_flag == 0) {
    read_into(dev::kKip0Register, Kip0Bits, Kip0Octal);
    std::int32_t* const counters[] = {&KIP1, &KIP2, &KIP3, &KIP4};
    QLabel* const boxes[] = {Kip1Count, Kip2Count, Kip3Count, Kip4Count};
    for (std::size_t n = 0; n < 4; ++n) {
      // A counter grows only by a change that arrived: adding what a failed read left in the
      // buffer (another channel's change, or the status) would stay in the count for good.
      if (dev::ReadRegisterOver(*link_, handle, dev::kEncoderRegisters[n], buffer)) {
        *counters[n] =
            model::AddCount(*counters[n], model::CounterDelta(model::RegisterNumber(buffer)));
      }
      boxes[n]->setText(QString::number(*counters[n]));
    }
  }

  if (page == kDacPage) {
    if (ext_dac_flag == 0) dev::SendBareCommand(*link_, handle, dev::CmdExtDacOn);
    QLabel* const codes[] = {Kp1Code, Kp2Code, Kp3Code, Kp4Code};
    QLabel* const volts[] = {Kp1Volts, Kp2Volts, Kp3Volts, Kp4Volts};
    for (std::size_t n = 0; n < 4; ++n) {
      dev::ReadRegisterOver(*link_, handle, dev::kDacRegisters[n], buffer);
      codes[n]->setText(FromUtf8(model::FormatOctal(model::RegisterValue(buffer))));
      volts[n]->setText(DacVolts(model::RegisterNumber(buffer)));
    }
  } else if (ext_dac_flag == 1) {
    // The external DAC mode follows the page: off again on the first tick after leaving it.
    dev::SendBareCommand(*link_, handle, dev::CmdExtDacOff);
  }

  if (page == kEaControllerPage) {
    dev::ReadEaWordsOver(*link_, handle, dev::CmdReadEaInputs, buffer);
    const auto inputs = model::EaWords(buffer);
    QLabel* const input_bits[] = {EaIn170461Bits, EaIn170463Bits, EaIn170465Bits, EaIn170467Bits};
    QLabel* const input_octal[] = {EaIn170461Octal, EaIn170463Octal, EaIn170465Octal,
                                   EaIn170467Octal};
    for (std::size_t i = 0; i < 4; ++i) {
      ShowBits(input_bits[i], inputs[i]);
      ShowOctalWord(input_octal[i], inputs[i]);
    }
    dev::ReadEaWordsOver(*link_, handle, dev::CmdReadEaOutputs, buffer);
    const auto outputs = model::EaWords(buffer);
    ShowBits(EaOut170462Bits, outputs[0]);
    ShowOctalWord(EaOut170462Octal, outputs[0]);
    ShowBits(EaOut170464Bits, outputs[1]);
    ShowOctalWord(EaOut170464Octal, outputs[1]);
    read_into(dev::kOutputRegisters[0], HostOut170462Bits, HostOut170462Octal);
    read_into(dev::kInputRegisters[0], HostIn170461Bits, HostIn170461Octal);
  }
}

void TMainForm::Button6Click() {
  KIP1 = KIP2 = KIP3 = KIP4 = 0;
  for (QLabel* box : {Kip1Count, Kip2Count, Kip3Count, Kip4Count})
    box->setText(QStringLiteral("0"));
}

bool TMainForm::OutputsMayBeSent() const {
  return link_->AppModule.Found && proc_en == 0;
}

void TMainForm::Button10Click() {
  if (!OutputsMayBeSent()) return;
  QCheckBox* const first[] = {CheckBox1,  CheckBox2,  CheckBox3,  CheckBox4,
                              CheckBox5,  CheckBox6,  CheckBox7,  CheckBox8,
                              CheckBox9,  CheckBox10, CheckBox11, CheckBox12,
                              CheckBox13, CheckBox14, CheckBox15, CheckBox16};
  QCheckBox* const second[] = {CheckBox17, CheckBox18, CheckBox19, CheckBox20,
                               CheckBox21, CheckBox22, CheckBox23, CheckBox24,
                               CheckBox25, CheckBox26, CheckBox27, CheckBox28,
                               CheckBox29, CheckBox30, CheckBox31, CheckBox32};
  const dev::RegisterWrite writes[] = {{dev::kOutputRegisters[0], WordOf(first)},
                                       {dev::kOutputRegisters[1], WordOf(second)}};
  dev::WriteRegisters(*link_, writes);
}

void TMainForm::Button11Click() {
  if (!OutputsMayBeSent()) return;
  // The four boxes stand under the last four binary digits of КИП0: bits 3..0.
  QCheckBox* const boxes[] = {CheckBox33, CheckBox34, CheckBox35, CheckBox36};
  const dev::RegisterWrite writes[] = {{dev::kKip0Register, WordOf(boxes)}};
  dev::WriteRegisters(*link_, writes);
}

void TMainForm::Button12Click() {
  if (!OutputsMayBeSent()) return;
  const dev::RegisterWrite writes[] = {
      {dev::kDacRegisters[0], static_cast<std::uint16_t>(KP1)},
      {dev::kDacRegisters[1], static_cast<std::uint16_t>(KP2)},
      {dev::kDacRegisters[2], static_cast<std::uint16_t>(KP3)},
      {dev::kDacRegisters[3], static_cast<std::uint16_t>(KP4)},
  };
  dev::WriteRegisters(*link_, writes);
}

void TMainForm::DacEditChange(QLineEdit* edit, std::int32_t& code, const QString& text) {
  // The edit keeps the last code it accepted while its text is not an octal number.
  const model::OctalValue parsed = model::ParseOctal(text.toStdString());
  if (parsed.ok()) code = parsed.value;
  ShowTextValid(*edit, parsed.ok());
}

void TMainForm::Edit7Change(const QString& text) {
  DacEditChange(Edit7, KP1, text);
}

void TMainForm::Edit8Change(const QString& text) {
  DacEditChange(Edit8, KP2, text);
}

void TMainForm::Edit9Change(const QString& text) {
  DacEditChange(Edit9, KP3, text);
}

void TMainForm::Edit10Change(const QString& text) {
  DacEditChange(Edit10, KP4, text);
}

}  // namespace tarven::app
