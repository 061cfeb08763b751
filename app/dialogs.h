#pragma once
// Every question, message and file dialog of the window goes through Dialogs, so that tests can
// answer them without a person at the screen.

#include <QString>

class QWidget;

namespace tarven::app {

class Dialogs {
 public:
  virtual ~Dialogs() = default;

  // A question with the buttons Yes and No and no icon. True only when the answer is Yes.
  virtual bool AskYesNo(QWidget* owner, const QString& caption, const QString& text) = 0;
  // A message with an OK button and no icon.
  virtual void ShowMessage(QWidget* owner, const QString& caption, const QString& text) = 0;
  // The application's error box, captioned with the application's title, for errors such as a
  // file that cannot be opened.
  virtual void ShowError(QWidget* owner, const QString& text) = 0;
  // The file-open dialog, for any file. Empty when cancelled.
  virtual QString ChooseOpenFile(QWidget* owner) = 0;
  // The file-save dialog for binary images: a name typed without extension gets ".bin". It does
  // not ask about an existing file; the caller asks in its own words. Empty when cancelled.
  virtual QString ChooseSaveFile(QWidget* owner) = 0;
  // The file-save dialog for another kind of file: it opens on `proposed` (a name, in the folder
  // last chosen) and offers `filter` ("Резервная копия (*.tar)"); the name is taken as typed. It
  // does not ask about an existing file either. Empty when cancelled. Dialogs that do not tell
  // the kinds of file apart answer it as ChooseSaveFile.
  virtual QString ChooseSaveFileAs(QWidget* owner, const QString& proposed, const QString& filter) {
    static_cast<void>(proposed);
    static_cast<void>(filter);
    return ChooseSaveFile(owner);
  }
};

// The dialogs a person sees. Each file dialog opens with the name last chosen in it.
class QtDialogs final : public Dialogs {
 public:
  bool AskYesNo(QWidget* owner, const QString& caption, const QString& text) override;
  void ShowMessage(QWidget* owner, const QString& caption, const QString& text) override;
  void ShowError(QWidget* owner, const QString& text) override;
  QString ChooseOpenFile(QWidget* owner) override;
  QString ChooseSaveFile(QWidget* owner) override;
  QString ChooseSaveFileAs(QWidget* owner, const QString& proposed, const QString& filter) override;

 private:
  QString last_open_;
  QString last_save_;
};

}  // namespace tarven::app
