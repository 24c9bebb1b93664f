// The reference: a minimal Qt Widgets main window with a menu and a status bar.
#include "probe.h"

#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QStatusBar>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("minimal"));
    window.resize(600, 400);
    window.menuBar()->addAction(QStringLiteral("&File"));
    window.menuBar()->addMenu(QStringLiteral("&Edit"))->addAction(QStringLiteral("Item"));
    window.statusBar()->addWidget(new QLabel(QStringLiteral(" Ready"), &window));
    ShownProbe probe(&window);
    window.show();
    return app.exec();
}
