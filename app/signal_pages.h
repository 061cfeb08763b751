#pragma once
// The live signal pages "КЭ/БФОС", "КИП/БОС", "КП(ЦАП)" and "Контроллер ЭА". The status tick
// refreshes the page on top over its open handle; the pages' controls drive outputs and DAC codes
// while the CNC is stopped.

#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>

#include "app/page_services.h"
#include "device/device.h"
#include "model/signal_text.h"
#include "ui_tab_sheet6.h"
#include "ui_tab_sheet7.h"
#include "ui_tab_sheet8.h"
#include "ui_tab_sheet9.h"

class QCheckBox;
class QLabel;
class QLineEdit;

namespace tarven::app {

// A register word into its binary box (16 digits, each followed by a space) and its octal box
// (six digits).
void ShowBits(QLabel* box, std::uint16_t word);
void ShowOctalWord(QLabel* box, std::uint16_t word);

// What a page's refresh works with: the tick's open handle, this tick's flags and the tick's one
// answer buffer. The buffer holds the status answer when the page's reads begin, and every read
// lands in it; a read that fails leaves it as it was, and the page shows what it holds. Replies are
// not checked: the next tick shows the module as it is.
struct SignalTick {
  device::Link& link;
  device::Handle handle;
  std::uint8_t run_flag;
  std::uint8_t ext_dac_flag;
  model::RegisterReply buffer{};

  // Reads a register into the buffer; false when the read failed.
  bool Read(std::uint16_t address);
  // Reads a register and shows the buffer's word in a binary and an octal box.
  void ReadInto(std::uint16_t address, QLabel* bits, QLabel* octal);
};

// A page that the status tick refreshes while it is on top.
class LivePage : public QWidget {
  Q_OBJECT

 public:
  using QWidget::QWidget;
  virtual void Refresh(SignalTick& tick) = 0;
};

// Whether outputs and DAC codes may go to the module now: the window knows the run state, and tells
// the user when it cannot say.
using MaySendOutputs = std::function<bool()>;

// "КЭ/БФОС": the discrete inputs and outputs, and the output words' check boxes.
class IoPage final : public LivePage {
  Q_OBJECT

 private:
  Ui::TabSheet6Page ui_{};  // the page's form

 public:
  IoPage(QWidget* parent, const PageServices& services, MaySendOutputs may_send);
  void Refresh(SignalTick& tick) override;
  // Enables the controls that need a module, or a stopped CNC, as `state` says.
  void ShowModuleState(const ModuleState& state);

  void Button10Click();

 private:
  void SetOutputChecksEnabled(bool enabled);

  PageServices services_;
  MaySendOutputs may_send_;
};

// "КИП/БОС": the encoder channels and their accumulated counters, and КИП0's four check boxes.
class EncoderPage final : public LivePage {
  Q_OBJECT

 private:
  Ui::TabSheet8Page ui_{};  // the page's form

 public:
  EncoderPage(QWidget* parent, const PageServices& services, MaySendOutputs may_send);
  void Refresh(SignalTick& tick) override;
  // Enables the controls that need a module, or a stopped CNC, as `state` says.
  void ShowModuleState(const ModuleState& state);

  void Button6Click();
  void Button11Click();

  std::int32_t KIP1 = 0;
  std::int32_t KIP2 = 0;
  std::int32_t KIP3 = 0;
  std::int32_t KIP4 = 0;

 private:
  void SetOutputChecksEnabled(bool enabled);

  PageServices services_;
  MaySendOutputs may_send_;
};

// "КП(ЦАП)": the DAC channels' codes and voltages, and the codes to send.
class DacPage final : public LivePage {
  Q_OBJECT

 private:
  Ui::TabSheet7Page ui_{};  // the page's form

 public:
  DacPage(QWidget* parent, const PageServices& services, MaySendOutputs may_send);
  void Refresh(SignalTick& tick) override;
  // Enables the controls that need a module, or a stopped CNC, as `state` says.
  void ShowModuleState(const ModuleState& state);

  void Button12Click();
  void Edit7Change(const QString& text);
  void Edit8Change(const QString& text);
  void Edit9Change(const QString& text);
  void Edit10Change(const QString& text);

  std::int32_t KP1 = 0;
  std::int32_t KP2 = 0;
  std::int32_t KP3 = 0;
  std::int32_t KP4 = 0;

 private:
  void SetCodeEditsEnabled(bool enabled);
  void DacEditChange(QLineEdit* edit, std::int32_t& code, const QString& text);

  PageServices services_;
  MaySendOutputs may_send_;
};

// "Контроллер ЭА": the inputs and outputs as the module's electroautomatics controller sees them.
class EaControllerPage final : public LivePage {
  Q_OBJECT

 private:
  Ui::TabSheet9Page ui_{};  // the page's form

 public:
  explicit EaControllerPage(QWidget* parent);
  void Refresh(SignalTick& tick) override;
};

}  // namespace tarven::app
