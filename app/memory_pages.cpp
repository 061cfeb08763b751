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
#include "app/main_form.h"
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
// Where the text says nothing of a failed transfer, the tool does: a read that broke off must not
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

std::span<std::uint8_t> TMainForm::ImageOf(AreaId id) {
  switch (id) {
    case AreaId::MainRom:
      return MAT_array;
    case AreaId::AmtRom:
      return AMT_array;
    case AreaId::Kvp:
      return KVP_array;
    case AreaId::Ram:
      return RAM_array;
    case AreaId::ConfigSector:
      break;
  }
  return params_array;
}

std::vector<QListWidget*> TMainForm::ListingsOf(AreaId id) const {
  switch (id) {
    case AreaId::MainRom:
      return {ListBox1};
    case AreaId::AmtRom:
      return {ListBox2, ListBox4};
    case AreaId::Kvp:
      return {ListBox3};
    case AreaId::Ram:
      return {ListBox5};
    case AreaId::ConfigSector:
      break;
  }
  return {};
}

void TMainForm::FillImages() {
  for (const AreaId id : {AreaId::MainRom, AreaId::AmtRom, AreaId::Kvp, AreaId::Ram}) {
    const std::span<std::uint8_t> image = ImageOf(id);
    std::fill(image.begin(), image.end(), model::Area(id).startup_fill);
  }
}

void TMainForm::SetUpMemoryPages() {
  const struct {
    QPushButton* button;
    void (TMainForm::*handler)();
  } buttons[] = {
      {BitBtn1, &TMainForm::BitBtn1Click},   {BitBtn2, &TMainForm::BitBtn2Click},
      {BitBtn3, &TMainForm::BitBtn3Click},   {BitBtn7, &TMainForm::BitBtn7Click},
      {BitBtn8, &TMainForm::BitBtn8Click},   {BitBtn10, &TMainForm::BitBtn10Click},
      {BitBtn9, &TMainForm::BitBtn9Click},   {BitBtn11, &TMainForm::BitBtn11Click},
      {BitBtn12, &TMainForm::BitBtn12Click}, {BitBtn13, &TMainForm::BitBtn13Click},
      {BitBtn4, &TMainForm::BitBtn4Click},   {BitBtn5, &TMainForm::BitBtn5Click},
      {BitBtn6, &TMainForm::BitBtn6Click},   {BitBtn14, &TMainForm::BitBtn14Click},
      {Button5, &TMainForm::Button5Click},   {Button7, &TMainForm::Button7Click},
      {Button9, &TMainForm::Button9Click},   {Button4, &TMainForm::Button4Click},
      {Button14, &TMainForm::Button14Click},
  };
  for (const auto& [button, handler] : buttons) {
    connect(button, &QPushButton::clicked, this, handler);
  }
  // The start-up drawing replaces the layout's placeholder lines.
  for (const AreaId id : {AreaId::MainRom, AreaId::AmtRom, AreaId::Kvp, AreaId::Ram}) {
    RedrawImage(id, 0, model::Area(id).size / 2);
  }
}

void TMainForm::ShowImageListing(QListWidget* list, std::span<const std::uint8_t> image,
                                 std::uint32_t first_word, std::uint32_t bytes_per_line) {
  list->clear();
  for (const std::string& line : model::ImageListing(image, first_word, bytes_per_line)) {
    auto* item =
        new QListWidgetItem(QString::fromLatin1(line.data(), static_cast<int>(line.size())));
    item->setSizeHint(QSize(0, kListingRowPixels));
    list->addItem(item);
  }
}

void TMainForm::RedrawImage(AreaId id, std::uint32_t first_word, std::uint32_t words) {
  const model::MemoryArea& area = model::Area(id);
  const std::vector<QListWidget*> lists = ListingsOf(id);
  for (std::size_t i = 0; i < lists.size() && i < area.listings.size(); ++i) {
    const model::ListingGeometry& geometry = area.listings[i];
    const std::uint32_t shown = model::kListingLines * geometry.bytes_per_line / 2;
    // Only the lists that show a changed word are drawn again.
    if (geometry.first_word >= first_word + words || first_word >= geometry.first_word + shown) {
      continue;
    }
    ShowImageListing(lists[i], ImageOf(id), geometry.first_word, geometry.bytes_per_line);
  }
}

// --- files --------------------------------------------------------------------------------------

bool TMainForm::ReadImportFile(std::size_t limit, std::vector<std::uint8_t>& bytes) {
  const QString name = dialogs().ChooseOpenFile(this);
  if (name.isEmpty()) return false;
  const storage::ReadResult read = storage::ReadFilePrefix(LocalName(name), limit, bytes);
  switch (read.status) {
    case storage::ReadStatus::Read:
      return true;
    case storage::ReadStatus::NotRegular:
      dialogs().ShowError(this, CannotOpen(name, QStringLiteral("Not a regular file")));
      return false;
    default:
      dialogs().ShowError(this, CannotOpen(name, Reason(read.error_number)));
      return false;
  }
}

void TMainForm::ImportWholeImage(AreaId id) {
  std::vector<std::uint8_t> file;
  if (!ReadImportFile(model::Area(id).size, file)) return;
  model::ImportWholeImage(ImageOf(id), file);
  RedrawImage(id, 0, model::Area(id).size / 2);
}

void TMainForm::ImportChipFile(AreaId id, std::string_view chip) {
  const model::ChipLane* lane = model::LaneByChip(model::Area(id), chip);
  if (lane == nullptr) return;
  std::vector<std::uint8_t> file;
  if (!ReadImportFile(lane->words, file)) return;
  model::ImportChipLane(ImageOf(id), *lane, file);
  RedrawImage(id, lane->first_word, lane->words);
}

QString TMainForm::ChooseExportFile() {
  const QString name = dialogs().ChooseSaveFile(this);
  if (name.isEmpty()) return {};
  if (QFileInfo::exists(name) && !dialogs().AskYesNo(this, kOverwriteCaption, kOverwriteQuestion)) {
    return {};
  }
  return name;
}

void TMainForm::SaveImageFile(const QString& name, std::span<const std::uint8_t> image) {
  const std::string_view bytes(reinterpret_cast<const char*>(image.data()), image.size());
  const storage::ReplaceResult saved = storage::ReplaceFile(LocalName(name), bytes);
  if (saved.ok()) return;
  const QString reason = QString::fromLocal8Bit(saved.reason);
  // The file that was there before is still whole: the new one replaces it only when written.
  const QString text = saved.failed == storage::ReplaceStep::Write
                           ? QStringLiteral("Cannot write file \"%1\". %2")
                           : QStringLiteral("Cannot create file \"%1\". %2");
  dialogs().ShowError(this, text.arg(name, reason));
}

// --- transfers ----------------------------------------------------------------------------------

void TMainForm::ReadImage(AreaId id) {
  if (!link_->AppModule.Found) return;
  const QString name = ChooseExportFile();
  if (name.isEmpty()) return;
  const std::span<std::uint8_t> image = ImageOf(id);
  device::Outcome outcome;
  {
    const BusyCursor busy;
    // The image changes only when the whole read arrived.
    outcome = id == AreaId::Ram ? device::ReadRam(*link_, image)
                                : device::ReadFlashArea(*link_, id, image);
    if (outcome.ok() || outcome.failure == device::Failure::CncLeftStopped) {
      RedrawImage(id, 0, model::Area(id).size / 2);
    }
  }
  if (outcome.module_absent()) return;
  if (outcome.failure == device::Failure::CncLeftStopped) {
    SaveImageFile(name, image);
    dialogs().ShowMessage(this, ApplicationTitle(), kCncLeftStopped);
    return;
  }
  if (!outcome.ok()) {
    dialogs().ShowMessage(this, ApplicationTitle(), kReadFailed);
    return;
  }
  SaveImageFile(name, image);
}

void TMainForm::WriteFlashImage(AreaId id) {
  if (!link_->AppModule.Found) return;
  if (!dialogs().AskYesNo(this, kCaption, kFlashQuestion)) return;
  device::Outcome outcome;
  {
    const BusyCursor busy;
    outcome = device::WriteFlashArea(*link_, id, ImageOf(id));
  }
  if (!outcome.ok() && !outcome.module_absent()) {
    dialogs().ShowMessage(this, ApplicationTitle(), kWriteFailed);
  }
}

void TMainForm::WriteRamImage(device::RamBank bank) {
  if (!link_->AppModule.Found) return;
  if (!dialogs().AskYesNo(this, kCaption, kRamQuestion)) return;
  device::Outcome outcome;
  {
    const BusyCursor busy;
    outcome = device::WriteRam(*link_, RAM_array, bank);
  }
  if (!outcome.ok() && !outcome.module_absent()) {
    dialogs().ShowMessage(this, ApplicationTitle(), kWriteFailed);
  }
}

// The buttons, by the names of their controls.
void TMainForm::BitBtn1Click() {
  ImportWholeImage(AreaId::MainRom);
}
void TMainForm::BitBtn2Click() {
  ImportChipFile(AreaId::MainRom, "D83");
}
void TMainForm::BitBtn3Click() {
  ImportChipFile(AreaId::MainRom, "D82");
}
void TMainForm::BitBtn7Click() {
  ImportWholeImage(AreaId::AmtRom);
}
void TMainForm::BitBtn8Click() {
  ImportChipFile(AreaId::AmtRom, "D76");
}
void TMainForm::BitBtn10Click() {
  ImportChipFile(AreaId::AmtRom, "D77");
}
void TMainForm::BitBtn9Click() {
  ImportChipFile(AreaId::AmtRom, "D74");
}
void TMainForm::BitBtn11Click() {
  ImportChipFile(AreaId::AmtRom, "D75");
}
void TMainForm::BitBtn12Click() {
  ImportWholeImage(AreaId::Kvp);
}
void TMainForm::BitBtn13Click() {
  ImportWholeImage(AreaId::Ram);
}
void TMainForm::BitBtn4Click() {
  ReadImage(AreaId::MainRom);
}
void TMainForm::BitBtn5Click() {
  ReadImage(AreaId::AmtRom);
}
void TMainForm::BitBtn6Click() {
  ReadImage(AreaId::Kvp);
}
void TMainForm::BitBtn14Click() {
  ReadImage(AreaId::Ram);
}
void TMainForm::Button5Click() {
  WriteFlashImage(AreaId::MainRom);
}
void TMainForm::Button7Click() {
  WriteFlashImage(AreaId::AmtRom);
}
void TMainForm::Button9Click() {
  WriteFlashImage(AreaId::Kvp);
}
void TMainForm::Button4Click() {
  WriteRamImage(device::RamBank::Main);
}
void TMainForm::Button14Click() {
  WriteRamImage(device::RamBank::Reserve);
}

}  // namespace tarven::app
