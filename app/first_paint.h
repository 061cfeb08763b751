#pragma once
// Start-up measurement: with TARVEN_EXIT_AFTER_FIRST_PAINT set in the environment, a window
// prints "first-paint" on its standard output as soon as it has been painted for the first time,
// and "pages-built" once every page exists, and then ends the message loop. bench/startup.py
// times a run from exec to each line.

class QWidget;

namespace tarven::app {

inline constexpr const char* kExitAfterFirstPaintVariable = "TARVEN_EXIT_AFTER_FIRST_PAINT";

// Does nothing unless the variable is set. A window whose pages are built with it says both lines
// at its first paint; one that builds pages later (`pages_follow`) says the second from
// MarkPagesBuiltIfAsked.
void ExitAfterFirstPaintIfAsked(QWidget& window, bool pages_follow = false);
void MarkPagesBuiltIfAsked();

}  // namespace tarven::app
