#include "dialogs_scripted.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace tarven::testing {
namespace {

std::string Describe(const ScriptedDialogs::Question& question) {
  std::ostringstream os;
  PrintTo(question, &os);
  return os.str();
}

}  // namespace

const char* KindName(ScriptedDialogs::Kind kind) {
  switch (kind) {
    case ScriptedDialogs::Kind::YesNo:
      return "Yes/No question";
    case ScriptedDialogs::Kind::Message:
      return "message";
    case ScriptedDialogs::Kind::Error:
      return "error box";
    case ScriptedDialogs::Kind::OpenFile:
      return "file-open dialog";
    case ScriptedDialogs::Kind::SaveFile:
      return "file-save dialog";
  }
  return "dialog";
}

void PrintTo(const ScriptedDialogs::Question& question, std::ostream* os) {
  *os << KindName(question.kind);
  if (!question.caption.isEmpty()) *os << " captioned \"" << question.caption.toStdString() << '"';
  if (!question.text.isEmpty()) *os << " saying \"" << question.text.toStdString() << '"';
  if (!question.buttons.isEmpty()) *os << " [" << question.buttons.toStdString() << ']';
}

ScriptedDialogs::Answer ScriptedDialogs::Take(const Question& question) {
  asked_.push_back(question);
  if (answers_.empty()) {
    ADD_FAILURE() << "unexpected " << Describe(question) << ": no answer was queued";
    return {question.kind, false, {}};
  }
  if (answers_.front().kind != question.kind) {
    ADD_FAILURE() << "unexpected " << Describe(question) << ": the next queued answer is for a "
                  << KindName(answers_.front().kind);
    return {question.kind, false, {}};
  }
  Answer answer = answers_.front();
  answers_.pop_front();
  return answer;
}

void ScriptedDialogs::ExpectAllAnswersUsed() {
  for (const Answer& answer : answers_) {
    ADD_FAILURE() << "an answer for a " << KindName(answer.kind)
                  << " was queued, but no such dialog came";
  }
  answers_.clear();
}

bool ScriptedDialogs::AskYesNo(QWidget* owner, const QString& caption, const QString& text) {
  return Take({Kind::YesNo, owner, caption, text, QStringLiteral("Yes|No")}).accept;
}

void ScriptedDialogs::ShowMessage(QWidget* owner, const QString& caption, const QString& text) {
  Take({Kind::Message, owner, caption, text, QStringLiteral("OK")});
}

void ScriptedDialogs::ShowError(QWidget* owner, const QString& text) {
  Take({Kind::Error, owner, QString(), text, QStringLiteral("OK")});
}

QString ScriptedDialogs::ChooseOpenFile(QWidget* owner) {
  const Answer answer = Take({Kind::OpenFile, owner, {}, {}, {}});
  return answer.accept ? answer.file : QString();
}

QString ScriptedDialogs::ChooseSaveFile(QWidget* owner) {
  const Answer answer = Take({Kind::SaveFile, owner, {}, {}, {}});
  return answer.accept ? answer.file : QString();
}

QString ScriptedDialogs::ChooseSaveFileAs(QWidget* owner, const QString& proposed,
                                          const QString& filter) {
  // The proposed name stands where a question's text would, so that a test can read it.
  const Answer answer = Take({Kind::SaveFile, owner, filter, proposed, {}});
  return answer.accept ? answer.file : QString();
}

}  // namespace tarven::testing
