#include "app/Preklady.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

QTranslator *InstallQtTranslation(QCoreApplication &app, const QLocale &locale)
{
    const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    // The program itself speaks Czech: where Qt has nothing for the system's
    // language (English, C), Qt speaks Czech too rather than mix languages.
    for (const QLocale &language : {locale, QLocale(QLocale::Czech, QLocale::Czechia)}) {
        auto *translator = new QTranslator(&app);
        if (translator->load(language, QStringLiteral("qtbase"), QStringLiteral("_"), dir) &&
            QCoreApplication::installTranslator(translator))
            return translator;
        delete translator;
    }
    return nullptr;
}
