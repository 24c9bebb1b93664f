#include "cli/Argumenty.h"

#include <QSet>

namespace {
// Options that take a value, and switches.
const QSet<QString> ValueOptions = {
    QStringLiteral("adapter"),   QStringLiteral("com"),       QStringLiteral("isa"),
    QStringLiteral("ip"),        QStringLiteral("udp-port"),  QStringLiteral("udp-timeout"),
    QStringLiteral("address"),   QStringLiteral("baud"),      QStringLiteral("addresses"),
    QStringLiteral("bauds"),     QStringLiteral("interval"),  QStringLiteral("count"),
    QStringLiteral("settings")};
const QSet<QString> Switches = {QStringLiteral("json"),         QStringLiteral("quiet"),
                                QStringLiteral("keep-address"), QStringLiteral("dry-run"),
                                QStringLiteral("yes"),          QStringLiteral("all"),
                                QStringLiteral("csv"),          QStringLiteral("clear"),
                                QStringLiteral("help"),         QStringLiteral("version")};

// Commands, the count of positional arguments each takes (min, max; -1 any)
// and the options of its own besides the connection and output options.
struct CommandShape
{
    int minArgs;
    int maxArgs;
    QSet<QString> options;
};
const QMap<QString, CommandShape> &commands()
{
    static const QMap<QString, CommandShape> map = {
        {QStringLiteral("scan"), {0, 0, {QStringLiteral("addresses"), QStringLiteral("bauds")}}},
        {QStringLiteral("info"), {0, 0, {}}},
        {QStringLiteral("backup"), {1, 1, {}}},
        {QStringLiteral("restore"),
         {1, 1, {QStringLiteral("keep-address"), QStringLiteral("dry-run"), QStringLiteral("yes"), QStringLiteral("all")}}},
        {QStringLiteral("diff"), {2, 2, {}}},
        {QStringLiteral("get"), {0, -1, {}}},
        {QStringLiteral("set"), {1, -1, {}}},
        {QStringLiteral("values"), {0, 0, {QStringLiteral("interval"), QStringLiteral("count"), QStringLiteral("csv")}}},
        {QStringLiteral("inputs"), {0, 0, {}}},
        {QStringLiteral("outputs"), {1, 1, {}}},
        {QStringLiteral("status"), {0, 0, {QStringLiteral("clear")}}},
    };
    return map;
}
const QSet<QString> CommonOptions = {
    QStringLiteral("adapter"), QStringLiteral("com"),     QStringLiteral("isa"),      QStringLiteral("ip"),
    QStringLiteral("udp-port"), QStringLiteral("udp-timeout"), QStringLiteral("address"), QStringLiteral("baud"),
    QStringLiteral("json"),    QStringLiteral("quiet"),   QStringLiteral("settings"), QStringLiteral("help"),
    QStringLiteral("version")};
} // namespace

CliParse ParseCliArguments(const QStringList &args)
{
    CliParse parse;
    CliArguments &a = parse.arguments;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (optionsEnded || !arg.startsWith(QLatin1String("--")) || arg == QLatin1String("-")) {
            if (a.command.isEmpty())
                a.command = arg;
            else
                a.positional << arg;
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        QString name = arg.mid(2);
        std::optional<QString> value;
        if (const qsizetype eq = name.indexOf(QLatin1Char('=')); eq >= 0) {
            value = name.mid(eq + 1);
            name.truncate(eq);
        }
        if (ValueOptions.contains(name)) {
            if (!value) {
                if (i + 1 >= args.size()) {
                    parse.error = QStringLiteral("Volba --%1 vyžaduje hodnotu.").arg(name);
                    return parse;
                }
                value = args.at(++i);
            }
        } else if (Switches.contains(name)) {
            if (value) {
                parse.error = QStringLiteral("Volba --%1 nemá hodnotu.").arg(name);
                return parse;
            }
            value = QString();
        } else {
            parse.error = QStringLiteral("Neznámá volba --%1.").arg(name);
            return parse;
        }
        if (a.options.contains(name)) {
            parse.error = QStringLiteral("Volba --%1 je uvedena dvakrát.").arg(name);
            return parse;
        }
        a.options.insert(name, *value);
    }
    parse.help = a.has(QStringLiteral("help"));
    parse.version = a.has(QStringLiteral("version"));
    if (parse.help || parse.version) return parse;
    if (a.command.isEmpty()) {
        parse.error = QStringLiteral("Chybí příkaz (nápověda: rqtool --help).");
        return parse;
    }
    const auto shape = commands().constFind(a.command);
    if (shape == commands().constEnd()) {
        parse.error = QStringLiteral("Neznámý příkaz „%1“ (nápověda: rqtool --help).").arg(a.command);
        return parse;
    }
    for (auto it = a.options.cbegin(); it != a.options.cend(); ++it) {
        if (!CommonOptions.contains(it.key()) && !shape->options.contains(it.key())) {
            parse.error = QStringLiteral("Volba --%1 nepatří k příkazu %2.").arg(it.key(), a.command);
            return parse;
        }
    }
    const int n = int(a.positional.size());
    if (n < shape->minArgs || (shape->maxArgs >= 0 && n > shape->maxArgs)) {
        parse.error = QStringLiteral("Příkaz %1: nesprávný počet argumentů (nápověda: rqtool --help).").arg(a.command);
        return parse;
    }
    return parse;
}

QString CliHelpText()
{
    return QStringLiteral(
        "Použití: rqtool [volby] PŘÍKAZ [argumenty]\n"
        "\n"
        "Servisní nástroj modulů RQ-3510, RQ-3520 a RQ-3530 pro skripty.\n"
        "Bez voleb spojení platí rozhraní a nastavení ze souboru W_rq3510.ini,\n"
        "který používá i program W_RQ3510.\n"
        "\n"
        "Příkazy:\n"
        "  scan [--addresses SEZNAM] [--bauds SEZNAM|all]\n"
        "                         vyhledá moduly na sběrnici\n"
        "  info                   identita, adresa, rychlost a nastavení modulu\n"
        "  backup SOUBOR          uloží 512 bajtů konfigurační paměti do souboru\n"
        "  backup SLOŽKA --address SEZNAM\n"
        "                         zálohuje všechny moduly seznamu, soubor pro každý\n"
        "  restore SOUBOR [--keep-address] [--dry-run] [--yes] [--all]\n"
        "                         zapíše soubor do modulu (jen odlišné bajty)\n"
        "  diff A B               porovná dva soubory .kee nebo soubor a modul (module)\n"
        "  get [POLE...]          vypíše pojmenovaná nastavení\n"
        "  set POLE=HODNOTA...    změní nastavení se zpětným čtením\n"
        "  values [--interval MS] [--count N] [--csv]\n"
        "                         okamžité hodnoty analogových vstupů a teploty\n"
        "  inputs                 stav 32 digitálních vstupů\n"
        "  outputs HEX            nastaví 32 digitálních výstupů\n"
        "  status [--clear]       status registr (a jeho vynulování)\n"
        "\n"
        "Volby spojení:\n"
        "  --adapter com|isa|pci|usb|lan   rozhraní\n"
        "  --com N                číslo portu COMx\n"
        "  --isa BÁZE             bázová adresa karty PCI-638 (např. 0x300)\n"
        "  --ip TEXT              IP adresa konvertoru RQ-4638\n"
        "  --udp-port N           UDP port konvertoru\n"
        "  --udp-timeout MS       UDP timeout konvertoru\n"
        "  --address A            adresa modulu (u backup do složky seznam, např. 1,5,10-20)\n"
        "  --baud RYCHLOST        komunikační rychlost v Bd\n"
        "  --settings SOUBOR      jiný soubor nastavení\n"
        "\n"
        "Výstup:\n"
        "  --json                 jeden dokument JSON na standardní výstup\n"
        "  --quiet                bez průběhu a hlášení\n"
        "  --help, --version\n"
        "\n"
        "Návratové kódy: 0 v pořádku, 1 nalezeny rozdíly (diff), 2 chybné použití,\n"
        "3 odmítnuto z bezpečnostních důvodů, 4 chyba komunikace, 5 chyba souboru.\n");
}
