#include "app/Preklady.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

QTranslator *InstallQtTranslation(QCoreApplication &app, const QLocale &locale)
{
    auto *translator = new QTranslator(&app);
    if (translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
        QCoreApplication::installTranslator(translator))
        return translator;
    delete translator;
    return nullptr;
}
