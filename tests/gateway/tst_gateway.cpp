// rqgw against rqsim, read and written by clients nobody here wrote: mbpoll
// and pymodbus; the bus shared with rqtool and the EEPROM dialog through the
// LAN converter protocol.
#include "GatewayProcess.h"

#include "app/Dekl.h"
#include "comm/Kxxx638.h"
#include "dio/KonfigEEPROM.h"
#include "support/Hooks.h"
#include "support/QuestionHook.h"
#include "support/SimProcess.h"

#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <bit>
#include <csignal>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
const QString Python = QStringLiteral("/usr/bin/python3");
const QString Client = QStringLiteral(RQ_GW_TEST_DIR "/modbus_client.py");
const QString Rqtool = QStringLiteral(RQ_BIN_DIR "/rqtool");

bool havePymodbus()
{
    int code = -1;
    RunTool(Python, {QStringLiteral("-c"), QStringLiteral("import pymodbus.client")}, &code);
    return code == 0;
}

float floatOf(const QStringList &regs, int at)
{
    const quint32 bits = regs.at(at).toUInt() << 16 | regs.at(at + 1).toUInt();
    return std::bit_cast<float>(bits);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// One Modbus TCP request written by hand: unit, function 4, address, count.
QByteArray readInputFrame(quint8 unit, quint16 address, quint16 count)
{
    return QByteArray::fromHex("000100000006") + char(unit) + char(4) + char(address >> 8) + char(address) +
           char(count >> 8) + char(count);
}
} // namespace

class TestGateway : public QObject
{
    Q_OBJECT
    SimProcess sim;
    GatewayProcess gw;  // from a configuration file, writes off, a module that is not there
    GatewayProcess gww; // from the command line, found by a search, writes allowed
    QTemporaryDir dir;
    QString ini;

    QStringList client(quint16 port, const QStringList &ops)
    {
        const QString out = RunTool(Python, QStringList{Client, QString::number(port)} + ops);
        return out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    QString one(quint16 port, const QString &op) { return client(port, {op}).value(0); }
    QStringList regs(quint16 port, const QString &op)
    {
        const QString r = one(port, op);
        return r.startsWith(u"ok ") ? r.mid(3).split(QLatin1Char(',')) : QStringList{};
    }
    quint32 u32(quint16 port, int unit, int reg)
    {
        const QStringList r = regs(port, QStringLiteral("ir:%1:%2:2").arg(unit).arg(reg));
        return r.size() == 2 ? r[0].toUInt() << 16 | r[1].toUInt() : 0;
    }
    static QStringList lanArgs(quint16 port, int timeoutMs = 2000)
    {
        return QStringLiteral("--adapter lan --ip 127.0.0.1 --udp-port %1 --udp-timeout %2")
            .arg(port)
            .arg(timeoutMs)
            .split(QLatin1Char(' '));
    }

private slots:
    void initTestCase()
    {
        if (!havePymodbus())
            QSKIP(
                "python3-pymodbus is not installed (make deps): the gateway tests need a client nobody here wrote");
        QVERIFY(dir.isValid());
        QVERIFY2(sim.start({QStringLiteral("--module"), QStringLiteral("1:3510:1.08"),
                            QStringLiteral("--module"), QStringLiteral("2:3530:1.08:19200"),
                            QStringLiteral("--module"), QStringLiteral("5:3520")}),
                 qPrintable(sim.errorString()));
        ini = dir.filePath(QStringLiteral("bus.ini"));
        QVERIFY(writeFile(
            ini,
            QStringLiteral("; a test bus\n[gateway]\nname=test\noffline-retry=1000\nconverter-writes=yes\n"
                           "[bus]\nadapter=lan\nip=127.0.0.1\nudp-port=%1\nudp-timeout=100\n"
                           "[module m1]\naddress=1\n[module m2]\naddress=2\nbaud=19200\n"
                           "[module m5]\naddress=5\n[module ghost]\naddress=9\n")
                .arg(sim.udpPort())
                .toUtf8()));
        QVERIFY(gw.start(
            {QStringLiteral("--config"), ini, QStringLiteral("--converter"), QStringLiteral("127.0.0.1:0")}));
        QVERIFY(gww.start(lanArgs(sim.udpPort()) +
                          QStringList{QStringLiteral("--address"), QStringLiteral("1,2,5"),
                                      QStringLiteral("--baud"), QStringLiteral("9600,19200"),
                                      QStringLiteral("--allow-writes"), QStringLiteral("--word-order"),
                                      QStringLiteral("low-first")}));
        for (int unit : {1, 2, 5}) {
            QTRY_COMPARE_WITH_TIMEOUT(one(gw.modbusPort, QStringLiteral("ir:%1:100:1").arg(unit)),
                                      QStringLiteral("ok 1"), 15000);
            QTRY_COMPARE_WITH_TIMEOUT(one(gww.modbusPort, QStringLiteral("ir:%1:100:1").arg(unit)),
                                      QStringLiteral("ok 1"), 30000);
        }
    }

    // The commands the user guide prints read what rqsim's ain set: input
    // registers high word first (mbpoll -B), and holding registers, the same
    // map, from the gateway set to word-order=low-first (mbpoll's own order).
    void mbpollReadsInputs_data()
    {
        QTest::addColumn<bool>("lowFirst");
        QTest::addColumn<QString>("args");
        QTest::newRow("input registers") << false << "-t 3:float -B";
        QTest::newRow("holding registers, low word first") << true << "-t 4:float";
    }
    void mbpollReadsInputs()
    {
        QFETCH(bool, lowFirst);
        QFETCH(QString, args);
        const quint16 port = lowFirst ? gww.modbusPort : gw.modbusPort;
        for (int k = 0; k < 12; ++k)
            QVERIFY(sim.setInput(1, k, 0.1 * (k + 1) - 0.55));
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                QStringList r = regs(port, QStringLiteral("ir:1:22:2"));
                if (lowFirst && r.size() == 2)
                    r.swapItemsAt(0, 1);
                return r.size() == 2 && std::abs(floatOf(r, 0) - 0.65f) < 1e-4;
            }(),
            10000);
        int code = -1;
        const QString out = RunTool(QStringLiteral("mbpoll"),
                                    QStringLiteral("-m tcp -p %1 -a 1 -0 -r 0 -c 12 %2 -1 127.0.0.1")
                                        .arg(port)
                                        .arg(args)
                                        .split(QLatin1Char(' ')),
                                    &code);
        if (out.isEmpty())
            QSKIP("mbpoll is not installed (make deps)");
        QCOMPARE(code, 0);
        const QRegularExpression line(QStringLiteral("\\[(\\d+)\\]:\\s+(\\S+)"));
        int seen = 0;
        for (auto m = line.globalMatch(out); m.hasNext();) {
            const auto match = m.next();
            const int k = match.captured(1).toInt() / 2;
            QVERIFY2(std::abs(match.captured(2).toDouble() - (0.1 * (k + 1) - 0.55)) < 1e-4, qPrintable(out));
            ++seen;
        }
        QCOMPARE(seen, 12);
    }

    void registerMap_data()
    {
        QTest::addColumn<QString>("op");
        QTest::addColumn<QString>("expected");
        // Units: RQ-3510 and RQ-3520 measure volts on their default ranges,
        // the RQ-3530 ohms on inputs 0..5 and nothing on 6..11; the
        // thermometer is set to °C.
        QTest::newRow("RQ-3510 units") << "ir:1:26:13"
                                       << "ok 1,1,1,1,1,1,1,1,1,1,1,1,3";
        QTest::newRow("RQ-3530 units") << "ir:2:26:13"
                                       << "ok 2,2,2,2,2,2,0,0,0,0,0,0,3";
        QTest::newRow("RQ-3530 lacks AIN7: NaN") << "ir:2:14:2"
                                                 << "ok 32704,0";
        QTest::newRow("no module on unit") << "ir:7:0:2"
                                           << "ex 10";
        QTest::newRow("module not answering") << "ir:9:0:2"
                                              << "ex 11";
        QTest::newRow("its state is served") << "ir:9:100:1"
                                             << "ok 0";
        QTest::newRow("gap in the map") << "ir:1:38:2"
                                        << "ex 2";
        QTest::newRow("coil 32") << "co:1:32:1"
                                 << "ex 2";
        QTest::newRow("write without --allow-writes") << "wc:1:0:1"
                                                      << "ex 1";
        QTest::newRow("holding registers: the same map") << "hr:1:26:13"
                                                         << "ok 1,1,1,1,1,1,1,1,1,1,1,1,3";
        QTest::newRow("device identification") << "id:2:0:2"
                                               << "ok 0=RQ,1=RQ-3530,2=1.08,6=2";
        QTest::newRow("report server id: unit, running, model")
            << "sid:2:0:0" << QStringLiteral("ok 02ff") + QString::fromLatin1(QByteArray("RQ-3530").toHex());
    }
    void registerMap()
    {
        QFETCH(QString, op);
        QFETCH(QString, expected);
        QCOMPARE(one(gw.modbusPort, op), expected);
    }

    void inputsAndStatus()
    {
        QVERIFY(sim.setDigitalInputs(5, 0x12345678));
        QVERIFY(sim.ok(QStringLiteral("status 5 0x80000040")));
        // The module inverts every input by default (DIN negation 0xFF).
        QString bits;
        for (int n = 0; n < 32; ++n)
            bits += (~0x12345678u >> n) & 1 ? QStringLiteral("1,") : QStringLiteral("0,");
        bits.chop(1);
        QTRY_COMPARE_WITH_TIMEOUT(one(gw.modbusPort, QStringLiteral("di:5:0:32")),
                                  QStringLiteral("ok ") + bits, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(u32(gw.modbusPort, 5, 104), 0x80000040u, 10000);
    }

    void coilWrites_data()
    {
        QTest::addColumn<QString>("op");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<quint32>("latched"); // rqsim's outputs afterwards
        QTest::newRow("one coil") << "wc:1:3:1"
                                  << ""
                                  << "ok" << 0x00000008u;
        QTest::newRow("some coils keep the others") << "wm:1:8:1011"
                                                    << ""
                                                    << "ok" << 0x00000D08u;
        QTest::newRow("the last coil") << "wc:1:31:1"
                                       << ""
                                       << "ok" << 0x80000D08u;
        QTest::newRow("module refuses") << "wc:1:0:1"
                                        << "module=1 cmd=1 error=4"
                                        << "ex 4" << 0x80000D08u;
        QTest::newRow("past the coils") << "wm:1:30:111"
                                        << ""
                                        << "ex 2" << 0x80000D08u;
        QTest::newRow("holding registers are read-only") << "wr:1:0:1"
                                                         << ""
                                                         << "ex 1" << 0x80000D08u;
    }
    void coilWrites()
    {
        QFETCH(QString, op);
        QFETCH(QString, fault);
        QFETCH(QString, expected);
        QFETCH(quint32, latched);
        if (QTest::currentDataTag() == QByteArrayLiteral("one coil")) {
            QCOMPARE(sim.outputs(1), 0u); // the initial state after power-up
            // Two gateways poll this bus: the one that saw the restart first
            // cleared it, so the other may not know the outputs. All 32 make them known.
            QCOMPARE(one(gww.modbusPort, QStringLiteral("wm:1:0:") + QString(32, QLatin1Char('0'))),
                     QStringLiteral("ok"));
        }
        if (!fault.isEmpty())
            QVERIFY(sim.addFault(fault));
        QCOMPARE(one(gww.modbusPort, op), expected);
        QVERIFY(sim.clearFaults());
        QCOMPARE(sim.outputs(1), latched);
        QCOMPARE(one(gww.modbusPort, QStringLiteral("ir:1:110:1")), QStringLiteral("ok 1")); // known now
        QString bits;
        for (int n = 0; n < 32; ++n)
            bits += (latched >> n) & 1 ? QStringLiteral("1,") : QStringLiteral("0,");
        bits.chop(1);
        QCOMPARE(one(gww.modbusPort, QStringLiteral("co:1:0:32")), QStringLiteral("ok ") + bits);
    }

    // A module that stops answering goes offline after three failed cycles,
    // costs the others one timeout a retry period, and comes back.
    void switchedOffModule()
    {
        QVERIFY(sim.addFault(QStringLiteral("module=5 drop")));
        QTRY_COMPARE_WITH_TIMEOUT(one(gw.modbusPort, QStringLiteral("ir:5:100:1")), QStringLiteral("ok 0"),
                                  10000);
        QCOMPARE(one(gw.modbusPort, QStringLiteral("ir:5:0:2")), QStringLiteral("ex 11"));
        QCOMPARE(one(gw.modbusPort, QStringLiteral("ir:5:101:1")),
                 QStringLiteral("ok 20")); // "Modul neodpovídá"
        const quint32 failed = u32(gw.modbusPort, 5, 108);
        const quint32 others = u32(gw.modbusPort, 1, 106);
        QTest::qWait(2500);
        // Offline-retry 1000 ms: a few single tries, not a cycle after cycle.
        QVERIFY(u32(gw.modbusPort, 5, 108) - failed <= 4);
        QVERIFY(u32(gw.modbusPort, 1, 106) - others > 10);
        QVERIFY(sim.clearFaults());
        QTRY_COMPARE_WITH_TIMEOUT(one(gw.modbusPort, QStringLiteral("ir:5:100:1")), QStringLiteral("ok 1"),
                                  10000);
    }

    void retries_data()
    {
        QTest::addColumn<int>("retries");
        QTest::addColumn<int>("drops");
        QTest::addColumn<quint32>("failedCycles");
        QTest::newRow("two lost replies, retried") << 2 << 2 << 0u;
        QTest::newRow("no retries") << 0 << 2 << 2u;
    }
    void retries()
    {
        QFETCH(int, retries);
        QFETCH(int, drops);
        QFETCH(quint32, failedCycles);
        SimProcess own;
        QVERIFY(own.start({QStringLiteral("--module"), QStringLiteral("1:3510")}));
        GatewayProcess g;
        QVERIFY(g.start(lanArgs(own.udpPort(), 200) +
                        QStringList{QStringLiteral("--address"), QStringLiteral("1"),
                                    QStringLiteral("--retries"), QString::number(retries)}));
        QTRY_COMPARE_WITH_TIMEOUT(one(g.modbusPort, QStringLiteral("ir:1:100:1")), QStringLiteral("ok 1"),
                                  10000);
        QVERIFY(own.addFault(QStringLiteral("module=1 cmd=0 sub=3 drop count=%1").arg(drops)));
        QTRY_COMPARE_WITH_TIMEOUT(
            own.command(QStringLiteral("faults")).contains(QStringLiteral("hits=%1").arg(drops)), true,
            20000);
        const quint32 done = u32(g.modbusPort, 1, 106);
        QTRY_VERIFY_WITH_TIMEOUT(u32(g.modbusPort, 1, 106) > done + 2, 10000);
        QCOMPARE(u32(g.modbusPort, 1, 108), failedCycles);
        QVERIFY(g.stop());
    }

    // rqtool and the EEPROM dialog reach a module through the gateway while
    // mbpoll polls it; every byte matches the module's memory.
    void sharedBus()
    {
        QProcess poll;
        poll.start(QStringLiteral("mbpoll"),
                   QStringLiteral("-m tcp -p %1 -a 2 -0 -r 0 -c 12 -t 3:float -B -l 100 127.0.0.1")
                       .arg(gw.modbusPort)
                       .split(QLatin1Char(' ')));
        const QStringList via =
            lanArgs(gw.converterPort) + QStringList{QStringLiteral("--address"), QStringLiteral("2"),
                                                    QStringLiteral("--baud"), QStringLiteral("19200"),
                                                    QStringLiteral("--quiet")};
        const QString backup = dir.filePath(QStringLiteral("m2.kee"));
        int code = -1;
        RunTool(Rqtool, via + QStringList{QStringLiteral("backup"), backup}, &code);
        QCOMPARE(code, 0);
        QFile f(backup);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QByteArray image = f.readAll();
        f.close();
        QCOMPARE(image, sim.memory(2));

        // Changed settings and calibration bytes on both pages go back through the gateway.
        for (int a : {20, 23, 40, 100, 300, 511})
            image[a] = static_cast<char>(a * 7);
        const QString changed = dir.filePath(QStringLiteral("m2-changed.kee"));
        QVERIFY(writeFile(changed, image));
        const QString out = RunTool(
            Rqtool, via + QStringList{QStringLiteral("restore"), changed, QStringLiteral("--yes")}, &code);
        QVERIFY2(code == 0, qPrintable(out));
        QCOMPARE(sim.memory(2), image);

        // The EEPROM dialog of the program, with the gateway as its LAN converter.
        TData data;
        SetDefaults(&data);
        QByteArray ip = QByteArrayLiteral("127.0.0.1");
        InitBlock block{};
        block[0] = reinterpret_cast<std::uintptr_t>(ip.constData());
        block[1] = gw.converterPort;
        block[2] = 2000;
        data.adapterKind = 4;
        QCOMPARE(OpenAdapter(4, &data.handle, block), 0u);
        QCOMPARE(ConfigureAdapter(4, data.handle, 19200, 2000, 0), 0u);
        data.connected = true;
        data.moduleAddress = 2;
        data.baudRate = 19200;
        {
            PauseRecorder pauses;
            TForm5 d;
            d.Data = &data;
            d.FormShow();
            const QString file = dir.filePath(QStringLiteral("dialog.kee"));
            d.chooseFile = [&](const QString &) { return std::optional<QString>(file); };
            d.Button5Click();
            d.Button2Click();
            QCOMPARE(d.statusText(), QStringLiteral(" Konfigurace přečtena."));
            QFile g(file);
            QVERIFY(g.open(QIODevice::ReadOnly));
            QCOMPARE(g.readAll(), sim.memory(2));
        }
        CloseAdapter(4, &data.handle);
        poll.kill();
        poll.waitForFinished();
        // Polling went on: the module is still served.
        QTRY_COMPARE_WITH_TIMEOUT(one(gw.modbusPort, QStringLiteral("ir:2:100:1")), QStringLiteral("ok 1"),
                                  10000);
    }

    // Garbage, a frame too long and a cut one leave the gateway serving
    // with its descriptors back where they were (many connections: the
    // hostile clients' test).
    void badClients()
    {
        const int fds = gw.openFds();
        QVERIFY(fds > 0);
        const QList<QByteArray> bad = {
            QByteArray(300, '\xAA'), QByteArray::fromHex("0001000000FF01") + QByteArray(400, 'x'),
            QByteArray::fromHex("00010005000601040000"), readInputFrame(1, 0, 2).left(5)};
        for (const QByteArray &bytes : bad) {
            QTcpSocket s;
            s.connectToHost(QStringLiteral("127.0.0.1"), gw.modbusPort);
            QVERIFY(s.waitForConnected(3000));
            s.write(bytes);
            s.waitForBytesWritten(1000);
            s.waitForReadyRead(500);
        }
        QCOMPARE(one(gw.modbusPort, QStringLiteral("ir:1:100:1")), QStringLiteral("ok 1"));
        // TCP's own retransmissions may take a while on a loaded machine.
        QTRY_COMPARE_WITH_TIMEOUT(gw.openFds(), fds, 30000);
    }

    // SIGHUP takes a new configuration without dropping a connected client;
    // a broken one is refused and the old one stays.
    void reload()
    {
        QTcpSocket s;
        s.connectToHost(QStringLiteral("127.0.0.1"), gw.modbusPort);
        QVERIFY(s.waitForConnected(3000));
        const auto ask = [&s](quint8 unit) {
            s.write(readInputFrame(unit, 100, 1));
            QByteArray r;
            while (r.size() < 9 && s.waitForReadyRead(3000))
                r += s.readAll();
            return r.mid(7);
        };
        QCOMPARE(ask(1), QByteArray::fromHex("04020001"));
        QCOMPARE(ask(7), QByteArray::fromHex("840A"));
        QFile f(ini);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QByteArray good = f.readAll();
        f.close();
        QVERIFY(writeFile(ini, good + "[module seven]\naddress=1\nunit=7\n[module m1]\naddress=1\n"));
        ::kill(static_cast<pid_t>(gw.pid()), SIGHUP);
        QString log;
        QTRY_VERIFY_WITH_TIMEOUT((log += gw.log()).contains(QStringLiteral("platí dosavadní")), 5000);
        QVERIFY(writeFile(ini, QByteArray(good).replace("[module ghost]\naddress=9\n",
                                                        "[module seven]\naddress=1\nunit=7\n")));
        ::kill(static_cast<pid_t>(gw.pid()), SIGHUP);
        QTRY_COMPARE_WITH_TIMEOUT(ask(7), QByteArray::fromHex("04020001"), 10000);
        QCOMPARE(ask(1), QByteArray::fromHex("04020001"));
    }

    // The service unit passes systemd-analyze where it is there; the program
    // started as the unit starts it tells a service manager it is ready,
    // feeds the watchdog, reloads on SIGHUP and stops cleanly on SIGTERM.
    void runsAsTheUnitWould()
    {
        QFile unitFile(QStringLiteral(RQ_SOURCE_DIR "/packaging/rqgw@.service"));
        QVERIFY(unitFile.open(QIODevice::ReadOnly));
        const QString unit = QString::fromUtf8(unitFile.readAll());
        for (const char *line :
             {"Type=notify", "WatchdogSec=", "ConfigurationDirectory=rqgw", "SupplementaryGroups=dialout",
              "ProtectSystem=strict", "NoNewPrivileges=yes"})
            QVERIFY2(unit.contains(QLatin1String(line)), line);
        const QString exec =
            QRegularExpression(QStringLiteral("\\nExecStart=(\\S+) (.*)\\n")).match(unit).captured(2);
        QCOMPARE(exec, QStringLiteral("--config /etc/rqgw/%i.ini"));
        if (!QStandardPaths::findExecutable(QStringLiteral("systemd-analyze")).isEmpty()) {
            QString copy = unit;
            copy.replace(QStringLiteral("/usr/bin/rqgw"), GatewayProcess::program());
            const QString path = dir.filePath(QStringLiteral("rqgw@test.service"));
            QVERIFY(writeFile(path, copy.toUtf8()));
            int code = -1;
            const QString out = RunTool(QStringLiteral("systemd-analyze"),
                                        {QStringLiteral("verify"), QStringLiteral("--man=no"), path}, &code);
            QVERIFY2(code == 0, qPrintable(out));
            // A network daemon's exposure of 2.5 at most (systemd's own scale).
            const QString security = RunTool(QStringLiteral("systemd-analyze"),
                                             {QStringLiteral("security"), QStringLiteral("--offline=yes"),
                                              QStringLiteral("--threshold=25"), path},
                                             &code);
            QVERIFY2(code == 0, qPrintable(security));
        }

        const QByteArray socketPath = QFile::encodeName(dir.filePath(QStringLiteral("notify")));
        const int sock = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        qstrncpy(addr.sun_path, socketPath.constData(), sizeof addr.sun_path);
        QVERIFY(::bind(sock, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0);
        const auto expect = [sock](const QByteArray &what) {
            for (int k = 0; k < 50; ++k) {
                pollfd p{sock, POLLIN, 0};
                if (::poll(&p, 1, 200) <= 0)
                    continue;
                char buf[256];
                const ssize_t n = ::recv(sock, buf, sizeof buf, 0);
                if (n > 0 && QByteArray(buf, static_cast<int>(n)).split('\n').contains(what))
                    return true;
            }
            return false;
        };
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("NOTIFY_SOCKET"), QString::fromLocal8Bit(socketPath));
        env.insert(QStringLiteral("WATCHDOG_USEC"), QStringLiteral("600000"));
        p.setProcessEnvironment(env);
        p.start(GatewayProcess::program(),
                {QStringLiteral("--config"), ini, QStringLiteral("--modbus"), QStringLiteral("127.0.0.1:0")});
        QVERIFY(expect("READY=1"));
        QVERIFY(expect("WATCHDOG=1"));
        ::kill(static_cast<pid_t>(p.processId()), SIGHUP);
        QVERIFY(expect("RELOADING=1"));
        QVERIFY(expect("READY=1"));
        ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
        QVERIFY(expect("STOPPING=1"));
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), 0);
        ::close(sock);
    }

    // An adapter that cannot be opened is reported and tried again; clients
    // meanwhile learn that the module does not answer.
    void adapterMissing()
    {
        qputenv("RQ_COM7", QFile::encodeName(dir.filePath(QStringLiteral("no-such-tty"))));
        const QString cfg = dir.filePath(QStringLiteral("com.ini"));
        QVERIFY(writeFile(cfg, "[bus]\nadapter=com\ncom=7\n[module a]\naddress=1\n"));
        GatewayProcess g;
        QVERIFY(g.start({QStringLiteral("--config"), cfg}));
        QCOMPARE(one(g.modbusPort, QStringLiteral("ir:1:0:2")), QStringLiteral("ex 11"));
        QCOMPARE(one(g.modbusPort, QStringLiteral("ir:1:100:1")), QStringLiteral("ok 0"));
        QString log;
        QTRY_VERIFY_WITH_TIMEOUT(
            (log += g.log()).contains(QStringLiteral("rozhraní nelze otevřít (zkusí se znovu za 10 s)")),
            5000);
        QVERIFY(g.stop());
    }

    // A broken configuration names file, line and key, and ends with 2.
    void checkConfig()
    {
        const QString bad = dir.filePath(QStringLiteral("bad.ini"));
        QVERIFY(writeFile(bad, "[bus]\nadapter=com\n[module a]\naddress=1\nbaud=9601\n"));
        int code = -1;
        QString out = RunTool(GatewayProcess::program(), {QStringLiteral("--check-config"), bad}, &code);
        QCOMPARE(code, 2);
        QVERIFY2(out.contains(bad + QStringLiteral(":5: baud: neplatná rychlost")), qPrintable(out));
        out = RunTool(GatewayProcess::program(), {QStringLiteral("--check-config"), ini}, &code);
        QCOMPARE(code, 0);
    }

    // A plant file: rqtool's plan and apply go through the gateway's
    // converter while it polls, and the gateway reports a module changed
    // behind the file's back, and again when it is set right.
    void plantFileDrift()
    {
        QUdpSocket free; // a port for the converter that the file can name
        QVERIFY(free.bind(QHostAddress::LocalHost, 0));
        const quint16 port = free.localPort();
        free.close();
        const QString plant = dir.filePath(QStringLiteral("zarizeni.ini"));
        QVERIFY(writeFile(
            plant, QStringLiteral("[gateway]\nname=drift\ndrift-interval=1000\nconverter=127.0.0.1:%1\n"
                                  "converter-writes=yes\n[bus]\nadapter=lan\nip=127.0.0.1\n"
                                  "udp-port=%2\nudp-timeout=300\n[module m5]\naddress=5\n")
                       .arg(port)
                       .arg(sim.udpPort())
                       .toUtf8()));
        const quint8 initial = static_cast<quint8>(sim.memoryByte(5, 35));
        QVERIFY(sim.setMemoryByte(5, 35, initial & ~0x02));
        // rqtool fills the section in (straight to the bus: the gateway is not
        // running yet), and the gateway takes the file as it is.
        int code = -1;
        QString out = RunTool(Rqtool,
                              lanArgs(sim.udpPort()) +
                                  QStringList{QStringLiteral("export"), QStringLiteral("--config"), plant},
                              &code);
        QVERIFY2(code == 0, qPrintable(out));
        QFile f(plant);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray exported = f.readAll();
        QVERIFY(exported.contains("\nmodel=RQ-3520\n") && exported.contains("\ndout9.initial=vypnuto\n"));
        f.close();
        RunTool(GatewayProcess::program(), {QStringLiteral("--check-config"), plant}, &code);
        QCOMPARE(code, 0);
        GatewayProcess g, h;
        QVERIFY(g.start(
            {QStringLiteral("--config"), plant, QStringLiteral("--metrics"), QStringLiteral("127.0.0.1:0")}));
        const bool curl = !QStandardPaths::findExecutable(QStringLiteral("curl")).isEmpty();
        const auto drift = [&](const GatewayProcess &gp) {
            const QString reg = one(gp.modbusPort, QStringLiteral("ir:5:111:1"));
            if (!curl)
                return reg;
            const QString text = RunTool(
                QStringLiteral("curl"),
                {QStringLiteral("-sf"), QStringLiteral("http://127.0.0.1:%1/metrics").arg(gp.metricsPort)});
            const auto m = QRegularExpression(
                               QStringLiteral("\nrq_config_drift\\{bus=\"drift\",address=\"5\"\\} (\\d)\n"))
                               .match(text);
            return QString(reg + QLatin1Char('/') + (m.hasMatch() ? m.captured(1) : QStringLiteral("-")));
        };
        const QString same = curl ? QStringLiteral("ok 0/0") : QStringLiteral("ok 0");
        const QString differs = curl ? QStringLiteral("ok 1/1") : QStringLiteral("ok 1");
        QTRY_COMPARE_WITH_TIMEOUT(drift(g), same, 15000);
        QVERIFY(sim.setMemoryByte(5, 35, initial | 0x02)); // behind the file's back
        QTRY_COMPARE_WITH_TIMEOUT(drift(g), differs, 15000);
        // Through the gateway's converter, as the file's [gateway] says.
        out = RunTool(Rqtool, {QStringLiteral("plan"), QStringLiteral("--config"), plant}, &code);
        QVERIFY2(code == 1, qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("m5 dout9.initial: zapnuto → vypnuto")), qPrintable(out));
        out = RunTool(Rqtool, {QStringLiteral("apply"), QStringLiteral("--config"), plant}, &code);
        QVERIFY2(code == 0, qPrintable(out));
        QCOMPARE(sim.memoryByte(5, 35), initial & ~0x02);
        QTRY_COMPARE_WITH_TIMEOUT(drift(g), same, 15000);
        QVERIFY(g.stop());

        // A period far longer than the test: the first check comes as soon
        // as the module answers, and a write of a client of the converter
        // is compared as soon as the client is done.
        QVERIFY(f.open(QIODevice::ReadOnly));
        QByteArray text = f.readAll();
        f.close();
        QVERIFY(writeFile(plant, text.replace("drift-interval=1000", "drift-interval=3600000")));
        QVERIFY(h.start(
            {QStringLiteral("--config"), plant, QStringLiteral("--metrics"), QStringLiteral("127.0.0.1:0")}));
        QTRY_COMPARE_WITH_TIMEOUT(drift(h), same, 15000);
        out = RunTool(Rqtool,
                      lanArgs(port) + QStringList{QStringLiteral("--address"), QStringLiteral("5"),
                                                  QStringLiteral("set"),
                                                  QStringLiteral("dout9.initial=zapnuto")},
                      &code);
        QVERIFY2(code == 0, qPrintable(out));
        QTRY_COMPARE_WITH_TIMEOUT(drift(h), differs, 15000);
        out = RunTool(Rqtool, {QStringLiteral("apply"), QStringLiteral("--config"), plant}, &code);
        QVERIFY2(code == 0, qPrintable(out));
        QTRY_COMPARE_WITH_TIMEOUT(drift(h), same, 15000);
        QVERIFY(h.stop());
        QVERIFY(sim.setMemoryByte(5, 35, initial));
    }

    void cleanupTestCase()
    {
        QVERIFY(gw.stop());
        QVERIFY(gww.stop());
    }
};

QTEST_MAIN(TestGateway)
#include "tst_gateway.moc"
