#pragma once
// The toolkit's own texts (file dialogs, standard buttons, context menus) in the window's
// language, Russian, from the translations installed with the toolkit.

class QCoreApplication;
class QTranslator;

namespace tarven::app {

// Loads and installs the toolkit's Russian translation, owned by `application`. Null when it is
// not installed (the toolkit's texts then stay English; the window's own texts are Russian
// either way).
QTranslator* InstallToolkitTranslation(QCoreApplication& application);

}  // namespace tarven::app
