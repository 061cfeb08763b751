#include "app/toolkit_translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace tarven::app {

QTranslator* InstallToolkitTranslation(QCoreApplication& application) {
  // Owned by the application, so that it lives as long as the texts it translates.
  auto* translator = new QTranslator(&application);
  if (!translator->load(QLocale(QLocale::Russian, QLocale::Russia), QStringLiteral("qtbase"),
                        QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return nullptr;
  }
  QCoreApplication::installTranslator(translator);
  return translator;
}

}  // namespace tarven::app
