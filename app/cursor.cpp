#include "app/cursor.h"

#include <QApplication>
#include <QCursor>

namespace tarven::app {

void ShowBusyCursor() {
  if (QApplication::overrideCursor() != nullptr) {
    QApplication::changeOverrideCursor(QCursor(Qt::WaitCursor));
  } else {
    QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
  }
}

void RestoreDefaultCursor() {
  while (QApplication::overrideCursor() != nullptr) QApplication::restoreOverrideCursor();
}

}  // namespace tarven::app
