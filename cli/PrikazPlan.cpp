// plan: what apply would change in the modules of a plant file, without
// writing anything.
#include "cli/Zarizeni.h"

namespace {
class Plan final : public Command
{
public:
    QString name() const override { return QStringLiteral("plan"); }
    QString synopsis() const override { return QStringLiteral("plan --config SOUBOR"); }
    QString summary() const override
    {
        return QStringLiteral("vypíše, co by apply v modulech změnilo (0 nic, 1 něco)");
    }
    QList<OptionSpec> options() const override { return {{QStringLiteral("config"), {}, true}}; }

    int execute(Context &c) const override
    {
        if (!c.plant)
            c.fail(ExitCode::Usage, QStringLiteral("plan potřebuje soubor zařízení: --config SOUBOR."));
        const QList<ModuleState> states = ReadPlant(c);
        PrintPlan(c, states);
        if (const int trouble = PlanTrouble(states); trouble != ExitCode::Ok)
            return trouble;
        const bool changes = std::any_of(states.cbegin(), states.cend(), [](const ModuleState &s) {
            return !s.changed.isEmpty() || !s.risk.isEmpty();
        });
        if (!changes)
            c.note(QStringLiteral("Moduly odpovídají souboru: nic ke změně."));
        return changes ? ExitCode::Different : ExitCode::Ok;
    }
};
} // namespace

const Command &PlanCommand()
{
    static const Plan command;
    return command;
}
