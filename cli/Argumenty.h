#ifndef RQ_CLI_ARGUMENTY_H
#define RQ_CLI_ARGUMENTY_H

#include "cli/Navrat.h"
#include "cli/Prikaz.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

// A command line of rqtool taken apart: the command, its positional
// arguments and every option given (by long name; a switch holds an empty
// value). Options may stand before or after the command; a repeated option
// takes its last value, as getopt-style tools do.
struct CliArguments
{
    QString command;
    QStringList positional;
    QMap<QString, QString> options;
    // Option names in the order given, each at its last place: of two
    // options that set one thing, the later one counts.
    QStringList order;

    bool has(const QString &name) const { return options.contains(name); }
    QString value(const QString &name) const { return options.value(name); }
    // Whether a came after b on the command line (a given, b not: true).
    bool later(const QString &a, const QString &b) const
    {
        return order.lastIndexOf(a) > order.lastIndexOf(b);
    }
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
