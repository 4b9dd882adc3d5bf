#include "gui/QtTranslation.h"

#include <QCoreApplication>
#include <QTranslator>

bool InstallQtTranslation(QCoreApplication& app, const QString& folder)
{
    auto* translator = new QTranslator(&app);
    if (!translator->load(QLatin1String(kQtTranslationName), folder) || !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return false;
    }
    return true;
}
