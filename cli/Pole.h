#ifndef RQ_CLI_POLE_H
#define RQ_CLI_POLE_H

#include "cli/Kontext.h"

// Fields of the configuration memory by key, for get and set.

// The offsets of the fields for the model; exit 2 for a key it lacks.
inline QList<int> fieldOffsets(Context &c, ModuleModel model, const QStringList &keys)
{
    const EepromBlock blank{};
    QList<int> offsets;
    for (const QString &key : keys) {
        const std::optional<ImageField> f = DecodeField(blank, model, key);
        if (!f)
            c.fail(ExitCode::Usage, QStringLiteral("Model %1 nemá pole „%2“ (pole: rqtool get --list).")
                                        .arg(ModelName(model), key));
        for (int o : f->offsets)
            if (!offsets.contains(o))
                offsets << o;
    }
    std::sort(offsets.begin(), offsets.end());
    return offsets;
}

inline QList<TransferStep> stepsAt(EepromBlock &block, const QList<int> &offsets)
{
    const QList<TransferStep> every = EepromSteps(block);
    QList<TransferStep> steps;
    for (int o : offsets)
        steps << every.at(o);
    return steps;
}

#endif
