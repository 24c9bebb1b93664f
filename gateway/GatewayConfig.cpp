#include "gateway/GatewayConfig.h"

#include "app/Dekl.h"
#include "core/Cislo.h"
#include "scan/HledaniModulu.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <algorithm>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QStringList AdapterNames = {QStringLiteral("com"), QStringLiteral("isa"), QStringLiteral("pci"),
                                  QStringLiteral("usb"), QStringLiteral("lan")};

struct Fault
{
    QString key;
    QString reason;
};

std::optional<qint64> number(const QString &text, qint64 lo, qint64 hi)
{
    const std::optional<qint32> v = ParseIntText(text.trimmed());
    if (!v || *v < lo || *v > hi)
        return std::nullopt;
    return *v;
}

QString rangeText(qint64 lo, qint64 hi)
{
    return QStringLiteral("očekáváno celé číslo %1 až %2").arg(lo).arg(hi);
}

bool validBaud(quint32 baud)
{
    for (int i = 0; i < 9; ++i)
        if (BaudRateOfIndex(i) == baud)
            return true;
    return false;
}

std::optional<QString> yesNo(const QString &value, bool &field)
{
    const QString v = value.trimmed().toLower();
    if (v != u"yes" && v != u"no" && v != u"1" && v != u"0" && v != u"true" && v != u"false")
        return QStringLiteral("očekáváno yes nebo no");
    field = v == u"yes" || v == u"1" || v == u"true";
    return std::nullopt;
}

// One key of [gateway] or [bus], shared by the file and the command line.
std::optional<QString> setCommon(GatewayConfig &cfg, const QString &key, const QString &value)
{
    const auto num = [&](qint64 lo, qint64 hi, auto &field) -> std::optional<QString> {
        const auto v = number(value, lo, hi);
        if (!v)
            return rangeText(lo, hi);
        field = static_cast<std::remove_reference_t<decltype(field)>>(*v);
        return std::nullopt;
    };
    if (key == u"name") {
        if (value.trimmed().isEmpty())
            return QStringLiteral("jméno nesmí být prázdné");
        if (value.contains(QLatin1Char('/')) || value.contains(QLatin1Char('+')) ||
            value.contains(QLatin1Char('#')) || std::any_of(value.begin(), value.end(), [](QChar c) {
                return c.isSpace() || c.category() == QChar::Other_Control;
            }))
            return QStringLiteral("jméno je součástí témat MQTT: nesmí obsahovat mezery, /, + ani #");
        cfg.name = value.trimmed();
        cfg.nameSet = true;
    } else if (key == u"modbus" || key == u"converter" || key == u"mqtt" || key == u"metrics") {
        const auto e = ParseEndpoint(value);
        if (!e)
            return QStringLiteral("očekáváno ADRESA:PORT");
        if (key == u"modbus")
            cfg.modbus = *e;
        else if (key == u"converter")
            cfg.converter = *e;
        else if (key == u"mqtt")
            cfg.mqtt = *e;
        else
            cfg.metrics = *e;
    } else if (key == u"mqtt-user") {
        cfg.mqttUser = value.trimmed();
    } else if (key == u"mqtt-password-file" || key == u"mqtt-cafile") {
        if (value.trimmed().isEmpty())
            return QStringLiteral("očekáván název souboru");
        (key == u"mqtt-cafile" ? cfg.mqttCafile : cfg.mqttPasswordFile) = value.trimmed();
    } else if (key == u"mqtt-interval") {
        return num(0, 3600000, cfg.mqttIntervalMs);
    } else if (key == u"ha-discovery") {
        return yesNo(value, cfg.haDiscovery);
    } else if (key == u"mqtt-values") {
        return yesNo(value, cfg.mqttValues);
    } else if (key == u"mqtt-topics-file") {
        if (value.trimmed().isEmpty())
            return QStringLiteral("očekáván název souboru");
        cfg.mqttTopicsFile = value.trimmed();
    } else if (key == u"units-reread") {
        return num(1000, 600000, cfg.unitsRereadMs);
    } else if (key == u"adapter") {
        const auto kind = AdapterNames.indexOf(value.trimmed().toLower());
        if (kind < 0)
            return QStringLiteral("očekáváno com, isa, pci, usb nebo lan");
        cfg.adapter.kind = static_cast<quint8>(kind);
    } else if (key == u"com") {
        return num(1, 255, cfg.adapter.comPort);
    } else if (key == u"isa") {
        return num(0, 0xFFFF, cfg.adapter.isaBase);
    } else if (key == u"ip") {
        if (value.trimmed().isEmpty())
            return QStringLiteral("adresa nesmí být prázdná");
        cfg.adapter.ipAddress = value.trimmed();
    } else if (key == u"udp-port") {
        return num(1, 65535, cfg.adapter.udpPort);
    } else if (key == u"udp-timeout") {
        return num(1, 60000, cfg.adapter.udpTimeout);
    } else if (key == u"retries") {
        return num(0, 10, cfg.retries);
    } else if (key == u"offline-retry") {
        return num(100, 3600000, cfg.offlineRetryMs);
    } else if (key == u"stale") {
        return num(100, 3600000, cfg.staleMs);
    } else if (key == u"allow-writes") {
        return yesNo(value, cfg.allowWrites);
    } else if (key == u"word-order") {
        const QString v = value.trimmed().toLower();
        if (v != u"high-first" && v != u"low-first")
            return QStringLiteral("očekáváno high-first nebo low-first");
        cfg.lowWordFirst = v == u"low-first";
    } else if (key == u"drift-interval") {
        return value.trimmed() == u"0" ? num(0, 0, cfg.driftIntervalMs)
                                       : num(1000, 86400000, cfg.driftIntervalMs);
    } else if (key == u"converter-writes") {
        return yesNo(value, cfg.converterWrites);
    } else if (key == u"converter-allow") {
        QString why;
        const auto list = ParseClientNetworks(value, &why);
        if (!list)
            return why;
        cfg.converterAllow = *list;
    } else if (key == u"max-connections") {
        return num(1, 10000, cfg.modbusLimits.maxConnections);
    } else if (key == u"max-connections-per-address") {
        return num(1, 10000, cfg.modbusLimits.maxPerAddress);
    } else if (key == u"idle-timeout") {
        return num(0, 86400, cfg.modbusLimits.idleTimeoutS);
    } else if (key == u"baud") {
        const auto v = number(value, 600, 115200);
        if (!v || !validBaud(static_cast<quint32>(*v)))
            return QStringLiteral("neplatná rychlost (600 až 115200 Bd)");
        cfg.baud = static_cast<quint32>(*v);
    } else {
        return QStringLiteral("neznámý klíč");
    }
    return std::nullopt;
}

const QSet<QString> GatewayKeys = {QStringLiteral("name"),
                                   QStringLiteral("modbus"),
                                   QStringLiteral("converter"),
                                   QStringLiteral("retries"),
                                   QStringLiteral("offline-retry"),
                                   QStringLiteral("stale"),
                                   QStringLiteral("allow-writes"),
                                   QStringLiteral("word-order"),
                                   QStringLiteral("mqtt"),
                                   QStringLiteral("mqtt-user"),
                                   QStringLiteral("mqtt-password-file"),
                                   QStringLiteral("mqtt-cafile"),
                                   QStringLiteral("mqtt-interval"),
                                   QStringLiteral("ha-discovery"),
                                   QStringLiteral("metrics"),
                                   QStringLiteral("max-connections"),
                                   QStringLiteral("max-connections-per-address"),
                                   QStringLiteral("idle-timeout"),
                                   QStringLiteral("drift-interval"),
                                   QStringLiteral("mqtt-values"),
                                   QStringLiteral("mqtt-topics-file"),
                                   QStringLiteral("units-reread")};
const QSet<QString> ConverterKeys = {QStringLiteral("converter-writes"), QStringLiteral("converter-allow")};
const QSet<QString> BusKeys = {
    QStringLiteral("adapter"),  QStringLiteral("com"),         QStringLiteral("isa"), QStringLiteral("ip"),
    QStringLiteral("udp-port"), QStringLiteral("udp-timeout"), QStringLiteral("baud")};

std::optional<QString> setModule(GatewayModule &m, const QString &key, const QString &value, bool &unitSet)
{
    if (key == u"address") {
        const auto v = number(value, 0, 255);
        if (!v)
            return rangeText(0, 255);
        m.address = static_cast<quint8>(*v);
    } else if (key == u"baud") {
        const auto v = number(value, 600, 115200);
        if (!v || !validBaud(static_cast<quint32>(*v)))
            return QStringLiteral("neplatná rychlost (600 až 115200 Bd)");
        m.baud = static_cast<quint32>(*v);
    } else if (key == u"unit") {
        const auto v = number(value, 1, 247);
        if (!v)
            return rangeText(1, 247);
        m.unit = static_cast<int>(*v);
        unitSet = true;
    } else if (key == u"interval") {
        const auto v = number(value, 0, 3600000);
        if (!v)
            return rangeText(0, 3600000);
        m.intervalMs = static_cast<quint32>(*v);
    } else {
        return QStringLiteral("neznámý klíč");
    }
    return std::nullopt;
}

bool wildcard(const QString &host)
{
    return host == u"0.0.0.0" || host == u"::" || host == u"*";
}

// A key's fault where it was set: its line in the file, else the command line.
ConfigError faultAt(const GatewayConfig &cfg, const QString &key, const QString &reason)
{
    if (const int line = cfg.keyLines.value(key); line > 0)
        return ConfigError{cfg.file, line, key, reason};
    return ConfigError{{}, 0, QStringLiteral("--") + key, reason};
}

// What no single key shows: keys that cannot both work.
std::optional<ConfigError> CheckCombination(const GatewayConfig &cfg)
{
    // Port 0 is any free port: two of them never meet.
    if (cfg.metrics && cfg.metrics->port != 0 && cfg.metrics->port == cfg.modbus.port &&
        (cfg.metrics->host == cfg.modbus.host || wildcard(cfg.metrics->host) || wildcard(cfg.modbus.host)))
        return faultAt(cfg, QStringLiteral("metrics"),
                       QStringLiteral("stejná adresa a port jako modbus= (%1:%2): jeden z nich by nezačal")
                           .arg(cfg.modbus.host)
                           .arg(cfg.modbus.port));
    if (cfg.haDiscovery && !cfg.mqtt)
        return faultAt(cfg, QStringLiteral("ha-discovery"),
                       QStringLiteral("Home Assistant se dozví o modulech jen přes MQTT: chybí mqtt="));
    return std::nullopt;
}

} // namespace

QString ConfigError::text() const
{
    QString where = file.isEmpty() ? QStringLiteral("příkazová řádka") : file;
    if (line > 0)
        where += QStringLiteral(":%1").arg(line);
    return key.isEmpty() ? QStringLiteral("%1: %2").arg(where, reason)
                         : QStringLiteral("%1: %2: %3").arg(where, key, reason);
}

std::optional<Endpoint> ParseEndpoint(const QString &text)
{
    const QString t = text.trimmed();
    const qsizetype colon = t.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return std::nullopt;
    QString host = t.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    else if (host.contains(QLatin1Char(':')))
        return std::nullopt;
    const auto port = number(t.mid(colon + 1), 0, 65535);
    if (host.isEmpty() || !port)
        return std::nullopt;
    return Endpoint{host, static_cast<quint16>(*port)};
}

std::optional<ConfigError> ParseGatewayIni(const QByteArray &text, const QString &file, GatewayConfig &cfg)
{
    const auto fail = [&](int line, const QString &key, const QString &reason) {
        return ConfigError{file, line, key, reason};
    };
    QList<GatewayModule> modules;
    QList<int> moduleLines;
    bool unitSet = false, addressSet = false, busSeen = false;
    // Where each key of a section was set: a second one would silently win.
    QString sectionId;
    QHash<QString, int> keyLine;
    PlantSectionVisitor visitor;
    visitor.sectionEnds = [&](PlantSection section) -> std::optional<PlantError> {
        if (section != PlantSection::Module)
            return std::nullopt;
        if (!addressSet)
            return PlantError{moduleLines.last(), QStringLiteral("address"),
                              QStringLiteral("modul %1 nemá adresu").arg(modules.last().name)};
        GatewayModule &m = modules.last();
        if (!unitSet)
            m.unit = m.address >= 1 && m.address <= 247 ? m.address : -1;
        return CheckPlantSettings(m.model, m.settings);
    };
    visitor.sectionStarts = [&](PlantSection section, const QString &name, int n) {
        if (section == PlantSection::Bus)
            busSeen = true;
        if (section == PlantSection::Module) {
            GatewayModule m;
            m.name = name;
            modules.append(m);
            moduleLines.append(n);
            unitSet = addressSet = false;
        }
        sectionId = section == PlantSection::Module ? QStringLiteral("module ") + name.toLower()
                    : section == PlantSection::Bus  ? QStringLiteral("bus")
                                                    : QStringLiteral("gateway");
    };
    visitor.entry = [&](PlantSection section, const QString &key, const QString &value,
                        int n) -> std::optional<PlantError> {
        if (section != PlantSection::None) {
            const QString where = sectionId + QLatin1Char('\n') + key;
            if (const int first = keyLine.value(where); first > 0)
                return PlantError{n, key, QStringLiteral("klíč je v oddílu už na řádku %1").arg(first)};
            keyLine.insert(where, n);
            if (section != PlantSection::Module)
                cfg.keyLines.insert(key, n);
        }
        std::optional<QString> error;
        switch (section) {
        case PlantSection::None:
            error = QStringLiteral("klíč mimo oddíl");
            break;
        case PlantSection::Gateway:
            error = GatewayKeys.contains(key) || ConverterKeys.contains(key) ? setCommon(cfg, key, value)
                                                                             : QStringLiteral("neznámý klíč");
            break;
        case PlantSection::Bus:
            error = BusKeys.contains(key) ? setCommon(cfg, key, value) : QStringLiteral("neznámý klíč");
            break;
        case PlantSection::Module:
            // The module's desired settings, checked with its model at the section's end.
            if (key == u"model" || IsPlantKey(key)) {
                GatewayModule &m = modules.last();
                if (key != u"model")
                    m.settings.append(PlantSetting{key, value, n});
                else if (!(m.model = PlantModelOf(value)))
                    error = QStringLiteral("očekáváno RQ-3510, RQ-3520 nebo RQ-3530");
                break;
            }
            error = setModule(modules.last(), key, value, unitSet);
            if (key == u"address")
                addressSet = true;
            break;
        }
        if (error)
            return PlantError{n, key, *error};
        return std::nullopt;
    };
    if (const std::optional<PlantError> e = ReadPlantSections(text, visitor))
        return fail(e->line, e->key, e->reason);
    // Without it the modules would be looked for on the first serial port.
    if (!modules.isEmpty() && !busSeen)
        return fail(moduleLines.first(), {},
                    QStringLiteral("chybí oddíl [bus]: rozhraní, na kterém jsou moduly, musí být uvedeno"));
    if (cfg.adapter.kind == 4 && cfg.adapter.ipAddress.isEmpty())
        return fail(0, QStringLiteral("ip"), QStringLiteral("LAN konvertor potřebuje IP adresu"));
    // Two modules on one unit id could not be told apart by a client.
    QHash<int, int> units;
    for (int k = 0; k < modules.size(); ++k) {
        const int unit = modules.at(k).unit;
        if (unit < 0)
            continue;
        if (units.contains(unit))
            return fail(moduleLines.at(k), QStringLiteral("unit"),
                        QStringLiteral("jednotku %1 už má modul %2")
                            .arg(unit)
                            .arg(modules.at(units.value(unit)).name));
        units.insert(unit, k);
    }
    if (!modules.isEmpty())
        cfg.modules = modules;
    cfg.file = file;
    return std::nullopt;
}

std::optional<ConfigError> LoadGatewayConfig(const QString &file, GatewayConfig &cfg)
{
    // Opened without waiting and checked before reading: a FIFO (or a
    // device) would hang the start, a reload and with it SIGTERM.
    const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return ConfigError{
            file,
            0,
            {},
            QStringLiteral("soubor nelze číst: %1").arg(QString::fromLocal8Bit(strerror(errno)))};
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return ConfigError{file, 0, {}, QStringLiteral("není obyčejný soubor")};
    }
    QFile f;
    if (!f.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return ConfigError{file, 0, {}, QStringLiteral("soubor nelze číst: %1").arg(f.errorString())};
    }
    // A configuration is a few hundred lines; anything far larger is no configuration.
    if (f.size() > 1024 * 1024)
        return ConfigError{file, 0, {}, QStringLiteral("soubor je příliš velký")};
    return ParseGatewayIni(f.readAll(), file, cfg);
}

std::optional<ConfigError> ParseGatewayArguments(const QStringList &args, GatewayCommand &command)
{
    const auto fail = [](const QString &key, const QString &reason) {
        return ConfigError{{}, 0, key, reason};
    };
    // Options with a value, as the file names them where it has them.
    static const QSet<QString> valued = {QStringLiteral("config"),
                                         QStringLiteral("check-config"),
                                         QStringLiteral("adapter"),
                                         QStringLiteral("com"),
                                         QStringLiteral("isa"),
                                         QStringLiteral("ip"),
                                         QStringLiteral("udp-port"),
                                         QStringLiteral("udp-timeout"),
                                         QStringLiteral("address"),
                                         QStringLiteral("baud"),
                                         QStringLiteral("modbus"),
                                         QStringLiteral("converter"),
                                         QStringLiteral("retries"),
                                         QStringLiteral("offline-retry"),
                                         QStringLiteral("stale"),
                                         QStringLiteral("word-order"),
                                         QStringLiteral("name"),
                                         QStringLiteral("log-level"),
                                         QStringLiteral("mqtt"),
                                         QStringLiteral("mqtt-user"),
                                         QStringLiteral("mqtt-password-file"),
                                         QStringLiteral("mqtt-cafile"),
                                         QStringLiteral("mqtt-interval"),
                                         QStringLiteral("metrics"),
                                         QStringLiteral("max-connections"),
                                         QStringLiteral("max-connections-per-address"),
                                         QStringLiteral("idle-timeout"),
                                         QStringLiteral("mqtt-topics-file"),
                                         QStringLiteral("units-reread")};
    QList<std::pair<QString, QString>> options;
    for (int i = 0; i < args.size(); ++i) {
        QString a = args.at(i);
        if (a == u"-h" || a == u"--help") {
            command.action = GatewayCommand::Action::Help;
            return std::nullopt;
        }
        if (a == u"--version") {
            command.action = GatewayCommand::Action::Version;
            return std::nullopt;
        }
        if (!a.startsWith(u"--"))
            return fail(a, QStringLiteral("neočekávaný argument"));
        a = a.mid(2);
        QString value;
        const qsizetype eq = a.indexOf(QLatin1Char('='));
        if (eq >= 0) {
            value = a.mid(eq + 1);
            a = a.left(eq);
        }
        const bool flag =
            a == u"allow-writes" || a == u"ha-discovery" || a == u"converter-writes" || a == u"mqtt-values";
        if (flag && eq < 0) {
            options.append({a, QStringLiteral("yes")});
            continue;
        }
        if (!valued.contains(a) && !flag && a != u"converter-allow")
            return fail(QStringLiteral("--") + a, QStringLiteral("neznámá volba"));
        if (eq < 0) {
            if (i + 1 >= args.size())
                return fail(QStringLiteral("--") + a, QStringLiteral("chybí hodnota"));
            value = args.at(++i);
        }
        options.append({a, value});
    }
    GatewayConfig &cfg = command.config;
    for (const auto &[key, value] : options) {
        if (key == u"config" || key == u"check-config") {
            if (key == u"check-config")
                command.action = GatewayCommand::Action::CheckConfig;
            if (auto e = LoadGatewayConfig(value, cfg))
                return e;
        }
    }
    for (const auto &[key, value] : options) {
        const QString opt = QStringLiteral("--") + key;
        if (key == u"config" || key == u"check-config")
            continue;
        if (key == u"log-level") {
            if (!QStringList{QStringLiteral("debug"), QStringLiteral("info"), QStringLiteral("warning"),
                             QStringLiteral("error")}
                     .contains(value))
                return fail(opt, QStringLiteral("očekáváno debug, info, warning nebo error"));
            command.logLevel = value;
        } else if (key == u"address") {
            QString why;
            const auto list = ParseAddressList(value, &why);
            if (!list || list->isEmpty())
                return fail(opt, why.isEmpty() ? QStringLiteral("prázdný seznam adres") : why);
            cfg.searchAddresses = *list;
        } else if (key == u"baud") {
            QString why;
            const auto list = ParseBaudList(value, &why);
            if (!list || list->isEmpty())
                return fail(opt, why.isEmpty() ? QStringLiteral("prázdný seznam rychlostí") : why);
            cfg.searchBauds = *list;
            cfg.baud = list->first();
        } else if (auto error = setCommon(cfg, key, value)) {
            return fail(opt, *error);
        } else {
            cfg.keyLines.remove(key);
        }
    }
    if (cfg.searchMode()) {
        // The modules come from the search; each keeps its address as its unit.
        cfg.modules.clear();
        if (cfg.searchBauds.isEmpty())
            cfg.searchBauds = {cfg.baud};
    }
    if (cfg.adapter.kind == 4 && cfg.adapter.ipAddress.isEmpty())
        return fail(QStringLiteral("--ip"), QStringLiteral("LAN konvertor potřebuje IP adresu"));
    if (cfg.modules.isEmpty() && !cfg.searchMode())
        return fail({}, QStringLiteral("žádný modul: uveďte --config SOUBOR nebo --address SEZNAM"));
    return CheckCombination(cfg);
}

QStringList UnitWarnings(const GatewayConfig &cfg)
{
    QStringList out;
    for (const GatewayModule &m : cfg.modules)
        if (m.unit < 0)
            out << QStringLiteral(
                       "modul %1 (adresa %2) nemá Modbus jednotku 1 až 247: čte se, ale přes Modbus "
                       "se nepodává (doplňte unit=)")
                       .arg(m.name)
                       .arg(m.address);
    return out;
}

qint64 DefaultStaleMs(const GatewayConfig &cfg, const GatewayModule &m)
{
    const auto rateOf = [&cfg](const GatewayModule &g) { return g.baud ? g.baud : cfg.baud; };
    double roundMs = 0;
    for (const GatewayModule &g : cfg.modules)
        roundMs += CycleTransactions * WireTimeUs(rateOf(g)) / 1000.0;
    const double base = std::max(static_cast<double>(m.intervalMs), roundMs);
    // The LAN converter's library waits its own UDP timeout whatever the rate asks.
    const quint32 replyMs = cfg.adapter.kind == 4 && cfg.adapter.udpTimeout ? cfg.adapter.udpTimeout
                                                                            : ReplyTimeoutOfRate(rateOf(m));
    const double ms = 2 * base * 2 + static_cast<double>(cfg.retries) * replyMs;
    return std::max<qint64>(2000, static_cast<qint64>(std::ceil(ms)));
}

QString GatewayUsage()
{
    return QStringLiteral(
        "Použití: rqgw --config SOUBOR [volby]\n"
        "         rqgw --adapter lan --ip ADRESA --udp-port N --address SEZNAM [--baud SEZNAM] [volby]\n"
        "         rqgw --check-config SOUBOR\n"
        "Brána: každý modul RQ na sběrnici jako zařízení Modbus TCP.\n"
        "  --config SOUBOR        konfigurace (INI v UTF-8)\n"
        "  --check-config SOUBOR  jen zkontroluje konfiguraci (0 v pořádku, 2 chyba)\n"
        "  --adapter com|isa|pci|usb|lan, --com N, --isa BÁZE, --ip ADRESA,\n"
        "  --udp-port N, --udp-timeout MS   rozhraní jako u rqtool\n"
        "  --address SEZNAM       adresy modulů, které se vyhledají (1,5,10-20)\n"
        "  --baud SEZNAM|all      rychlosti, na kterých se hledá\n"
        "  --modbus ADRESA:PORT   Modbus TCP server (výchozí 127.0.0.1:1502)\n"
        "  --converter ADRESA:PORT  sdílení sběrnice protokolem LAN konvertoru\n"
        "  --converter-writes     povolí zápis konfigurační paměti přes konvertor\n"
        "  --converter-allow SÍTĚ  klienti konvertoru (10.1.2.0/24,...; výchozí jen tento počítač)\n"
        "  --word-order high-first|low-first   pořadí slov 32bitových hodnot (výchozí high-first)\n"
        "  --allow-writes         povolí zápis výstupů (cívek)\n"
        "  --retries N            opakování neúspěšné transakce (výchozí 2)\n"
        "  --offline-retry MS     jak často zkusit modul mimo provoz (výchozí 5000)\n"
        "  --stale MS             stáří hodnot, nad které se hlásí chyba 0x0B\n"
        "  --max-connections N    nejvýše N klientů Modbus najednou (výchozí 256)\n"
        "  --max-connections-per-address N   z jedné adresy klienta (výchozí 64)\n"
        "  --idle-timeout S       klient bez požadavku se po S s odpojí (výchozí 60, 0 nikdy)\n"
        "  --name JMÉNO           jméno instance v záznamech a v tématech MQTT\n"
        "                         (výchozí: jméno počítače a instance)\n"
        "  --mqtt ADRESA:PORT     broker MQTT: hodnoty v rq/JMÉNO/...\n"
        "  --mqtt-user UŽIVATEL, --mqtt-password-file SOUBOR   přihlášení k brokeru\n"
        "  --mqtt-cafile SOUBOR   TLS, certifikát brokeru ověřen touto autoritou\n"
        "  --mqtt-interval MS     nejkratší odstup stavů jednoho modulu (výchozí 1000)\n"
        "  --ha-discovery         konfigurace pro Home Assistant (homeassistant/...)\n"
        "  --mqtt-values          každá hodnota i ve vlastním tématu (rq/JMÉNO/ADRESA/ain/0)\n"
        "  --mqtt-topics-file SOUBOR  seznam témat modulů na brokeru\n"
        "                         (výchozí $STATE_DIRECTORY/mqtt-topics-JMÉNO)\n"
        "  --units-reread MS      jak často znovu číst rozsahy a teploměr (výchozí 120000)\n"
        "  --metrics ADRESA:PORT  metriky pro Prometheus na /metrics\n"
        "  --log-level debug|info|warning|error\n");
}

QString MqttName(const GatewayConfig &cfg, const QString &hostName)
{
    QString raw = cfg.nameSet
                      ? cfg.name
                      : QStringLiteral("%1-%2").arg(hostName, cfg.file.isEmpty()
                                                                  ? QString::number(cfg.modbus.port)
                                                                  : QFileInfo(cfg.file).completeBaseName());
    QString out;
    for (const QChar c : raw)
        out += c.isLetterOrNumber() || c == u'-' || c == u'_' ? c : QChar(u'_');
    return out;
}

QString MqttTopicsFile(const GatewayConfig &cfg, const QString &mqttName)
{
    if (!cfg.mqttTopicsFile.isEmpty())
        return cfg.mqttTopicsFile;
    // systemd's StateDirectory=, shared by the service's instances: one file each name.
    const QByteArray dir = qgetenv("STATE_DIRECTORY");
    if (dir.isEmpty())
        return {};
    return QFile::decodeName(dir.split(':').first()) + QStringLiteral("/mqtt-topics-") + mqttName;
}

QString MqttPasswordFile(const GatewayConfig &cfg)
{
    if (!cfg.mqttPasswordFile.isEmpty())
        return cfg.mqttPasswordFile;
    // systemd's LoadCredential= hands the password over readable by this
    // service alone, so no world-readable file is needed.
    const QByteArray dir = qgetenv("CREDENTIALS_DIRECTORY");
    if (dir.isEmpty())
        return {};
    const QString path = QFile::decodeName(dir) + QStringLiteral("/mqtt-password");
    return QFileInfo::exists(path) ? path : QString();
}

bool ReadMqttPassword(const GatewayConfig &cfg, QString &password, QString &error)
{
    password.clear();
    const QString file = MqttPasswordFile(cfg);
    if (file.isEmpty())
        return true;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("soubor s heslem %1 nelze číst: %2").arg(file, f.errorString());
        return false;
    }
    password = QString::fromUtf8(f.readLine(4096)).trimmed();
    return true;
}
