#include "app/ea_params_page.h"

#include <QBrush>
#include <QLineEdit>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QTableWidgetItem>
#include <algorithm>
#include <span>

#include "app/application_title.h"
#include "app/dialogs.h"
#include "device/device.h"
#include "model/integer_text.h"

namespace tarven::app {
namespace {

constexpr int kParamCount = 255;

const QString kEaMismatch = QStringLiteral(
    "Не совпала контрольная сумма параметров электроавтоматики.\rВосстановлены параметры по "
    "умолчанию");
// The grid is empty until the first read: a write would put 255 parameters nobody saw.
const QString kEaNotRead = QStringLiteral("Параметры не считаны. Запись не выполнена.");

// The grid's editor reports every change of its text to the page, keystroke by keystroke, and
// the page may empty it.
class CellEditDelegate final : public QStyledItemDelegate {
 public:
  explicit CellEditDelegate(EaParamsPage* page) : QStyledItemDelegate(page), page_(page) {}

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override {
    QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
    if (auto* line = qobject_cast<QLineEdit*>(editor)) {
      const int column = index.column();
      const int row = index.row();
      connect(line, &QLineEdit::textEdited, page_, [page = page_, line, column, row] {
        if (!page->StringGrid1SetEditText(column, row, line->text())) line->clear();
      });
    }
    return editor;
  }

 private:
  EaParamsPage* page_;
};

// A grid cell of the header row or the number column: shown like a header, never edited.
QTableWidgetItem* FixedCell(const QString& text, const QBrush& background) {
  auto* item = new QTableWidgetItem(text);
  item->setFlags(Qt::ItemIsEnabled);
  item->setTextAlignment(Qt::AlignCenter);
  item->setBackground(background);
  return item;
}

}  // namespace

EaParamsPage::EaParamsPage(QWidget* parent, const PageServices& services,
                           ConfigImage& working_copy)
    : QWidget(parent), services_(services), params_array(working_copy) {
  ui_.setupUi(this);
  SetUpParamGrid();
  ui_.StringGrid1->setItemDelegateForColumn(1, new CellEditDelegate(this));
  connect(ui_.Button16, &QPushButton::clicked, this, &EaParamsPage::Button16Click);
  connect(ui_.Button17, &QPushButton::clicked, this, &EaParamsPage::Button17Click);
}

void EaParamsPage::SetUpParamGrid() {
  // Rows and columns are added here, after the layout has hidden the headers, so that the grid
  // does not measure header sections that are never shown.
  ui_.StringGrid1->setColumnCount(2);
  ui_.StringGrid1->setRowCount(kParamCount + 1);
  ui_.StringGrid1->setColumnWidth(0, 48);
  ui_.StringGrid1->setColumnWidth(1, 116);
  const QBrush header = palette().button();
  ui_.StringGrid1->setItem(0, 0, FixedCell(QStringLiteral("№"), header));
  ui_.StringGrid1->setItem(0, 1, FixedCell(QStringLiteral("Значение пераметра"), header));
  // The value caption is wider than its column at the window's font; it wraps onto two lines.
  ui_.StringGrid1->setRowHeight(0, 2 * ui_.StringGrid1->fontMetrics().lineSpacing() + 4);
  for (int row = 1; row <= kParamCount; ++row) {
    ui_.StringGrid1->setItem(row, 0, FixedCell(QString::number(row), header));
  }
}

void EaParamsPage::ShowEaParams() {
  const model::ConstSector sector(params_array);
  for (std::size_t n = 1; n <= model::kEaParamCount; ++n) {
    const int row = static_cast<int>(n);
    QTableWidgetItem* cell = ui_.StringGrid1->item(row, 1);
    if (cell == nullptr) {
      cell = new QTableWidgetItem;
      ui_.StringGrid1->setItem(row, 1, cell);
    }
    cell->setText(QString::number(model::EaParam(sector, n)));
  }
}

bool EaParamsPage::StringGrid1SetEditText(int column, int row, const QString& text) {
  if (column != 1 || row < 1 || row > static_cast<int>(model::kEaParamCount)) return true;
  if (const auto value = model::ParseInteger(text.toStdString())) {
    model::SetEaParam(params_array, static_cast<std::size_t>(row), *value);
    return true;
  }
  // A lone minus starts a negative number; anything else that does not convert is emptied, and
  // the parameter keeps its value.
  return text == QStringLiteral("-");
}

void EaParamsPage::Button16Click() {
  std::array<std::uint8_t, model::kSectorSize> sector{};
  if (!ReadConfigSector(services_, window(), sector)) return;
  const auto table = std::span(sector).subspan(model::kEaTableOffset, model::kEaTableBytes);
  const auto working = std::span(params_array).subspan(model::kEaTableOffset, model::kEaTableBytes);
  if (model::EaChecksumMatches(sector)) {
    std::copy(table.begin(), table.end(), working.begin());
  } else {
    services_.dialogs.ShowMessage(window(), ApplicationTitle(), kEaMismatch);
    std::fill(working.begin(), working.end(), std::uint8_t{0});
  }
  ShowEaParams();
  ea_params_shown = true;
}

void EaParamsPage::Button17Click() {
  if (!services_.link.AppModule().Found) return;
  if (!ea_params_shown) {
    services_.dialogs.ShowMessage(window(), ApplicationTitle(), kEaNotRead);
    return;
  }
  if (!services_.dialogs.AskYesNo(window(), WriteQuestionCaption(), WriteQuestion())) return;
  WriteConfigSector(services_, window(), [this](model::Sector sector) {
    std::copy_n(params_array.begin() + model::kEaTableOffset, model::kEaTableBytes,
                sector.begin() + model::kEaTableOffset);
    model::SealEaTable(sector);
  });
}

}  // namespace tarven::app
