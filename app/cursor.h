#pragma once
// The mouse cursor during module exchanges. A handler that talks to the module holds a BusyCursor
// for as long as it works; the default cursor comes back on every way out, by return or by
// exception.

namespace tarven::app {

// Shows the busy cursor over the whole application while it lives. Scopes nest: the default
// cursor comes back when the outermost one ends.
class BusyCursor {
 public:
  BusyCursor();
  ~BusyCursor();
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;
};

// Brings back the default cursor, whatever was stacked before: the status tick's last word after
// an exchange with the module.
void RestoreDefaultCursor();

}  // namespace tarven::app
