// The page "Конфигурация": the working copy of the module's configuration sector (params_array)
// in its controls, read from the module's sector and written back into it.

#include "app/config_page.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <array>
#include <span>

#include "app/application_title.h"
#include "app/config_sector_io.h"
#include "app/dialogs.h"
#include "app/edit_colour.h"
#include "device/device.h"
#include "device/operations.h"
#include "model/config_sector.h"
#include "model/integer_text.h"

namespace tarven::app {
namespace {

const QString kConfigMismatch = QStringLiteral(
    "Не совпала контрольная сумма параметров.\rВосстановлены параметры по умолчанию");

}  // namespace

ConfigPage::ConfigPage(QWidget* parent, const PageServices& services, ConfigImage& working_copy)
    : QWidget(parent), services_(services), params_array(working_copy) {
  ui_.setupUi(this);
  const auto lists = ConfigLists();
  for (std::size_t row = 0; row < lists.size(); ++row) {
    if (lists[row] == nullptr) continue;
    // Only a pick of the user stores a byte; a selection set by the program stores nothing.
    connect(lists[row], &QComboBox::activated, this,
            [this, row](int index) { ConfigListChange(row, index); });
  }
  connect(ui_.Edit2, &QLineEdit::textChanged, this, &ConfigPage::Edit2Change);
  connect(ui_.Button1, &QPushButton::clicked, this, &ConfigPage::Button1Click);
  connect(ui_.Button2, &QPushButton::clicked, this, &ConfigPage::Button2Click);
}

std::array<QComboBox*, model::kConfigValues> ConfigPage::ConfigLists() const {
  // In byte order; the address edit stands where T is.
  return {ui_.ComboBox1, ui_.ComboBox2, ui_.ComboBox3,  ui_.ComboBox4,
          ui_.ComboBox5, nullptr,       ui_.ComboBox10, ui_.ComboBox7};
}

void ConfigPage::ShowConfig() {
  const auto lists = ConfigLists();
  for (std::size_t row = 0; row < lists.size(); ++row) {
    if (lists[row] == nullptr) continue;
    const auto item = model::ItemForByte(row, params_array[row]);
    lists[row]->setCurrentIndex(item ? static_cast<int>(*item) : -1);
  }
  // A different text runs the edit's change handler, which stores the value again when valid.
  ui_.Edit2->setText(QString::number(params_array[model::kNetworkAddressRow]));
}

void ConfigPage::ShowModuleState(const ModuleState& state) {
  const bool enabled = state.ModulePresent();
  ui_.Button1->setEnabled(enabled);
  ui_.Button2->setEnabled(enabled);
}

void ConfigPage::ConfigListChange(std::size_t row, int index) {
  if (index < 0) return;  // no selection stores nothing
  params_array[row] = model::ByteForItem(row, static_cast<std::size_t>(index));
}

void ConfigPage::Edit2Change(const QString& text) {
  const auto value = model::ParseInteger(text.toStdString());
  const bool valid =
      value && *value >= model::kMinNetworkAddress && *value <= model::kMaxNetworkAddress;
  if (valid) params_array[model::kNetworkAddressRow] = static_cast<std::uint8_t>(*value);
  ShowTextValid(*ui_.Edit2, valid);
}

void ConfigPage::Button1Click() {
  std::array<std::uint8_t, model::kSectorSize> sector{};
  if (!ReadConfigSector(services_, this, sector)) return;
  model::ConfigValues values = model::kDefaultConfig;
  if (model::ConfigChecksumMatches(sector)) {
    values = model::ReadConfig(sector);
  } else {
    services_.dialogs.ShowMessage(this, ApplicationTitle(), kConfigMismatch);
  }
  std::copy(values.begin(), values.end(), params_array.begin());
  ShowConfig();
}

void ConfigPage::Button2Click() {
  if (!services_.link.AppModule().Found) return;
  if (!services_.dialogs.AskYesNo(this, WriteQuestionCaption(), WriteQuestion())) return;
  model::ConfigValues values{};
  std::copy_n(params_array.begin(), values.size(), values.begin());
  WriteConfigSector(services_, this,
                    [&values](model::Sector sector) { model::WriteConfig(sector, values); });
}

}  // namespace tarven::app
