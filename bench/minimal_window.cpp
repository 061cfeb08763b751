// The yardstick for the window's start-up time: the least a Qt Widgets window of the same size
// and with the same number of pages does, started and measured the same way (bench/startup.py).

#include <QApplication>
#include <QTabWidget>
#include <QWidget>

#include "app/first_paint.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QWidget window;
  window.setFixedSize(712, 340);
  window.setWindowTitle(QStringLiteral("Тарвен"));
  auto* pages = new QTabWidget(&window);
  pages->setGeometry(0, 0, 470, 340);
  for (int page = 1; page <= 11; ++page) {
    pages->addTab(new QWidget, QStringLiteral("Страница %1").arg(page));
  }
  tarven::app::ExitAfterFirstPaintIfAsked(window);
  window.show();
  return QApplication::exec();
}
