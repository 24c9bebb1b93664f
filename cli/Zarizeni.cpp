#include "cli/Zarizeni.h"

#include "cli/Pole.h"
#include "comm/Spojeni.h"
#include "core/Cislo.h"

namespace {
constexpr quint8 TimeoutError = 20;

QString bytes(qint64 n)
{
    return CzechCount(n, QStringLiteral("bajt"), QStringLiteral("bajty"), QStringLiteral("bajtů"));
}
} // namespace

QString ModuleState::label() const
{
    return QStringLiteral("%1 (adresa %2)").arg(module->name).arg(module->address);
}

QJsonObject ModuleState::json() const
{
    QJsonArray changeArray, offsetArray;
    for (const FieldChange &ch : changes)
        changeArray.append(QJsonObject{{QStringLiteral("key"), ch.key},
                                       {QStringLiteral("before"), ch.before},
                                       {QStringLiteral("after"), ch.after}});
    for (int o : changed)
        offsetArray.append(o);
    QJsonObject o{{QStringLiteral("name"), module->name},   {QStringLiteral("address"), module->address},
                  {QStringLiteral("baud"), qint64(baud)},   {QStringLiteral("identity"), identity},
                  {QStringLiteral("changes"), changeArray}, {QStringLiteral("bytes"), offsetArray}};
    if (!identity.isEmpty())
        o.insert(QStringLiteral("model"), ModelName(model));
    for (const auto &[key, text] :
         {std::pair{QStringLiteral("fault"), fault}, std::pair{QStringLiteral("refused"), refusal},
          std::pair{QStringLiteral("risk"), risk}, std::pair{QStringLiteral("error"), failure}})
        if (!text.isEmpty())
            o.insert(key, text);
    return o;
}

QList<ModuleState> ReadPlant(Context &c)
{
    const QString file = c.args.value(QStringLiteral("config"));
    QList<ModuleState> states;
    if (c.plant->modules.isEmpty())
        return states;
    // One opening of the adapter serves every module; each at its own rate.
    c.openAdapter();
    const quint32 busBaud = c.data.baudRate;
    int answered = 0;
    for (const PlantModule &m : c.plant->modules) {
        c.stopPoint(QStringLiteral("Čtení přerušeno: přečteno %1 z %2 modulů. Nic nezapsáno.")
                        .arg(states.size())
                        .arg(c.plant->modules.size()));
        ModuleState s;
        s.module = &m;
        s.baud = m.baud ? m.baud : busBaud;
        c.useBaud(s.baud);
        c.data.moduleAddress = m.address;
        QString identity, why;
        if (const quint8 error = IdentifyModule(BusLink::of(c.data), m.address, identity, why); error != 0) {
            // A converter that answers nothing is no list of missing modules.
            if (error == TimeoutError && answered == 0 && c.converterSilent())
                c.fail(ExitCode::Comm, c.errorText(error));
            s.failure = c.errorText(error);
            states << s;
            continue;
        }
        ++answered;
        s.identity = c.data.identity = identity;
        const std::optional<ModuleModel> model = ModelOfIdentity(identity);
        if (!model) {
            s.refusal = QStringLiteral("modul se hlásí jako „%1“, model neznámý").arg(identity.trimmed());
            states << s;
            continue;
        }
        s.model = *model;
        if (m.model && *m.model != *model) {
            s.refusal = QStringLiteral("na adrese %1 je model %2, soubor uvádí %3")
                            .arg(m.address)
                            .arg(ModelName(*model), ModelName(*m.model));
            states << s;
            continue;
        }
        if (const std::optional<PlantError> e = CheckPlantSettings(*model, m.settings)) {
            s.fault = e->text(file);
            states << s;
            continue;
        }
        if (!m.model && !m.settings.isEmpty())
            s.risk = QStringLiteral("Soubor neuvádí model modulu %1 (model=), připojen je %2")
                         .arg(m.name, ModelName(*model));
        s.offsets = PlantOffsets(*model, m.settings);
        try {
            c.readSteps(stepsAt(s.before, s.offsets));
        } catch (const Failure &f) {
            if (f.code != ExitCode::Comm)
                throw;
            s.failure = f.text;
            states << s;
            continue;
        }
        s.after = s.before;
        QString fault;
        if (!ApplyPlantSettings(s.after, *model, m.settings, &fault))
            s.fault = fault;
        s.changed = ChangedOffsets(s.before, s.after, s.offsets);
        s.changes = CompareImages(s.before, s.after, *model);
        states << s;
    }
    return states;
}

void PrintPlan(Context &c, const QList<ModuleState> &states)
{
    QJsonArray array;
    for (const ModuleState &s : states) {
        array.append(s.json());
        const QString name = s.module->name;
        if (!s.failure.isEmpty()) {
            c.err.write(QStringLiteral("rqtool: %1: neodpovídá (%2)\n").arg(s.label(), s.failure));
            continue;
        }
        if (!s.fault.isEmpty())
            c.line(QStringLiteral("%1: chyba souboru: %2").arg(name, s.fault));
        if (!s.refusal.isEmpty())
            c.line(QStringLiteral("%1: odmítnuto: %2").arg(name, s.refusal));
        if (!s.risk.isEmpty())
            c.line(QStringLiteral("%1: Riziko: %2").arg(name, s.risk));
        for (const FieldChange &ch : s.changes)
            c.line(QStringLiteral("%1 %2: %3 → %4").arg(name, ch.key, ch.before, ch.after));
        if (!s.changed.isEmpty()) {
            QStringList places;
            for (int o : s.changed)
                places << BlockPlace(o);
            c.line(QStringLiteral("%1: %2 k zápisu (%3)")
                       .arg(name, bytes(s.changed.size()), places.join(QStringLiteral("; "))));
        }
    }
    c.result.insert(QStringLiteral("modules"), array);
}

int PlanTrouble(const QList<ModuleState> &states)
{
    const auto any = [&states](QString ModuleState::*field) {
        return std::any_of(states.cbegin(), states.cend(),
                           [field](const ModuleState &s) { return !(s.*field).isEmpty(); });
    };
    if (any(&ModuleState::fault))
        return ExitCode::File;
    if (any(&ModuleState::refusal))
        return ExitCode::Refused;
    const auto silent = std::count_if(states.cbegin(), states.cend(),
                                      [](const ModuleState &s) { return !s.failure.isEmpty(); });
    if (silent == 0)
        return ExitCode::Ok;
    return silent == states.size() ? ExitCode::Comm : ExitCode::Partial;
}
