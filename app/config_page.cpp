// The pages "Конфигурация" and "Параметры электроавтоматики": the working copy of the module's
// configuration sector (params_array), its controls, and the read and the read-modify-write of
// the sector.

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QTableWidgetItem>
#include <algorithm>
#include <array>
#include <span>

#include "app/application_title.h"
#include "app/cursor.h"
#include "app/edit_colour.h"
#include "app/main_form.h"
#include "device/operations.h"
#include "model/config_sector.h"
#include "model/integer_text.h"

namespace tarven::app {
namespace {

const QString kCaption = QStringLiteral("Тарвен");
const QString kWriteQuestion = QStringLiteral("Записать в ППЗУ Тарвен?");
const QString kConfigMismatch = QStringLiteral(
    "Не совпала контрольная сумма параметров.\rВосстановлены параметры по умолчанию");
const QString kEaMismatch = QStringLiteral(
    "Не совпала контрольная сумма параметров электроавтоматики.\rВосстановлены параметры по "
    "умолчанию");
// Where the text leaves the module's silence unspoken, the tool says what happened: a failed
// read must not pass for a checksum mismatch (whose defaults a later write would store), and a
// write must not put into the sector bytes that were never read from it.
const QString kReadFailed = QStringLiteral("Модуль не ответил. Данные не изменены.");
const QString kWriteNotDone = QStringLiteral("Модуль не ответил. Запись не выполнена.");
const QString kWriteFailed = QStringLiteral("Ошибка записи в модуль.");
// The grid is empty until the first read: a write would put 255 parameters nobody saw.
const QString kEaNotRead = QStringLiteral("Параметры не считаны. Запись не выполнена.");

// The grid's editor reports every change of its text to the page, keystroke by keystroke, and
// the page may empty it.
class CellEditDelegate final : public QStyledItemDelegate {
 public:
  explicit CellEditDelegate(TMainForm* form) : QStyledItemDelegate(form), form_(form) {}

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override {
    QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
    if (auto* line = qobject_cast<QLineEdit*>(editor)) {
      const int column = index.column();
      const int row = index.row();
      connect(line, &QLineEdit::textEdited, form_, [form = form_, line, column, row] {
        if (!form->StringGrid1SetEditText(column, row, line->text())) line->clear();
      });
    }
    return editor;
  }

 private:
  TMainForm* form_;
};

}  // namespace

// --- Конфигурация -------------------------------------------------------------------------------

std::array<QComboBox*, model::kConfigValues> TMainForm::ConfigLists() const {
  // In byte order; the address edit stands where T is.
  return {ComboBox1, ComboBox2, ComboBox3, ComboBox4, ComboBox5, nullptr, ComboBox10, ComboBox7};
}

void TMainForm::SetUpConfigPage() {
  const auto lists = ConfigLists();
  for (std::size_t row = 0; row < lists.size(); ++row) {
    if (lists[row] == nullptr) continue;
    // Only a pick of the user stores a byte; a selection set by the program stores nothing.
    connect(lists[row], &QComboBox::activated, this,
            [this, row](int index) { ConfigListChange(row, index); });
  }
  connect(Edit2, &QLineEdit::textChanged, this, &TMainForm::Edit2Change);
  connect(Button1, &QPushButton::clicked, this, &TMainForm::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TMainForm::Button2Click);
}

void TMainForm::ShowConfig() {
  const auto lists = ConfigLists();
  for (std::size_t row = 0; row < lists.size(); ++row) {
    if (lists[row] == nullptr) continue;
    const auto item = model::ItemForByte(row, params_array[row]);
    lists[row]->setCurrentIndex(item ? static_cast<int>(*item) : -1);
  }
  // A different text runs the edit's change handler, which stores the value again when valid.
  Edit2->setText(QString::number(params_array[model::kNetworkAddressRow]));
}

void TMainForm::ConfigListChange(std::size_t row, int index) {
  if (index < 0) return;  // no selection stores nothing
  params_array[row] = model::ByteForItem(row, static_cast<std::size_t>(index));
}

void TMainForm::Edit2Change(const QString& text) {
  const auto value = model::ParseInteger(text.toStdString());
  const bool valid =
      value && *value >= model::kMinNetworkAddress && *value <= model::kMaxNetworkAddress;
  if (valid) params_array[model::kNetworkAddressRow] = static_cast<std::uint8_t>(*value);
  ShowTextValid(*Edit2, valid);
}

bool TMainForm::ReadConfigSector(model::Sector sector) {
  if (!link_->AppModule.Found) return false;
  device::Outcome outcome;
  {
    const BusyCursor busy;
    outcome = device::ReadFlashArea(*link_, model::AreaId::ConfigSector, sector);
  }
  if (!outcome.ok() && !outcome.module_absent()) {
    dialogs().ShowMessage(this, ApplicationTitle(), kReadFailed);
  }
  return outcome.ok();
}

void TMainForm::Button1Click() {
  std::array<std::uint8_t, model::kSectorSize> sector{};
  if (!ReadConfigSector(sector)) return;
  model::ConfigValues values = model::kDefaultConfig;
  if (model::ConfigChecksumMatches(sector)) {
    values = model::ReadConfig(sector);
  } else {
    dialogs().ShowMessage(this, ApplicationTitle(), kConfigMismatch);
  }
  std::copy(values.begin(), values.end(), params_array.begin());
  ShowConfig();
}

void TMainForm::Button2Click() {
  if (!link_->AppModule.Found) return;
  if (!dialogs().AskYesNo(this, kCaption, kWriteQuestion)) return;
  model::ConfigValues values{};
  std::copy_n(params_array.begin(), values.size(), values.begin());
  WriteConfigSector([&values](model::Sector sector) { model::WriteConfig(sector, values); });
}

void TMainForm::WriteConfigSector(const std::function<void(model::Sector)>& change) {
  device::Outcome outcome;
  {
    const BusyCursor busy;
    outcome = device::UpdateConfigSector(*link_, [&change](model::Sector sector) {
      change(sector);
      return device::Outcome::Done();
    });
  }
  if (outcome.ok() || outcome.module_absent()) return;
  dialogs().ShowMessage(
      this, ApplicationTitle(),
      outcome.failure == device::Failure::ReadBeforeWrite ? kWriteNotDone : kWriteFailed);
}

// --- Параметры электроавтоматики --------------------------------------------------------------

void TMainForm::SetUpEaPage() {
  StringGrid1->setItemDelegateForColumn(1, new CellEditDelegate(this));
  connect(Button16, &QPushButton::clicked, this, &TMainForm::Button16Click);
  connect(Button17, &QPushButton::clicked, this, &TMainForm::Button17Click);
}

void TMainForm::ShowEaParams() {
  BuildPages();
  const model::ConstSector sector(params_array);
  for (std::size_t n = 1; n <= model::kEaParamCount; ++n) {
    const int row = static_cast<int>(n);
    QTableWidgetItem* cell = StringGrid1->item(row, 1);
    if (cell == nullptr) {
      cell = new QTableWidgetItem;
      StringGrid1->setItem(row, 1, cell);
    }
    cell->setText(QString::number(model::EaParam(sector, n)));
  }
}

bool TMainForm::StringGrid1SetEditText(int column, int row, const QString& text) {
  if (column != 1 || row < 1 || row > static_cast<int>(model::kEaParamCount)) return true;
  if (const auto value = model::ParseInteger(text.toStdString())) {
    model::SetEaParam(params_array, static_cast<std::size_t>(row), *value);
    return true;
  }
  // A lone minus starts a negative number; anything else that does not convert is emptied, and
  // the parameter keeps its value.
  return text == QStringLiteral("-");
}

void TMainForm::Button16Click() {
  std::array<std::uint8_t, model::kSectorSize> sector{};
  if (!ReadConfigSector(sector)) return;
  const auto table = std::span(sector).subspan(model::kEaTableOffset, model::kEaTableBytes);
  const auto working = std::span(params_array).subspan(model::kEaTableOffset, model::kEaTableBytes);
  if (model::EaChecksumMatches(sector)) {
    std::copy(table.begin(), table.end(), working.begin());
  } else {
    dialogs().ShowMessage(this, ApplicationTitle(), kEaMismatch);
    std::fill(working.begin(), working.end(), std::uint8_t{0});
  }
  ShowEaParams();
  ea_params_shown = true;
}

void TMainForm::Button17Click() {
  if (!link_->AppModule.Found) return;
  if (!ea_params_shown) {
    dialogs().ShowMessage(this, ApplicationTitle(), kEaNotRead);
    return;
  }
  if (!dialogs().AskYesNo(this, kCaption, kWriteQuestion)) return;
  WriteConfigSector([this](model::Sector sector) {
    std::copy_n(params_array.begin() + model::kEaTableOffset, model::kEaTableBytes,
                sector.begin() + model::kEaTableOffset);
    model::SealEaTable(sector);
  });
}

}  // namespace tarven::app
