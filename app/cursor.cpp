#include "app/cursor.h"

#include <QApplication>
#include <QCursor>

namespace tarven::app {

BusyCursor::BusyCursor() {
  QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
}

BusyCursor::~BusyCursor() {
  // A status tick inside a modal box may already have taken the cursor back; popping an empty
  // stack would do nothing, but the check says that this is expected.
  if (QApplication::overrideCursor() != nullptr) QApplication::restoreOverrideCursor();
}

void RestoreDefaultCursor() {
  while (QApplication::overrideCursor() != nullptr) QApplication::restoreOverrideCursor();
}

}  // namespace tarven::app
