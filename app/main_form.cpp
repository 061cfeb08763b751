#include "app/main_form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFont>
#include <QScreen>
#include <QStyle>
#include <QTableWidgetItem>
#include <QTimer>

#include "model/version_text.h"

namespace tarven::app {
namespace {

// A fixed single border: title, system menu, minimize and close, no maximize.
constexpr Qt::WindowFlags kWindowFlags =
    Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
    Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint;

constexpr int kStatusPollMs = 1000;
constexpr int kParamCount = 255;

// The layout is drawn in pixels for a window of fixed size, so its text is sized in pixels too:
// a size in points would grow with the screen's DPI setting and no longer fit.
constexpr int kFontPixels = 11;

bool FactoryPagesRequested(const QStringList& arguments) {
  return !arguments.isEmpty() && arguments.front() == QStringLiteral("-f");
}

// A grid cell of the header row or the number column: shown like a header, never edited.
QTableWidgetItem* FixedCell(const QString& text, const QBrush& background) {
  auto* item = new QTableWidgetItem(text);
  item->setFlags(Qt::ItemIsEnabled);
  item->setTextAlignment(Qt::AlignCenter);
  item->setBackground(background);
  return item;
}

}  // namespace

TMainForm::TMainForm(const QStringList& arguments, std::unique_ptr<Dialogs> dialogs,
                     QWidget* parent)
    : QWidget(parent, kWindowFlags),
      dialogs_(dialogs ? std::move(dialogs) : std::make_unique<QtDialogs>()) {
  QFont base = font();
  base.setPixelSize(kFontPixels);
  setFont(base);
  setupUi(this);
  setGeometry(
      QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(), screen()->availableGeometry()));

  Timer1 = new QTimer(this);
  Timer1->setInterval(kStatusPollMs);
  connect(Timer1, &QTimer::timeout, this, &TMainForm::Timer1Timer);
  connect(Button8, &QPushButton::clicked, this, &TMainForm::Button8Click);
  connect(Button13, &QPushButton::clicked, this, &TMainForm::Button13Click);

  FormCreate(arguments);
  Timer1->start();
}

TMainForm::~TMainForm() = default;

void TMainForm::FormCreate(const QStringList& arguments) {
  PageControl1->setCurrentIndex(0);
  up_flag = false;
  SetUpParamGrid();
  ShowTitle();
  device::ResetModuleRecords();
  Label47->setText(QStringLiteral("v ") + QString::fromUtf8(model::kCarriedFirmwareVersion));
  KIP1 = KIP2 = KIP3 = KIP4 = 0;
  proc_en = 0;
  ext_dac_en = 0;
  DisableOutputChecks();
  ShowFactoryPages(false);
  if (FactoryPagesRequested(arguments)) ShowFactoryPages(true);
}

void TMainForm::SetUpParamGrid() {
  StringGrid1->setColumnWidth(0, 48);
  StringGrid1->setColumnWidth(1, 116);
  const QBrush header = palette().button();
  StringGrid1->setItem(0, 0, FixedCell(QStringLiteral("№"), header));
  StringGrid1->setItem(0, 1, FixedCell(QStringLiteral("Значение пераметра"), header));
  // The value caption is wider than its column at the window's font; it wraps onto two lines.
  StringGrid1->setRowHeight(0, 2 * StringGrid1->fontMetrics().lineSpacing() + 4);
  for (int row = 1; row <= kParamCount; ++row) {
    StringGrid1->setItem(row, 0, FixedCell(QString::number(row), header));
  }
}

void TMainForm::ShowTitle() {
  const QString title = QStringLiteral("Тарвен v ") + QStringLiteral(TARVEN_VERSION);
  setWindowTitle(title);
  QApplication::setApplicationDisplayName(title);
}

void TMainForm::ShowFactoryPages(bool visible) {
  PageControl1->setTabVisible(kEaControllerPage, visible);
  PageControl1->setTabVisible(kNetworkPage, visible);
}

void TMainForm::closeEvent(QCloseEvent* event) {
  FormClose();
  QWidget::closeEvent(event);
}

void TMainForm::FormClose() {
  // A closed window must not go on talking to the module until the message loop has ended.
  Timer1->stop();
  if (HidHandle != device::kInvalidHandle) device::CloseModule(HidHandle);
}

}  // namespace tarven::app
