#ifndef RQ_CLI_ARGUMENTY_H
#define RQ_CLI_ARGUMENTY_H

#include "cli/Prikaz.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

// Exit codes of rqtool, for scripts to branch on. A stop by a signal exits
// 128 + the signal's number (130 SIGINT, 143 SIGTERM, 129 SIGHUP).
namespace ExitCode {
constexpr int Ok = 0;
constexpr int Different = 1; // diff found differences
constexpr int Usage = 2;
constexpr int Refused = 3; // refused for safety
constexpr int Comm = 4;    // communication error, or some modules failed
constexpr int File = 5;
} // namespace ExitCode

// A command line of rqtool taken apart: the command, its positional
// arguments and every option given (by long name; a switch holds an empty
// value). Options may stand before or after the command; a repeated option
// takes its last value, as getopt-style tools do.
struct CliArguments
{
    QString command;
    QStringList positional;
    QMap<QString, QString> options;

    bool has(const QString &name) const { return options.contains(name); }
    QString value(const QString &name) const { return options.value(name); }
};

// Result of parsing: the arguments, or a Czech text saying what is wrong.
struct CliParse
{
    CliArguments arguments;
    QString error;
    bool help = false;
    bool version = false;
};

CliParse ParseCliArguments(const QStringList &args);

// The connection and output options every command takes.
const QList<OptionSpec> &CommonOptions();

// The Czech help text (--help).
QString CliHelpText();

#endif
