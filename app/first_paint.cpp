#include "app/first_paint.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QTimer>
#include <QWidget>
#include <cstdio>

namespace tarven::app {
namespace {

// What the measured run has said so far; it ends once it has said both.
bool painted = false;
bool pages_built = false;

void Say(const char* line) {
  std::fputs(line, stdout);
  std::fflush(stdout);
  if (painted && pages_built) QCoreApplication::exit(0);
}

class FirstPaintWatch final : public QObject {
 public:
  FirstPaintWatch(QWidget* window, bool pages_follow) : QObject(window), pages_follow_(pages_follow) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && !seen_) {
      seen_ = true;
      // The children are painted and the picture flushed within the same pass as the window's
      // own paint event; the zero timer runs once that pass is over.
      QTimer::singleShot(0, [pages_follow = pages_follow_] {
        painted = true;
        if (!pages_follow) pages_built = true;
        Say(pages_follow ? "first-paint\n" : "first-paint\npages-built\n");
      });
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  bool pages_follow_;
  bool seen_ = false;
};

}  // namespace

void ExitAfterFirstPaintIfAsked(QWidget& window, bool pages_follow) {
  if (!qEnvironmentVariableIsSet(kExitAfterFirstPaintVariable)) return;
  window.installEventFilter(new FirstPaintWatch(&window, pages_follow));
}

void MarkPagesBuiltIfAsked() {
  if (!qEnvironmentVariableIsSet(kExitAfterFirstPaintVariable) || pages_built) return;
  pages_built = true;
  Say("pages-built\n");
}

}  // namespace tarven::app
