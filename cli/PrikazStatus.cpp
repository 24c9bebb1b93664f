// status: the status register with its bits named as the status dialog
// names them; --clear clears it and says which bits it cleared.
#include "cli/Kontext.h"
#include "cli/Spolecne.h"
#include "comm/Prikazy.h"
#include "live/StatusBity.h"

namespace {

// "FN (1), PWR (4)", and the bits for JSON.
QString bitNames(quint32 word, QJsonArray *array)
{
    QStringList names;
    for (int n = 0; n < 32; ++n) {
        if (!(word >> n & 1))
            continue;
        names << QStringLiteral("%1 (%2)").arg(StatusBitCaption(n)).arg(n);
        if (array)
            array->append(
                QJsonObject{{QStringLiteral("bit"), n}, {QStringLiteral("name"), StatusBitCaption(n)}});
    }
    return names.join(QStringLiteral(", "));
}

class Status final : public Command
{
public:
    QString name() const override { return QStringLiteral("status"); }
    QString synopsis() const override { return QStringLiteral("status [--clear]"); }
    QString summary() const override
    {
        return QStringLiteral("status registr (--clear: vynuluje a vypíše vynulované bity)");
    }
    QList<OptionSpec> options() const override { return {{QStringLiteral("clear"), {}, false}}; }
    int execute(Context &c) const override
    {
        c.connectModule();
        ModuleBytes bytes{};
        c.transact(CmdReadStatus, 0, bytes);
        quint32 word = BytesToWord(bytes);
        if (c.args.has(QStringLiteral("clear"))) {
            ModuleBytes clear{};
            c.transact(CmdClearStatus, 0, clear);
            QJsonArray cleared;
            const QString names = bitNames(word, &cleared);
            c.line(QStringLiteral("Vynulováno: %1")
                       .arg(names.isEmpty() ? QStringLiteral("nic (žádný bit nebyl nastaven)") : names));
            c.result.insert(QStringLiteral("cleared"), cleared);
            c.result.insert(QStringLiteral("before"), qint64(word));
            bytes = {};
            c.transact(CmdReadStatus, 0, bytes);
            word = BytesToWord(bytes);
        }
        QJsonArray set;
        const QString names = bitNames(word, &set);
        c.line(QStringLiteral("Status registr: %1%2")
                   .arg(Hex32(word), names.isEmpty() ? QString() : QStringLiteral("  ") + names));
        c.result.insert(QStringLiteral("status"), qint64(word));
        c.result.insert(QStringLiteral("bits"), set);
        return ExitCode::Ok;
    }
};
} // namespace

const Command &StatusCommand()
{
    static const Status command;
    return command;
}
