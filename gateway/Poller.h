#ifndef RQ_GATEWAY_POLLER_H
#define RQ_GATEWAY_POLLER_H

#include "app/Dekl.h"
#include "comm/Linka.h"
#include "drivers/RqFrame.h"
#include "gateway/ConverterServer.h"
#include "gateway/GatewayConfig.h"
#include "gateway/GatewayState.h"
#include "gateway/ModuleSearch.h"
#include "live/AnalogCycle.h"
#include "scan/HledaniModulu.h"

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

    // Older values fail with 0x0B, where a snapshot names no stale age of its own.
    std::atomic<qint64> staleMs{2000};
    std::atomic<bool> allowWrites{false};
    std::atomic<bool> lowWordFirst{false}; // word-order=low-first

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
    // The list of modules changed (a reload, a module found): the store has the new one.
    virtual void modulesChanged() {}
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
    // Refused because the gateway does not know the outputs: only a write
    // of all 32 makes them known.
    bool outputsUnknown = false;
};

// The polling thread: the only thread that talks to the bus. It polls the
// modules round robin and carries out coil writes; between its own
// transactions it hands the bus to the converter server and the search.
class Poller : private ConverterHost, private SearchHost
{
public:
    Poller(const GatewayConfig &cfg, SnapshotStore &store);
    ~Poller();
    Poller(const Poller &) = delete;
    Poller &operator=(const Poller &) = delete;

    // Before start(); observers live longer than the poller.
    void addObserver(GatewayObserver *observer) { m_observers.push_back(observer); }
    // Binds the converter socket (when configured). False with the reason.
    bool openConverter(QString &error) { return m_converter.open(error); }
    quint16 converterPort() const { return m_converter.port(); }

    void start();
    // Ends after the transaction in progress and closes the adapter.
    void stop();
    // Takes a new configuration at the next step of the polling loop.
    void reload(const GatewayConfig &cfg);

    // Queued writes of one module beyond this are refused at once.
    static constexpr int QueuedWritesPerModule = 16;
    // Queues the write; a module with QueuedWritesPerModule waiting gets a
    // refusal instead (through w.done or takeWriteResults, like any result).
    void submitWrite(const CoilWrite &w);
    std::vector<CoilWriteResult> takeWriteResults();
    // Called on the polling thread when a write result is ready.
    void setWriteDone(std::function<void()> done) { m_writeDone = std::move(done); }

    // Monotonic ms of the loop's last sign of life, for the watchdog.
    qint64 heartbeat() const { return m_heartbeat.load(); }
    // Called on the polling thread whenever a scheduling step ends: a
    // transaction attempt (successful or not), an attempt to open the
    // adapter, or a wait with nothing due. Feeds the service manager's watchdog.
    void setStepDone(std::function<void()> done) { m_stepDone = std::move(done); }

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
        bool driftDue = false;  // a client wrote its memory: compared once it is left alone
        quint8 measured = 12;
        quint8 thermometer = 0;
        quint32 initialOutputs = 0;
        bool resetSeen = false; // RST seen and not yet cleared
        // The output record (snap.dout). Settled by a restart seen (the
        // initial state) or by a write of all 32 outputs; a status read that
        // failed before a write leaves it in doubt until the next one works.
        bool recordSettled = false;
        bool statusFailed = false;
        // All 32 outputs went out without a status read before them: a
        // restart seen later may have come before or after that write.
        bool writeUnsure = false;
        quint32 restartToShow = 0; // RST cleared outside a cycle, shown by the next one
    };

    void run();
    void applyConfig(const GatewayConfig &cfg);
    static std::unique_ptr<AnalogCycle> newCycle(const GatewayConfig &cfg);
    void publish(Polled &p);
    bool ensureBus();
    void closeBus();
    bool useBaud(quint32 baud);
    quint32 baudOf(const Polled &p) const { return p.cfg.baud ? p.cfg.baud : m_cfg.baud; }
    void pollModule(Polled &p);
    bool readInfo(Polled &p, const AnalogCycle::TransactFn &tx);
    void cycleFailed(Polled &p, quint8 error);
    // The bus for the poller's own transactions: it stops with the gateway,
    // and every failed attempt is a step.
    BusLink link(const TData &d, int retries);
    // Between two transactions: clients of the converter and coil writes.
    void between();
    // One transaction of someone other than the polling, whose turn it is
    // among those waiting: a converter client, a queued write, a search
    // probe. False when none waits.
    bool otherTurn();
    void stepDone();
    // Carries out at most most queued writes; how many it took.
    std::size_t applyWrites(std::size_t most = SIZE_MAX);
    // The output record (docs/user-guide.md, coils): a restart seen in the
    // status register is logged, the initial state taken as the record and
    // the register cleared; the status is read just before every write.
    quint8 takeRestart(Polled &p, quint32 status, const AnalogCycle::TransactFn &tx, bool renew);
    // One transaction with the retries given (else the configured ones, as
    // they are when it runs), as the engines take it.
    AnalogCycle::TransactFn retrying(std::optional<int> retries = {});
    // Reads the status register right before a write or a client's command
    // and takes a restart it shows; the error of the read or of taking the
    // restart, statusRead telling which.
    quint8 checkRestart(Polled &p, const AnalogCycle::TransactFn &tx, bool &statusRead);
    void writeCoils(Polled &p, const CoilWrite &w, CoilWriteResult &r);
    void statusBeforeClient(Polled &p, quint8 command);
    void showOutputs(Polled &p);
    void tellStale();
    // One module's settings against the plant file, when its turn has come.
    bool driftStep();
    void checkDrift(Polled &p);
    // The modules the search found join the list (at the top of the loop).
    void applyFound();
    // The module a converter client talks to, if the poller polls it.
    Polled *clientTarget(quint8 address, quint32 baud);

    // ConverterHost and SearchHost: the bus handed to the converter server and the search.
    const GatewayConfig &config() const override { return m_cfg; }
    bool stopping() const override { return m_stop; }
    bool beforeClient(const rqframe::Request &request, quint32 baud) override;
    quint8 transactForClient(const rqframe::Request &request, ModuleBytes &d) override;
    void afterClient(const rqframe::Request &request, quint32 baud, const ModuleBytes &reply) override;
    const TData &bus() const override { return m_data; }
    bool answers(quint8 address) const override;
    bool pollsWait(qint64 now) const override;
    void rateChanged() override { m_baud = 0; }
    // Refusals of writes beyond the queue's bound, told on this thread.
    void refuseQueued();
    void idle(int ms);

    GatewayConfig m_cfg;
    SnapshotStore &m_store;
    std::vector<GatewayObserver *> m_observers;
    std::vector<std::unique_ptr<Polled>> m_modules;
    TData m_data;
    quint32 m_baud = 0; // the rate the adapter is set to, 0 none
    qint64 m_busRetryAt = 0;
    bool m_busReported = false;
    int m_cursor = 0;
    int m_turn = 0; // whose turn among the others (otherTurn)
    qint64 m_nextDrift = 0;
    int m_driftCursor = 0;
    std::function<void()> m_stepDone;
    ConverterServer m_converter{*this};
    ModuleSearch m_search{*this};

    int m_wake = -1; // eventfd: a write or a stop is waiting

    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<qint64> m_heartbeat{0};
    std::mutex m_lock; // guards the fields below
    std::optional<GatewayConfig> m_pending;
    std::deque<CoilWrite> m_writes;
    std::vector<CoilWrite> m_refused;
    std::vector<CoilWriteResult> m_results;
    std::function<void()> m_writeDone;
};

#endif
