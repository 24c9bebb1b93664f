#ifndef RQ_GATEWAY_POLLER_H
#define RQ_GATEWAY_POLLER_H

#include "app/Dekl.h"
#include "gateway/GatewayConfig.h"
#include "gateway/GatewayState.h"
#include "live/AnalogCycle.h"

#include <QHash>
#include <QList>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

// Monotonic milliseconds, the gateway's one clock for ages and deadlines.
qint64 MonotonicMs();

// Where the polling thread leaves what it learned, for the threads that
// serve it. Each module's snapshot is an immutable value: update() puts a new
// one in place under the lock, readers take pointers to them under the lock
// and read them without it. No container is ever shared by two threads (Qt's
// implicit sharing of a copied list is not safe for that).
class SnapshotStore
{
public:
    using Snapshot = std::shared_ptr<const ModuleSnapshot>;

    void reset(const QList<ModuleSnapshot> &modules);
    void update(int index, const ModuleSnapshot &m);
    std::optional<ModuleSnapshot> byUnit(int unit) const;
    // A list of the caller's own, filled from the snapshots.
    QList<ModuleSnapshot> all() const;
    // The snapshots themselves, in configuration order, without copying them.
    std::vector<Snapshot> snapshots() const;

    // Older values fail with 0x0B.
    std::atomic<qint64> staleMs{2000};
    std::atomic<bool> allowWrites{false};

private:
    mutable std::mutex m_lock;
    std::vector<Snapshot> m_modules;
    std::unordered_map<int, std::size_t> m_units;
};

// Told of what happens on the bus, on the polling thread: the only thread
// where the link counters (LinkStats::instance()) may be read. A publisher
// copies what it needs and hands it to a thread of its own.
class GatewayObserver
{
public:
    virtual ~GatewayObserver() = default;
    virtual void cycleComplete(const ModuleSnapshot &m) { Q_UNUSED(m) }
    virtual void moduleOnline(const ModuleSnapshot &m) { Q_UNUSED(m) }
    virtual void moduleOffline(const ModuleSnapshot &m) { Q_UNUSED(m) }
    // Its values passed the stale age while it still counts as online (the
    // next complete cycle makes them fresh again).
    virtual void moduleStale(const ModuleSnapshot &m) { Q_UNUSED(m) }
};

// A coil write a Modbus client asked for, and how it went.
struct CoilWriteResult;
struct CoilWrite
{
    quint64 id = 0;
    int unit = 0;
    int busAddress = -1; // >= 0: the module at this bus address, whatever its unit
    int address = 0;
    int count = 0;
    quint32 values = 0; // from bit 0
    // Called on the polling thread with the result instead of queuing it
    // for takeWriteResults().
    std::function<void(const CoilWriteResult &)> done;
};
struct CoilWriteResult
{
    quint64 id = 0;
    quint8 exception = 0; // 0 done
    QString error;        // why not, in Czech
};

// The polling thread: the only thread that talks to the bus. It polls the
// modules round robin, carries out coil writes, and answers clients of the
// LAN converter protocol between its own transactions.
class Poller
{
public:
    Poller(const GatewayConfig &cfg, SnapshotStore &store);
    ~Poller();
    Poller(const Poller &) = delete;
    Poller &operator=(const Poller &) = delete;

    // Before start(); observers live longer than the poller.
    void addObserver(GatewayObserver *observer) { m_observers.push_back(observer); }
    // Binds the converter socket (when configured). False with the reason.
    bool openConverter(QString &error);
    quint16 converterPort() const { return m_converterPort; }

    void start();
    // Ends after the transaction in progress and closes the adapter.
    void stop();
    // Takes a new configuration at the next step of the polling loop.
    void reload(const GatewayConfig &cfg);

    void submitWrite(const CoilWrite &w);
    std::vector<CoilWriteResult> takeWriteResults();
    // Called on the polling thread when a write result is ready.
    void setWriteDone(std::function<void()> done) { m_writeDone = std::move(done); }

    // Monotonic ms of the loop's last sign of life, for the watchdog.
    qint64 heartbeat() const { return m_heartbeat.load(); }

private:
    struct Polled
    {
        GatewayModule cfg;
        ModuleSnapshot snap;
        std::unique_ptr<AnalogCycle> cycle;
        int failsInRow = 0;
        qint64 nextDue = 0;
        qint64 clientUntil = 0; // a client is writing to it: no polls before
        bool infoRead = false;
        // A client wrote its settings: the cycle starts anew before the next
        // poll. Never replaced in between(), where the running cycle calls us.
        bool renewCycle = false;
        bool staleTold = false; // observers know its values are past the stale age
        quint8 measured = 12;
        quint8 thermometer = 0;
        quint32 initialOutputs = 0;
        bool resetSeen = false;
    };

    void run();
    void applyConfig(const GatewayConfig &cfg);
    void publish(Polled &p);
    bool ensureBus();
    void closeBus();
    bool useBaud(quint32 baud);
    quint32 baudOf(const Polled &p) const { return p.cfg.baud ? p.cfg.baud : m_cfg.baud; }
    void pollModule(Polled &p);
    bool readInfo(Polled &p, const AnalogCycle::TransactFn &tx);
    void cycleFailed(Polled &p, quint8 error);
    quint8 transactRetrying(const TData &d, quint8 address, quint8 command, quint8 sub, ModuleBytes &bytes,
                            int retries);
    // Between two transactions: clients of the converter and coil writes.
    void between();
    void serveClients(int waitMs);
    void handleDatagram(const quint8 *buf, int len, const void *from, unsigned fromLen);
    void applyWrites();
    void tellStale();
    void search(bool all);
    void idle(int ms);

    GatewayConfig m_cfg;
    SnapshotStore &m_store;
    std::vector<GatewayObserver *> m_observers;
    std::vector<std::unique_ptr<Polled>> m_modules;
    TData m_data;
    quint32 m_baud = 0; // the rate the adapter is set to, 0 none
    qint64 m_busRetryAt = 0;
    bool m_busReported = false;
    qint64 m_roundStart = 0;
    qint64 m_nextSearch = 0;
    int m_cursor = 0;
    int m_lastIndex = -1;

    int m_udp = -1;
    quint16 m_converterPort = 0;
    int m_wake = -1; // eventfd: a write or a stop is waiting

    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<qint64> m_heartbeat{0};
    std::mutex m_lock; // guards the fields below
    std::optional<GatewayConfig> m_pending;
    std::deque<CoilWrite> m_writes;
    std::vector<CoilWriteResult> m_results;
    std::function<void()> m_writeDone;
};

#endif
