// Any bytes as rqgw's configuration file: parsing never crashes; a fault
// names a line of the text and a reason; a configuration that parses holds
// only what the gateway can serve (unit ids 1..247 and distinct, rates of
// the bus, names unique) and, written out again as a file, parses back the
// same.
#include "FuzzSupport.h"

#include "gateway/GatewayConfig.h"

#include <QByteArray>
#include <QSet>

#include <cstddef>
#include <cstdint>

namespace {

QString endpointText(const Endpoint &e)
{
    const bool bracket = e.host.contains(QLatin1Char(':')) || e.host.startsWith(QLatin1Char('['));
    return (bracket ? QLatin1Char('[') + e.host + QLatin1Char(']') : e.host) + QLatin1Char(':') +
           QString::number(e.port);
}

QByteArray fileOf(const GatewayConfig &c)
{
    static const char *const adapters[] = {"com", "isa", "pci", "usb", "lan"};
    QString t =
        QStringLiteral("[gateway]\nname=%1\nmodbus=%2\nretries=%3\noffline-retry=%4\nallow-writes=%5\n")
            .arg(c.name, endpointText(c.modbus))
            .arg(c.retries)
            .arg(c.offlineRetryMs)
            .arg(c.allowWrites ? QStringLiteral("yes") : QStringLiteral("no"));
    if (c.converter)
        t += QStringLiteral("converter=%1\n").arg(endpointText(*c.converter));
    if (c.staleMs)
        t += QStringLiteral("stale=%1\n").arg(c.staleMs);
    t += QStringLiteral("[bus]\nadapter=%1\ncom=%2\nisa=%3\nudp-port=%4\nudp-timeout=%5\nbaud=%6\n")
             .arg(QLatin1String(adapters[c.adapter.kind % 5]))
             .arg(c.adapter.comPort)
             .arg(c.adapter.isaBase)
             .arg(c.adapter.udpPort)
             .arg(c.adapter.udpTimeout)
             .arg(c.baud);
    if (!c.adapter.ipAddress.isEmpty())
        t += QStringLiteral("ip=%1\n").arg(c.adapter.ipAddress);
    for (const GatewayModule &m : c.modules) {
        t += QStringLiteral("[module %1]\naddress=%2\ninterval=%3\n")
                 .arg(m.name)
                 .arg(m.address)
                 .arg(m.intervalMs);
        if (m.baud)
            t += QStringLiteral("baud=%1\n").arg(m.baud);
        if (m.unit >= 0)
            t += QStringLiteral("unit=%1\n").arg(m.unit);
    }
    return t.toUtf8();
}

bool sameModules(const QList<GatewayModule> &a, const QList<GatewayModule> &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype k = 0; k < a.size(); ++k)
        if (a[k].name != b[k].name || a[k].address != b[k].address || a[k].baud != b[k].baud ||
            a[k].unit != b[k].unit || a[k].intervalMs != b[k].intervalMs)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    GatewayConfig cfg;
    if (const auto error = ParseGatewayIni(text, QStringLiteral("rqgw.ini"), cfg)) {
        FUZZ_CHECK(!error->reason.isEmpty());
        FUZZ_CHECK(error->line >= 0 && error->line <= text.count('\n') + 1);
        FUZZ_CHECK(!error->text().isEmpty());
        return 0;
    }
    QSet<QString> names;
    QSet<int> units;
    for (const GatewayModule &m : cfg.modules) {
        FUZZ_CHECK(!m.name.isEmpty() && m.name == m.name.trimmed());
        FUZZ_CHECK(!names.contains(m.name.toLower()));
        names.insert(m.name.toLower());
        FUZZ_CHECK(m.unit == -1 || (m.unit >= 1 && m.unit <= 247));
        FUZZ_CHECK(m.unit < 0 || !units.contains(m.unit));
        units.insert(m.unit);
        FUZZ_CHECK(m.baud == 0 || (m.baud >= 600 && m.baud <= 115200));
    }
    FUZZ_CHECK(cfg.adapter.kind <= 4 && cfg.retries >= 0 && cfg.retries <= 10);
    FUZZ_CHECK(cfg.adapter.kind != 4 || !cfg.adapter.ipAddress.isEmpty());
    FUZZ_CHECK(!cfg.name.isEmpty() && !cfg.modbus.host.isEmpty());

    GatewayConfig again;
    const auto error = ParseGatewayIni(fileOf(cfg), QStringLiteral("rqgw.ini"), again);
    if (error)
        std::fprintf(stderr, "%s\n%s\n", qPrintable(error->text()), fileOf(cfg).constData());
    FUZZ_CHECK(!error);
    FUZZ_CHECK(sameModules(cfg.modules, again.modules));
    FUZZ_CHECK(again.name == cfg.name && again.modbus == cfg.modbus && again.converter == cfg.converter);
    FUZZ_CHECK(again.baud == cfg.baud && again.staleMs == cfg.staleMs &&
               again.allowWrites == cfg.allowWrites);
    FUZZ_CHECK(again.adapter.kind == cfg.adapter.kind && again.adapter.ipAddress == cfg.adapter.ipAddress);
    return 0;
}
