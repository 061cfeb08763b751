#include "app/signal_pages.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <span>

#include "app/edit_colour.h"
#include "device/register_operations.h"
#include "model/little_endian.h"

namespace tarven::app {
namespace {

namespace dev = tarven::device;

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

void ShowBits(QLabel* box, std::uint16_t word) {
  box->setText(FromUtf8(model::BitsText(word)));
}

void ShowOctalWord(QLabel* box, std::uint16_t word) {
  box->setText(FromUtf8(model::OctalWordText(word)));
}

bool SignalTick::Read(std::uint16_t address) {
  return dev::ReadRegisterOver(link, handle, address, buffer);
}

void SignalTick::ReadInto(std::uint16_t address, QLabel* bits, QLabel* octal) {
  Read(address);
  ShowBits(bits, model::RegisterValue(buffer));
  ShowOctalWord(octal, model::RegisterValue(buffer));
}

// --- КЭ/БФОС ------------------------------------------------------------------------------------

IoPage::IoPage(QWidget* parent, const PageServices& services, MaySendOutputs may_send)
    : LivePage(parent), services_(services), may_send_(std::move(may_send)) {
  setupUi(this);
  connect(Button10, &QPushButton::clicked, this, &IoPage::Button10Click);
  SetOutputChecksEnabled(false);
}

void IoPage::Refresh(SignalTick& tick) {
  tick.ReadInto(dev::kInputRegisters[0], In170461Bits, In170461Octal);
  tick.ReadInto(dev::kInputRegisters[1], In170463Bits, In170463Octal);
  tick.ReadInto(dev::kInputRegisters[2], In170465Bits, In170465Octal);
  tick.ReadInto(dev::kInputRegisters[3], In170467Bits, In170467Octal);
  tick.ReadInto(dev::kOutputRegisters[0], Out170462Bits, Out170462Octal);
  tick.ReadInto(dev::kOutputRegisters[1], Out170464Bits, Out170464Octal);
}

void IoPage::SetModuleControlsEnabled(bool enabled) {
  Button10->setEnabled(enabled);
}

void IoPage::SetOutputChecksEnabled(bool enabled) {
  QCheckBox* const boxes[] = {CheckBox1,  CheckBox2,  CheckBox3,  CheckBox4,  CheckBox5,
                              CheckBox6,  CheckBox7,  CheckBox8,  CheckBox9,  CheckBox10,
                              CheckBox11, CheckBox12, CheckBox13, CheckBox14, CheckBox15,
                              CheckBox16, CheckBox17, CheckBox18, CheckBox19, CheckBox20,
                              CheckBox21, CheckBox22, CheckBox23, CheckBox24, CheckBox25,
                              CheckBox26, CheckBox27, CheckBox28, CheckBox29, CheckBox30,
                              CheckBox31, CheckBox32};
  for (QCheckBox* box : boxes) box->setEnabled(enabled);
}

void IoPage::Button10Click() {
  if (!may_send_()) return;
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
  dev::WriteRegisters(services_.link, writes);
}

// --- КИП/БОС ------------------------------------------------------------------------------------

EncoderPage::EncoderPage(QWidget* parent, const PageServices& services, MaySendOutputs may_send)
    : LivePage(parent), services_(services), may_send_(std::move(may_send)) {
  setupUi(this);
  connect(Button6, &QPushButton::clicked, this, &EncoderPage::Button6Click);
  connect(Button11, &QPushButton::clicked, this, &EncoderPage::Button11Click);
  SetOutputChecksEnabled(false);
}

void EncoderPage::Refresh(SignalTick& tick) {
  // While the CNC runs, the encoders' changes are the CNC's: they are not read.
  if (tick.run_flag != 0) return;
  tick.ReadInto(dev::kKip0Register, Kip0Bits, Kip0Octal);
  std::int32_t* const counters[] = {&KIP1, &KIP2, &KIP3, &KIP4};
  QLabel* const boxes[] = {Kip1Count, Kip2Count, Kip3Count, Kip4Count};
  for (std::size_t n = 0; n < 4; ++n) {
    // A counter grows only by a change that arrived: adding what a failed read left in the
    // buffer (another channel's change, or the status) would stay in the count for good.
    if (tick.Read(dev::kEncoderRegisters[n])) {
      *counters[n] =
          model::AddCount(*counters[n], model::CounterDelta(model::RegisterNumber(tick.buffer)));
    }
    boxes[n]->setText(QString::number(*counters[n]));
  }
}

void EncoderPage::SetModuleControlsEnabled(bool enabled) {
  Button11->setEnabled(enabled);
}

void EncoderPage::SetOutputChecksEnabled(bool enabled) {
  for (QCheckBox* box : {CheckBox33, CheckBox34, CheckBox35, CheckBox36}) box->setEnabled(enabled);
}

void EncoderPage::Button6Click() {
  KIP1 = KIP2 = KIP3 = KIP4 = 0;
  for (QLabel* box : {Kip1Count, Kip2Count, Kip3Count, Kip4Count})
    box->setText(QStringLiteral("0"));
}

void EncoderPage::Button11Click() {
  if (!may_send_()) return;
  // The four boxes stand under the last four binary digits of КИП0: bits 3..0.
  QCheckBox* const boxes[] = {CheckBox33, CheckBox34, CheckBox35, CheckBox36};
  const dev::RegisterWrite writes[] = {{dev::kKip0Register, WordOf(boxes)}};
  dev::WriteRegisters(services_.link, writes);
}

// --- КП(ЦАП) ------------------------------------------------------------------------------------

DacPage::DacPage(QWidget* parent, const PageServices& services, MaySendOutputs may_send)
    : LivePage(parent), services_(services), may_send_(std::move(may_send)) {
  setupUi(this);
  connect(Button12, &QPushButton::clicked, this, &DacPage::Button12Click);
  connect(Edit7, &QLineEdit::textChanged, this, &DacPage::Edit7Change);
  connect(Edit8, &QLineEdit::textChanged, this, &DacPage::Edit8Change);
  connect(Edit9, &QLineEdit::textChanged, this, &DacPage::Edit9Change);
  connect(Edit10, &QLineEdit::textChanged, this, &DacPage::Edit10Change);
  // The layout writes the voltage of code 0 with a point; the user's separator may be a comma.
  for (QLabel* volts : {Kp1Volts, Kp2Volts, Kp3Volts, Kp4Volts}) volts->setText(DacVolts(0));
}

void DacPage::Refresh(SignalTick& tick) {
  if (tick.ext_dac_flag == 0) dev::SendBareCommand(tick.link, tick.handle, dev::CmdExtDacOn);
  QLabel* const codes[] = {Kp1Code, Kp2Code, Kp3Code, Kp4Code};
  QLabel* const volts[] = {Kp1Volts, Kp2Volts, Kp3Volts, Kp4Volts};
  for (std::size_t n = 0; n < 4; ++n) {
    tick.Read(dev::kDacRegisters[n]);
    codes[n]->setText(FromUtf8(model::FormatOctal(model::RegisterValue(tick.buffer))));
    volts[n]->setText(DacVolts(model::RegisterNumber(tick.buffer)));
  }
}

void DacPage::SetModuleControlsEnabled(bool enabled) {
  Button12->setEnabled(enabled);
}

void DacPage::SetCodeEditsEnabled(bool enabled) {
  for (QLineEdit* edit : {Edit7, Edit8, Edit9, Edit10}) edit->setEnabled(enabled);
}

void DacPage::Button12Click() {
  if (!may_send_()) return;
  const dev::RegisterWrite writes[] = {
      {dev::kDacRegisters[0], static_cast<std::uint16_t>(KP1)},
      {dev::kDacRegisters[1], static_cast<std::uint16_t>(KP2)},
      {dev::kDacRegisters[2], static_cast<std::uint16_t>(KP3)},
      {dev::kDacRegisters[3], static_cast<std::uint16_t>(KP4)},
  };
  dev::WriteRegisters(services_.link, writes);
}

void DacPage::DacEditChange(QLineEdit* edit, std::int32_t& code, const QString& text) {
  // The edit keeps the last code it accepted while its text is not an octal number.
  const model::OctalValue parsed = model::ParseOctal(text.toStdString());
  if (parsed.ok()) code = parsed.value;
  ShowTextValid(*edit, parsed.ok());
}

void DacPage::Edit7Change(const QString& text) {
  DacEditChange(Edit7, KP1, text);
}
void DacPage::Edit8Change(const QString& text) {
  DacEditChange(Edit8, KP2, text);
}
void DacPage::Edit9Change(const QString& text) {
  DacEditChange(Edit9, KP3, text);
}
void DacPage::Edit10Change(const QString& text) {
  DacEditChange(Edit10, KP4, text);
}

// --- Контроллер ЭА ------------------------------------------------------------------------------

EaControllerPage::EaControllerPage(QWidget* parent) : LivePage(parent) {
  setupUi(this);
}

void EaControllerPage::Refresh(SignalTick& tick) {
  dev::ReadEaWordsOver(tick.link, tick.handle, dev::CmdReadEaInputs, tick.buffer);
  const auto inputs = model::EaWords(tick.buffer);
  QLabel* const input_bits[] = {EaIn170461Bits, EaIn170463Bits, EaIn170465Bits, EaIn170467Bits};
  QLabel* const input_octal[] = {EaIn170461Octal, EaIn170463Octal, EaIn170465Octal,
                                 EaIn170467Octal};
  for (std::size_t i = 0; i < 4; ++i) {
    ShowBits(input_bits[i], inputs[i]);
    ShowOctalWord(input_octal[i], inputs[i]);
  }
  dev::ReadEaWordsOver(tick.link, tick.handle, dev::CmdReadEaOutputs, tick.buffer);
  const auto outputs = model::EaWords(tick.buffer);
  ShowBits(EaOut170462Bits, outputs[0]);
  ShowOctalWord(EaOut170462Octal, outputs[0]);
  ShowBits(EaOut170464Bits, outputs[1]);
  ShowOctalWord(EaOut170464Octal, outputs[1]);
  tick.ReadInto(dev::kOutputRegisters[0], HostOut170462Bits, HostOut170462Octal);
  tick.ReadInto(dev::kInputRegisters[0], HostIn170461Bits, HostIn170461Octal);
}

}  // namespace tarven::app
