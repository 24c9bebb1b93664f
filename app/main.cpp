#include "app/Hlavni.h"
#include "app/Preklady.h"
#include "core/Pauza.h"

#include <QApplication>

#include <csignal>

int main(int argc, char *argv[])
{
    rq::preciseTimers();
    // Past a file size limit a write fails with EFBIG; the save then reports
    // it and keeps the old file, instead of the signal ending the program.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication app(argc, argv);
    InstallQtTranslation(app);
    TForm1 window;
    window.show();
    return app.exec();
}
