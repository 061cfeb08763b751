#pragma once
// The mouse cursor during module exchanges. Nothing pumps window messages while the window talks
// to the module, so the busy cursor is set and taken back explicitly rather than by scope.

namespace tarven::app {

// Shows the busy cursor over the whole application (once, however often it is called).
void ShowBusyCursor();
// Brings back the default cursor, whatever was stacked before.
void RestoreDefaultCursor();

}  // namespace tarven::app
