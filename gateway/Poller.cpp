#include "gateway/Poller.h"

#include "app/Dekl.h"
#include "comm/Opakovani.h"
#include "comm/Prikazy.h"
#include "diag/LinkStats.h"
#include "drivers/ErrorCodes.h"
#include "drivers/RqFrame.h"
#include "gateway/Log.h"
#include "scan/HledaniModulu.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace {
constexpr quint32 StatusReset = 1u << 5;
constexpr int OfflineAfter = 3;     // failed cycles in a row
constexpr int ClientWriteMs = 2000; // no polls of a module a client writes to
constexpr int AdapterRetryMs = 10000;
constexpr int IdleStepMs = 50;
// Datagrams read in one turn at most when none of them takes the bus
// (converter queries, damaged requests): a flood of them cannot hold the loop.
constexpr int DatagramsPerTurn = 64;
} // namespace

qint64 MonotonicMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// ---- SnapshotStore ----

void SnapshotStore::reset(const QList<ModuleSnapshot> &modules)
{
    std::vector<Snapshot> fresh;
    std::unordered_map<int, std::size_t> units;
    for (const ModuleSnapshot &m : modules) {
        if (m.unit > 0)
            units.emplace(m.unit, fresh.size());
        fresh.push_back(std::make_shared<const ModuleSnapshot>(m));
    }
    std::lock_guard lock(m_lock);
    m_modules.swap(fresh);
    m_units.swap(units);
    // The old snapshots go when their last reader lets go of them.
}

void SnapshotStore::update(int index, const ModuleSnapshot &m)
{
    Snapshot fresh = std::make_shared<const ModuleSnapshot>(m);
    std::lock_guard lock(m_lock);
    if (index >= 0 && static_cast<std::size_t>(index) < m_modules.size())
        m_modules[static_cast<std::size_t>(index)].swap(fresh);
}

std::optional<ModuleSnapshot> SnapshotStore::byUnit(int unit) const
{
    Snapshot s;
    {
        std::lock_guard lock(m_lock);
        const auto it = m_units.find(unit);
        if (it == m_units.end())
            return std::nullopt;
        s = m_modules.at(it->second);
    }
    return *s;
}

QList<ModuleSnapshot> SnapshotStore::all() const
{
    QList<ModuleSnapshot> out;
    for (const Snapshot &s : snapshots())
        out.append(*s);
    return out;
}

std::vector<SnapshotStore::Snapshot> SnapshotStore::snapshots() const
{
    std::lock_guard lock(m_lock);
    return m_modules;
}

// ---- Poller ----

Poller::Poller(const GatewayConfig &cfg, SnapshotStore &store) : m_store(store)
{
    m_wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    applyConfig(cfg);
}

Poller::~Poller()
{
    stop();
    if (m_wake >= 0)
        ::close(m_wake);
}

void Poller::start()
{
    m_stop = false;
    m_heartbeat = MonotonicMs();
    m_thread = std::thread([this] { run(); });
}

void Poller::stop()
{
    m_stop = true;
    const quint64 one = 1;
    if (m_wake >= 0)
        (void)!::write(m_wake, &one, sizeof one);
    if (m_thread.joinable())
        m_thread.join();
}

void Poller::reload(const GatewayConfig &cfg)
{
    {
        std::lock_guard lock(m_lock);
        m_pending = cfg;
    }
    const quint64 one = 1;
    (void)!::write(m_wake, &one, sizeof one);
}

void Poller::submitWrite(const CoilWrite &w)
{
    {
        std::lock_guard lock(m_lock);
        // A flood of commands for one module waits no longer than a few of
        // its turns: the rest are refused at once (told at the next step).
        const auto same = [&w](const CoilWrite &q) {
            return w.busAddress >= 0 ? q.busAddress == w.busAddress : q.busAddress < 0 && q.unit == w.unit;
        };
        if (std::count_if(m_writes.begin(), m_writes.end(), same) >= QueuedWritesPerModule)
            m_refused.push_back(w);
        else
            m_writes.push_back(w);
    }
    const quint64 one = 1;
    (void)!::write(m_wake, &one, sizeof one);
}

std::vector<CoilWriteResult> Poller::takeWriteResults()
{
    std::lock_guard lock(m_lock);
    return std::exchange(m_results, {});
}

void Poller::applyConfig(const GatewayConfig &cfg)
{
    const bool busChanged =
        cfg.adapter.kind != m_cfg.adapter.kind || cfg.adapter.comPort != m_cfg.adapter.comPort ||
        cfg.adapter.ipAddress != m_cfg.adapter.ipAddress || cfg.adapter.udpPort != m_cfg.adapter.udpPort ||
        cfg.adapter.udpTimeout != m_cfg.adapter.udpTimeout || cfg.adapter.isaBase != m_cfg.adapter.isaBase;
    m_cfg = cfg;
    if (busChanged && m_data.ready())
        closeBus();

    // The round robin goes on where it was: a reload (even one every few
    // hundred ms) must not start it again at the first module.
    const Polled *next = m_cursor >= 0 && m_cursor < static_cast<int>(m_modules.size())
                             ? m_modules[static_cast<std::size_t>(m_cursor)].get()
                             : nullptr;
    const int oldCursor = m_cursor;
    // Modules that stay (same name, address and rate) keep what is known of them.
    std::vector<std::unique_ptr<Polled>> kept;
    const QList<GatewayModule> &wanted = cfg.modules;
    for (const GatewayModule &w : wanted) {
        std::unique_ptr<Polled> p;
        for (auto &old : m_modules)
            if (old && old->cfg.name == w.name && old->cfg.address == w.address &&
                baudOf(*old) == (w.baud ? w.baud : cfg.baud))
                p = std::move(old);
        if (!p) {
            p = std::make_unique<Polled>();
            p->cycle = newCycle(cfg);
        }
        const auto wants = [](const GatewayModule &g) {
            QStringList t{g.model ? ModelName(*g.model) : QString()};
            for (const PlantSetting &s : g.settings)
                t << s.key + QLatin1Char('=') + s.value;
            return t;
        };
        if (wants(p->cfg) != wants(w))
            p->snap.drift = -1;
        p->cfg = w;
        p->snap.name = w.name;
        p->snap.address = w.address;
        p->snap.baud = w.baud ? w.baud : cfg.baud;
        p->snap.unit = w.unit;
        p->snap.ownStaleMs = cfg.staleMs ? cfg.staleMs : DefaultStaleMs(cfg, w);
        kept.push_back(std::move(p));
    }
    m_modules = std::move(kept);
    m_cursor = m_modules.empty() ? 0 : oldCursor % static_cast<int>(m_modules.size());
    for (std::size_t i = 0; i < m_modules.size(); ++i)
        if (next && m_modules[i].get() == next)
            m_cursor = static_cast<int>(i);
    QList<ModuleSnapshot> snaps;
    for (const auto &p : m_modules)
        snaps << p->snap;
    m_store.reset(snaps);
    m_store.allowWrites = cfg.allowWrites;
    m_store.lowWordFirst = cfg.lowWordFirst;
    m_store.staleMs = cfg.staleMs ? cfg.staleMs : 2000;
    for (GatewayObserver *o : m_observers)
        o->modulesChanged();
}

std::unique_ptr<AnalogCycle> Poller::newCycle(const GatewayConfig &cfg)
{
    // Ranges and the thermometer follow the module: read again every
    // period, after a failed transaction and after a restart it shows.
    return std::make_unique<AnalogCycle>(cfg.unitsRereadMs, &MonotonicMs);
}

void Poller::publish(Polled &p)
{
    for (int i = 0; i < static_cast<int>(m_modules.size()); ++i)
        if (m_modules[static_cast<std::size_t>(i)].get() == &p)
            m_store.update(i, p.snap);
}

bool Poller::ensureBus()
{
    if (m_data.ready())
        return true;
    const qint64 now = MonotonicMs();
    if (now < m_busRetryAt)
        return false;
    m_busRetryAt = now + AdapterRetryMs;
    StoreAdapterSettings(m_data, m_cfg.adapter);
    m_data.initBlock = MakeInitBlock(m_cfg.adapter, m_data.ipAddress8bit);
    quint32 handle = 0;
    QString why;
    if (!OpenConfigured(m_data, handle, m_cfg.baud, [&why](const QString &t) { why = t; })) {
        // Said once, and again when it changes: a log line every 10 s helps nobody.
        if (!m_busReported)
            Log(LogLevel::Error,
                QStringLiteral("rozhraní nelze otevřít (zkusí se znovu za 10 s): %1").arg(why));
        m_busReported = true;
        for (auto &p : m_modules) {
            p->cycle->rereadUnits(); // the bus may come back with other modules
            if (p->snap.online)
                for (GatewayObserver *o : m_observers)
                    o->moduleOffline(p->snap);
            p->snap.online = false;
            publish(*p);
        }
        return false;
    }
    m_data.handle = handle;
    m_baud = m_cfg.baud;
    if (m_busReported)
        Log(LogLevel::Info, QStringLiteral("rozhraní otevřeno"));
    m_busReported = false;
    return true;
}

void Poller::closeBus()
{
    CloseConnection(m_data);
    m_baud = 0;
}

bool Poller::useBaud(quint32 baud)
{
    if (baud == m_baud)
        return true;
    const quint32 r =
        ConfigureAdapter(m_data.adapterKind, m_data.handle, baud, ReplyTimeoutOfRate(baud), SetConfigThird);
    if (r != 0)
        return false;
    m_baud = baud;
    m_data.baudRate = baud;
    return true;
}

BusLink Poller::link(const TData &d, int retries)
{
    BusLink l = BusLink::of(d);
    l.retries = retries;
    l.stopped = [this] { return m_stop.load(); }; // nothing more is sent: the gateway ends
    l.retrying = [this] { stepDone(); };          // a failed attempt is a step of its own
    return l;
}

void Poller::run()
{
    LinkStats::instance(); // the counters watch the bus from this thread on
    while (!m_stop) {
        {
            std::optional<GatewayConfig> next;
            {
                std::lock_guard lock(m_lock);
                next.swap(m_pending);
            }
            if (next) {
                // Searched modules stay; the search looks for the rest again
                // (a search under way goes on).
                if (next->searchMode() && m_cfg.searchMode()) {
                    next->modules.clear();
                    for (const auto &p : m_modules)
                        next->modules << p->cfg;
                    m_search.again();
                }
                applyConfig(*next);
                Log(LogLevel::Info,
                    QStringLiteral("konfigurace znovu načtena: %1 modulů").arg(m_modules.size()));
            }
        }
        applyFound();
        if (!ensureBus()) {
            refuseQueued();
            applyWrites();
            m_converter.serve(DatagramsPerTurn); // converter queries are answered without the bus
            idle(IdleStepMs);
            stepDone();
            continue;
        }
        const bool served = otherTurn();
        tellStale();
        if (driftStep()) {
            stepDone();
            continue;
        }

        // Round robin: the next module after the last one polled that is due.
        const qint64 now = MonotonicMs();
        Polled *due = nullptr;
        qint64 earliest = now + IdleStepMs;
        const int n = static_cast<int>(m_modules.size());
        for (int k = 0; k < n && !due; ++k) {
            const int i = (m_cursor + k) % n;
            Polled &p = *m_modules[static_cast<std::size_t>(i)];
            const qint64 at = std::max(p.nextDue, p.clientUntil);
            if (at <= now) {
                due = &p;
                m_cursor = (i + 1) % n;
            } else {
                earliest = std::min(earliest, at);
            }
        }
        if (!due) {
            if (!served) {
                idle(static_cast<int>(std::max<qint64>(1, earliest - now)));
                stepDone();
            }
            continue;
        }
        pollModule(*due);
        stepDone();
    }
    closeBus();
}

void Poller::stepDone()
{
    m_heartbeat = MonotonicMs();
    if (m_stepDone)
        m_stepDone();
}

bool Poller::otherTurn()
{
    refuseQueued();
    if (m_stop)
        return false;
    for (int k = 0; k < 3; ++k) {
        const int who = (m_turn + k) % 3;
        const bool served = who == 0   ? m_converter.serve(DatagramsPerTurn) > 0
                            : who == 1 ? applyWrites(1) > 0
                                       : m_search.step();
        if (served) {
            m_turn = (who + 1) % 3;
            stepDone();
            return true;
        }
    }
    return false;
}

void Poller::idle(int ms)
{
    const int udp = m_converter.socket();
    pollfd fds[2] = {{m_wake, POLLIN, 0}, {udp, POLLIN, 0}};
    const int n = udp >= 0 ? 2 : 1;
    // A converter request wakes the loop; the loop serves it in its turn.
    if (::poll(fds, static_cast<nfds_t>(n), std::min(ms, IdleStepMs)) > 0 && fds[0].revents) {
        quint64 v;
        (void)!::read(m_wake, &v, sizeof v);
    }
}

bool Poller::driftStep()
{
    const qint64 now = MonotonicMs();
    if (m_cfg.driftIntervalMs == 0 || m_modules.empty())
        return false;
    // Not while a converter client writes to it: half a write is no drift.
    const auto ready = [now](const Polled &p) {
        return !p.cfg.settings.isEmpty() && p.snap.online && p.infoRead && p.clientUntil <= now;
    };
    // A module a client wrote to is compared as soon as the client is done
    // (an apply through the converter is seen at once); its bytes cost
    // what the client's writes cost.
    for (const auto &p : m_modules)
        if (p->driftDue && ready(*p)) {
            checkDrift(*p);
            return true;
        }
    // Else one module a period, whatever the count of modules: the bus time
    // of the checks stays bounded (a few dozen byte reads every period).
    if (now < m_nextDrift)
        return false;
    const int n = static_cast<int>(m_modules.size());
    for (int k = 0; k < n; ++k) {
        const int i = (m_driftCursor + k) % n;
        Polled &p = *m_modules[static_cast<std::size_t>(i)];
        if (!ready(p))
            continue;
        m_driftCursor = (i + 1) % n;
        m_nextDrift = now + m_cfg.driftIntervalMs;
        checkDrift(p);
        return true;
    }
    return false;
}

void Poller::checkDrift(Polled &p)
{
    p.driftDue = false;
    const std::optional<ModuleModel> model = ModelOfIdentity(p.snap.model);
    // Another model than the file says, or keys its model lacks: the module
    // is not what the file describes.
    if (!model || (p.cfg.model && *p.cfg.model != *model) || CheckPlantSettings(*model, p.cfg.settings)) {
        if (p.snap.drift != 1)
            Log(LogLevel::Warning, QStringLiteral("modul %1: model %2 neodpovídá nastavení v konfiguraci")
                                       .arg(p.cfg.name, p.snap.model));
        p.snap.drift = 1;
        publish(p);
        return;
    }
    const QList<int> offsets = PlantOffsets(*model, p.cfg.settings);
    const AnalogCycle::TransactFn tx = retrying();
    EepromBlock block{};
    for (int o : offsets) {
        between();
        if (m_stop || !useBaud(baudOf(p)))
            return;
        ModuleBytes d{0, static_cast<quint8>(o), static_cast<quint8>(o), 0, 0};
        // A read that fails leaves the last verdict; the polling tells of the module's trouble.
        if (tx(m_data, p.cfg.address, CmdReadMemory, 0, d) != 0)
            return;
        block[static_cast<std::size_t>(o)] = d[3];
    }
    EepromBlock wanted = block;
    ApplyPlantSettings(wanted, *model, p.cfg.settings);
    const int drift = ChangedOffsets(block, wanted, offsets).isEmpty() ? 0 : 1;
    if (drift != p.snap.drift)
        Log(drift ? LogLevel::Warning : LogLevel::Info,
            drift ? QStringLiteral("modul %1: nastavení se liší od konfigurace").arg(p.cfg.name)
                  : QStringLiteral("modul %1: nastavení odpovídá konfiguraci").arg(p.cfg.name));
    p.snap.drift = drift;
    publish(p);
}

bool Poller::readInfo(Polled &p, const AnalogCycle::TransactFn &tx)
{
    // The count of measured inputs, the thermometer setting and the four
    // bytes of the outputs' state after a power-up.
    const quint8 addresses[] = {16, 31, 32, 35, 38, 41};
    quint8 values[6] = {};
    for (int k = 0; k < 6; ++k) {
        if (k)
            between();
        if (m_stop || !useBaud(baudOf(p)))
            return false;
        ModuleBytes d{0, addresses[k], addresses[k], 0, 0};
        const quint8 e = tx(m_data, p.cfg.address, CmdReadMemory, 0, d);
        if (e != 0) {
            cycleFailed(p, e);
            return false;
        }
        values[k] = d[3];
    }
    // Model and firmware for those who publish the values; one more
    // transaction each time the settings are read anew.
    between();
    if (m_stop)
        return false;
    QString identity, why;
    const quint8 e = IdentifyModule(BusLink::of(m_data), p.cfg.address, identity, why);
    if (e != 0) {
        cycleFailed(p, e);
        return false;
    }
    p.snap.model = ModelNameOfIdentity(identity);
    p.snap.firmware = identity.mid(11).trimmed();
    p.measured = values[0] >= 1 && values[0] <= 12 ? values[0] : 12;
    p.thermometer = values[1];
    p.initialOutputs =
        quint32(values[2]) | quint32(values[3]) << 8 | quint32(values[4]) << 16 | quint32(values[5]) << 24;
    p.infoRead = true;
    return true;
}

void Poller::pollModule(Polled &p)
{
    const qint64 started = MonotonicMs();
    p.nextDue = started + p.cfg.intervalMs;
    // An offline module is asked once per retry period, without retries: it
    // costs the others one timeout.
    const bool offline = p.failsInRow >= OfflineAfter;
    const int retries = offline ? 0 : m_cfg.retries;
    const AnalogCycle::TransactFn tx = retrying(retries);
    if (!useBaud(baudOf(p))) {
        cycleFailed(p, 6);
        return;
    }
    if (p.renewCycle) {
        p.cycle = newCycle(m_cfg);
        p.renewCycle = false;
        p.infoRead = false;
    }
    if (!p.infoRead && !readInfo(p, tx))
        return;
    p.cycle->setTransact(tx);
    // The cycle's values are as old as its first one: a converter client
    // may hold the bus between two of its transactions for seconds.
    const qint64 firstRead = MonotonicMs();
    const AnalogReading r = p.cycle->run(m_data, p.cfg.address, [this, &p] {
        between();
        // Values read under settings a client has since changed are dropped.
        return !m_stop && !p.renewCycle && useBaud(baudOf(p));
    });
    if (r.outcome == AnalogReading::Outcome::Stopped)
        return;
    if (!r.complete()) {
        cycleFailed(p, r.error ? r.error : 10);
        return;
    }
    between();
    if (m_stop)
        return;
    quint32 din = 0, status = 0;
    quint8 e = useBaud(baudOf(p)) ? ReadDigitalInputs(m_data, p.cfg.address, din, tx) : 6;
    if (e == 0) {
        between();
        if (m_stop)
            return;
        e = useBaud(baudOf(p)) ? ReadStatusRegister(m_data, p.cfg.address, status, tx) : 6;
    }
    if (e != 0) {
        cycleFailed(p, e);
        return;
    }

    // A power-up latches the initial outputs and sets RST: handled below,
    // once the cycle with this status is published.
    ModuleSnapshot &s = p.snap;
    const bool restarted = status & StatusReset;
    const bool firstCycle = s.completeCycles == 0;
    p.statusFailed = false;
    if (!restarted)
        p.writeUnsure = false; // no restart since the register was cleared
    status |= std::exchange(p.restartToShow, 0);
    s.doutKnown = p.recordSettled;
    if (!p.recordSettled)
        s.dout = p.initialOutputs; // assumed
    const AinModel model = p.cycle->model();
    for (int i = 0; i < ModuleSnapshot::Inputs; ++i) {
        const auto k = static_cast<std::size_t>(i);
        const bool lacks = (model == AinModel::RQ3530 && i >= 6) || i >= p.measured;
        s.ain[k] = lacks ? std::numeric_limits<float>::quiet_NaN() : static_cast<float>(r.values[k].value);
        s.ainUnit[k] = lacks ? 0 : static_cast<quint16>(UnitCodeOfText(r.values[k].unit));
        s.ainDecimals[k] = r.values[k].decimals;
    }
    s.temperatureUnit = static_cast<quint16>(TemperatureUnit(p.cycle->thermometerSetting()));
    if (r.unitsChanged)
        Log(LogLevel::Info,
            QStringLiteral("modul %1: jednotky vstupů se změnily (rozsahy nebo teploměr přečteny "
                           "znovu, maska 0x%2)")
                .arg(p.cfg.name)
                .arg(r.unitsChanged, 4, 16, QLatin1Char('0')));
    s.temperature = s.temperatureUnit ? static_cast<float>(r.temperature().value)
                                      : std::numeric_limits<float>::quiet_NaN();
    s.temperatureDecimals = r.temperature().decimals;
    s.din = din;
    s.status = status;
    s.lastError = 0;
    s.lastCompleteMs = firstRead;
    ++s.completeCycles;
    const bool cameOnline = !s.online;
    s.online = true;
    if (p.failsInRow >= OfflineAfter || (cameOnline && s.completeCycles == 1))
        Log(LogLevel::Info, QStringLiteral("modul %1 (adresa %2, %3 Bd) odpovídá")
                                .arg(p.cfg.name)
                                .arg(p.cfg.address)
                                .arg(baudOf(p)));
    p.failsInRow = 0;
    p.staleTold = false;
    publish(p);
    for (GatewayObserver *o : m_observers) {
        if (cameOnline)
            o->moduleOnline(s);
        o->cycleComplete(s);
    }
    // Logged and published: cleared now, in the slot of its read, so that
    // from here on RST = 0 means no restart since.
    if (restarted)
        takeRestart(p, status, tx, !firstCycle);
}

void Poller::tellStale()
{
    const qint64 now = MonotonicMs();
    for (auto &p : m_modules) {
        const ModuleSnapshot &s = p->snap;
        if (p->staleTold || !s.online || s.lastCompleteMs < 0 || s.fresh(now, m_store.staleMs))
            continue;
        p->staleTold = true;
        for (GatewayObserver *o : m_observers)
            o->moduleStale(s);
    }
}

void Poller::cycleFailed(Polled &p, quint8 error)
{
    // Whatever failed, the module may be another one, or set otherwise, when it answers again.
    p.cycle->rereadUnits();
    ModuleSnapshot &s = p.snap;
    ++s.failedCycles;
    s.lastError = error;
    ++p.failsInRow;
    if (p.failsInRow >= OfflineAfter) {
        p.nextDue = MonotonicMs() + m_cfg.offlineRetryMs;
        if (s.online || p.failsInRow == OfflineAfter) {
            Log(LogLevel::Warning, QStringLiteral("modul %1 (adresa %2) mimo provoz: %3")
                                       .arg(p.cfg.name)
                                       .arg(p.cfg.address)
                                       .arg(ErrorText(m_data.adapterKind, error)));
            const bool was = s.online;
            s.online = false;
            if (was)
                for (GatewayObserver *o : m_observers)
                    o->moduleOffline(s);
        }
        s.online = false;
    }
    publish(p);
}

void Poller::between()
{
    stepDone();
    otherTurn();
}

bool Poller::beforeClient(const rqframe::Request &req, quint32 baud)
{
    if (!m_data.ready() || !useBaud(baud))
        return false;
    // The client writes to this module: polls wait until it is done.
    const bool writes = req.command == CmdWriteOutputs || req.command == CmdWriteMemory;
    Polled *target = clientTarget(req.address, baud);
    if (writes && target)
        target->clientUntil = MonotonicMs() + ClientWriteMs;

    // A technician's clear of the status register must not hide a restart,
    // nor an output command come between a restart and the gateway's look.
    if (target && (req.command == CmdWriteOutputs || req.command == CmdClearStatus))
        statusBeforeClient(*target, req.command);
    return true;
}

quint8 Poller::transactForClient(const rqframe::Request &req, ModuleBytes &d)
{
    BusLink client; // a single try, as the client would have on the bus
    client.kind = m_data.adapterKind;
    client.handle = m_data.handle;
    return client.transact(req.address, req.command, req.subcode, d);
}

void Poller::afterClient(const rqframe::Request &req, quint32 baud, const ModuleBytes &d)
{
    Polled *target = clientTarget(req.address, baud);
    if (!target)
        return;
    if (req.command == CmdWriteOutputs && req.subcode == SubDigitalInputs) {
        target->snap.dout = BytesToBits({0, d[1], d[2], d[3], d[4]});
        target->recordSettled = true;
        showOutputs(*target);
    } else if (req.command == CmdWriteMemory && req.subcode == 0 &&
               (req.d[1] == CfgAddr::BaudIndex || req.d[1] == CfgAddr::Address)) {
        Log(LogLevel::Info,
            QStringLiteral("klient mění adresu nebo rychlost modulu %1").arg(target->cfg.name));
        if (m_cfg.searchMode())
            m_search.notBefore(MonotonicMs() + ClientWriteMs);
    } else if (req.command == CmdWriteMemory) {
        target->infoRead = false; // settings changed: read them again
        target->renewCycle = true;
        target->driftDue = true;
    }
}

Poller::Polled *Poller::clientTarget(quint8 address, quint32 baud)
{
    Polled *target = nullptr;
    for (auto &p : m_modules)
        if (p->cfg.address == address && baudOf(*p) == baud)
            target = p.get();
    return target;
}

std::size_t Poller::applyWrites(std::size_t most)
{
    std::deque<CoilWrite> writes;
    {
        std::lock_guard lock(m_lock);
        while (!m_writes.empty() && writes.size() < most) {
            writes.push_back(std::move(m_writes.front()));
            m_writes.pop_front();
        }
    }
    if (writes.empty())
        return 0;
    std::vector<CoilWriteResult> results;
    for (const CoilWrite &w : writes) {
        Polled *target = nullptr;
        for (auto &p : m_modules)
            if (!target && (w.busAddress >= 0 ? p->cfg.address == w.busAddress : p->cfg.unit == w.unit))
                target = p.get();
        CoilWriteResult r{w.id, ModbusException::TargetFailed, {}};
        if (!target)
            r.error = QStringLiteral("modul na adrese %1 brána neobsluhuje")
                          .arg(w.busAddress >= 0 ? w.busAddress : w.unit);
        else if (!target->snap.online || !m_data.ready())
            r.error = QStringLiteral("modul %1 je mimo provoz").arg(target->cfg.name);
        else if (!useBaud(baudOf(*target)))
            r.error = QStringLiteral("rychlost %1 Bd nelze nastavit").arg(baudOf(*target));
        else
            writeCoils(*target, w, r);
        if (w.done)
            w.done(r);
        else
            results.push_back(r);
    }
    if (results.empty())
        return writes.size();
    {
        std::lock_guard lock(m_lock);
        m_results.insert(m_results.end(), results.begin(), results.end());
    }
    if (m_writeDone)
        m_writeDone();
    return writes.size();
}

void Poller::refuseQueued()
{
    std::vector<CoilWrite> refused;
    {
        std::lock_guard lock(m_lock);
        refused.swap(m_refused);
    }
    if (refused.empty())
        return;
    std::vector<CoilWriteResult> results;
    for (const CoilWrite &w : refused) {
        const int address = w.busAddress >= 0 ? w.busAddress : w.unit;
        CoilWriteResult r{w.id, ModbusException::DeviceBusy,
                          QStringLiteral("povel odmítnut: na modul %1 už čeká %2 povelů")
                              .arg(address)
                              .arg(QueuedWritesPerModule)};
        if (w.done)
            w.done(r);
        else
            results.push_back(r);
    }
    Log(LogLevel::Warning, QStringLiteral("odmítnuto %1 povelů: fronta modulu je plná").arg(refused.size()));
    if (results.empty())
        return;
    {
        std::lock_guard lock(m_lock);
        m_results.insert(m_results.end(), results.begin(), results.end());
    }
    if (m_writeDone)
        m_writeDone();
}

void Poller::showOutputs(Polled &p)
{
    p.snap.doutKnown = p.recordSettled && !p.statusFailed;
    if (!p.recordSettled)
        p.snap.dout = p.initialOutputs; // assumed
    publish(p);
}

quint8 Poller::takeRestart(Polled &p, quint32 status, const AnalogCycle::TransactFn &tx, bool renew)
{
    ModuleSnapshot &s = p.snap;
    if (!p.resetSeen)
        Log(LogLevel::Info, QStringLiteral("modul %1 byl restartován (stavový registr 0x%2): výstupy jsou ve "
                                           "výchozím stavu z konfigurační paměti")
                                .arg(p.cfg.name)
                                .arg(status, 8, 16, QLatin1Char('0')));
    p.resetSeen = true;
    if (renew)
        p.renewCycle = true; // the settings may have changed: read anew
    // The restart latched the initial state (configuration memory 32, 35,
    // 38, 41): read now, since a tool may have changed it since readInfo().
    quint32 initial = 0;
    for (int k = 0; k < 4; ++k) {
        const auto a = static_cast<quint8>(32 + 3 * k);
        ModuleBytes d{0, a, a, 0, 0};
        const quint8 e = tx(m_data, p.cfg.address, CmdReadMemory, 0, d);
        if (e != 0) {
            p.recordSettled = false;
            showOutputs(p);
            return e;
        }
        initial |= quint32(d[3]) << (8 * k);
    }
    p.initialOutputs = initial;
    s.dout = initial;
    // A write of all outputs whose status read failed may have come before
    // the restart or after it: then the outputs are not known.
    p.recordSettled = !p.writeUnsure;
    ModuleBytes d{};
    const quint8 e = tx(m_data, p.cfg.address, CmdClearStatus, 0, d);
    if (e == 0) {
        p.resetSeen = false;
        p.writeUnsure = false;
    }
    showOutputs(p);
    return e;
}

AnalogCycle::TransactFn Poller::retrying(std::optional<int> retries)
{
    return [this, retries](const TData &d, quint8 a, quint8 c, quint8 s, ModuleBytes &b) {
        return link(d, retries ? *retries : m_cfg.retries).transact(a, c, s, b);
    };
}

quint8 Poller::checkRestart(Polled &p, const AnalogCycle::TransactFn &tx, bool &statusRead)
{
    quint32 status = 0;
    const quint8 e = ReadStatusRegister(m_data, p.cfg.address, status, tx);
    statusRead = e == 0;
    if (e != 0)
        return e;
    p.statusFailed = false;
    if (status & StatusReset) {
        p.snap.status = status;
        p.restartToShow = StatusReset;
        return takeRestart(p, status, tx, true);
    }
    p.writeUnsure = false;
    return 0;
}

void Poller::writeCoils(Polled &p, const CoilWrite &w, CoilWriteResult &r)
{
    const AnalogCycle::TransactFn tx = retrying();
    const auto failed = [&](quint8 e) {
        r.exception = IsModuleError(e) ? ModbusException::DeviceFailure : ModbusException::TargetFailed;
        r.error = ErrorText(m_data.adapterKind, e);
        Log(LogLevel::Warning, QStringLiteral("zápis výstupů modulu %1: %2").arg(p.cfg.name, r.error));
    };
    // The module takes all 32 outputs at once: a write of some of them sends
    // the rest from the record, which a restart since the last look at the
    // status register would make wrong. So the look comes right before.
    const bool all = w.address == 0 && w.count >= RegisterMap::Coils;
    bool statusRead = false;
    quint8 e = checkRestart(p, tx, statusRead);
    QString why;
    if (statusRead) {
        if (e != 0 && !all) {
            failed(e);
            return;
        }
    } else if (!all) {
        p.statusFailed = true;
        why = QStringLiteral("stavový registr nelze přečíst: %1").arg(ErrorText(m_data.adapterKind, e));
    }
    if (e != 0 && all)
        p.writeUnsure = true; // all 32 go out; whether a restart came before is open
    if (!all && !(p.recordSettled && !p.statusFailed)) {
        showOutputs(p);
        r.exception = ModbusException::DeviceFailure;
        r.outputsUnknown = true;
        r.error = QStringLiteral("stav výstupů modulu %1 není znám: zapište všech 32 výstupů najednou")
                      .arg(p.cfg.name);
        if (why.isEmpty())
            why = QStringLiteral("od startu brány nebo od nejistého restartu nebyly zapsány všechny");
        Log(LogLevel::Warning,
            QStringLiteral("zápis výstupů modulu %1 odmítnut (0x04), stav výstupů není znám (%2): zapište "
                           "všech 32 výstupů najednou (Modbus funkce 15 od cívky 0 s počtem 32, nebo MQTT "
                           "rq/…/%3/dout/set)")
                .arg(p.cfg.name, why)
                .arg(p.cfg.address));
        return;
    }
    const quint32 next = all ? w.values : MergeCoils(p.snap.dout, w.address, w.count, w.values);
    e = WriteDigitalOutputs(m_data, p.cfg.address, next, tx);
    if (e != 0) {
        failed(e);
        return;
    }
    p.snap.dout = next;
    p.recordSettled = true;
    showOutputs(p);
    r.exception = 0;
}

void Poller::statusBeforeClient(Polled &p, quint8 command)
{
    const AnalogCycle::TransactFn tx = retrying();
    bool statusRead = false;
    if (checkRestart(p, tx, statusRead) == 0)
        return;
    // Whether a restart hides behind what the client does cannot be told.
    if (command == CmdClearStatus)
        p.recordSettled = false;
    else
        p.writeUnsure = true;
    showOutputs(p);
}

bool Poller::answers(quint8 address) const
{
    bool answering = false;
    for (const auto &p : m_modules)
        answering |= p->cfg.address == address && p->snap.online;
    return answering;
}

bool Poller::pollsWait(qint64 now) const
{
    bool wait = false;
    for (const auto &p : m_modules)
        wait |= std::max(p->nextDue, p->clientUntil) <= now;
    return wait;
}

void Poller::applyFound()
{
    if (!m_search.hasFound())
        return;
    GatewayConfig next = m_cfg;
    next.modules.clear();
    for (const auto &p : m_modules)
        next.modules << p->cfg;
    m_search.addFoundTo(next.modules);
    applyConfig(next);
}
