#include "app/edit_colour.h"

#include <QApplication>
#include <QColor>
#include <QLineEdit>
#include <QPalette>

namespace tarven::app {

void ShowTextValid(QLineEdit& edit, bool valid) {
  QPalette palette = edit.palette();
  const QColor colour =
      valid ? QApplication::palette(&edit).color(QPalette::Text) : QColor(255, 0, 0);
  if (palette.color(QPalette::Text) == colour) return;
  palette.setColor(QPalette::Text, colour);
  edit.setPalette(palette);
}

}  // namespace tarven::app
