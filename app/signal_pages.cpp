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
  ui_.setupUi(this);
  connect(ui_.Button10, &QPushButton::clicked, this, &IoPage::Button10Click);
  SetOutputChecksEnabled(false);
}

void IoPage::Refresh(SignalTick& tick) {
  tick.ReadInto(dev::kInputRegisters[0], ui_.In170461Bits, ui_.In170461Octal);
  tick.ReadInto(dev::kInputRegisters[1], ui_.In170463Bits, ui_.In170463Octal);
  tick.ReadInto(dev::kInputRegisters[2], ui_.In170465Bits, ui_.In170465Octal);
  tick.ReadInto(dev::kInputRegisters[3], ui_.In170467Bits, ui_.In170467Octal);
  tick.ReadInto(dev::kOutputRegisters[0], ui_.Out170462Bits, ui_.Out170462Octal);
  tick.ReadInto(dev::kOutputRegisters[1], ui_.Out170464Bits, ui_.Out170464Octal);
}

void IoPage::ShowModuleState(const ModuleState& state) {
  const bool enabled = state.ModulePresent();
  SetOutputChecksEnabled(state.OutputsEnabled());
  ui_.Button10->setEnabled(enabled);
}

void IoPage::SetOutputChecksEnabled(bool enabled) {
  QCheckBox* const boxes[] = {ui_.CheckBox1,  ui_.CheckBox2,  ui_.CheckBox3,  ui_.CheckBox4,
                              ui_.CheckBox5,  ui_.CheckBox6,  ui_.CheckBox7,  ui_.CheckBox8,
                              ui_.CheckBox9,  ui_.CheckBox10, ui_.CheckBox11, ui_.CheckBox12,
                              ui_.CheckBox13, ui_.CheckBox14, ui_.CheckBox15, ui_.CheckBox16,
                              ui_.CheckBox17, ui_.CheckBox18, ui_.CheckBox19, ui_.CheckBox20,
                              ui_.CheckBox21, ui_.CheckBox22, ui_.CheckBox23, ui_.CheckBox24,
                              ui_.CheckBox25, ui_.CheckBox26, ui_.CheckBox27, ui_.CheckBox28,
                              ui_.CheckBox29, ui_.CheckBox30, ui_.CheckBox31, ui_.CheckBox32};
  for (QCheckBox* box : boxes) box->setEnabled(enabled);
}

void IoPage::Button10Click() {
  if (!may_send_()) return;
  QCheckBox* const first[] = {ui_.CheckBox1,  ui_.CheckBox2,  ui_.CheckBox3,  ui_.CheckBox4,
                              ui_.CheckBox5,  ui_.CheckBox6,  ui_.CheckBox7,  ui_.CheckBox8,
                              ui_.CheckBox9,  ui_.CheckBox10, ui_.CheckBox11, ui_.CheckBox12,
                              ui_.CheckBox13, ui_.CheckBox14, ui_.CheckBox15, ui_.CheckBox16};
  QCheckBox* const second[] = {ui_.CheckBox17, ui_.CheckBox18, ui_.CheckBox19, ui_.CheckBox20,
                               ui_.CheckBox21, ui_.CheckBox22, ui_.CheckBox23, ui_.CheckBox24,
                               ui_.CheckBox25, ui_.CheckBox26, ui_.CheckBox27, ui_.CheckBox28,
                               ui_.CheckBox29, ui_.CheckBox30, ui_.CheckBox31, ui_.CheckBox32};
  const dev::RegisterWrite writes[] = {{dev::kOutputRegisters[0], WordOf(first)},
                                       {dev::kOutputRegisters[1], WordOf(second)}};
  dev::WriteRegisters(services_.link, writes);
}

// --- КИП/БОС ------------------------------------------------------------------------------------

EncoderPage::EncoderPage(QWidget* parent, const PageServices& services, MaySendOutputs may_send)
    : LivePage(parent), services_(services), may_send_(std::move(may_send)) {
  ui_.setupUi(this);
  connect(ui_.Button6, &QPushButton::clicked, this, &EncoderPage::Button6Click);
  connect(ui_.Button11, &QPushButton::clicked, this, &EncoderPage::Button11Click);
  SetOutputChecksEnabled(false);
}

void EncoderPage::Refresh(SignalTick& tick) {
  // While the CNC runs, the encoders' changes are the CNC's: they are not read.
  if (tick.run_flag != 0) return;
  tick.ReadInto(dev::kKip0Register, ui_.Kip0Bits, ui_.Kip0Octal);
  std::int32_t* const counters[] = {&KIP1, &KIP2, &KIP3, &KIP4};
  QLabel* const boxes[] = {ui_.Kip1Count, ui_.Kip2Count, ui_.Kip3Count, ui_.Kip4Count};
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

void EncoderPage::ShowModuleState(const ModuleState& state) {
  const bool enabled = state.ModulePresent();
  SetOutputChecksEnabled(state.OutputsEnabled());
  ui_.Button11->setEnabled(enabled);
}

void EncoderPage::SetOutputChecksEnabled(bool enabled) {
  for (QCheckBox* box : {ui_.CheckBox33, ui_.CheckBox34, ui_.CheckBox35, ui_.CheckBox36})
    box->setEnabled(enabled);
}

void EncoderPage::Button6Click() {
  KIP1 = KIP2 = KIP3 = KIP4 = 0;
  for (QLabel* box : {ui_.Kip1Count, ui_.Kip2Count, ui_.Kip3Count, ui_.Kip4Count})
    box->setText(QStringLiteral("0"));
}

void EncoderPage::Button11Click() {
  if (!may_send_()) return;
  // The four boxes stand under the last four binary digits of КИП0: bits 3..0.
  QCheckBox* const boxes[] = {ui_.CheckBox33, ui_.CheckBox34, ui_.CheckBox35, ui_.CheckBox36};
  const dev::RegisterWrite writes[] = {{dev::kKip0Register, WordOf(boxes)}};
  dev::WriteRegisters(services_.link, writes);
}

// --- КП(ЦАП) ------------------------------------------------------------------------------------

DacPage::DacPage(QWidget* parent, const PageServices& services, MaySendOutputs may_send)
    : LivePage(parent), services_(services), may_send_(std::move(may_send)) {
  ui_.setupUi(this);
  connect(ui_.Button12, &QPushButton::clicked, this, &DacPage::Button12Click);
  connect(ui_.Edit7, &QLineEdit::textChanged, this, &DacPage::Edit7Change);
  connect(ui_.Edit8, &QLineEdit::textChanged, this, &DacPage::Edit8Change);
  connect(ui_.Edit9, &QLineEdit::textChanged, this, &DacPage::Edit9Change);
  connect(ui_.Edit10, &QLineEdit::textChanged, this, &DacPage::Edit10Change);
  // The layout writes the voltage of code 0 with a point; the user's separator may be a comma.
  for (QLabel* volts : {ui_.Kp1Volts, ui_.Kp2Volts, ui_.Kp3Volts, ui_.Kp4Volts})
    volts->setText(DacVolts(0));
}

void DacPage::Refresh(SignalTick& tick) {
  if (tick.ext_dac_flag == 0) dev::SendBareCommand(tick.link, tick.handle, dev::CmdExtDacOn);
  QLabel* const codes[] = {ui_.Kp1Code, ui_.Kp2Code, ui_.Kp3Code, ui_.Kp4Code};
  QLabel* const volts[] = {ui_.Kp1Volts, ui_.Kp2Volts, ui_.Kp3Volts, ui_.Kp4Volts};
  for (std::size_t n = 0; n < 4; ++n) {
    tick.Read(dev::kDacRegisters[n]);
    codes[n]->setText(FromUtf8(model::FormatOctal(model::RegisterValue(tick.buffer))));
    volts[n]->setText(DacVolts(model::RegisterNumber(tick.buffer)));
  }
}

void DacPage::ShowModuleState(const ModuleState& state) {
  const bool enabled = state.ModulePresent();
  SetCodeEditsEnabled(state.DacEditsEnabled());
  ui_.Button12->setEnabled(enabled);
}

void DacPage::SetCodeEditsEnabled(bool enabled) {
  for (QLineEdit* edit : {ui_.Edit7, ui_.Edit8, ui_.Edit9, ui_.Edit10}) edit->setEnabled(enabled);
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
  DacEditChange(ui_.Edit7, KP1, text);
}
void DacPage::Edit8Change(const QString& text) {
  DacEditChange(ui_.Edit8, KP2, text);
}
void DacPage::Edit9Change(const QString& text) {
  DacEditChange(ui_.Edit9, KP3, text);
}
void DacPage::Edit10Change(const QString& text) {
  DacEditChange(ui_.Edit10, KP4, text);
}

// --- Контроллер ЭА ------------------------------------------------------------------------------

EaControllerPage::EaControllerPage(QWidget* parent) : LivePage(parent) {
  ui_.setupUi(this);
}

void EaControllerPage::Refresh(SignalTick& tick) {
  dev::ReadEaWordsOver(tick.link, tick.handle, dev::CmdReadEaInputs, tick.buffer);
  const auto inputs = model::EaWords(tick.buffer);
  QLabel* const input_bits[] = {ui_.EaIn170461Bits, ui_.EaIn170463Bits, ui_.EaIn170465Bits,
                                ui_.EaIn170467Bits};
  QLabel* const input_octal[] = {ui_.EaIn170461Octal, ui_.EaIn170463Octal, ui_.EaIn170465Octal,
                                 ui_.EaIn170467Octal};
  for (std::size_t i = 0; i < 4; ++i) {
    ShowBits(input_bits[i], inputs[i]);
    ShowOctalWord(input_octal[i], inputs[i]);
  }
  dev::ReadEaWordsOver(tick.link, tick.handle, dev::CmdReadEaOutputs, tick.buffer);
  const auto outputs = model::EaWords(tick.buffer);
  ShowBits(ui_.EaOut170462Bits, outputs[0]);
  ShowOctalWord(ui_.EaOut170462Octal, outputs[0]);
  ShowBits(ui_.EaOut170464Bits, outputs[1]);
  ShowOctalWord(ui_.EaOut170464Octal, outputs[1]);
  tick.ReadInto(dev::kOutputRegisters[0], ui_.HostOut170462Bits, ui_.HostOut170462Octal);
  tick.ReadInto(dev::kInputRegisters[0], ui_.HostIn170461Bits, ui_.HostIn170461Octal);
}

}  // namespace tarven::app
