#include "app/page_slot.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QVBoxLayout>

namespace tarven::app {

void PlacePage(QWidget& stand_in, QWidget& page) {
  auto* layout = new QVBoxLayout(&stand_in);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(&page);
  // A page built while its tab is on top appears at once, as a page of the layout would.
  page.show();
}

HoldBackComboFontChanges::HoldBackComboFontChanges() {
  QCoreApplication::instance()->installEventFilter(this);
}

HoldBackComboFontChanges::~HoldBackComboFontChanges() {
  QCoreApplication::instance()->removeEventFilter(this);
}

bool HoldBackComboFontChanges::eventFilter(QObject* watched, QEvent* event) {
  return event->type() == QEvent::FontChange && qobject_cast<QComboBox*>(watched) != nullptr;
}

}  // namespace tarven::app
