#ifndef RQ_CLI_BEH_H
#define RQ_CLI_BEH_H

#include <QStringList>

// Runs one rqtool command line: results on outFd, messages and progress on
// errFd. Progress is written only when showProgress is true (the program
// passes whether standard error is a terminal). Returns the exit code.
int RunCli(const QStringList &args, int outFd, int errFd, bool showProgress);

#endif
