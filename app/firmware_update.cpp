// The firmware update: "Обновить" asks the application to give way to its boot loader, and the
// status tick that finds the boot loader streams the image to it while the progress bar runs.

#include "device/firmware_update.h"

#include <QElapsedTimer>
#include <QProgressBar>

#include "app/application_title.h"
#include "app/cursor.h"
#include "app/main_form.h"

namespace tarven::app {
namespace {

const QString kNoImage = QStringLiteral("Образ прошивки не найден.");
// Success and failure would otherwise look alike: the bar goes back to 0 either way.
const QString kUpdateFailed = QStringLiteral("Обновление прошивки не выполнено.");

// What a person can see of the transfer. The bar's value is set after every piece, but a progress
// bar draws itself at once on every visible change, which costs far more than a piece takes to
// go over a fast link (the simulated module takes a whole image in well under a millisecond).
// So the bar draws nothing by itself while the transfer runs: the status panel (the texts the
// tick has just written, and the bar) is drawn once the transfer has run for a moment, and then
// at most this often, which over full-speed USB (about three seconds) moves the bar 25 times a
// second. The window handles no events until the transfer ends; the bar back at 0 is drawn with
// the window's next paint.
constexpr qint64 kPaintIntervalMs = 40;

class TransferView {
 public:
  TransferView(QWidget& panel, QProgressBar& bar) : panel_(panel), bar_(bar) {
    bar_.setValue(0);
    bar_.setUpdatesEnabled(false);
    clock_.start();
  }
  ~TransferView() {
    bar_.setValue(0);
    bar_.setUpdatesEnabled(true);
  }
  TransferView(const TransferView&) = delete;
  TransferView& operator=(const TransferView&) = delete;

  void Show(int percent) {
    if (percent == bar_.value()) return;  // unchanged: nothing to set, and nothing new to draw
    bar_.setValue(percent);
    const qint64 now = clock_.elapsed();
    if (now - painted_at_ < kPaintIntervalMs) return;
    bar_.setUpdatesEnabled(true);
    if (painted_at_ == 0) {
      panel_.repaint();
    } else {
      bar_.repaint();
    }
    bar_.setUpdatesEnabled(false);
    painted_at_ = now;
  }

 private:
  QWidget& panel_;
  QProgressBar& bar_;
  QElapsedTimer clock_;
  qint64 painted_at_ = 0;
};

}  // namespace

void TMainForm::SetFirmwareImage(firmware::Image image, bool simulated_link) {
  std::string refused;
  // The stand-in image never goes to a real module: the window is then without an image.
  if (!firmware::CheckImageForLink(image, simulated_link, refused)) image = firmware::Image{};
  firmware_image_ = std::move(image);
  firmware_image_chosen_ = true;
}

const firmware::Image& TMainForm::FirmwareImage() {
  if (!firmware_image_chosen_) {
    firmware::ImageQuery query;
    query.program_folder = firmware::ProgramFolder();
    std::string error;
    firmware::Image image;
    firmware::FindImage(query, image, error);
    SetFirmwareImage(std::move(image), false);
  }
  return firmware_image_;
}

void TMainForm::Button3Click() {
  if (FirmwareImage().empty()) {
    dialogs().ShowMessage(this, ApplicationTitle(), kNoImage);
    return;
  }
  up_flag = true;
  // With the boot loader there already, the next status tick starts the transfer.
  if (device::BootModule.Found) return;
  device::RequestBootLoader(HidHandle);
}

void TMainForm::SendFirmwareImage() {
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
        device::SendFirmware(HidHandle, image.bytes, [&](std::uint64_t done, std::uint64_t total) {
          view.Show(device::FirmwareProgressPercent(done, total));
          return true;
        });
  }
  if (!outcome.ok()) dialogs().ShowMessage(this, ApplicationTitle(), kUpdateFailed);
}

}  // namespace tarven::app
