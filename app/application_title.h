#pragma once
// The application's title: the main window's caption and the task bar's text, and the caption of
// the application's own boxes (the error box, the checksum messages). Other boxes carry their own
// captions and nothing is appended to them.

#include <QString>

#include "model/version_text.h"

namespace tarven::app {

inline QString ApplicationTitle() {
  return QStringLiteral("Тарвен v ") + QString::fromUtf8(model::kCarriedFirmwareVersion);
}

}  // namespace tarven::app
