// rqtool: the service tool's engine on the command line, for scripts.
#include "core/Pauza.h"
#include "cli/Prikazy.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>
#include <unistd.h>

int main(int argc, char *argv[])
{
    // A 1 ms pause between transfer bytes should last 1 ms, not 1.08.
    rq::preciseTimers();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("rqtool"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    return RunCli(QCoreApplication::arguments().mid(1), out, err, isatty(STDERR_FILENO) != 0);
}
