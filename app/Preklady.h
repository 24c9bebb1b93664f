#ifndef RQ_APP_PREKLADY_H
#define RQ_APP_PREKLADY_H

#include <QLocale>

class QCoreApplication;
class QTranslator;

// Qt's own texts (the buttons of message boxes, the columns and buttons of the
// file selection dialog) in the language of the locale, from Qt's translations
// (qtbase_cs.qm for Czech); in Czech, like the program, where Qt has no
// translation for it. The translator installed, owned by app (deleting it
// takes it back); null where none could be loaded.
QTranslator *InstallQtTranslation(QCoreApplication &app, const QLocale &locale = QLocale::system());

#endif
