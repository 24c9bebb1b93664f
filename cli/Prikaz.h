#ifndef RQ_CLI_PRIKAZ_H
#define RQ_CLI_PRIKAZ_H

#include <QList>
#include <QString>

class Context;

// An option of the command line: --name (and -s when short is given),
// with a value or a switch.
struct OptionSpec
{
    QString name;
    QChar shortName;
    bool takesValue = false;
};

// One rqtool command. A new command is one new file with its class and one
// line in the registration table (cli/Tabulka.cpp).
class Command
{
public:
    virtual ~Command() = default;
    virtual QString name() const = 0;
    // For the help: the arguments and own options, and what it does.
    virtual QString synopsis() const = 0;
    virtual QString summary() const = 0;
    // Options of its own besides the connection and output options.
    virtual QList<OptionSpec> options() const { return {}; }
    virtual int minArgs() const { return 0; }
    virtual int maxArgs() const { return 0; } // -1: any count
    // Runs against the context; returns the exit code or throws a Failure.
    virtual int execute(Context &c) const = 0;
};

// The registration table, in the order the help lists them.
const QList<const Command *> &Commands();
const Command *FindCommand(const QString &name);

#endif
