// The scripted dialogs that every window test runs with: answers are handed out in order, every
// question is recorded, and a question or an answer the test did not plan fails it.

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <QWidget>

#include "form_fixture.h"

namespace tarven::testing {
namespace {

using Kind = ScriptedDialogs::Kind;

TEST(ScriptedDialogsTest, HandsOutQueuedAnswersInOrderAndRecordsEveryQuestion) {
  ScriptedDialogs dialogs;
  QWidget owner;
  dialogs.AnswerYes();
  dialogs.AnswerNo();
  dialogs.ChooseSaveFileName(QStringLiteral("/tmp/rom.bin"));
  dialogs.CancelOpenFile();
  dialogs.ChooseOpenFileName(QStringLiteral("/tmp/ram.bin"));
  dialogs.AcknowledgeMessage();
  dialogs.AcknowledgeError();

  EXPECT_TRUE(dialogs.AskYesNo(&owner, QStringLiteral("Тарвен"), QStringLiteral("first?")));
  EXPECT_FALSE(dialogs.AskYesNo(&owner, QStringLiteral("Внимание!"), QStringLiteral("second?")));
  EXPECT_EQ(dialogs.ChooseSaveFile(&owner), QStringLiteral("/tmp/rom.bin"));
  EXPECT_EQ(dialogs.ChooseOpenFile(&owner), QString());
  EXPECT_EQ(dialogs.ChooseOpenFile(nullptr), QStringLiteral("/tmp/ram.bin"));
  dialogs.ShowMessage(&owner, QStringLiteral("caption"), QStringLiteral("message"));
  dialogs.ShowError(&owner, QStringLiteral("Cannot open file"));
  dialogs.ExpectAllAnswersUsed();

  const struct {
    Kind kind;
    const QWidget* owner;
    const char* caption;
    const char* text;
    const char* buttons;
  } expected[] = {
      {Kind::YesNo, &owner, "Тарвен", "first?", "Yes|No"},
      {Kind::YesNo, &owner, "Внимание!", "second?", "Yes|No"},
      {Kind::SaveFile, &owner, "", "", ""},
      {Kind::OpenFile, &owner, "", "", ""},
      {Kind::OpenFile, nullptr, "", "", ""},
      {Kind::Message, &owner, "caption", "message", "OK"},
      {Kind::Error, &owner, "", "Cannot open file", "OK"},
  };
  ASSERT_EQ(dialogs.asked().size(), std::size(expected));
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(i);
    const ScriptedDialogs::Question& asked = dialogs.asked()[i];
    EXPECT_EQ(asked.kind, expected[i].kind);
    EXPECT_EQ(asked.owner, expected[i].owner);
    EXPECT_EQ(asked.caption, QString::fromUtf8(expected[i].caption));
    EXPECT_EQ(asked.text, QString::fromUtf8(expected[i].text));
    EXPECT_EQ(asked.buttons, QString::fromUtf8(expected[i].buttons));
  }
}

TEST(ScriptedDialogsTest, AnUnplannedQuestionFailsAndIsAnsweredNoOrCancelled) {
  ScriptedDialogs dialogs;
  bool yes = true;
  EXPECT_NONFATAL_FAILURE(
      yes = dialogs.AskYesNo(nullptr, QStringLiteral("Тарвен"), QStringLiteral("Записать?")),
      "unexpected Yes/No question captioned \"Тарвен\" saying \"Записать?\"");
  EXPECT_FALSE(yes);

  QString name = QStringLiteral("untouched");
  EXPECT_NONFATAL_FAILURE(name = dialogs.ChooseSaveFile(nullptr), "unexpected file-save dialog");
  EXPECT_TRUE(name.isEmpty());

  // An answer of another kind is not taken for it: the question fails and the answer stays.
  dialogs.ChooseOpenFileName(QStringLiteral("/tmp/rom.bin"));
  EXPECT_NONFATAL_FAILURE(yes = dialogs.AskYesNo(nullptr, QStringLiteral("Тарвен"), QString()),
                          "the next queued answer is for a file-open dialog");
  EXPECT_FALSE(yes);
  EXPECT_EQ(dialogs.asked().size(), 3u);
  EXPECT_NONFATAL_FAILURE(dialogs.ExpectAllAnswersUsed(),
                          "an answer for a file-open dialog was queued, but no such dialog came");
  dialogs.ExpectAllAnswersUsed();  // the leftovers are reported once
}

TEST_F(FormTest, EveryWindowOfATestAsksTheTestsScript) {
  auto first = MakeForm();
  auto second = MakePollingForm();
  dialogs().AnswerYes();
  EXPECT_TRUE(first->dialogs().AskYesNo(first.get(), QStringLiteral("Тарвен"), QString()));
  EXPECT_NONFATAL_FAILURE(second->dialogs().ShowMessage(second.get(), QString(), QString()),
                          "unexpected message");
  ASSERT_EQ(dialogs().asked().size(), 2u);
  EXPECT_EQ(dialogs().asked()[0].owner, first.get());
  EXPECT_EQ(dialogs().asked()[1].owner, second.get());
}

}  // namespace
}  // namespace tarven::testing
