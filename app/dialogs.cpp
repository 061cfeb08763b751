#include "app/dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

#include "app/application_title.h"

namespace tarven::app {
namespace {

// The tool's texts break their lines the way the module's own tools always have: a carriage
// return alone, or a line feed and a carriage return. A label breaks lines only at a line feed,
// so each such break is shown as one.
QString Displayed(QString text) {
  text.replace(QStringLiteral("\n\r"), QStringLiteral("\n"));
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return text;
}

}  // namespace

bool QtDialogs::AskYesNo(QWidget* owner, const QString& caption, const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, caption, Displayed(text), QMessageBox::Yes | QMessageBox::No,
                  owner);
  // The window speaks Russian; the toolkit's own button texts would not.
  box.button(QMessageBox::Yes)->setText(QStringLiteral("Да"));
  box.button(QMessageBox::No)->setText(QStringLiteral("Нет"));
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes;
}

void QtDialogs::ShowMessage(QWidget* owner, const QString& caption, const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, caption, Displayed(text), QMessageBox::Ok, owner);
  box.exec();
}

void QtDialogs::ShowError(QWidget* owner, const QString& text) {
  QMessageBox::critical(owner, ApplicationTitle(), Displayed(text));
}

QString QtDialogs::ChooseOpenFile(QWidget* owner) {
  const QString name = QFileDialog::getOpenFileName(owner, QString(), last_open_);
  if (!name.isEmpty()) last_open_ = name;
  return name;
}

QString QtDialogs::ChooseSaveFile(QWidget* owner) {
  QString name = QFileDialog::getSaveFileName(owner, QString(), last_save_,
                                              QStringLiteral("Бинарный файл (*.bin)"), nullptr,
                                              QFileDialog::DontConfirmOverwrite);
  if (name.isEmpty()) return name;
  // Not every platform dialog applies a default suffix, so it is added here.
  if (QFileInfo(name).suffix().isEmpty()) name += QStringLiteral(".bin");
  last_save_ = name;
  return name;
}

QString QtDialogs::ChooseSaveFileAs(QWidget* owner, const QString& proposed,
                                    const QString& filter) {
  const QString folder = last_save_.isEmpty() ? QString() : QFileInfo(last_save_).absolutePath();
  const QString start = folder.isEmpty() ? proposed : QDir(folder).filePath(proposed);
  const QString name = QFileDialog::getSaveFileName(owner, QString(), start, filter, nullptr,
                                                    QFileDialog::DontConfirmOverwrite);
  if (!name.isEmpty()) last_save_ = name;
  return name;
}

}  // namespace tarven::app
