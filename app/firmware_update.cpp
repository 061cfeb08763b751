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

// The bar is set after every piece, but drawn at most this often: on full-speed USB a piece
// takes about 8 ms, and drawing each one would cost more than the transfer itself against a
// fast link.
constexpr qint64 kProgressPaintMs = 40;

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
  // The status texts that the tick has just written go on screen before the window stalls.
  Panel3->repaint();
  const firmware::Image& image = FirmwareImage();
  if (image.empty()) {
    dialogs().ShowMessage(this, ApplicationTitle(), kNoImage);
    return;
  }
  device::Outcome outcome;
  {
    const BusyCursor busy;
    QElapsedTimer since_paint;
    outcome =
        device::SendFirmware(HidHandle, image.bytes, [&](std::uint64_t done, std::uint64_t total) {
          const int percent = device::FirmwareProgressPercent(done, total);
          ProgressBar1->setValue(percent);
          // The first value (0, before the announcement) is drawn at once, later ones now and
          // then; the window handles no events until the transfer ends.
          if (!since_paint.isValid() || since_paint.elapsed() >= kProgressPaintMs) {
            ProgressBar1->repaint();
            since_paint.start();
          }
          return true;
        });
    ProgressBar1->setValue(0);
  }
  if (!outcome.ok()) dialogs().ShowMessage(this, ApplicationTitle(), kUpdateFailed);
}

}  // namespace tarven::app
