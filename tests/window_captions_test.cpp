// Window captions as the X server holds them, read back with xprop: the main window (and so the
// task bar) reads "Тарвен v 4.54", and a question box reads exactly its own caption, with nothing
// of the application appended. Runs on the xcb platform under Xvfb; see app.cmake.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QByteArray>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <QWindow>
#include <functional>
#include <string>

#include "app/dialogs.h"
#include "form_fixture.h"

namespace tarven::testing {
namespace {

// xprop prints a text property as "NAME(TYPE) = "text"", with '"' and '\' escaped and bytes it
// cannot show in octal.
QString QuotedValue(const QByteArray& line) {
  const qsizetype open = line.indexOf('"');
  const qsizetype close = line.lastIndexOf('"');
  if (open < 0 || close <= open) return QString();
  QByteArray bytes;
  for (qsizetype i = open + 1; i < close; ++i) {
    if (line[i] != '\\' || i + 1 >= close) {
      bytes += line[i];
    } else if (i + 3 < close && line.mid(i + 1, 3).toInt(nullptr, 8) > 0) {
      bytes += static_cast<char>(line.mid(i + 1, 3).toInt(nullptr, 8));
      i += 3;
    } else {
      bytes += line[++i];
    }
  }
  return QString::fromUtf8(bytes);
}

// As UTF-8, so that a failure prints the text.
struct WmNames {
  std::string net_wm_name;  // _NET_WM_NAME, what task bars and window managers show
  std::string wm_name;      // WM_NAME, the older property
};

WmNames ReadWmNames(WId window) {
  QProcess xprop;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
  xprop.setProcessEnvironment(environment);
  xprop.start(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(window),
                                        QStringLiteral("_NET_WM_NAME"), QStringLiteral("WM_NAME")});
  WmNames names;
  if (!xprop.waitForFinished(5000)) {
    ADD_FAILURE() << "xprop did not finish";
    return names;
  }
  for (const QByteArray& line : xprop.readAllStandardOutput().split('\n')) {
    if (line.startsWith("_NET_WM_NAME")) names.net_wm_name = QuotedValue(line).toStdString();
    if (line.startsWith("WM_NAME")) names.wm_name = QuotedValue(line).toStdString();
  }
  return names;
}

void WaitUntilExposed(QWidget& window) {
  const QDeadlineTimer deadline(5000);
  while (!deadline.hasExpired() &&
         (window.windowHandle() == nullptr || !window.windowHandle()->isExposed())) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
}

// Runs `open_box`, which shows a modal message box and returns when it is closed. Meanwhile the
// box's names are read from the X server and the box is closed by its No button (its OK button
// for a box without one).
WmNames NamesOfTheBoxOpenedBy(const std::function<void()>& open_box) {
  WmNames names;
  bool read = false;
  QTimer poll;
  poll.setInterval(20);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || box->windowHandle() == nullptr || !box->windowHandle()->isExposed()) {
      return;
    }
    poll.stop();
    names = ReadWmNames(box->winId());
    read = true;
    QAbstractButton* close = box->button(QMessageBox::No);
    if (close == nullptr) close = box->button(QMessageBox::Ok);
    close->click();
  });
  // Should the box never show, the test must still end.
  QTimer watchdog;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, [] {
    if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
  });
  poll.start();
  watchdog.start(10000);
  open_box();
  EXPECT_TRUE(read) << "the box was not seen on the X server";
  return names;
}

class WindowCaptionsTest : public FormTest {
 protected:
  void SetUp() override {
    if (QApplication::platformName() != QStringLiteral("xcb")) {
      GTEST_SKIP() << "needs the xcb platform; ctest runs this under xvfb-run";
    }
    if (QStandardPaths::findExecutable(QStringLiteral("xprop")).isEmpty()) {
      GTEST_SKIP() << "xprop (x11-utils) is not installed";
    }
    FormTest::SetUp();
  }
};

TEST_F(WindowCaptionsTest, MainWindowAndQuestionBoxesCarryTheirOwnCaptionsOnly) {
  auto form = MakeForm();
  form->show();
  WaitUntilExposed(*form);
  ASSERT_TRUE(form->windowHandle()->isExposed());
  const WmNames window = ReadWmNames(form->winId());
  EXPECT_EQ(window.net_wm_name, "Тарвен v 4.54");
  EXPECT_EQ(window.wm_name, "Тарвен v 4.54");

  app::QtDialogs dialogs;
  const struct {
    const char* caption;
    const char* text;
  } questions[] = {
      {"Тарвен", "Записать в ППЗУ Тарвен?"},
      {"Внимание!", "Файл с таким именем существует\n\rПродолжить?"},
  };
  for (const auto& question : questions) {
    SCOPED_TRACE(question.caption);
    bool answer = true;
    const WmNames box = NamesOfTheBoxOpenedBy([&] {
      answer = dialogs.AskYesNo(form.get(), QString::fromUtf8(question.caption),
                                QString::fromUtf8(question.text));
    });
    EXPECT_FALSE(answer) << "closed by No";
    EXPECT_EQ(box.net_wm_name, question.caption);
    EXPECT_EQ(box.wm_name, question.caption);
  }

  // The application's error box is captioned with the application's title, once.
  const WmNames error = NamesOfTheBoxOpenedBy(
      [&] { dialogs.ShowError(form.get(), QStringLiteral("Cannot open file \"x\".")); });
  EXPECT_EQ(error.net_wm_name, "Тарвен v 4.54");

  EXPECT_EQ(ReadWmNames(form->winId()).net_wm_name, "Тарвен v 4.54");
}

}  // namespace
}  // namespace tarven::testing
