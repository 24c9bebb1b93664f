#include "gateway/ModuleSearch.h"

#include "comm/Spojeni.h"
#include "diag/LinkStats.h"
#include "gateway/Log.h"
#include "gateway/Poller.h"

#include <QSet>

#include <utility>

namespace {
constexpr int SearchEveryMs = 60000;
} // namespace

void ModuleSearch::plan(bool all)
{
    // Addresses with no module that answers; at start every one given. A
    // sweep a rate, as the search tool goes.
    const GatewayConfig &cfg = m_host.config();
    QList<quint8> addresses;
    for (quint8 a : cfg.searchAddresses)
        if (all || !m_host.answers(a))
            addresses << a;
    m_probes.clear();
    for (quint32 baud : cfg.searchBauds.isEmpty() ? DefaultScanBauds() : cfg.searchBauds)
        for (quint8 a : addresses)
            m_probes.emplace_back(a, baud);
}

bool ModuleSearch::step()
{
    const GatewayConfig &cfg = m_host.config();
    const TData &bus = m_host.bus();
    if (!cfg.searchMode() || !bus.ready())
        return false;
    const qint64 now = MonotonicMs();
    if (m_probes.empty()) {
        if (now < m_nextSearch)
            return false;
        plan(m_nextSearch == 0);
        m_nextSearch = now + SearchEveryMs;
        if (m_probes.empty())
            return false;
    }
    // Polls that wait get at least half the bus: after a probe they have
    // as long as it took (a silent probe lasts its whole timeout).
    if (m_host.pollsWait(now) && now < m_probeAfter)
        return false;
    const auto [address, baud] = m_probes.front();
    m_probes.pop_front();
    // The probe's own short timeout; the next poll sets its rate's again.
    m_host.rateChanged();
    const quint32 r = ConfigureAdapter(bus.adapterKind, bus.handle, baud, ProbeTimeoutMs(cfg.adapter, baud),
                                       SetConfigThird);
    QString fatal;
    std::optional<ScanFinding> f;
    if (r == 0) {
        LinkStats::Pause pause; // probes are no module's traffic
        f = ProbeAddress(bus.adapterKind, bus.handle, address, baud, fatal);
    } else {
        fatal = ErrorText(bus.adapterKind, static_cast<quint8>(r));
    }
    const qint64 end = MonotonicMs();
    m_probeAfter = end + (end - now);
    if (!fatal.isEmpty()) {
        Log(LogLevel::Error, QStringLiteral("hledání modulů: %1").arg(fatal));
        m_probes.clear();
    } else if (f) {
        addFound(*f);
    }
    if (m_probes.empty())
        m_nextSearch = MonotonicMs() + SearchEveryMs;
    return true;
}

void ModuleSearch::addFound(const ScanFinding &f)
{
    if (f.kind != ScanFinding::Kind::Module) {
        Log(LogLevel::Warning,
            QStringLiteral("adresa %1 (%2 Bd): %3").arg(f.address).arg(f.baud).arg(f.note));
        return;
    }
    // Taken at the top of the loop: a probe may run within a module's
    // cycle, which must not see the module list change under it.
    m_found << f;
}

void ModuleSearch::addFoundTo(QList<GatewayModule> &modules)
{
    for (const ScanFinding &f : std::exchange(m_found, {})) {
        bool known = false;
        for (GatewayModule &m : modules)
            if (m.address == f.address) {
                known = true;
                m.baud = f.baud; // found again, perhaps at a new rate
            }
        if (known)
            continue;
        GatewayModule m;
        m.name = QString::number(f.address);
        m.address = f.address;
        m.baud = f.baud;
        m.unit = f.address >= 1 && f.address <= 247 ? f.address : -1;
        modules << m;
        Log(LogLevel::Info,
            QStringLiteral("nalezen %1 na adrese %2, %3 Bd").arg(f.identity).arg(f.address).arg(f.baud));
        if (m.unit < 0)
            Log(LogLevel::Warning,
                QStringLiteral("adresa %1 nemá Modbus jednotku: čte se, ale nepodává").arg(f.address));
    }
    // One unit a module: the same address at a second rate is polled, not served.
    QSet<int> units;
    for (GatewayModule &m : modules) {
        if (m.unit > 0 && units.contains(m.unit))
            m.unit = -1;
        units.insert(m.unit);
    }
}
