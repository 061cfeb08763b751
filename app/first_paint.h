#pragma once
// Start-up measurement: with TARVEN_EXIT_AFTER_FIRST_PAINT set in the environment, a window
// prints "first-paint" on its standard output as soon as it has been painted for the first time
// and ends the message loop. bench/startup.py times a run from exec to that line.

class QWidget;

namespace tarven::app {

inline constexpr const char* kExitAfterFirstPaintVariable = "TARVEN_EXIT_AFTER_FIRST_PAINT";

// Does nothing unless the variable is set.
void ExitAfterFirstPaintIfAsked(QWidget& window);

}  // namespace tarven::app
