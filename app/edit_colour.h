#pragma once
// Edits that check their text on every change show it in the normal text colour while it is valid
// and in pure red while it is not.

class QLineEdit;

namespace tarven::app {

void ShowTextValid(QLineEdit& edit, bool valid);

}  // namespace tarven::app
