// The registration table of rqtool's commands: one line a command.
#include "cli/Prikaz.h"

#include <memory>

#define RQ_COMMANDS(X)                                                                                       \
    X(ScanCommand)                                                                                           \
    X(InfoCommand)                                                                                           \
    X(BackupCommand)                                                                                         \
    X(RestoreCommand)                                                                                        \
    X(DiffCommand)                                                                                           \
    X(GetCommand)                                                                                            \
    X(SetCommand)                                                                                            \
    X(ExportCommand)                                                                                         \
    X(PlanCommand)                                                                                           \
    X(ApplyCommand)                                                                                          \
    X(ValuesCommand)                                                                                         \
    X(InputsCommand)                                                                                         \
    X(OutputsCommand)                                                                                        \
    X(StatusCommand)

#define RQ_DECLARE(name) const Command &name();
RQ_COMMANDS(RQ_DECLARE)
#undef RQ_DECLARE

const QList<const Command *> &Commands()
{
#define RQ_ENTRY(name) &name(),
    static const QList<const Command *> table = {RQ_COMMANDS(RQ_ENTRY)};
#undef RQ_ENTRY
    return table;
}

const Command *FindCommand(const QString &name)
{
    for (const Command *c : Commands())
        if (c->name() == name)
            return c;
    return nullptr;
}
