// export: the settings of modules into a plant file, every key with its
// value, so that plan and apply need nothing but the file.
#include "cli/Pole.h"
#include "cli/Zarizeni.h"
#include "comm/Spojeni.h"
#include "core/SafeSave.h"
#include "scan/HledaniModulu.h"

#include <QDate>

namespace {
constexpr quint8 TimeoutError = 20;

// [bus] as the connection options have it.
QStringList busLines(const TData &d)
{
    static const char *const kinds[] = {"com", "isa", "pci", "usb", "lan"};
    QStringList lines{
        QStringLiteral("[bus]"),
        QStringLiteral("adapter=%1").arg(QLatin1String(kinds[std::min<int>(d.adapterKind, 4)]))};
    if (d.adapterKind == 0 || d.adapterKind == 3)
        lines << QStringLiteral("com=%1").arg(d.comPort);
    else if (d.adapterKind == 1)
        lines << QStringLiteral("isa=0x%1").arg(d.isaBase, 0, 16);
    else if (d.adapterKind == 4)
        lines << QStringLiteral("ip=%1").arg(d.ipAddress) << QStringLiteral("udp-port=%1").arg(d.udpPort)
              << QStringLiteral("udp-timeout=%1").arg(d.udpTimeout);
    lines << QStringLiteral("baud=%1").arg(d.baudRate);
    return lines;
}

class Export final : public Command
{
public:
    QString name() const override { return QStringLiteral("export"); }
    QString synopsis() const override
    {
        return QStringLiteral("export SOUBOR|- --address SEZNAM | export [SOUBOR|-] --config SOUBOR");
    }
    QString summary() const override
    {
        return QStringLiteral("zapíše nastavení modulů do souboru zařízení (INI pro plan, apply a rqgw)");
    }
    QList<OptionSpec> options() const override { return {{QStringLiteral("config"), {}, true}}; }
    int maxArgs() const override { return 1; }

    int execute(Context &c) const override
    {
        QString target;
        if (!c.args.positional.isEmpty())
            target = Context::dashName(c.args.positional.at(0));
        if (target == QLatin1String("-") && c.json)
            c.fail(ExitCode::Usage,
                   QStringLiteral("Soubor zařízení na standardní výstup nelze spojit s volbou --json."));
        QByteArray text;
        PlantFile plant;
        if (c.plant) {
            if (target.isEmpty())
                target = c.args.value(QStringLiteral("config"));
            text = c.plantText;
            plant = *c.plant;
        } else {
            if (target.isEmpty() || !c.args.has(QStringLiteral("address")))
                c.fail(ExitCode::Usage,
                       QStringLiteral("export potřebuje soubor a seznam adres (--address 1-32), "
                                      "nebo soubor zařízení (--config SOUBOR)."));
            const QString list = c.args.value(QStringLiteral("address"));
            QString why;
            const auto addresses = ParseAddressList(list, &why);
            if (!addresses || addresses->isEmpty())
                c.fail(ExitCode::Usage, QStringLiteral("Neplatný seznam adres „%1“: %2").arg(list, why));
            // A file of its own from the connection: [bus], then a section a module.
            QStringList lines{QStringLiteral("; Nastavení modulů jedné sběrnice (rqtool export). Klíče "
                                             "modulů: rqtool get --list."),
                              QString()};
            lines << busLines(c.data);
            for (quint8 a : *addresses)
                lines << QString() << QStringLiteral("[module a%1]").arg(a)
                      << QStringLiteral("address=%1").arg(a);
            text = lines.join(QLatin1Char('\n')).toUtf8() + '\n';
            if (const auto e = ParsePlantFile(text, plant))
                c.fail(ExitCode::Usage, e->text(target));
        }
        c.openAdapter();
        const quint32 busBaud = c.data.baudRate;
        const QString today = QDate::currentDate().toString(Qt::ISODate);
        QList<QStringList> fill;
        QJsonArray saved, failed;
        for (const PlantModule &m : plant.modules) {
            c.stopPoint(QStringLiteral("Export přerušen: přečteno %1 z %2 modulů; soubor nezapsán.")
                            .arg(saved.size())
                            .arg(plant.modules.size()));
            fill << QStringList();
            c.useBaud(m.baud ? m.baud : busBaud);
            c.data.moduleAddress = m.address;
            QString identity, why;
            if (const quint8 error = IdentifyModule(BusLink::of(c.data), m.address, identity, why);
                error != 0) {
                if (error == TimeoutError && saved.isEmpty() && c.converterSilent())
                    c.fail(ExitCode::Comm, c.errorText(error));
                failed.append(QJsonObject{{QStringLiteral("name"), m.name},
                                          {QStringLiteral("address"), m.address},
                                          {QStringLiteral("error"), c.errorText(error)}});
                c.err.write(QStringLiteral("rqtool: %1 (adresa %2): neodpovídá (%3)\n")
                                .arg(m.name)
                                .arg(m.address)
                                .arg(c.errorText(error)));
                continue;
            }
            c.data.identity = identity;
            const std::optional<ModuleModel> model = ModelOfIdentity(identity);
            if (!model) {
                failed.append(QJsonObject{{QStringLiteral("name"), m.name},
                                          {QStringLiteral("address"), m.address},
                                          {QStringLiteral("error"), QStringLiteral("neznámý model")}});
                c.err.write(QStringLiteral("rqtool: %1 (adresa %2): neznámý model „%3“\n")
                                .arg(m.name)
                                .arg(m.address)
                                .arg(identity.trimmed()));
                continue;
            }
            QList<PlantSetting> every;
            for (const QString &key : PlantKeys(*model))
                every << PlantSetting{key, {}, 0};
            EepromBlock block{};
            try {
                c.readSteps(stepsAt(block, PlantOffsets(*model, every)));
            } catch (const Failure &f) {
                if (f.code != ExitCode::Comm)
                    throw;
                failed.append(QJsonObject{{QStringLiteral("name"), m.name},
                                          {QStringLiteral("address"), m.address},
                                          {QStringLiteral("error"), f.text}});
                c.err.write(
                    QStringLiteral("rqtool: %1 (adresa %2): %3\n").arg(m.name).arg(m.address).arg(f.text));
                continue;
            }
            const QString firmware = identity.section(QStringLiteral("v."), 1).trimmed();
            fill.last() = QStringList{QStringLiteral("%1 %2, firmware %3, přečteno %4")
                                          .arg(PlantCommentMark, ModelName(*model), firmware, today)} +
                          PlantSettingLines(block, *model);
            saved.append(QJsonObject{{QStringLiteral("name"), m.name},
                                     {QStringLiteral("address"), m.address},
                                     {QStringLiteral("model"), ModelName(*model)},
                                     {QStringLiteral("identity"), identity}});
        }
        c.result = {{QStringLiteral("file"), target},
                    {QStringLiteral("modules"), saved},
                    {QStringLiteral("failed"), failed}};
        if (saved.isEmpty())
            c.fail(
                ExitCode::Comm,
                QStringLiteral("Neodpověděl žádný z %1 modulů; soubor nezapsán.").arg(plant.modules.size()));
        const QByteArray out = FillPlantFile(text, plant, fill);
        if (target == QLatin1String("-")) {
            if (!c.out.write(out))
                c.outputFailed(c.out, c.out.error());
        } else {
            QString why;
            if (!rq::saveWholeFile(target, out, &why))
                c.fail(ExitCode::File, why);
            c.line(QStringLiteral("Nastavení %1 z %2 modulů uloženo do %3.")
                       .arg(saved.size())
                       .arg(plant.modules.size())
                       .arg(target));
        }
        if (!failed.isEmpty())
            c.fail(ExitCode::Partial,
                   QStringLiteral("Nepřečteno %1 z %2 modulů (jejich oddíly zůstaly, jak byly).")
                       .arg(failed.size())
                       .arg(plant.modules.size()));
        return ExitCode::Ok;
    }
};
} // namespace

const Command &ExportCommand()
{
    static const Export command;
    return command;
}
