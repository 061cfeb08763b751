// The memory pages "ПЗУ", "ПЗУ АМТ", "КВПП/ЭА" and "ОЗУ": the four images and their previews,
// import from whole-image and chip files, and the transfers to and from the module.

#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QListWidgetItem>
#include <QPushButton>
#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "app/application_title.h"
#include "app/cursor.h"
#include "app/dialogs.h"
#include "app/memory_pages.h"
#include "device/operations.h"
#include "model/memory_image.h"
#include "storage/file_io.h"

namespace tarven::app {
namespace {

using model::AreaId;

const QString kCaption = QStringLiteral("Тарвен");
const QString kFlashQuestion = QStringLiteral("Записать в ППЗУ Тарвен?");
const QString kRamQuestion = QStringLiteral("Записать в ОЗУ и энергонезависимую память Тарвен?");
const QString kOverwriteCaption = QStringLiteral("Внимание!");
const QString kOverwriteQuestion = QStringLiteral("Файл с таким именем существует\n\rПродолжить?");
// A failed transfer is told as such: a read that broke off must not
// leave a mixed image behind or be saved as if it were whole, and a refused write is not success.
const QString kReadFailed = QStringLiteral("Ошибка чтения из модуля. Файл не записан.");
const QString kWriteFailed = QStringLiteral("Ошибка записи в модуль.");
// The RAM came whole, but the CNC that the read stopped did not start again.
const QString kCncLeftStopped =
    QStringLiteral("ОЗУ считано. УЧПУ осталось остановленным: модуль не ответил на команду запуска.");

// Preview rows are 14 pixels high, so that eight fill the list without a scroll bar.
constexpr int kListingRowPixels = 14;

std::string LocalName(const QString& name) {
  return QFile::encodeName(name).toStdString();
}

QString Reason(int error_number) {
  return QString::fromLocal8Bit(storage::SystemReason(error_number));
}

QString CannotOpen(const QString& name, const QString& reason) {
  return QStringLiteral("Cannot open file \"%1\". %2").arg(name, reason);
}

}  // namespace

void ShowImageListing(QListWidget* list, std::span<const std::uint8_t> image,
                      std::uint32_t first_word, std::uint32_t bytes_per_line) {
  list->clear();
  for (const std::string& line : model::ImageListing(image, first_word, bytes_per_line)) {
    auto* item =
        new QListWidgetItem(QString::fromLatin1(line.data(), static_cast<int>(line.size())));
    item->setSizeHint(QSize(0, kListingRowPixels));
    list->addItem(item);
  }
}

ImagePage::ImagePage(QWidget* parent, const PageServices& services, AreaId id)
    : QWidget(parent), services_(services), id_(id) {}

void ImagePage::SetUpImage(std::span<std::uint8_t> image, std::vector<QListWidget*> listings) {
  image_ = image;
  listings_ = std::move(listings);
  std::fill(image_.begin(), image_.end(), model::Area(id_).startup_fill);
  // The start-up drawing replaces the layout's placeholder lines.
  RedrawImage(0, model::Area(id_).size / 2);
}

void ImagePage::RedrawImage(std::uint32_t first_word, std::uint32_t words) {
  const model::MemoryArea& area = model::Area(id_);
  for (std::size_t i = 0; i < listings_.size() && i < area.listings.size(); ++i) {
    const model::ListingGeometry& geometry = area.listings[i];
    const std::uint32_t shown = model::kListingLines * geometry.bytes_per_line / 2;
    // Only the lists that show a changed word are drawn again.
    if (geometry.first_word >= first_word + words || first_word >= geometry.first_word + shown) {
      continue;
    }
    ShowImageListing(listings_[i], image_, geometry.first_word, geometry.bytes_per_line);
  }
}

// --- files --------------------------------------------------------------------------------------

bool ImagePage::ReadImportFile(std::size_t limit, std::vector<std::uint8_t>& bytes) {
  Dialogs& dialogs = services_.dialogs;
  const QString name = dialogs.ChooseOpenFile(window());
  if (name.isEmpty()) return false;
  const storage::ReadResult read = storage::ReadFilePrefix(LocalName(name), limit, bytes);
  switch (read.status) {
    case storage::ReadStatus::Read:
      return true;
    case storage::ReadStatus::NotRegular:
      dialogs.ShowError(window(), CannotOpen(name, QStringLiteral("Not a regular file")));
      return false;
    default:
      dialogs.ShowError(window(), CannotOpen(name, Reason(read.error_number)));
      return false;
  }
}

void ImagePage::ImportWholeImage() {
  std::vector<std::uint8_t> file;
  if (!ReadImportFile(model::Area(id_).size, file)) return;
  model::ImportWholeImage(image_, file);
  RedrawImage(0, model::Area(id_).size / 2);
}

void ImagePage::ImportChipFile(std::string_view chip) {
  const model::ChipLane* lane = model::LaneByChip(model::Area(id_), chip);
  if (lane == nullptr) return;
  std::vector<std::uint8_t> file;
  if (!ReadImportFile(lane->words, file)) return;
  model::ImportChipLane(image_, *lane, file);
  RedrawImage(lane->first_word, lane->words);
}

QString ImagePage::ChooseExportFile() {
  Dialogs& dialogs = services_.dialogs;
  const QString name = dialogs.ChooseSaveFile(window());
  if (name.isEmpty()) return {};
  if (QFileInfo::exists(name) &&
      !dialogs.AskYesNo(window(), kOverwriteCaption, kOverwriteQuestion)) {
    return {};
  }
  return name;
}

void ImagePage::SaveImageFile(const QString& name) {
  const std::string_view bytes(reinterpret_cast<const char*>(image_.data()), image_.size());
  const storage::ReplaceResult saved = storage::ReplaceFile(LocalName(name), bytes);
  if (saved.ok()) return;
  const QString reason = QString::fromLocal8Bit(saved.reason);
  // The file that was there before is still whole: the new one replaces it only when written.
  const QString text = saved.failed == storage::ReplaceStep::Write
                           ? QStringLiteral("Cannot write file \"%1\". %2")
                           : QStringLiteral("Cannot create file \"%1\". %2");
  services_.dialogs.ShowError(window(), text.arg(name, reason));
}

// --- transfers ----------------------------------------------------------------------------------

void ImagePage::ReadImage() {
  device::Link& link = services_.link;
  if (!link.AppModule().Found) return;
  const QString name = ChooseExportFile();
  if (name.isEmpty()) return;
  device::Outcome outcome;
  {
    const BusyCursor busy;
    // The image changes only when the whole read arrived.
    outcome = id_ == AreaId::Ram ? device::ReadRam(link, image_)
                                 : device::ReadFlashArea(link, id_, image_);
    if (outcome.ok() || outcome.failure == device::Failure::CncLeftStopped) {
      RedrawImage(0, model::Area(id_).size / 2);
    }
  }
  if (outcome.not_reached()) return;
  if (outcome.failure == device::Failure::CncLeftStopped) {
    SaveImageFile(name);
    services_.dialogs.ShowMessage(window(), ApplicationTitle(), kCncLeftStopped);
    return;
  }
  if (!outcome.ok()) {
    services_.dialogs.ShowMessage(window(), ApplicationTitle(), kReadFailed);
    return;
  }
  SaveImageFile(name);
}

void ImagePage::WriteFlashImage() {
  if (!services_.link.AppModule().Found) return;
  if (!services_.dialogs.AskYesNo(window(), kCaption, kFlashQuestion)) return;
  device::Outcome outcome;
  {
    const BusyCursor busy;
    outcome = device::WriteFlashArea(services_.link, id_, image_);
  }
  if (!outcome.ok() && !outcome.not_reached()) {
    services_.dialogs.ShowMessage(window(), ApplicationTitle(), kWriteFailed);
  }
}

void ImagePage::WriteRamImage(device::RamBank bank) {
  if (!services_.link.AppModule().Found) return;
  if (!services_.dialogs.AskYesNo(window(), kCaption, kRamQuestion)) return;
  device::Outcome outcome;
  {
    const BusyCursor busy;
    outcome = device::WriteRam(services_.link, image_, bank);
  }
  if (!outcome.ok() && !outcome.not_reached()) {
    services_.dialogs.ShowMessage(window(), ApplicationTitle(), kWriteFailed);
  }
}

// --- the pages, their buttons by the names of their controls -----------------------------------

MainRomPage::MainRomPage(QWidget* parent, const PageServices& services)
    : ImagePage(parent, services, AreaId::MainRom) {
  ui_.setupUi(this);
  SetUpImage(MAT_array, {ui_.ListBox1});
  connect(ui_.BitBtn1, &QPushButton::clicked, this, &MainRomPage::BitBtn1Click);
  connect(ui_.BitBtn2, &QPushButton::clicked, this, &MainRomPage::BitBtn2Click);
  connect(ui_.BitBtn3, &QPushButton::clicked, this, &MainRomPage::BitBtn3Click);
  connect(ui_.BitBtn4, &QPushButton::clicked, this, &MainRomPage::BitBtn4Click);
  connect(ui_.Button5, &QPushButton::clicked, this, &MainRomPage::Button5Click);
}
void MainRomPage::ShowModuleState(const ModuleState& state) {
  const bool enabled = state.ModulePresent();
  for (QWidget* control : {ui_.BitBtn4, ui_.Button5}) control->setEnabled(enabled);
}
void MainRomPage::BitBtn1Click() {
  ImportWholeImage();
}
void MainRomPage::BitBtn2Click() {
  ImportChipFile("D83");
}
void MainRomPage::BitBtn3Click() {
  ImportChipFile("D82");
}
void MainRomPage::BitBtn4Click() {
  ReadImage();
}
void MainRomPage::Button5Click() {
  WriteFlashImage();
}

AmtRomPage::AmtRomPage(QWidget* parent, const PageServices& services)
    : ImagePage(parent, services, AreaId::AmtRom) {
  ui_.setupUi(this);
  SetUpImage(AMT_array, {ui_.ListBox2, ui_.ListBox4});
  connect(ui_.BitBtn7, &QPushButton::clicked, this, &AmtRomPage::BitBtn7Click);
  connect(ui_.BitBtn8, &QPushButton::clicked, this, &AmtRomPage::BitBtn8Click);
  connect(ui_.BitBtn10, &QPushButton::clicked, this, &AmtRomPage::BitBtn10Click);
  connect(ui_.BitBtn9, &QPushButton::clicked, this, &AmtRomPage::BitBtn9Click);
  connect(ui_.BitBtn11, &QPushButton::clicked, this, &AmtRomPage::BitBtn11Click);
  connect(ui_.BitBtn5, &QPushButton::clicked, this, &AmtRomPage::BitBtn5Click);
  connect(ui_.Button7, &QPushButton::clicked, this, &AmtRomPage::Button7Click);
}
void AmtRomPage::ShowModuleState(const ModuleState& state) {
  const bool enabled = state.ModulePresent();
  for (QWidget* control : {ui_.BitBtn5, ui_.Button7}) control->setEnabled(enabled);
}
void AmtRomPage::BitBtn7Click() {
  ImportWholeImage();
}
void AmtRomPage::BitBtn8Click() {
  ImportChipFile("D76");
}
void AmtRomPage::BitBtn10Click() {
  ImportChipFile("D77");
}
void AmtRomPage::BitBtn9Click() {
  ImportChipFile("D74");
}
void AmtRomPage::BitBtn11Click() {
  ImportChipFile("D75");
}
void AmtRomPage::BitBtn5Click() {
  ReadImage();
}
void AmtRomPage::Button7Click() {
  WriteFlashImage();
}

KvpPage::KvpPage(QWidget* parent, const PageServices& services)
    : ImagePage(parent, services, AreaId::Kvp) {
  ui_.setupUi(this);
  SetUpImage(KVP_array, {ui_.ListBox3});
  connect(ui_.BitBtn12, &QPushButton::clicked, this, &KvpPage::BitBtn12Click);
  connect(ui_.BitBtn6, &QPushButton::clicked, this, &KvpPage::BitBtn6Click);
  connect(ui_.Button9, &QPushButton::clicked, this, &KvpPage::Button9Click);
}
void KvpPage::ShowModuleState(const ModuleState& state) {
  const bool enabled = state.ModulePresent();
  for (QWidget* control : {ui_.BitBtn6, ui_.Button9}) control->setEnabled(enabled);
}
void KvpPage::BitBtn12Click() {
  ImportWholeImage();
}
void KvpPage::BitBtn6Click() {
  ReadImage();
}
void KvpPage::Button9Click() {
  WriteFlashImage();
}

RamPage::RamPage(QWidget* parent, const PageServices& services)
    : ImagePage(parent, services, AreaId::Ram) {
  ui_.setupUi(this);
  SetUpImage(RAM_array, {ui_.ListBox5});
  connect(ui_.BitBtn13, &QPushButton::clicked, this, &RamPage::BitBtn13Click);
  connect(ui_.BitBtn14, &QPushButton::clicked, this, &RamPage::BitBtn14Click);
  connect(ui_.Button4, &QPushButton::clicked, this, &RamPage::Button4Click);
  connect(ui_.Button14, &QPushButton::clicked, this, &RamPage::Button14Click);
}
void RamPage::ShowModuleState(const ModuleState& state) {
  const bool enabled = state.ModulePresent();
  for (QWidget* control : {ui_.BitBtn14, ui_.Button4, ui_.Button14}) control->setEnabled(enabled);
}
void RamPage::BitBtn13Click() {
  ImportWholeImage();
}
void RamPage::BitBtn14Click() {
  ReadImage();
}
void RamPage::Button4Click() {
  WriteRamImage(device::RamBank::Main);
}
void RamPage::Button14Click() {
  WriteRamImage(device::RamBank::Reserve);
}

}  // namespace tarven::app
