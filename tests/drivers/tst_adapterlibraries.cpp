// Our adapter driver libraries driven through their entry points against
// rqsim, over UDP loopback (LAN converter) and a pseudo-terminal (serial port).
#include "AdapterLibrary.h"
#include "support/SimProcess.h"

#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <atomic>
#include <csignal>
#include <sys/time.h>
#include <thread>

namespace {

// Well below the 1500 ms of the "delay=1500" fault: on a loaded machine a
// pseudo-terminal's bytes wait for a kernel worker thread, hundreds of ms.
constexpr uint32_t kTimeoutMs = 1000;

// Codes of the libraries (docs/protocol.md).
constexpr uint32_t kOk = 0;
constexpr uint32_t kBadHandle = 1;
constexpr uint32_t kBadArgument = 2;
constexpr uint32_t kTooMany = 3;
constexpr uint32_t kPortOpenFailed = 4;
constexpr uint32_t kBadBaud = 6;
constexpr uint32_t kBadIp = 7;
constexpr uint32_t kIsaMissing = 9;
constexpr uint32_t kPciMissing = 11;
constexpr uint32_t kDeviceGone = 14;
constexpr uint32_t kRefused = 15;
constexpr uint32_t kPortBusy = 16;
constexpr uint32_t kBadUdpPort = 17;
constexpr uint32_t kTimeout = 20;
constexpr uint32_t kBadCrc = 21;
constexpr uint32_t kBadLength = 22;
constexpr uint32_t kWrongAddress = 23;
constexpr uint32_t kWrongCommand = 24;
constexpr uint32_t kNoise = 25;
constexpr uint32_t kGarbage = 26;
constexpr uint32_t kBadRequest = 27;
constexpr uint32_t kModuleBadSubcode = 32;
constexpr uint32_t kModuleUnknownCommand = 31;
constexpr uint32_t kModuleUnknownError = 39;

std::array<uint8_t, 5> memRead(int address)
{
    return {0, static_cast<uint8_t>(address), static_cast<uint8_t>(address), 0, 0};
}

std::array<uint8_t, 5> memWrite(int address, int value)
{
    return {0, static_cast<uint8_t>(address), static_cast<uint8_t>(address), static_cast<uint8_t>(value),
            static_cast<uint8_t>(value)};
}

} // namespace

class tst_AdapterLibraries : public QObject
{
    Q_OBJECT

    AdapterLibrary lan{"KRQ4638"};
    AdapterLibrary com{"KCOM638"};
    AdapterLibrary usb{"KUSB4638"};
    AdapterLibrary isa{"KPCI638"};
    AdapterLibrary pci{"KPCI4638"};

    uint32_t m_timeoutMs = kTimeoutMs; // reply timeout of the connections open() makes

    struct Link
    {
        AdapterLibrary *lib = nullptr;
        uint32_t handle = 0;
    };

    // Starts rqsim for the transport ("udp" or "pty") and opens a connection to it.
    bool open(const QString &transport, SimProcess &sim, Link &link, QStringList args = {},
              uint32_t baud = 9600)
    {
        args << (transport == u"udp" ? QStringList{QStringLiteral("--udp"), QStringLiteral("0")}
                                     : QStringList{QStringLiteral("--pty")});
        if (!sim.start(args)) {
            qWarning("%s", qPrintable(sim.errorString()));
            return false;
        }
        return connectTo(transport, sim, link, baud);
    }

    bool connectTo(const QString &transport, SimProcess &sim, Link &link, uint32_t baud = 9600)
    {
        uint32_t r = 0;
        if (transport == u"udp") {
            link.lib = &lan;
            r = lan.initLan(&link.handle, "127.0.0.1", sim.udpPort(), m_timeoutMs);
        } else {
            link.lib = &com;
            qputenv("RQ_COM7", sim.ptyPath().toLocal8Bit());
            r = com.initWord(&link.handle, 7);
        }
        if (r != kOk || link.handle == 0) {
            qWarning("Init: %u", r);
            return false;
        }
        r = link.lib->setConfig(link.handle, baud, m_timeoutMs, 2);
        if (r != kOk)
            qWarning("SetConfig: %u", r);
        return r == kOk;
    }

    static void close(Link &link)
    {
        if (link.lib && link.handle)
            link.lib->done(&link.handle);
    }

    static void addTransports()
    {
        QTest::addColumn<QString>("transport");
        QTest::newRow("udp") << QStringLiteral("udp");
        QTest::newRow("pty") << QStringLiteral("pty");
    }

private slots:
    void init() { m_timeoutMs = kTimeoutMs; }

    void libraries_exportTheSevenEntryPoints()
    {
        for (AdapterLibrary *lib : {&lan, &com, &usb, &isa, &pci}) {
            QVERIFY2(lib->loaded(), qPrintable(lib->loadError()));
            QCOMPARE(lib->version(), 0x0100u);
        }
    }

    void errorTexts_czechInWindows1250FromCellOne()
    {
        QCOMPARE(lan.text(0), QByteArray("V po\xF8\xE1"
                                         "dku"));
        QCOMPARE(com.text(20), QByteArray("Modul neodpov\xED"
                                          "d\xE1"));
        for (uint32_t code = 1; code <= 99; ++code) {
            const QByteArray text = lan.text(code);
            QVERIFY2(!text.isEmpty() && text.size() <= 99, qPrintable(QString::number(code)));
            QVERIFY(!text.contains('?')); // every character has a Windows-1250 code
        }
        QCOMPARE(lan.error(0, nullptr), kBadArgument);
    }

    void noCardLibraries_initFailsAndSaysSo()
    {
        uint32_t handle = 0;
        QCOMPARE(isa.initWord(&handle, 0x300), kIsaMissing);
        QCOMPARE(handle, 0u);
        QVERIFY(isa.text(kIsaMissing).contains("ISA karta PCI-638"));
        QCOMPARE(pci.initPlain(&handle), kPciMissing);
        QCOMPARE(handle, 0u);
        QVERIFY(pci.text(kPciMissing).contains("PCI karta PCI-4638"));
        QCOMPARE(pci.initPlain(nullptr), kBadArgument);
    }

    void commandSet_answersEveryCommand_data() { addTransports(); }
    void commandSet_answersEveryCommand()
    {
        QFETCH(QString, transport);
        SimProcess sim;
        Link link;
        QVERIFY(open(transport, sim, link, {QStringLiteral("--module"), QStringLiteral("5:3520:1.07")}));

        Transaction t = transact(*link.lib, link.handle, 5, 200, 0);
        QCOMPARE(t.result, kOk);
        QCOMPARE(t.errorWord, kOk);
        QCOMPARE(t.text(), QByteArray("RQ-3"));
        QCOMPARE(transact(*link.lib, link.handle, 5, 200, 1).text(), QByteArray("520 "));
        QCOMPARE(transact(*link.lib, link.handle, 5, 200, 2).text(), QByteArray("1.07"));

        // Analog input 2 on +/- 500 mV (RQ-3520 default): volts with 6 decimals.
        QVERIFY(sim.setInput(5, 2, -0.123456));
        t = transact(*link.lib, link.handle, 5, 0, 2);
        QCOMPARE(t.result, kOk);
        QCOMPARE(t.d(4) & 0x7F, 6);
        QVERIFY(t.d(3) & 0x80);
        const int magnitude = t.d(1) | (t.d(2) << 8) | ((t.d(3) & 0x7F) << 16);
        QVERIFY(qAbs(magnitude - 123456) <= 200); // one converter step is ~24 uV here

        QVERIFY(sim.setTemperature(5, 21.5));
        t = transact(*link.lib, link.handle, 5, 0, 16);
        QCOMPARE(t.d(1) | (t.d(2) << 8), 215);
        QCOMPARE(t.d(4), 1);

        QVERIFY(sim.setDigitalInputs(5, 0x00000001)); // negation 0xFF in all four bytes
        QCOMPARE(transact(*link.lib, link.handle, 5, 0, 64).bits32(), 0xFFFFFFFEu);

        QCOMPARE(transact(*link.lib, link.handle, 5, 1, 64, {0, 0x01, 0x80, 0x00, 0xFF}).result, kOk);
        QCOMPARE(sim.outputs(5), 0xFF008001u);

        t = transact(*link.lib, link.handle, 5, 100, 0);
        QCOMPARE(t.bits32() & 0x30u, 0x30u); // PWR and RST after power-up
        QCOMPARE(transact(*link.lib, link.handle, 5, 101, 0).result, kOk);
        QCOMPARE(transact(*link.lib, link.handle, 5, 100, 0).bits32(), 0u);

        QCOMPARE(transact(*link.lib, link.handle, 5, 102, 0, memRead(63)).d(3), 5);
        QCOMPARE(transact(*link.lib, link.handle, 5, 102, 0, memRead(0)).d(3), 4);
        QCOMPARE(transact(*link.lib, link.handle, 5, 103, 1, memWrite(200, 0xA7)).result, kOk);
        QCOMPARE(transact(*link.lib, link.handle, 5, 102, 1, memRead(200)).d(3), 0xA7);
        QCOMPARE(sim.memoryByte(5, 256 + 200), 0xA7);

        QCOMPARE(transact(*link.lib, link.handle, 5, 77, 0).result, kModuleUnknownCommand);
        t = transact(*link.lib, link.handle, 5, 102, 2, memRead(0));
        QCOMPARE(t.result, kModuleBadSubcode);
        QCOMPARE(t.errorWord, kModuleBadSubcode);
        close(link);
    }

    void faults_neverTakenAsTheAnswer_data()
    {
        QTest::addColumn<QString>("transport");
        QTest::addColumn<QString>("rule");
        QTest::addColumn<uint32_t>("expected");
        const struct
        {
            const char *rule;
            uint32_t udp;
            uint32_t pty;
        } rows[] = {
            {"error=2", kModuleBadSubcode, kModuleBadSubcode},
            {"error=77", kModuleUnknownError, kModuleUnknownError},
            {"drop", kTimeout, kTimeout},
            {"crc", kBadCrc, kBadCrc},
            {"short", kBadLength, kBadLength},
            {"noise", kBadLength, kNoise},
            {"garbage", kBadLength, kGarbage},
            {"wrongaddr", kWrongAddress, kWrongAddress},
            {"wrongcmd", kWrongCommand, kWrongCommand},
            {"split", kBadLength, kOk}, // two datagrams; on a line just many reads
            {"dup", kOk, kGarbage},     // on a line a second frame right behind is not a clean reply
            // A later copy is thrown away before the next request. It comes
            // far later than a busy machine may be late to read the reply, or
            // on a line both would arrive together, as with "dup".
            {"dup=300", kOk, kOk},
            {"delay=1500", kTimeout, kTimeout},
        };
        for (const auto &row : rows) {
            QTest::newRow(qPrintable(QStringLiteral("udp ") + QLatin1String(row.rule)))
                << QStringLiteral("udp") << QString::fromLatin1(row.rule) << row.udp;
            QTest::newRow(qPrintable(QStringLiteral("pty ") + QLatin1String(row.rule)))
                << QStringLiteral("pty") << QString::fromLatin1(row.rule) << row.pty;
        }
        QTest::newRow("udp wrongseq") << QStringLiteral("udp") << QStringLiteral("wrongseq") << kTimeout;
        QTest::newRow("udp otherport") << QStringLiteral("udp") << QStringLiteral("otherport") << kTimeout;
    }
    void faults_neverTakenAsTheAnswer()
    {
        QFETCH(QString, transport);
        QFETCH(QString, rule);
        QFETCH(uint32_t, expected);
        SimProcess sim;
        Link link;
        QVERIFY(open(transport, sim, link));
        QVERIFY(sim.addFault(QStringLiteral("cmd=102 count=1 ") + rule));

        const Transaction t = transact(*link.lib, link.handle, 1, 102, 0, memRead(63));
        QCOMPARE(t.result, expected);
        QCOMPARE(t.errorWord, expected);
        if (expected == kOk)
            QCOMPARE(t.d(3), 1);
        else
            QCOMPARE(t.d(3), 0);

        // Whatever the fault left on the line or in the socket does not leak
        // into the next transaction.
        const bool late = (transport == u"pty" && rule.startsWith(u"delay")) || rule.startsWith(u"dup=");
        QTest::qWait(late ? 1500 : 20);
        const Transaction next = transact(*link.lib, link.handle, 1, 102, 0, memRead(0));
        QCOMPARE(next.result, kOk);
        QCOMPARE(next.d(3), 6);
        QCOMPARE(sim.counters().value(QStringLiteral("faults")), 1);
        close(link);
    }

    void readBackDifferent_isReported()
    {
        SimProcess sim;
        Link link;
        QVERIFY(open(QStringLiteral("udp"), sim, link));
        QVERIFY(sim.addFault(QStringLiteral("mem=40 readback=0x55 count=1")));
        QCOMPARE(transact(lan, link.handle, 1, 103, 0, memWrite(40, 0x12)).result, kOk);
        QCOMPARE(transact(lan, link.handle, 1, 102, 0, memRead(40)).d(3), 0x55);
        QCOMPARE(transact(lan, link.handle, 1, 102, 0, memRead(40)).d(3), 0x12);
        close(link);
    }

    void lateReply_notTakenForTheNextRequest_data() { addTransports(); }
    void lateReply_notTakenForTheNextRequest()
    {
        QFETCH(QString, transport);
        m_timeoutMs = 1200;
        SimProcess sim;
        Link link;
        QVERIFY(open(transport, sim, link));
        // The reply to the first request arrives while the second one waits
        // (timeout 1200 ms: the late reply at 1500 ms, the right one at 1950 ms).
        QVERIFY(sim.addFault(QStringLiteral("mem=0 delay=1500 count=1")));
        QVERIFY(sim.addFault(QStringLiteral("mem=63 delay=750 count=1")));
        QCOMPARE(transact(*link.lib, link.handle, 1, 102, 0, memRead(0)).result, kTimeout);
        const Transaction second = transact(*link.lib, link.handle, 1, 102, 0, memRead(63));
        if (transport == u"udp") {
            QCOMPARE(second.result, kOk); // the sequence number tells them apart
            QCOMPARE(second.d(3), 1);
        } else {
            QVERIFY(second.result != kOk); // a line has no sequence number: refuse rather than guess
        }
        close(link);
    }

    // A damaged late reply that came in between two requests is not the
    // second one's answer, and its damage is not the second one's either: a
    // search took it for a garbled answer where no module was.
    void staleDamage_notReportedForTheNextRequest()
    {
        m_timeoutMs = 100;
        SimProcess sim;
        Link link;
        QVERIFY(open(QStringLiteral("udp"), sim, link));
        QVERIFY(sim.addFault(QStringLiteral("mem=0 crc count=1")));
        QVERIFY(sim.addFault(QStringLiteral("mem=0 delay=150 count=1")));
        QVERIFY(sim.addFault(QStringLiteral("mem=63 drop count=1")));
        QCOMPARE(transact(*link.lib, link.handle, 1, 102, 0, memRead(0)).result, kTimeout);
        QTRY_COMPARE(sim.counters().value(QStringLiteral("replies")), 1); // the damaged reply is out
        QCOMPARE(transact(*link.lib, link.handle, 1, 102, 0, memRead(63)).result, kTimeout);
        close(link);
    }

    void soak_randomFaults_neverGiveWrongData()
    {
        m_timeoutMs = 150; // UDP on loopback: every lost reply costs a timeout
        SimProcess sim;
        Link link;
        QVERIFY(open(QStringLiteral("udp"), sim, link, {QStringLiteral("--seed"), QStringLiteral("7")}));
        for (const char *rule :
             {"drop p=0.05", "dup p=0.05", "crc p=0.05", "wrongseq p=0.05", "delay=200 p=0.03"})
            QVERIFY(sim.addFault(QString::fromLatin1(rule)));
        for (int a = 64; a < 128; ++a)
            QVERIFY(sim.setMemoryByte(1, a, a ^ 0x5A));
        int good = 0;
        for (int i = 0; i < 300; ++i) {
            const int a = 64 + i % 64;
            const Transaction t = transact(lan, link.handle, 1, 102, 0, memRead(a));
            if (t.result == kOk) {
                QCOMPARE(t.d(3), a ^ 0x5A);
                ++good;
            } else {
                QVERIFY(t.result == kTimeout || t.result == kBadCrc);
            }
        }
        QVERIFY(good > 200);
        QVERIFY(sim.counters().value(QStringLiteral("faults")) > 20);
        close(link);
    }

    void baudRateMismatch_moduleDoesNotAnswer_data() { addTransports(); }
    void baudRateMismatch_moduleDoesNotAnswer()
    {
        QFETCH(QString, transport);
        SimProcess sim;
        Link link;
        QVERIFY(open(transport, sim, link, {}, 19200));
        QCOMPARE(transact(*link.lib, link.handle, 1, 200, 0).result, kTimeout);
        QCOMPARE(sim.counters().value(QStringLiteral("ignored")), 1);
        QCOMPARE(link.lib->setConfig(link.handle, 9600, kTimeoutMs, 2), kOk);
        QCOMPARE(transact(*link.lib, link.handle, 1, 200, 0).result, kOk);
        close(link);
    }

    // Signals arriving while a library waits (a GUI's timers, a debugger)
    // neither end the wait early nor lose the reply.
    void signalsDuringTheWait_areSurvived_data() { addTransports(); }
    void signalsDuringTheWait_areSurvived()
    {
        QFETCH(QString, transport);
        m_timeoutMs = 1000;
        SimProcess sim;
        Link link;
        QVERIFY(open(transport, sim, link));
        QVERIFY(sim.addFault(QStringLiteral("cmd=200 delay=80")));
        struct sigaction action
        {
        };
        action.sa_handler = [](int) {};
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0; // no SA_RESTART: system calls see EINTR
        struct sigaction previous
        {
        };
        QCOMPARE(::sigaction(SIGALRM, &action, &previous), 0);
        itimerval timer{{0, 5000}, {0, 5000}}; // every 5 ms
        ::setitimer(ITIMER_REAL, &timer, nullptr);
        const Transaction t = transact(*link.lib, link.handle, 1, 200, 1);
        const Transaction late = transact(*link.lib, link.handle, 1, 200, 0, {});
        itimerval off{};
        ::setitimer(ITIMER_REAL, &off, nullptr);
        ::sigaction(SIGALRM, &previous, nullptr);
        QCOMPARE(t.result, kOk);
        QCOMPARE(t.text(), QByteArray("510 "));
        QCOMPARE(late.text(), QByteArray("RQ-3"));
        QVERIFY(sim.clearFaults());
        QCOMPARE(transact(*link.lib, link.handle, 1, 200, 2).text(), QByteArray("1.08"));
        close(link);
    }

    void twoConnections_atOnce()
    {
        SimProcess udpSim, ptySim;
        Link a, b, c;
        QVERIFY(open(QStringLiteral("udp"), udpSim, a,
                     {QStringLiteral("-m"), QStringLiteral("1:3510"), QStringLiteral("-m"),
                      QStringLiteral("2:3530:1.02")}));
        QVERIFY(connectTo(QStringLiteral("udp"), udpSim, b));
        QVERIFY(open(QStringLiteral("pty"), ptySim, c, {QStringLiteral("-m"), QStringLiteral("9:3520")}));
        QVERIFY(a.handle != b.handle);
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(transact(lan, a.handle, 1, 200, 1).text(), QByteArray("510 "));
            QCOMPARE(transact(lan, b.handle, 2, 200, 1).text(), QByteArray("530 "));
            QCOMPARE(transact(com, c.handle, 9, 200, 1).text(), QByteArray("520 "));
        }
        close(a);
        QCOMPARE(transact(lan, b.handle, 2, 200, 2).text(), QByteArray("1.02"));
        close(b);
        close(c);
    }

    // Connections are independent also when used from two threads at once.
    void twoThreads_eachOnItsOwnConnection()
    {
        SimProcess sim;
        QVERIFY(sim.start({QStringLiteral("-m"), QStringLiteral("1:3510"), QStringLiteral("-m"),
                           QStringLiteral("2:3520")}));
        Link a, b;
        m_timeoutMs = 1000;
        QVERIFY(connectTo(QStringLiteral("udp"), sim, a));
        QVERIFY(connectTo(QStringLiteral("udp"), sim, b));
        std::atomic<int> wrong{0};
        auto run = [&wrong, this](uint32_t handle, uint8_t address, const QByteArray &model) {
            for (int i = 0; i < 300; ++i)
                if (transact(lan, handle, address, 200, 1).text() != model)
                    ++wrong;
        };
        std::thread first(run, a.handle, 1, QByteArray("510 "));
        std::thread second(run, b.handle, 2, QByteArray("520 "));
        first.join();
        second.join();
        QCOMPARE(wrong.load(), 0);
        close(a);
        close(b);
    }

    void staleHandle_givesErrorNeverCrash()
    {
        SimProcess sim;
        Link link;
        QVERIFY(open(QStringLiteral("udp"), sim, link));
        const uint32_t old = link.handle;
        QCOMPARE(lan.done(&link.handle), kOk);
        QCOMPARE(link.handle, 0u);

        const Transaction t = transact(lan, old, 1, 200, 0);
        QCOMPARE(t.result, kBadHandle);
        QCOMPARE(t.errorWord, kBadHandle);
        uint32_t stale = old;
        QCOMPARE(lan.done(&stale), kBadHandle);
        QCOMPARE(lan.setConfig(old, 9600, 100, 2), kBadHandle);
        QCOMPARE(transact(lan, 0, 1, 200, 0).result, kBadHandle);
        QCOMPARE(transact(lan, 0x7FFFFFFF, 1, 200, 0).result, kBadHandle);
        QCOMPARE(lan.done(nullptr), kBadArgument);

        // A new connection never gets the old handle back.
        QVERIFY(connectTo(QStringLiteral("udp"), sim, link));
        QVERIFY(link.handle != old);
        uint32_t status = 0, error = 0;
        std::array<uint32_t, RQ_RECORD_WORDS> response{};
        QCOMPARE(lan.send(link.handle, nullptr, response.data(), &status, &error), kBadArgument);
        std::array<uint32_t, RQ_RECORD_WORDS> request{};
        request[1] = 300;
        QCOMPARE(lan.send(link.handle, request.data(), response.data(), &status, &error), kBadRequest);
        uint32_t baud = 0, timeout = 0, third = 0;
        QCOMPARE(lan.getConfig(link.handle, &baud, &timeout, &third), kOk);
        QCOMPARE(baud, 9600u);
        QCOMPARE(third, 2u);
        close(link);
    }

    void lan_refusedAndBadInit()
    {
        QUdpSocket probe;
        QVERIFY(probe.bind(QHostAddress::LocalHost, 0));
        const quint16 port = probe.localPort();
        probe.close(); // nobody listens there now

        uint32_t handle = 0;
        QCOMPARE(lan.initLan(&handle, "127.0.0.1", port, 10000), kOk);
        QCOMPARE(transact(lan, handle, 1, 200, 0).result, kRefused); // at once, not after the timeout
        QCOMPARE(lan.done(&handle), kOk);

        QCOMPARE(lan.initLan(&handle, "", port, kTimeoutMs), kBadIp);
        QCOMPARE(lan.initLan(&handle, nullptr, port, kTimeoutMs), kBadIp);
        QCOMPARE(lan.initLan(&handle, "127.0.0.1", 0, kTimeoutMs), kBadUdpPort);
        QCOMPARE(handle, 0u);
    }

    void serial_localEchoIsSkipped()
    {
        SimProcess sim;
        Link link;
        QVERIFY(open(QStringLiteral("pty"), sim, link, {QStringLiteral("--echo")}));
        for (int sub = 0; sub < 3; ++sub)
            QCOMPARE(transact(com, link.handle, 1, 200, static_cast<uint8_t>(sub)).result, kOk);
        QCOMPARE(transact(com, link.handle, 1, 200, 1).text(), QByteArray("510 "));
        close(link);
    }

    // A USB converter pulled out and plugged in again: the connection reports
    // it and then works again without a new Init.
    void serial_unpluggedDevice_reportsAndRecovers()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("ttyRQ"));
        qputenv("RQ_USB", link.toLocal8Bit());
        SimProcess sim;
        QVERIFY(sim.start({QStringLiteral("--link"), link}));
        uint32_t handle = 0;
        QCOMPARE(usb.initPlain(&handle), kOk);
        QCOMPARE(transact(usb, handle, 1, 200, 0).result, kOk);
        sim.stop();
        QCOMPARE(transact(usb, handle, 1, 200, 0).result, kDeviceGone);
        QCOMPARE(transact(usb, handle, 1, 200, 0).result, kDeviceGone);
        QVERIFY(sim.start({QStringLiteral("--link"), link}));
        QCOMPARE(transact(usb, handle, 1, 200, 1).text(), QByteArray("510 "));
        QCOMPARE(usb.done(&handle), kOk);
    }

    void connections_areBounded()
    {
        SimProcess sim;
        QVERIFY(sim.start());
        std::vector<uint32_t> handles(64, 0);
        for (uint32_t &h : handles)
            QCOMPARE(lan.initLan(&h, "127.0.0.1", sim.udpPort(), kTimeoutMs), kOk);
        uint32_t extra = 0;
        QCOMPARE(lan.initLan(&extra, "127.0.0.1", sim.udpPort(), kTimeoutMs), kTooMany);
        QCOMPARE(extra, 0u);
        QCOMPARE(lan.done(&handles.back()), kOk);
        QCOMPARE(lan.initLan(&extra, "127.0.0.1", sim.udpPort(), kTimeoutMs), kOk);
        QCOMPARE(transact(lan, extra, 1, 200, 0).result, kOk);
        QCOMPARE(lan.done(&extra), kOk);
        for (uint32_t &h : handles)
            if (h)
                QCOMPARE(lan.done(&h), kOk);
    }

    void serial_portErrors()
    {
        qputenv("RQ_COM9", "/nonexistent/tty");
        uint32_t handle = 0;
        QCOMPARE(com.initWord(&handle, 9), kPortOpenFailed);
        QCOMPARE(handle, 0u);

        SimProcess sim;
        Link link;
        QVERIFY(open(QStringLiteral("pty"), sim, link));
        QCOMPARE(com.initWord(&handle, 7), kPortBusy); // same device, second master
        QCOMPARE(com.setConfig(link.handle, 12345, 100, 2), kBadBaud);
        QCOMPARE(transact(com, link.handle, 1, 200, 0).result, kOk); // old settings still in force
        close(link);
    }

    void usbConverter_usesTheSerialLine()
    {
        SimProcess sim;
        QVERIFY(sim.start({QStringLiteral("--pty")}));
        qputenv("RQ_USB", sim.ptyPath().toLocal8Bit());
        uint32_t handle = 0;
        QCOMPARE(usb.initPlain(&handle), kOk);
        QCOMPARE(usb.setConfig(handle, 9600, kTimeoutMs, 2), kOk);
        QCOMPARE(transact(usb, handle, 1, 200, 0).text(), QByteArray("RQ-3"));
        QCOMPARE(usb.done(&handle), kOk);
    }
};

QTEST_GUILESS_MAIN(tst_AdapterLibraries)
#include "tst_adapterlibraries.moc"
