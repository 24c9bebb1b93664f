// Fault soak: the tool's transfer sequences and measured-value reads against
// rqsim through the real LAN converter library, while the simulator drops,
// delays, duplicates, damages and misaddresses a share of its replies and
// answers some requests with module errors.
//
// Every byte a sequence or a read reports as read must equal the module's
// memory as the simulator's control channel tells it; every byte a write
// sequence reports as written and verified must be in that memory; every
// measured value read without an error must equal the fault-free reading.
// Anything else counts as a wrong value accepted, and the run fails.
//
//   rqsoak [--line udp|serial] [--seconds N] [--seed N] [--timeout MS] [--lying-module]
// udp: the LAN converter library over loopback; serial: the serial port
// library on rqsim's pseudo-terminal. --lying-module checks the checks: a
// module that lies in well-formed replies must be caught as wrong values.
#include "app/Cp1250.h"
#include "app/Dekl.h"
#include "comm/Kxxx638.h"
#include "config/Prenos.h"
#include "support/SimProcess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QStringList>

#include <cstdio>
#include <map>
#include <vector>

namespace {

struct Options
{
    int seconds = 60;
    quint32 seed = 1;
    quint32 timeoutMs = 0; // 0: 30 ms over UDP, 50 ms on the serial line
    bool serial = false;
    bool lyingModule = false; // self-check of the checks: must see wrong values
};

Options parse(const QStringList &args)
{
    Options o;
    for (qsizetype i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == u"--seconds")
            o.seconds = args[++i].toInt();
        else if (args[i] == u"--seed")
            o.seed = args[++i].toUInt();
        else if (args[i] == u"--timeout")
            o.timeoutMs = args[++i].toUInt();
        else if (args[i] == u"--line")
            o.serial = args[++i] == u"serial";
    }
    o.lyingModule = args.contains(QStringLiteral("--lying-module"));
    if (o.timeoutMs == 0)
        o.timeoutMs = o.serial ? 50 : 30;
    return o;
}

// Counts what a sequence did and whether it failed with a message.
struct Report : TransferReport
{
    int completed = 0;
    QString last;
    void status(const QString &text) override { last = text; }
    void step(int k, int) override { completed = k; }
};

struct Tally
{
    qint64 sequences = 0;
    qint64 reads = 0;          // single transactions outside sequences
    qint64 failed = 0;         // sequences and reads that reported an error
    qint64 silentFailures = 0; // a failure whose status text said nothing
    qint64 wrong = 0;          // wrong values accepted
    qint64 slow = 0;           // transactions beyond the timeout bound
    qint64 bytesChecked = 0;
    qint64 longestMs = 0;
};

class Soak
{
public:
    Soak(const Options &o, SimProcess &sim) : m_o(o), m_sim(sim), m_random(o.seed) {}

    bool connect()
    {
        SetDefaults(&m_data);
        if (m_o.serial) {
            // The serial port library finds COM1 through RQ_COM1.
            qputenv("RQ_COM1", m_sim.ptyPath().toLocal8Bit());
            m_data.adapterKind = 0;
            m_data.comPort = 1;
            m_data.initBlock.fill(0);
            m_data.initBlock[0] = 1;
        } else {
            m_data.adapterKind = 4;
            m_data.ipAddress = QStringLiteral("127.0.0.1");
            m_data.udpPort = m_sim.udpPort();
            m_data.udpTimeout = m_o.timeoutMs;
            m_data.ipAddress8bit = ToCp1250(m_data.ipAddress);
            m_data.initBlock.fill(0);
            m_data.initBlock[0] = reinterpret_cast<std::uintptr_t>(m_data.ipAddress8bit.constData());
            m_data.initBlock[1] = m_data.udpPort;
            m_data.initBlock[2] = m_data.udpTimeout;
        }
        const quint8 kind = m_data.adapterKind;
        quint32 e = OpenAdapter(kind, &m_data.handle, m_data.initBlock);
        // Over UDP the init block's timeout rules; on the line this one does.
        if (e == 0)
            e = ConfigureAdapter(kind, m_data.handle, 9600, m_o.timeoutMs, 2);
        if (e != 0) {
            std::fprintf(stderr, "rqsoak: cannot open the %s library: %s\n",
                         qPrintable(AdapterLibraryName(kind)), qPrintable(ErrorText(kind, e)));
            return false;
        }
        m_data.connected = true;
        m_data.moduleAddress = 1;
        return true;
    }

    void close() { CloseAdapter(m_data.adapterKind, &m_data.handle); }

    // Fault-free measured values of every input and the thermometer.
    bool takeReference()
    {
        for (int m = 1; m <= 3; ++m) {
            for (int sub : subs(m)) {
                ModuleBytes a{}, b{};
                m_data.moduleAddress = static_cast<quint8>(m);
                if (Transact(m_data, m_data.moduleAddress, 0, static_cast<quint8>(sub), a) != 0 ||
                    Transact(m_data, m_data.moduleAddress, 0, static_cast<quint8>(sub), b) != 0 || a != b) {
                    std::fprintf(stderr, "rqsoak: module %d input %d gives no steady reference\n", m, sub);
                    return false;
                }
                m_reference[{m, sub}] = a;
            }
        }
        return true;
    }

    void run(qint64 ms)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < ms) {
            const int m = 1 + static_cast<int>(m_random.bounded(3));
            m_data.moduleAddress = static_cast<quint8>(m);
            const quint32 op = m_random.bounded(100);
            if (op < 30)
                settingsRead(m);
            else if (op < 55)
                measuredReads(m);
            else if (op < 75)
                pageOneWrite(m);
            else if (op < 85)
                singleByteWrites(m);
            else if (op < 95)
                backup(m);
            else
                restore(m);
        }
    }

    const Tally &tally() const { return m_t; }

private:
    std::vector<int> subs(int module) const
    {
        std::vector<int> list;
        const int inputs = module == 3 ? 6 : 12;
        for (int i = 0; i < inputs; ++i)
            list.push_back(i);
        list.push_back(16);
        return list;
    }

    QByteArray truth(int module)
    {
        const QByteArray memory = m_sim.memory(module);
        if (memory.size() != 512) {
            std::fprintf(stderr, "rqsoak: control channel gave no memory\n");
            std::exit(2);
        }
        return memory;
    }

    void timed(qint64 ms, int transactions)
    {
        // One transaction may take the timeout; the pause and event processing
        // around each byte add about a millisecond.
        const qint64 bound = (static_cast<qint64>(m_o.timeoutMs) + 50) * transactions + 500;
        m_t.longestMs = std::max(m_t.longestMs, ms / std::max(transactions, 1));
        if (ms > bound) {
            ++m_t.slow;
            std::fprintf(stderr, "rqsoak: %d transactions took %lld ms\n", transactions,
                         static_cast<long long>(ms));
        }
    }

    void outcome(bool ok, const Report &r)
    {
        ++m_t.sequences;
        if (!ok) {
            ++m_t.failed;
            // A failure shows " " and a text, never " " alone.
            if (r.last.trimmed().isEmpty())
                ++m_t.silentFailures;
        }
    }

    void checkRead(int module, const QList<TransferStep> &steps, int completed)
    {
        const QByteArray memory = truth(module);
        for (int k = 0; k < completed; ++k) {
            const TransferStep &s = steps[k];
            ++m_t.bytesChecked;
            if (*s.element != static_cast<quint8>(memory[s.page * 256 + s.address])) {
                ++m_t.wrong;
                std::fprintf(stderr, "rqsoak: WRONG module %d page %d address %d read %d, memory holds %d\n",
                             module, s.page, s.address, *s.element,
                             static_cast<quint8>(memory[s.page * 256 + s.address]));
            }
        }
    }

    void settingsRead(int module)
    {
        std::array<quint8, 64> image{};
        QList<TransferStep> steps;
        const int n = 1 + static_cast<int>(m_random.bounded(64));
        for (int i = 0; i < n; ++i)
            steps.append({0, static_cast<quint8>(i), &image[static_cast<std::size_t>(i)]});
        sequence(module, steps, false);
    }

    void sequence(int module, const QList<TransferStep> &steps, bool write,
                  const ProgressFigure &progress = StandardProgress)
    {
        Report r;
        QElapsedTimer t;
        t.start();
        const bool ok =
            write ? WriteSequence(&m_data, r, steps, progress) : ReadSequence(&m_data, r, steps, progress);
        timed(t.elapsed(), static_cast<int>(steps.size()) * (write ? 2 : 1));
        outcome(ok, r);
        if (ok && r.completed != steps.size()) {
            ++m_t.wrong;
            std::fprintf(stderr, "rqsoak: WRONG sequence reported success after %d of %lld steps\n",
                         r.completed, static_cast<long long>(steps.size()));
        }
        // Reads: every byte stored. Writes: every byte verified is in the module.
        checkRead(module, steps, ok ? static_cast<int>(steps.size()) : r.completed);
    }

    void measuredReads(int module)
    {
        for (int sub : subs(module)) {
            ModuleBytes d{};
            QElapsedTimer t;
            t.start();
            const quint8 e = Transact(m_data, m_data.moduleAddress, 0, static_cast<quint8>(sub), d);
            timed(t.elapsed(), 1);
            ++m_t.reads;
            if (e != 0) {
                ++m_t.failed;
                if (ErrorText(m_data.adapterKind, e).trimmed().isEmpty())
                    ++m_t.silentFailures;
                continue;
            }
            ++m_t.bytesChecked;
            if (d != m_reference[{module, sub}]) {
                ++m_t.wrong;
                std::fprintf(stderr, "rqsoak: WRONG measured value of module %d input %d\n", module, sub);
            }
        }
    }

    void pageOneWrite(int module)
    {
        std::array<quint8, 256> image{};
        const int first = static_cast<int>(m_random.bounded(256));
        const int n = 1 + static_cast<int>(m_random.bounded(static_cast<quint32>(std::min(64, 256 - first))));
        QList<TransferStep> steps;
        for (int i = 0; i < n; ++i) {
            image[static_cast<std::size_t>(first + i)] = static_cast<quint8>(m_random.bounded(256));
            steps.append({1, static_cast<quint8>(first + i), &image[static_cast<std::size_t>(first + i)]});
        }
        sequence(module, steps, true);
    }

    // Verified byte writes one at a time, as the calibration dialogs make them.
    void singleByteWrites(int module)
    {
        for (int i = 0; i < 8; ++i) {
            const auto address = static_cast<quint8>(m_random.bounded(256));
            const auto value = static_cast<quint8>(m_random.bounded(256));
            ModuleBytes w{0, address, address, value, value};
            QElapsedTimer t;
            t.start();
            quint8 e = Transact(m_data, m_data.moduleAddress, 103, 1, w);
            ModuleBytes r{0, address, address, 0, 0};
            if (e == 0)
                e = Transact(m_data, m_data.moduleAddress, 102, 1, r);
            timed(t.elapsed(), 2);
            ++m_t.reads;
            if (e != 0) {
                ++m_t.failed;
                continue;
            }
            ++m_t.bytesChecked;
            const auto held = static_cast<quint8>(truth(module)[256 + address]);
            // Verified means: the read-back equals the value and the module holds it.
            if (r[3] == value && held != value) {
                ++m_t.wrong;
                std::fprintf(stderr,
                             "rqsoak: WRONG verified write of %d at page 1 address %d, module holds %d\n",
                             value, address, held);
            }
            if (r[3] != held) {
                ++m_t.wrong;
                std::fprintf(stderr, "rqsoak: WRONG read-back %d at page 1 address %d, module holds %d\n",
                             r[3], address, held);
            }
        }
    }

    // The whole memory, as the EEPROM backup reads it.
    void backup(int module)
    {
        QList<TransferStep> steps;
        for (int i = 0; i < 512; ++i)
            steps.append({static_cast<quint8>(i / 256), static_cast<quint8>(i % 256),
                          &m_backup[static_cast<std::size_t>(i)]});
        sequence(module, steps, false, EepromProgress);
    }

    // The whole memory written back, as the EEPROM restore does: page 0 as the
    // module holds it (its settings stay), page 1 new.
    void restore(int module)
    {
        const QByteArray memory = truth(module);
        std::array<quint8, 512> image{};
        for (int i = 0; i < 512; ++i)
            image[static_cast<std::size_t>(i)] =
                i < 256 ? static_cast<quint8>(memory[i]) : static_cast<quint8>(m_random.bounded(256));
        QList<TransferStep> steps;
        for (int i = 0; i < 512; ++i)
            steps.append({static_cast<quint8>(i / 256), static_cast<quint8>(i % 256),
                          &image[static_cast<std::size_t>(i)]});
        sequence(module, steps, true, EepromProgress);
    }

    Options m_o;
    SimProcess &m_sim;
    QRandomGenerator m_random;
    TData m_data;
    Tally m_t;
    std::map<std::pair<int, int>, ModuleBytes> m_reference;
    std::array<quint8, 512> m_backup{};
};

// A share of the replies hit by each kind of fault. Delays below the timeout
// must pass unnoticed, delays above it come in during the next transaction.
const char *const FaultRules[] = {
    "drop p=0.01",       "delay=5 p=0.01",    "delay=150 p=0.005", "dup p=0.01",
    "crc p=0.01",        "noise p=0.005",     "garbage p=0.005",   "short p=0.005",
    "split p=0.01",      "wrongaddr p=0.005", "wrongcmd p=0.005",  "wrongseq p=0.005",
    "otherport p=0.005", "error=1 p=0.003",   "error=3 p=0.003",   "error=5 p=0.003",
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const Options o = parse(app.arguments());
    SimProcess sim;
    QStringList args{QStringLiteral("--module"), QStringLiteral("1:3510:1.08"),
                     QStringLiteral("--module"), QStringLiteral("2:3520:1.08"),
                     QStringLiteral("--module"), QStringLiteral("3:3530:1.08"),
                     QStringLiteral("--seed"),   QString::number(o.seed)};
    if (o.serial)
        args << QStringLiteral("--pty");
    if (!sim.start(args)) {
        std::fprintf(stderr, "rqsoak: rqsim did not start: %s\n", qPrintable(sim.errorString()));
        return 2;
    }
    sim.setInput(1, 0, 0.5);
    sim.setInput(1, 5, -1.25);
    sim.setInput(2, 3, 0.125);
    Soak soak(o, sim);
    if (!soak.connect() || !soak.takeReference())
        return 2;
    // A module that answers some reads with a well-formed reply holding
    // another byte: no master can see that, so the checks must.
    if (o.lyingModule && !sim.addFault(QStringLiteral("cmd=102 readback=0x5A p=0.02")))
        return 2;
    for (const char *rule : FaultRules) {
        if (!sim.addFault(QString::fromLatin1(rule))) {
            std::fprintf(stderr, "rqsoak: rqsim refused the fault rule \"%s\"\n", rule);
            return 2;
        }
    }
    sim.command(QStringLiteral("reset")); // count from here on

    QElapsedTimer clock;
    clock.start();
    soak.run(static_cast<qint64>(o.seconds) * 1000);
    const auto counters = sim.counters();
    sim.clearFaults();
    soak.close();
    sim.stop();

    const Tally &t = soak.tally();
    std::printf("rqsoak: %s, %lld s, seed %u, timeout %u ms\n", o.serial ? "serial line" : "UDP",
                static_cast<long long>(clock.elapsed() / 1000), o.seed, o.timeoutMs);
    std::printf("  transactions        %lld (requests the simulator answered or dropped)\n",
                static_cast<long long>(counters.value(QStringLiteral("requests"))));
    std::printf("  sequences           %lld, single transactions %lld\n", static_cast<long long>(t.sequences),
                static_cast<long long>(t.reads));
    std::printf("  faults injected     %lld\n",
                static_cast<long long>(counters.value(QStringLiteral("faults"))));
    std::printf("  faults detected     %lld (sequences and reads ended with an error text)\n",
                static_cast<long long>(t.failed));
    std::printf("  bytes checked       %lld\n", static_cast<long long>(t.bytesChecked));
    std::printf("  slowest            %lld ms a transaction\n", static_cast<long long>(t.longestMs));
    std::printf("  silent failures     %lld\n", static_cast<long long>(t.silentFailures));
    std::printf("  hangs               %lld\n", static_cast<long long>(t.slow));
    std::printf("  wrong values accepted %lld\n", static_cast<long long>(t.wrong));
    const bool good = (o.lyingModule ? t.wrong > 0 : t.wrong == 0) && t.slow == 0 && t.silentFailures == 0 &&
                      t.sequences > 0;
    std::printf("%s\n", good ? "rqsoak: PASS" : "rqsoak: FAIL");
    return good ? 0 : 1;
}
