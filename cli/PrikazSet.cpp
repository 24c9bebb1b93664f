// set: named settings into the module, every written byte verified by
// reading it back.
#include "cli/Pole.h"
#include "core/Cislo.h"

namespace {
class Set final : public Command
{
public:
    QString name() const override { return QStringLiteral("set"); }
    QString synopsis() const override { return QStringLiteral("set POLE=HODNOTA... [--dry-run] [--yes]"); }
    QString summary() const override
    {
        return QStringLiteral("změní nastavení se zpětným čtením (adresu a rychlost jen s --yes)");
    }
    QList<OptionSpec> options() const override
    {
        return {{QStringLiteral("dry-run"), {}, false}, {QStringLiteral("yes"), {}, false}};
    }
    int minArgs() const override { return 1; }
    int maxArgs() const override { return -1; }

    int execute(Context &c) const override
    {
        // Every assignment is checked before the module is asked anything.
        QList<QPair<QString, QString>> assignments;
        for (const QString &arg : c.args.positional) {
            const qsizetype eq = arg.indexOf(QLatin1Char('='));
            if (eq <= 0)
                c.fail(ExitCode::Usage, QStringLiteral("Očekáváno POLE=HODNOTA, ne „%1“.").arg(arg));
            assignments.append({arg.left(eq).trimmed(), arg.mid(eq + 1).trimmed()});
        }
        c.connectModule();
        const ModuleModel model = c.modelOf(nullptr);
        QStringList keys;
        for (const auto &a : assignments)
            keys << a.first;
        const QList<int> offsets = fieldOffsets(c, model, keys);
        EepromBlock before{};
        c.readSteps(stepsAt(before, offsets));
        EepromBlock after = before;
        for (const auto &a : assignments) {
            QString why;
            if (!EncodeField(after, model, a.first, a.second, &why))
                c.fail(ExitCode::Usage, QStringLiteral("%1=%2: %3").arg(a.first, a.second, why));
        }
        QList<int> changed;
        for (int o : offsets)
            if (before[std::size_t(o)] != after[std::size_t(o)])
                changed << o;
        const QList<FieldChange> changes = CompareImages(before, after, model);
        QJsonArray array;
        for (const FieldChange &ch : changes) {
            c.line(ch.text());
            array.append(QJsonObject{{QStringLiteral("key"), ch.key},
                                     {QStringLiteral("before"), ch.before},
                                     {QStringLiteral("after"), ch.after}});
        }
        c.result = {{QStringLiteral("changes"), array}, {QStringLiteral("written"), 0}};
        // A new address or rate moves the module away from where it answers
        // today: asked as a restore asks.
        QStringList risks;
        if (after[CfgAddr::Address] != before[CfgAddr::Address])
            risks << QStringLiteral("Adresa modulu: %1 → %2")
                         .arg(before[CfgAddr::Address])
                         .arg(after[CfgAddr::Address]);
        if (after[CfgAddr::BaudIndex] != before[CfgAddr::BaudIndex]) {
            const auto rate = [](quint8 index) {
                return index < BaudItems.size() ? BaudItems.at(index)
                                                : QStringLiteral("neplatná hodnota %1").arg(index);
            };
            risks << QStringLiteral("Komunikační rychlost: %1 → %2")
                         .arg(rate(before[CfgAddr::BaudIndex]), rate(after[CfgAddr::BaudIndex]));
        }
        c.result.insert(QStringLiteral("risks"), QJsonArray::fromStringList(risks));
        for (const QString &r : risks)
            c.line(QStringLiteral("Riziko: ") + r);
        const bool dryRun = c.args.has(QStringLiteral("dry-run"));
        if (dryRun)
            c.line(
                QStringLiteral("Zkouška nanečisto: k zápisu %1, nic nezapsáno.").arg(bytes(changed.size())));
        if (!risks.isEmpty() && !c.args.has(QStringLiteral("yes")))
            c.fail(ExitCode::Refused, Context::refusal(risks, true));
        if (dryRun)
            return ExitCode::Ok;
        // Which keys went in, also when the write stops part way.
        const QList<TransferStep> steps = stepsAt(after, changed);
        const auto keysIn = [&](int written) {
            QStringList in;
            for (const auto &a : assignments) {
                bool all = true;
                for (int o : fieldOffsets(c, model, {a.first}))
                    all = all && (!changed.contains(o) || changed.indexOf(o) < written);
                if (all && !in.contains(a.first))
                    in << a.first;
            }
            return in;
        };
        try {
            c.writeSteps(steps);
        } catch (Failure &f) {
            const QStringList in = keysIn(c.written);
            c.result.insert(QStringLiteral("keysWritten"), QJsonArray::fromStringList(in));
            f.text += in.isEmpty()
                          ? QStringLiteral(" Žádné pole nebylo zapsáno celé.")
                          : QStringLiteral(" Zapsána celá pole: %1.").arg(in.join(QStringLiteral(", ")));
            throw;
        }
        c.result.insert(QStringLiteral("keysWritten"), QJsonArray::fromStringList(keysIn(c.written)));
        if (!risks.isEmpty())
            c.note(QStringLiteral("Nová adresa nebo rychlost platí po příštím zapnutí modulu."));
        c.line(QStringLiteral("Zapsáno a ověřeno %1.").arg(bytes(changed.size())));
        return ExitCode::Ok;
    }

private:
    static QString bytes(qint64 n)
    {
        return CzechCount(n, QStringLiteral("bajt"), QStringLiteral("bajty"), QStringLiteral("bajtů"));
    }
};
} // namespace

const Command &SetCommand()
{
    static const Set command;
    return command;
}
