// apply: the settings of a plant file into its modules, only the bytes that
// differ, each verified by reading it back; nothing anywhere when the file
// does not fit any one module.
#include "cli/Pole.h"
#include "cli/Zarizeni.h"
#include "core/Cislo.h"

namespace {
QString bytes(qint64 n)
{
    return CzechCount(n, QStringLiteral("bajt"), QStringLiteral("bajty"), QStringLiteral("bajtů"));
}

class Apply final : public Command
{
public:
    QString name() const override { return QStringLiteral("apply"); }
    QString synopsis() const override { return QStringLiteral("apply --config SOUBOR [--yes] [--dry-run]"); }
    QString summary() const override
    {
        return QStringLiteral("zapíše nastavení ze souboru zařízení do modulů (jen odlišné bajty)");
    }
    QList<OptionSpec> options() const override
    {
        return {{QStringLiteral("config"), {}, true},
                {QStringLiteral("yes"), {}, false},
                {QStringLiteral("dry-run"), {}, false}};
    }

    int execute(Context &c) const override
    {
        if (!c.plant)
            c.fail(ExitCode::Usage, QStringLiteral("apply potřebuje soubor zařízení: --config SOUBOR."));
        // Through a gateway's converter the gateway itself has to allow it.
        const QString converter = c.plant->gatewayValue(QStringLiteral("converter"));
        const QString writes = c.plant->gatewayValue(QStringLiteral("converter-writes")).trimmed().toLower();
        const bool viaGateway = !converter.isEmpty() && !c.args.has(QStringLiteral("adapter")) &&
                                !c.args.has(QStringLiteral("ip")) && !c.args.has(QStringLiteral("udp-port"));
        if (viaGateway && writes != u"yes" && writes != u"1" && writes != u"true")
            c.fail(
                ExitCode::Refused,
                QStringLiteral("Zápis odmítnut: sběrnici sdílí brána (converter=%1) a ta zápis konfigurace "
                               "nepovoluje (converter-writes=yes v [gateway]). Nic nezapsáno.")
                    .arg(converter));
        QList<ModuleState> states = ReadPlant(c);
        PrintPlan(c, states);
        const int trouble = PlanTrouble(states);
        if (trouble == ExitCode::File || trouble == ExitCode::Refused)
            c.fail(trouble,
                   trouble == ExitCode::File
                       ? QStringLiteral("Soubor neodpovídá modulům. Nic nezapsáno.")
                       : QStringLiteral("Zápis odmítnut: soubor patří jinému modelu. Nic nezapsáno."));
        QStringList risks;
        for (const ModuleState &s : states)
            if (!s.risk.isEmpty())
                risks << s.risk;
        const bool dryRun = c.args.has(QStringLiteral("dry-run"));
        int total = 0;
        for (const ModuleState &s : states)
            total += int(s.changed.size());
        if (dryRun)
            c.line(QStringLiteral("Zkouška nanečisto: k zápisu %1, nic nezapsáno.").arg(bytes(total)));
        if (!risks.isEmpty() && !c.args.has(QStringLiteral("yes")))
            c.fail(ExitCode::Refused, Context::refusal(risks, true));
        if (dryRun)
            return trouble;

        // Module by module; one that fails says what it holds, the others go on.
        QJsonArray modules = c.result.value(QStringLiteral("modules")).toArray();
        int failed = 0, done = 0;
        for (qsizetype k = 0; k < states.size(); ++k) {
            ModuleState &s = states[k];
            if (!s.failure.isEmpty()) {
                ++failed;
                continue;
            }
            QJsonObject o = modules.at(k).toObject();
            o.insert(QStringLiteral("written"), 0);
            if (s.changed.isEmpty()) {
                modules.replace(k, o);
                continue;
            }
            c.stopPoint(QStringLiteral("Zápis přerušen před modulem %1; moduly před ním jsou zapsány.")
                            .arg(s.module->name));
            c.useBaud(s.baud);
            c.data.moduleAddress = s.module->address;
            c.data.identity = s.identity;
            try {
                c.writeSteps(stepsAt(s.after, s.changed));
                ++done;
                o.insert(QStringLiteral("written"), c.written);
                c.line(QStringLiteral("%1: zapsáno a ověřeno %2.").arg(s.module->name, bytes(c.written)));
            } catch (Failure &f) {
                o.insert(QStringLiteral("written"), c.written);
                o.insert(QStringLiteral("state"),
                         c.written == 0 ? QStringLiteral("unchanged") : QStringLiteral("partial"));
                o.insert(QStringLiteral("error"), f.text);
                modules.replace(k, o);
                c.result.insert(QStringLiteral("modules"), modules);
                if (f.code != ExitCode::Comm)
                    throw;
                ++failed;
                c.err.write(QStringLiteral("rqtool: %1: %2\n").arg(s.label(), f.text));
                continue;
            }
            modules.replace(k, o);
        }
        c.result.insert(QStringLiteral("modules"), modules);
        c.result.remove(QStringLiteral("written"));
        c.result.remove(QStringLiteral("state"));
        if (failed > 0) {
            const int code = failed == states.size() ? ExitCode::Comm : ExitCode::Partial;
            c.fail(code, QStringLiteral("Nezapsáno %1 z %2 modulů; ostatní odpovídají souboru.")
                             .arg(failed)
                             .arg(states.size()));
        }
        if (total == 0)
            c.line(QStringLiteral("Moduly odpovídají souboru: nic ke změně."));
        else
            c.note(QStringLiteral("Zapsáno do %1 z %2 modulů.").arg(done).arg(states.size()));
        return ExitCode::Ok;
    }
};
} // namespace

const Command &ApplyCommand()
{
    static const Apply command;
    return command;
}
