#pragma once
// The window's dialogs answered by the test: the test queues its answers in the order the window
// is to ask, and reads back every question the window asked. A question nobody queued an answer
// for fails the test and is answered No (or cancelled); so does a queued answer of another kind.
// Answers still queued when the test ends fail it too (ExpectAllAnswersUsed, run by FormTest).

#include <QString>
#include <deque>
#include <ostream>
#include <vector>

#include "app/dialogs.h"

namespace tarven::testing {

class ScriptedDialogs final : public app::Dialogs {
 public:
  enum class Kind { YesNo, Message, Error, OpenFile, SaveFile };

  struct Question {
    Kind kind;
    const QWidget* owner;
    QString caption;  // empty for the error box (the application's title) and the file dialogs;
                      // a save dialog for a kind of file: its filter
    QString text;     // empty for the file dialogs; a save dialog for a kind of file: the name
                      // it proposed
    QString buttons;  // "Yes|No", "OK", or empty for the file dialogs
  };

  // The next question is a Yes/No question; answer it so.
  void AnswerYes() { Queue({Kind::YesNo, true, {}}); }
  void AnswerNo() { Queue({Kind::YesNo, false, {}}); }
  // The next question is a message, or the error box; close it.
  void AcknowledgeMessage() { Queue({Kind::Message, true, {}}); }
  void AcknowledgeError() { Queue({Kind::Error, true, {}}); }
  // The next question is a file dialog; choose `name`, or cancel it.
  void ChooseOpenFileName(const QString& name) { Queue({Kind::OpenFile, true, name}); }
  void CancelOpenFile() { Queue({Kind::OpenFile, false, {}}); }
  void ChooseSaveFileName(const QString& name) { Queue({Kind::SaveFile, true, name}); }
  void CancelSaveFile() { Queue({Kind::SaveFile, false, {}}); }

  // Every question asked so far, in order, answered or not.
  const std::vector<Question>& asked() const { return asked_; }

  // Fails the running test once for each queued answer that no question took, then forgets them.
  void ExpectAllAnswersUsed();

  bool AskYesNo(QWidget* owner, const QString& caption, const QString& text) override;
  void ShowMessage(QWidget* owner, const QString& caption, const QString& text) override;
  void ShowError(QWidget* owner, const QString& text) override;
  QString ChooseOpenFile(QWidget* owner) override;
  QString ChooseSaveFile(QWidget* owner) override;
  QString ChooseSaveFileAs(QWidget* owner, const QString& proposed, const QString& filter) override;

 private:
  struct Answer {
    Kind kind;
    bool accept;
    QString file;
  };

  void Queue(Answer answer) { answers_.push_back(std::move(answer)); }
  // Records the question and takes the answer for it, or fails the test and declines.
  Answer Take(const Question& question);

  std::deque<Answer> answers_;
  std::vector<Question> asked_;
};

const char* KindName(ScriptedDialogs::Kind kind);
void PrintTo(const ScriptedDialogs::Question& question, std::ostream* os);

}  // namespace tarven::testing
