// The firmware update: "Обновить" asks the application to give way to its boot loader, and the
// status tick that finds the boot loader streams the image to it while the progress bar runs.

#include "device/firmware_update.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QScopeGuard>

#include "app/application_title.h"
#include "app/cursor.h"
#include "app/main_form.h"
#include "model/version_text.h"

namespace tarven::app {
namespace {

const QString kNoImage = QStringLiteral("Образ прошивки не найден.");
// In place of the version under "Доступная версия обновления прошивки:" when there is no image.
const QString kNoUpdate = QStringLiteral("нет");
// Success and failure would otherwise look alike: the bar goes back to 0 either way.
const QString kUpdateFailed = QStringLiteral("Обновление прошивки не выполнено.");

// What a person can see of the transfer. When it starts, the status panel is drawn at once, so
// that the texts the tick has just written are on screen, and the bar is drawn at once at its 0
// when the boot loader has been found. After that the bar's value is set after every piece, but a
// progress bar draws itself at once on every visible change, which costs far more than a piece
// takes to go over a fast link (the simulated module takes a whole image in well under a
// millisecond). So the bar draws nothing by itself while the transfer runs: it is drawn at most
// this often, which over full-speed USB (about three seconds) moves it 25 times a second. The
// window handles no events until the transfer ends; the bar back at 0 is drawn with the window's
// next paint.
constexpr qint64 kPaintIntervalMs = 40;

class TransferView {
 public:
  TransferView(QWidget& panel, QProgressBar& bar) : bar_(bar) {
    panel.repaint();
    bar_.setUpdatesEnabled(false);
  }
  ~TransferView() {
    bar_.setValue(0);
    bar_.setUpdatesEnabled(true);
  }
  TransferView(const TransferView&) = delete;
  TransferView& operator=(const TransferView&) = delete;

  void Show(int percent) {
    const bool first = !painted_.isValid();
    if (!first && percent == bar_.value()) return;  // nothing new to draw
    bar_.setValue(percent);
    if (!first && painted_.elapsed() < kPaintIntervalMs) return;
    bar_.setUpdatesEnabled(true);
    bar_.repaint();
    bar_.setUpdatesEnabled(false);
    painted_.start();
  }

 private:
  QProgressBar& bar_;
  QElapsedTimer painted_;  // since the bar was last drawn; invalid before the first time
};

// The status panel offers the carried image's version as the available update only when there is
// an image to send; otherwise it says that there is none.
void ShowAvailableUpdate(QLabel& label, bool available) {
  label.setText(available ? QStringLiteral("v ") + QString::fromUtf8(model::kCarriedFirmwareVersion)
                          : kNoUpdate);
}

}  // namespace

void TMainForm::SetFirmwareImage(firmware::Image image, bool simulated_link) {
  std::string refused;
  // The stand-in image never goes to a real module: the window is then without an image.
  if (!firmware::CheckImageForLink(image, simulated_link, refused)) image = firmware::Image{};
  firmware_image_ = std::move(image);
  firmware_image_chosen_ = true;
  ShowAvailableUpdate(*Label47, !firmware_image_.empty());
}

void TMainForm::FindFirmwareImageWhenNeeded(bool simulated_link) {
  image_for_simulated_link_ = simulated_link;
  // Whether there is one is told from the file system alone; the image is read at the press.
  firmware::ImageQuery query;
  query.program_folder = firmware::ProgramFolder();
  query.simulated = simulated_link;
  ShowAvailableUpdate(*Label47, firmware::ImageMayBeFound(query));
}

const firmware::Image& TMainForm::FirmwareImage() {
  if (!firmware_image_chosen_) {
    firmware::ImageQuery query;
    query.program_folder = firmware::ProgramFolder();
    query.simulated = image_for_simulated_link_;
    std::string error;
    firmware::Image image;
    firmware::FindImage(query, image, error);
    SetFirmwareImage(std::move(image), image_for_simulated_link_);
  }
  return firmware_image_;
}

void TMainForm::Button3Click() {
  if (FirmwareImage().empty()) {
    dialogs().ShowMessage(this, ApplicationTitle(), kNoImage);
    return;
  }
  up_flag = true;
  // The image goes to the module that was asked to give way, or to the boot loader the last tick
  // found: until the transfer, the ticks look for the module there and nowhere else (it may come
  // back under another path, and another module's boot loader may come first). When no module was
  // found, a later press holds to the one it finds.
  if (link_->BootModule().Found) {
    // The next status tick starts the transfer.
    device::FollowLastFound(*link_, update_follows_);
    return;
  }
  device::RequestBootLoader(*link_, &update_follows_);
}

void TMainForm::SendFirmwareImage() {
  // However the transfer ends, the window takes whichever module answers again afterwards.
  const auto release = qScopeGuard([this] { update_follows_.reset(); });
  const firmware::Image& image = FirmwareImage();
  if (image.empty()) {
    dialogs().ShowMessage(this, ApplicationTitle(), kNoImage);
    return;
  }
  device::Outcome outcome;
  {
    const BusyCursor busy;
    TransferView view(*Panel3, *ProgressBar1);
    outcome =
        device::SendFirmware(*link_, image.bytes, [&](std::uint64_t done, std::uint64_t total) {
          view.Show(device::FirmwareProgressPercent(done, total));
          return true;
        });
  }
  if (!outcome.ok()) dialogs().ShowMessage(this, ApplicationTitle(), kUpdateFailed);
}

}  // namespace tarven::app
