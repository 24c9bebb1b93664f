#include "cli/Argumenty.h"

#include <optional>

const QList<OptionSpec> &CommonOptions()
{
    static const QList<OptionSpec> list = {{QStringLiteral("adapter"), {}, true},
                                           {QStringLiteral("com"), {}, true},
                                           {QStringLiteral("isa"), {}, true},
                                           {QStringLiteral("ip"), {}, true},
                                           {QStringLiteral("udp-port"), {}, true},
                                           {QStringLiteral("udp-timeout"), {}, true},
                                           {QStringLiteral("timeout"), {}, true},
                                           {QStringLiteral("retries"), {}, true},
                                           {QStringLiteral("address"), QLatin1Char('a'), true},
                                           {QStringLiteral("baud"), QLatin1Char('b'), true},
                                           {QStringLiteral("settings"), {}, true},
                                           {QStringLiteral("json"), QLatin1Char('j'), false},
                                           {QStringLiteral("quiet"), QLatin1Char('q'), false},
                                           {QStringLiteral("verbose"), QLatin1Char('v'), false},
                                           {QStringLiteral("help"), QLatin1Char('h'), false},
                                           {QStringLiteral("version"), QLatin1Char('V'), false}};
    return list;
}

namespace {
// Every option any command knows; the command's own are checked later.
std::optional<OptionSpec> findOption(const QString &name, QChar shortName = {})
{
    const auto match = [&](const OptionSpec &o) {
        return shortName.isNull() ? o.name == name : o.shortName == shortName;
    };
    for (const OptionSpec &o : CommonOptions())
        if (match(o))
            return o;
    for (const Command *c : Commands())
        for (const OptionSpec &o : c->options())
            if (match(o))
                return o;
    return std::nullopt;
}
} // namespace

CliParse ParseCliArguments(const QStringList &args)
{
    CliParse parse;
    CliArguments &a = parse.arguments;
    bool optionsEnded = false;
    const auto positional = [&a](const QString &arg) {
        if (a.command.isEmpty())
            a.command = arg;
        else
            a.positional << arg;
    };
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        // "-" alone names standard input or output.
        if (optionsEnded || !arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-")) {
            positional(arg);
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        QString name;
        std::optional<QString> value;
        std::optional<OptionSpec> spec;
        if (arg.startsWith(QLatin1String("--"))) {
            name = arg.mid(2);
            if (const qsizetype eq = name.indexOf(QLatin1Char('=')); eq >= 0) {
                value = name.mid(eq + 1);
                name.truncate(eq);
            }
            spec = findOption(name);
            if (!spec) {
                parse.error = QStringLiteral("Neznámá volba --%1.").arg(name);
                return parse;
            }
        } else {
            // -a 5, -a5; switches may be grouped: -qj.
            spec = findOption({}, arg.at(1));
            if (!spec) {
                parse.error = QStringLiteral("Neznámá volba %1.").arg(arg.left(2));
                return parse;
            }
            if (arg.size() > 2) {
                if (spec->takesValue) {
                    value = arg.mid(2);
                } else {
                    for (qsizetype k = 2; k < arg.size(); ++k) {
                        const std::optional<OptionSpec> s = findOption({}, arg.at(k));
                        if (!s || s->takesValue) {
                            parse.error =
                                QStringLiteral("Neznámá volba -%1 ve skupině %2.").arg(arg.at(k)).arg(arg);
                            return parse;
                        }
                        a.options.insert(s->name, QString());
                        a.order.removeAll(s->name);
                        a.order << s->name;
                    }
                }
            }
            name = spec->name;
        }
        if (spec->takesValue) {
            if (!value) {
                if (i + 1 >= args.size()) {
                    parse.error = QStringLiteral("Volba --%1 vyžaduje hodnotu.").arg(name);
                    return parse;
                }
                value = args.at(++i);
            }
        } else {
            if (value) {
                parse.error = QStringLiteral("Volba --%1 nemá hodnotu.").arg(name);
                return parse;
            }
            value = QString();
        }
        a.options.insert(name, *value); // the last one given counts
        a.order.removeAll(name);
        a.order << name;
    }
    parse.help = a.has(QStringLiteral("help"));
    parse.version = a.has(QStringLiteral("version"));
    if (parse.help || parse.version)
        return parse;
    if (a.command.isEmpty()) {
        parse.error = QStringLiteral("Chybí příkaz (nápověda: rqtool --help).");
        return parse;
    }
    const Command *command = FindCommand(a.command);
    if (!command) {
        parse.error = QStringLiteral("Neznámý příkaz „%1“ (nápověda: rqtool --help).").arg(a.command);
        return parse;
    }
    for (auto it = a.options.cbegin(); it != a.options.cend(); ++it) {
        const auto is = [&it](const OptionSpec &o) { return o.name == it.key(); };
        const QList<OptionSpec> own = command->options();
        if (std::none_of(CommonOptions().cbegin(), CommonOptions().cend(), is) &&
            std::none_of(own.cbegin(), own.cend(), is)) {
            parse.error = QStringLiteral("Volba --%1 nepatří k příkazu %2.").arg(it.key(), a.command);
            return parse;
        }
    }
    const int n = int(a.positional.size());
    if (n < command->minArgs() || (command->maxArgs() >= 0 && n > command->maxArgs())) {
        parse.error =
            QStringLiteral("Příkaz %1: nesprávný počet argumentů (nápověda: rqtool --help).").arg(a.command);
        return parse;
    }
    return parse;
}

QString CliHelpText()
{
    QString commands;
    for (const Command *c : Commands()) {
        const QString synopsis = c->synopsis();
        if (synopsis.size() < 23)
            commands += QStringLiteral("  %1 %2\n").arg(synopsis, -22).arg(c->summary());
        else
            commands += QStringLiteral("  %1\n                         %2\n").arg(synopsis, c->summary());
    }
    return QStringLiteral("Použití: rqtool [volby] PŘÍKAZ [argumenty]\n"
                          "\n"
                          "Servisní nástroj modulů RQ-3510, RQ-3520 a RQ-3530 pro skripty.\n"
                          "Bez voleb spojení platí rozhraní a nastavení ze souboru W_rq3510.ini,\n"
                          "který používá i program W_RQ3510. Místo souboru lze uvést - (standardní\n"
                          "vstup nebo výstup).\n"
                          "\n"
                          "Příkazy:\n") +
           commands +
           QStringLiteral(
               "\n"
               "Volby spojení:\n"
               "  --adapter com|isa|pci|usb|lan   rozhraní\n"
               "  --com N                číslo portu COMx\n"
               "  --isa BÁZE             bázová adresa karty PCI-638 (např. 0x300)\n"
               "  --ip ADRESA            IP adresa nebo jméno konvertoru RQ-4638\n"
               "  --udp-port N           UDP port konvertoru\n"
               "  --udp-timeout MS       UDP timeout konvertoru\n"
               "  --timeout MS           čekání na odpověď modulu (každé rozhraní; z --timeout\n"
               "                         a --udp-timeout platí ta uvedená později)\n"
               "  --retries N            opakování dotazu bez odpovědi nebo s poškozenou\n"
               "                         odpovědí (výchozí 2)\n"
               "  -a, --address A        adresa modulu (u backup do složky a export seznam,\n"
               "                         např. 1,5,10-20)\n"
               "  -b, --baud RYCHLOST    komunikační rychlost v Bd\n"
               "  --settings SOUBOR      jiný soubor nastavení\n"
               "\n"
               "Výstup:\n"
               "  -j, --json             JSON na standardní výstup (values: řádek za vzorek)\n"
               "  -q, --quiet            bez průběhu a hlášení\n"
               "  -v, --verbose          každý dotaz a odpověď na standardní chybový výstup\n"
               "  -h, --help, -V, --version\n"
               "\n"
               "Návratové kódy: 0 v pořádku, 1 nalezeny rozdíly (diff, plan), 2 chybné použití,\n"
               "3 odmítnuto z bezpečnostních důvodů, 4 chyba komunikace, 5 chyba souboru,\n"
               "6 některé moduly seznamu neodpověděly (ostatní hotovy),\n"
               "130/143/129 přerušeno signálem SIGINT/SIGTERM/SIGHUP, 141 čtenář výstupu skončil.\n");
}
