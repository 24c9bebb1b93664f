// rqtool: the service tool's engine on the command line, for scripts.
#include "cli/Beh.h"
#include "cli/Signaly.h"
#include "core/Pauza.h"

#include <QCoreApplication>

#include <unistd.h>

int main(int argc, char *argv[])
{
    // A 1 ms pause between transfer bytes should last 1 ms, not 1.08.
    rq::preciseTimers();
    InstallStopSignals();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("rqtool"));
    return RunCli(QCoreApplication::arguments().mid(1), STDOUT_FILENO, STDERR_FILENO,
                  isatty(STDERR_FILENO) != 0);
}
