// The program's own start (as app/main.cpp) with the probe attached.
#include "app/Hlavni.h"
#include "probe.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    TForm1 window;
    ShownProbe probe(&window);
    window.show();
    return app.exec();
}
