#ifndef RQ_CLI_PRIKAZY_H
#define RQ_CLI_PRIKAZY_H

#include <QStringList>

class QTextStream;

// Runs one rqtool command line: results on out, messages and progress on
// err. Progress is written only when showProgress is true (the program
// passes whether standard error is a terminal). Returns the exit code.
int RunCli(const QStringList &args, QTextStream &out, QTextStream &err, bool showProgress);

#endif
