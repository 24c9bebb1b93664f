// set: named settings into the module, every written byte verified by
// reading it back.
#include "cli/Pole.h"

namespace {
class Set final : public Command
{
public:
    QString name() const override { return QStringLiteral("set"); }
    QString synopsis() const override { return QStringLiteral("set POLE=HODNOTA..."); }
    QString summary() const override { return QStringLiteral("změní nastavení se zpětným čtením"); }
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
        c.writeSteps(stepsAt(after, changed));
        QJsonArray array;
        for (const FieldChange &ch : CompareImages(before, after, model)) {
            c.line(ch.text());
            array.append(QJsonObject{{QStringLiteral("key"), ch.key},
                                     {QStringLiteral("before"), ch.before},
                                     {QStringLiteral("after"), ch.after}});
        }
        if (after[CfgAddr::Address] != before[CfgAddr::Address] ||
            after[CfgAddr::BaudIndex] != before[CfgAddr::BaudIndex])
            c.note(QStringLiteral("Nová adresa nebo rychlost platí po příštím zapnutí modulu."));
        c.line(QStringLiteral("Zapsáno a ověřeno %1 bajtů.").arg(changed.size()));
        c.result = {{QStringLiteral("changes"), array}, {QStringLiteral("written"), changed.size()}};
        return ExitCode::Ok;
    }
};
} // namespace

const Command &SetCommand()
{
    static const Set command;
    return command;
}
