#include "app/Hlavni.h"
#include "app/Pauza.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    rq::preciseTimers();
    QApplication app(argc, argv);
    TForm1 window;
    window.show();
    return app.exec();
}
