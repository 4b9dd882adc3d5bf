#pragma once
// Qt's own texts (the standard buttons' OK, Cancel, Yes and No, the text fields' menus) in
// the program's language, from the translation Qt ships (Debian: qt6-translations-l10n).

#include <QLibraryInfo>
#include <QString>

class QCoreApplication;

// The name of Qt's Japanese translation in its folder.
constexpr const char* kQtTranslationName = "qtbase_ja";

// Installs the translation found in `folder` on `app`, which owns it from then on. False,
// and Qt's English kept, when `folder` holds none that loads.
bool InstallQtTranslation(QCoreApplication& app,
                          const QString& folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath));
