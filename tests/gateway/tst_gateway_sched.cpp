// How rqgw shares its bus and its time: converter clients take turns with
// the polls, stale ages come from the configuration, floods of commands and
// signals leave the polls alone, slow HTTP clients leave /metrics alone.
// Against rqsim with --wire-time, mosquitto, curl and hand-written frames.
#include "Broker.h"
#include "GatewayProcess.h"

#include "drivers/RqFrame.h"
#include "support/SimProcess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QNetworkDatagram>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <csignal>
#include <sys/stat.h>

namespace {
const QString Rqtool = QStringLiteral(RQ_BIN_DIR "/rqtool");

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// A Modbus TCP client of hand-written frames (function 4) on one connection.
class Reader
{
public:
    explicit Reader(quint16 port)
    {
        m_s.connectToHost(QStringLiteral("127.0.0.1"), port);
        m_s.waitForConnected(5000);
    }
    // The registers, or the exception code as a negative number (-11: 0x0B); -1000 no answer.
    QList<int> read(quint8 unit, quint16 address, quint16 count)
    {
        m_s.write(QByteArray::fromHex("000100000006") + char(unit) + char(4) + char(address >> 8) +
                  char(address) + char(count >> 8) + char(count));
        QByteArray r;
        while (r.size() < 9 && m_s.waitForReadyRead(5000))
            r += m_s.readAll();
        if (r.size() < 9)
            return {-1000};
        if (quint8(r[7]) & 0x80)
            return {-int(quint8(r[8]))};
        while (r.size() < 9 + 2 * count && m_s.waitForReadyRead(5000))
            r += m_s.readAll();
        QList<int> out;
        for (int k = 0; k < count; ++k)
            out << (quint8(r[9 + 2 * k]) << 8 | quint8(r[10 + 2 * k]));
        return out;
    }
    bool online(quint8 unit) { return read(unit, 100, 1) == QList<int>{1}; }
    quint32 u32(quint8 unit, quint16 address)
    {
        const QList<int> r = read(unit, address, 2);
        return r.size() == 2 ? quint32(r[0]) << 16 | quint32(r[1]) : 0;
    }

private:
    QTcpSocket m_s;
};

// A converter client that keeps a number of requests queued: a reply makes
// it send the next one. Runs on the test's event loop.
class Flood : public QObject
{
public:
    Flood(quint16 port, quint8 address, quint32 baud, int queued)
        : m_port(port), m_address(address), m_baud(baud)
    {
        m_s.bind(QHostAddress::LocalHost, 0);
        connect(&m_s, &QUdpSocket::readyRead, this, [this] {
            while (m_s.hasPendingDatagrams()) {
                m_s.receiveDatagram();
                ++replies;
                send();
            }
        });
        for (int k = 0; k < queued; ++k)
            send();
    }
    int replies = 0;

private:
    void send()
    {
        rqframe::Request r;
        r.address = m_address;
        r.command = 102; // read configuration memory
        r.d = {0, 20, 20, 0, 0};
        const auto frame = rqframe::encodeUdpRequest(r, ++m_seq, m_baud);
        m_s.writeDatagram(reinterpret_cast<const char *>(frame.data()), qint64(frame.size()),
                          QHostAddress::LocalHost, m_port);
    }
    QUdpSocket m_s;
    quint16 m_port;
    quint8 m_address;
    quint32 m_baud;
    quint16 m_seq = 0;
};

bool ended(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return true;
    const QByteArray stat = f.readAll();
    const qsizetype close = stat.lastIndexOf(')');
    return close < 0 || stat.mid(close + 2, 1) == "Z";
}
} // namespace

class TestGatewaySched : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;

    // A bus file: LAN converter to the simulator, modules as "address:baud:interval".
    QString busFile(const QString &name, const SimProcess &sim, const QStringList &modules,
                    const QByteArray &more = {})
    {
        // Four retries of a second each widen the stale age by 4 s: room for
        // a loaded machine, while a bus held by a client passes any age.
        QByteArray ini = "[gateway]\nname=" + name.toUtf8() + "\nretries=4\n" + more +
                         "[bus]\nadapter=lan\nip=127.0.0.1\nudp-port=" + QByteArray::number(sim.udpPort()) +
                         "\nudp-timeout=1000\n";
        for (const QString &m : modules) {
            const QStringList f = m.split(QLatin1Char(':'));
            ini += "[module m" + f[0].toUtf8() + "]\naddress=" + f[0].toUtf8() + "\nbaud=" + f[1].toUtf8() +
                   "\n";
            if (f.size() > 2)
                ini += "interval=" + f[2].toUtf8() + "\n";
        }
        const QString path = dir.filePath(name + QStringLiteral(".ini"));
        return writeFile(path, ini) ? path : QString();
    }

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }

    // A backup through the converter while three other modules are polled:
    // the two take turns, so the others' values never pass their stale age
    // and the backup is whole. A client that keeps 150 requests queued
    // does not keep SIGTERM waiting.
    void converterTakesTurns()
    {
        SimProcess sim;
        QVERIFY2(sim.start({QStringLiteral("--wire-time"), QStringLiteral("--baud"), QStringLiteral("19200"),
                            QStringLiteral("--module"), QStringLiteral("1:3510"), QStringLiteral("--module"),
                            QStringLiteral("2:3510"), QStringLiteral("--module"), QStringLiteral("3:3520"),
                            QStringLiteral("--module"), QStringLiteral("4:3530")}),
                 qPrintable(sim.errorString()));
        const QString ini =
            busFile(QStringLiteral("fair"), sim,
                    {QStringLiteral("2:19200"), QStringLiteral("3:19200"), QStringLiteral("4:19200")});
        GatewayProcess gw;
        QVERIFY(gw.start(
            {QStringLiteral("--config"), ini, QStringLiteral("--converter"), QStringLiteral("127.0.0.1:0")}));
        Reader reader(gw.modbusPort);
        for (quint8 unit : {2, 3, 4})
            QTRY_VERIFY_WITH_TIMEOUT(reader.online(unit), 20000);

        QProcess backup;
        const QString file = dir.filePath(QStringLiteral("m1.kee"));
        backup.start(Rqtool, QStringLiteral("--adapter lan --ip 127.0.0.1 --udp-port %1 --udp-timeout 2000 "
                                            "--address 1 --baud 19200 --quiet backup %2")
                                 .arg(gw.converterPort)
                                 .arg(file)
                                 .split(QLatin1Char(' ')));
        QVERIFY(backup.waitForStarted(5000));
        int reads = 0;
        QList<int> refused;
        while (backup.state() != QProcess::NotRunning) {
            for (quint8 unit : {2, 3, 4}) {
                if (reader.read(unit, 0, 2).value(0) < 0)
                    refused << unit;
                ++reads;
            }
            backup.waitForFinished(100);
        }
        QCOMPARE(backup.exitCode(), 0);
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), sim.memory(1));
        QVERIFY(reads > 30); // the backup lasted long enough to mean something
        QVERIFY2(refused.isEmpty(),
                 qPrintable(QStringLiteral("0x0B for %1 of %2 reads").arg(refused.size()).arg(reads)));

        Flood flood(gw.converterPort, 1, 19200, 150);
        QTRY_VERIFY_WITH_TIMEOUT(flood.replies > 300, 60000);
        ::kill(static_cast<pid_t>(gw.pid()), SIGTERM);
        QTRY_VERIFY_WITH_TIMEOUT(ended(gw.pid()), 5000); // the flood goes on meanwhile
        QVERIFY(gw.stop());
    }

    // The stale age comes from the configuration: a slow module and a
    // module beside a converter client that never stops are both served.
    void staleAge_data()
    {
        QTest::addColumn<QString>("interval"); // of module 1
        QTest::addColumn<bool>("flood");
        // Of module 1: 2 x max(interval, 2 modules x 15 transactions x 11.98 ms) x 2 + 4 retries x 1000 ms.
        QTest::addColumn<int>("staleMs");
        QTest::newRow("interval=10000") << "10000" << false << 44000;
        QTest::newRow("long converter client") << "0" << true << 5438;
    }
    void staleAge()
    {
        QFETCH(QString, interval);
        QFETCH(bool, flood);
        QFETCH(int, staleMs);
        SimProcess sim;
        QVERIFY2(sim.start({QStringLiteral("--wire-time"), QStringLiteral("--baud"), QStringLiteral("19200"),
                            QStringLiteral("--module"), QStringLiteral("1:3510"), QStringLiteral("--module"),
                            QStringLiteral("2:3520"), QStringLiteral("--module"), QStringLiteral("3:3530")}),
                 qPrintable(sim.errorString()));
        const QString ini = busFile(QStringLiteral("stale"), sim,
                                    {QStringLiteral("1:19200:") + interval, QStringLiteral("2:19200")});
        GatewayProcess gw;
        QVERIFY(gw.start(
            {QStringLiteral("--config"), ini, QStringLiteral("--converter"), QStringLiteral("127.0.0.1:0")}));
        Reader reader(gw.modbusPort);
        QTRY_VERIFY_WITH_TIMEOUT(reader.online(1) && reader.online(2), 20000);
        std::unique_ptr<Flood> client;
        if (flood) {
            client = std::make_unique<Flood>(gw.converterPort, 3, 19200, 150);
            QTRY_VERIFY_WITH_TIMEOUT(client->replies > 150, 30000);
        }
        // 24 reads over six seconds, three times the shortest stale age.
        int refused = 0;
        quint32 oldest = 0;
        for (int k = 0; k < 24; ++k) {
            refused += reader.read(1, 0, 2).value(0) < 0 ? 1 : 0;
            oldest = std::max(oldest, reader.u32(1, 102));
            QTest::qWait(250);
        }
        QCOMPARE(refused, 0);
        QVERIFY2(oldest <= quint32(staleMs), qPrintable(QString::number(oldest)));
        if (client)
            QVERIFY(client->replies > 300); // the client was served all along
        QVERIFY(gw.stop());
    }

    // SIGHUP every 300 ms, each reload shorter than one cycle: every
    // module goes on being polled in its turn.
    void reloadStorm()
    {
        SimProcess sim;
        QVERIFY2(sim.start({QStringLiteral("--wire-time"), QStringLiteral("--module"),
                            QStringLiteral("1:3510"), QStringLiteral("--module"), QStringLiteral("2:3520"),
                            QStringLiteral("--module"), QStringLiteral("3:3530")}),
                 qPrintable(sim.errorString()));
        const QString ini =
            busFile(QStringLiteral("storm"), sim,
                    {QStringLiteral("1:9600"), QStringLiteral("2:9600"), QStringLiteral("3:9600")});
        GatewayProcess gw;
        QVERIFY(gw.start({QStringLiteral("--config"), ini}));
        Reader reader(gw.modbusPort);
        for (quint8 unit : {1, 2, 3})
            QTRY_VERIFY_WITH_TIMEOUT(reader.online(unit), 20000);
        QList<quint32> before;
        for (quint8 unit : {1, 2, 3})
            before << reader.u32(unit, 106);
        for (int k = 0; k < 20; ++k) {
            ::kill(static_cast<pid_t>(gw.pid()), SIGHUP);
            QTest::qWait(300);
        }
        for (quint8 unit : {1, 2, 3})
            QVERIFY2(reader.u32(unit, 106) >= before[unit - 1] + 2, qPrintable(QString::number(unit)));
        QVERIFY(gw.stop());
    }

    // The search for modules takes turns with the polls: the first module
    // found is served while the search still looks at the other addresses.
    void searchBetweenPolls()
    {
        SimProcess sim;
        QVERIFY2(
            sim.start({QStringLiteral("--wire-time"), QStringLiteral("--module"), QStringLiteral("1:3510"),
                       QStringLiteral("--module"), QStringLiteral("12:3520:1.08:19200")}),
            qPrintable(sim.errorString()));
        GatewayProcess gw;
        QVERIFY(gw.start({QStringLiteral("--adapter"), QStringLiteral("lan"), QStringLiteral("--ip"),
                          QStringLiteral("127.0.0.1"), QStringLiteral("--udp-port"),
                          QString::number(sim.udpPort()), QStringLiteral("--udp-timeout"),
                          QStringLiteral("300"), QStringLiteral("--address"), QStringLiteral("1-12"),
                          QStringLiteral("--baud"), QStringLiteral("9600,19200")}));
        Reader reader(gw.modbusPort);
        QTRY_VERIFY_WITH_TIMEOUT(reader.read(1, 0, 2).value(0) >= 0, 30000);
        // Module 12 answers only the last probe of the search.
        QCOMPARE(reader.read(12, 100, 1), QList<int>{-10});
        QTRY_VERIFY_WITH_TIMEOUT(reader.online(12), 60000);
        QVERIFY(gw.stop());
    }

    // A configuration that is not a regular file is refused at once: a
    // FIFO would hang the start, or a reload and with it SIGTERM.
    void configNotAFile_data()
    {
        QTest::addColumn<QString>("when");
        QTest::newRow("start") << "start";
        QTest::newRow("check") << "check";
        QTest::newRow("reload") << "reload";
    }
    void configNotAFile()
    {
        QFETCH(QString, when);
        const QString fifo = dir.filePath(QStringLiteral("fifo-%1.fifo").arg(when));
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        if (when != u"reload") {
            int code = -1;
            const QString out = RunTool(
                GatewayProcess::program(),
                {when == u"start" ? QStringLiteral("--config") : QStringLiteral("--check-config"), fifo},
                &code, 10000);
            QCOMPARE(code, 2);
            QVERIFY2(out.contains(fifo + QStringLiteral(": není obyčejný soubor")), qPrintable(out));
            return;
        }
        SimProcess sim;
        QVERIFY2(sim.start({QStringLiteral("--module"), QStringLiteral("1:3510")}),
                 qPrintable(sim.errorString()));
        const QString ini = busFile(QStringLiteral("fifo"), sim, {QStringLiteral("1:9600")});
        GatewayProcess gw;
        QVERIFY(gw.start({QStringLiteral("--config"), ini}));
        Reader reader(gw.modbusPort);
        QTRY_VERIFY_WITH_TIMEOUT(reader.online(1), 20000);
        QVERIFY(QFile::remove(ini));
        QVERIFY(QFile::rename(fifo, ini));
        ::kill(static_cast<pid_t>(gw.pid()), SIGHUP);
        QString log;
        QTRY_VERIFY_WITH_TIMEOUT((log += gw.log()).contains(QStringLiteral("není obyčejný soubor")), 10000);
        QVERIFY(log.contains(QStringLiteral("platí dosavadní")));
        QVERIFY(reader.online(1));
        QVERIFY(gw.stop());
    }

    // Unfinished HTTP requests, more of them than civetweb had threads
    // before, leave /metrics answering.
    void slowMetricsClients()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("curl")).isEmpty())
            QSKIP("curl is not installed (make deps)");
        SimProcess sim;
        QVERIFY2(sim.start({QStringLiteral("--module"), QStringLiteral("1:3510")}),
                 qPrintable(sim.errorString()));
        GatewayProcess gw;
        QVERIFY(gw.start({QStringLiteral("--config"),
                          busFile(QStringLiteral("metrics"), sim, {QStringLiteral("1:9600")}),
                          QStringLiteral("--metrics"), QStringLiteral("127.0.0.1:0")}));
        std::vector<std::unique_ptr<QTcpSocket>> slow;
        for (int k = 0; k < 3; ++k) {
            slow.push_back(std::make_unique<QTcpSocket>());
            slow.back()->connectToHost(QStringLiteral("127.0.0.1"), gw.metricsPort);
            QVERIFY(slow.back()->waitForConnected(5000));
            slow.back()->write("GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n"); // never ends
            QVERIFY(slow.back()->waitForBytesWritten(5000));
        }
        QTest::qWait(200);
        int code = -1;
        // civetweb's defaults held the answer for 30 s.
        const QString out =
            RunTool(QStringLiteral("curl"),
                    {QStringLiteral("-sS"), QStringLiteral("--max-time"), QStringLiteral("15"),
                     QStringLiteral("http://127.0.0.1:%1/metrics").arg(gw.metricsPort)},
                    &code, 30000);
        QCOMPARE(code, 0);
        QVERIFY2(out.contains(QStringLiteral("rq_module_up")), qPrintable(out.left(500)));
        QVERIFY(gw.stop());
    }

    // 500 MQTT commands at once: each gets a result, those beyond the
    // module's queue are refused saying so, and the polls go on.
    void commandFlood()
    {
        if (const QString why = Broker::missing(); !why.isEmpty())
            QSKIP(qPrintable(why));
        Broker broker;
        QVERIFY2(broker.start(dir.path(), false, false), qPrintable(broker.log()));
        SimProcess sim;
        QVERIFY2(
            sim.start({QStringLiteral("--wire-time"), QStringLiteral("--module"), QStringLiteral("1:3510")}),
            qPrintable(sim.errorString()));
        GatewayProcess gw;
        QVERIFY(gw.start({QStringLiteral("--config"),
                          busFile(QStringLiteral("flood"), sim, {QStringLiteral("1:9600")}),
                          QStringLiteral("--allow-writes"), QStringLiteral("--mqtt"),
                          QStringLiteral("127.0.0.1:%1").arg(broker.port)}));
        Reader reader(gw.modbusPort);
        QTRY_VERIFY_WITH_TIMEOUT(reader.online(1), 20000);
        Broker::Watch watch(broker, QStringLiteral("rq/flood/1/dout/result"),
                            QStringLiteral("rq/flood/status"));
        QVERIFY(watch.subscribed());
        const quint32 cycles = reader.u32(1, 106);
        QProcess pub;
        pub.start(QStringLiteral("mosquitto_pub"),
                  broker.args({QStringLiteral("-q"), QStringLiteral("1"), QStringLiteral("-t"),
                               QStringLiteral("rq/flood/1/dout/7/set"), QStringLiteral("-l")}));
        QVERIFY(pub.waitForStarted(5000));
        QByteArray lines;
        for (int k = 0; k < 500; ++k)
            lines += k % 2 ? "OFF\n" : "ON\n";
        pub.write(lines);
        pub.closeWriteChannel();
        QVERIFY(pub.waitForFinished(30000));
        QList<QByteArray> results;
        QTRY_VERIFY_WITH_TIMEOUT(
            (results = watch.messages(QStringLiteral("rq/flood/1/dout/result"))).size() >= 500, 60000);
        QCOMPARE(results.size(), 500);
        int ok = 0, refused = 0;
        for (const QByteArray &r : results) {
            ok += r == "{\"ok\":true}";
            refused += r.contains("povel odmítnut: na modul 1 už čeká 16 povelů");
        }
        QCOMPARE(ok + refused, 500);
        QVERIFY(refused > 0);
        QTRY_VERIFY_WITH_TIMEOUT(reader.u32(1, 106) > cycles + 2, 20000);
        QVERIFY(gw.stop());
    }
};

QTEST_MAIN(TestGatewaySched)
#include "tst_gateway_sched.moc"
