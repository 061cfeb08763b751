// The busy cursor of a handler: shown while the handler works, the default cursor back on every
// way out, scopes nested.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <stdexcept>

#include "app/cursor.h"

namespace tarven::testing {
namespace {

using app::BusyCursor;

bool ShowsBusyCursor() {
  const QCursor* cursor = QApplication::overrideCursor();
  return cursor != nullptr && cursor->shape() == Qt::WaitCursor;
}

enum class WayOut { Normal, EarlyReturn, Exception };

// Works like a handler that talks to the module: busy from its first exchange to its end.
int Handler(WayOut way, bool& was_busy) {
  const BusyCursor busy;
  was_busy = ShowsBusyCursor();
  if (way == WayOut::EarlyReturn) return 1;
  if (way == WayOut::Exception) throw std::runtime_error("Cannot create file");
  return 0;
}

TEST(BusyCursorTest, EveryWayOutOfAHandlerBringsTheDefaultCursorBack) {
  const struct {
    const char* name;
    WayOut way;
  } cases[] = {{"normal", WayOut::Normal},
               {"early_return", WayOut::EarlyReturn},
               {"exception", WayOut::Exception}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(QApplication::overrideCursor(), nullptr);
    bool was_busy = false;
    try {
      Handler(c.way, was_busy);
    } catch (const std::runtime_error&) {
    }
    EXPECT_TRUE(was_busy);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  }
}

TEST(BusyCursorTest, NestedScopesKeepTheBusyCursorUntilTheOutermostEnds) {
  {
    const BusyCursor outer;
    {
      const BusyCursor inner;
      EXPECT_TRUE(ShowsBusyCursor());
    }
    EXPECT_TRUE(ShowsBusyCursor()) << "the outer scope still works";
  }
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(BusyCursorTest, RestoringTheDefaultCursorDropsEveryBusyCursor) {
  QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
  QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
  app::RestoreDefaultCursor();
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

}  // namespace
}  // namespace tarven::testing
