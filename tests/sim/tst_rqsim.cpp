// The module simulator on its own: raw request frames over UDP and the
// pseudo-terminal, the control channel and the state file.
#include "Faults.h"
#include "RqFrame.h"
#include "support/SimProcess.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <cmath>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Talks to rqsim the way the LAN converter library does, without the library.
class RawBus
{
public:
    explicit RawBus(quint16 port) : m_port(port) { m_socket.bind(QHostAddress::LocalHost, 0); }

    // Returns false when no reply came within 500 ms.
    bool ask(quint8 address, quint8 command, quint8 sub, std::array<quint8, 5> d, rqframe::Reply &reply,
             quint32 baud = 9600)
    {
        rqframe::Request request{address, command, sub, d};
        const auto frame = rqframe::encodeUdpRequest(request, ++m_sequence, baud);
        m_socket.writeDatagram(reinterpret_cast<const char *>(frame.data()),
                               static_cast<qint64>(frame.size()), QHostAddress::LocalHost, m_port);
        if (!m_socket.waitForReadyRead(500))
            return false;
        QByteArray data(static_cast<qsizetype>(m_socket.pendingDatagramSize()), '\0');
        m_socket.readDatagram(data.data(), data.size());
        quint16 sequence = 0;
        return rqframe::decodeUdpReply(reinterpret_cast<const quint8 *>(data.constData()),
                                       static_cast<std::size_t>(data.size()), reply,
                                       sequence) == rqframe::Decode::Ok &&
               sequence == m_sequence;
    }

    rqframe::Reply ask(quint8 address, quint8 command, quint8 sub, std::array<quint8, 5> d = {})
    {
        rqframe::Reply reply;
        reply.error = 0xEE; // "no reply" for the callers' comparisons
        if (!ask(address, command, sub, d, reply))
            reply.error = 0xEE;
        return reply;
    }

    int readByte(quint8 address, int at)
    {
        const auto r = ask(address, 102, static_cast<quint8>(at / 256),
                           {0, static_cast<quint8>(at % 256), static_cast<quint8>(at % 256), 0, 0});
        return r.error == 0 ? r.d[3] : -1;
    }
    bool writeByte(quint8 address, int at, int value)
    {
        const auto v = static_cast<quint8>(value);
        const auto r = ask(address, 103, static_cast<quint8>(at / 256),
                           {0, static_cast<quint8>(at % 256), static_cast<quint8>(at % 256), v, v});
        return r.error == 0;
    }
    double measure(quint8 address, quint8 sub, int *decimals = nullptr)
    {
        const auto r = ask(address, 0, sub);
        if (r.error != 0)
            return NAN;
        if (decimals)
            *decimals = r.d[4] & 0x7F;
        double m = ((r.d[3] & 0x7F) * 256.0 + r.d[2]) * 256.0 + r.d[1];
        if (r.d[3] & 0x80)
            m = -m;
        for (int i = 0; i < (r.d[4] & 0x7F); ++i)
            m /= 10;
        return m;
    }

private:
    QUdpSocket m_socket;
    quint16 m_port;
    quint16 m_sequence = 0;
};

// The port of a start line ("udp PORT", "control PORT") of an rqsim started
// without SimProcess; 0 when it did not come.
quint16 startLinePort(QProcess &p, const QByteArray &key)
{
    while (p.waitForReadyRead(5000))
        while (p.canReadLine()) {
            const QByteArray line = p.readLine().trimmed();
            if (line.startsWith(QByteArray(key + ' ')))
                return static_cast<quint16>(line.mid(key.size() + 1).toUInt());
        }
    return 0;
}

QByteArray text4(const rqframe::Reply &r)
{
    return QByteArray(reinterpret_cast<const char *>(r.d.data()) + 1, 4);
}

} // namespace

class tst_RqSim : public QObject
{
    Q_OBJECT

private slots:
    void help_describesTheTool()
    {
        QProcess p;
        p.start(SimProcess::program(), {QStringLiteral("--help")});
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), 0);
        const QByteArray out = p.readAllStandardOutput();
        QVERIFY(out.contains("--module"));
        QVERIFY(out.contains("--fault"));
    }

    void badArguments_failWithAMessage_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("model") << QStringList{QStringLiteral("-m"), QStringLiteral("1:3999")};
        QTest::newRow("address") << QStringList{QStringLiteral("-m"), QStringLiteral("300")};
        QTest::newRow("fault") << QStringList{QStringLiteral("--fault"), QStringLiteral("cmd=0 frobnicate")};
        QTest::newRow("baud") << QStringList{QStringLiteral("--baud"), QStringLiteral("1234")};
    }
    void badArguments_failWithAMessage()
    {
        QFETCH(QStringList, args);
        QProcess p;
        p.start(SimProcess::program(), args);
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY(p.readAllStandardError().startsWith("rqsim: "));
    }

    void identification_data()
    {
        QTest::addColumn<QString>("module");
        QTest::addColumn<QByteArray>("model");
        QTest::addColumn<QByteArray>("firmware");
        QTest::newRow("3510") << QStringLiteral("3:3510:1.08") << QByteArray("510 ") << QByteArray("1.08");
        QTest::newRow("3520") << QStringLiteral("3:RQ-3520:1.06") << QByteArray("520 ") << QByteArray("1.06");
        QTest::newRow("3530") << QStringLiteral("3:3530:2.00") << QByteArray("530 ") << QByteArray("2.00");
    }
    void identification()
    {
        QFETCH(QString, module);
        QFETCH(QByteArray, model);
        QFETCH(QByteArray, firmware);
        SimProcess sim;
        QVERIFY2(sim.start({QStringLiteral("-m"), module}), qPrintable(sim.errorString()));
        RawBus bus(sim.udpPort());
        QCOMPARE(text4(bus.ask(3, 200, 0)), QByteArray("RQ-3"));
        QCOMPARE(text4(bus.ask(3, 200, 1)), model);
        QCOMPARE(text4(bus.ask(3, 200, 2)), firmware);
        QCOMPARE(bus.ask(3, 200, 3).error, rqframe::ModuleBadSubcode);
    }

    void memoryDefaults_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<int>("range");
        QTest::addColumn<int>("range6");
        QTest::newRow("3510") << QStringLiteral("3510") << 6 << 6;
        QTest::newRow("3520") << QStringLiteral("3520") << 4 << 4;
        QTest::newRow("3530") << QStringLiteral("3530") << 0x83 << 0;
    }
    void memoryDefaults()
    {
        QFETCH(QString, model);
        QFETCH(int, range);
        QFETCH(int, range6);
        SimProcess sim;
        QVERIFY(sim.start({QStringLiteral("-m"), QStringLiteral("9:") + model, QStringLiteral("--baud"),
                           QStringLiteral("19200")}));
        RawBus bus(sim.udpPort());
        rqframe::Reply r;
        QVERIFY(bus.ask(9, 102, 0, {0, 0, 0, 0, 0}, r, 19200));
        QCOMPARE(int(r.d[3]), range);
        const QByteArray m = sim.memory(9);
        QCOMPARE(m.size(), 512);
        auto at = [&m](int i) { return int(quint8(m.at(i))); };
        QCOMPARE(at(5), range);
        QCOMPARE(at(6), range6);
        QCOMPARE(at(16), 12);
        QCOMPARE(at(23), 16);
        QCOMPARE(at(24), 39);
        QCOMPARE(at(25), 0);
        QCOMPARE(at(26), 0);
        QCOMPARE(at(27), 16);
        QCOMPARE(at(28), 39);
        QCOMPARE(at(29), 0x00);
        QCOMPARE(at(30), 0x80);
        QCOMPARE(at(31), 0x81);
        for (int k = 0; k < 4; ++k) {
            QCOMPARE(at(32 + 3 * k), 0x00);
            QCOMPARE(at(33 + 3 * k), 0xFF);
            QCOMPARE(at(34 + 3 * k), 0xFF);
        }
        QCOMPARE(at(62), 5);
        QCOMPARE(at(63), 9);
    }

    void measuredValues_followTheRangeByte_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<int>("rangeByte");
        QTest::addColumn<QString>("set"); // value and unit for "ain 1 0 ..."
        QTest::addColumn<double>("expected");
        QTest::addColumn<int>("decimals");
        QTest::addColumn<double>("tolerance");
        QTest::newRow("3510 2 V") << QStringLiteral("3510") << 6 << QStringLiteral("1.2345") << 1.2345 << 5
                                  << 1e-4;
        QTest::newRow("3510 50 mV") << QStringLiteral("3510") << 1 << QStringLiteral("-0.0421") << -0.0421
                                    << 7 << 3e-6;
        QTest::newRow("3510 500 ohm")
            << QStringLiteral("3510") << 8 << QStringLiteral("321.5 ohm") << 321.5 << 2 << 1e-9;
        QTest::newRow("3510 100 ohm clips")
            << QStringLiteral("3510") << 7 << QStringLiteral("150 ohm") << 100.0 << 3 << 1e-9;
        QTest::newRow("3520 TC J") << QStringLiteral("3520") << 7 << QStringLiteral("123.4 C") << 123.4 << 1
                                   << 1e-9;
        QTest::newRow("3520 200 mV") << QStringLiteral("3520") << 3 << QStringLiteral("0.15") << 0.15 << 6
                                     << 1e-5;
        QTest::newRow("3530 Pt100 C")
            << QStringLiteral("3530") << 0x24 << QStringLiteral("50 C") << 50.0 << 2 << 1e-9;
        QTest::newRow("3530 Pt100 ohm")
            << QStringLiteral("3530") << 0x04 << QStringLiteral("50 C") << 119.25 << 2 << 1e-9;
        QTest::newRow("3530 Pt100 K")
            << QStringLiteral("3530") << 0x14 << QStringLiteral("50 C") << 323.15 << 2 << 1e-9;
        QTest::newRow("3530 Pt100 F")
            << QStringLiteral("3530") << 0x34 << QStringLiteral("50 C") << 122.0 << 2 << 1e-9;
        QTest::newRow("3530 5 kohm") << QStringLiteral("3530") << 0x83 << QStringLiteral("1234.5 ohm")
                                     << 1234.5 << 1 << 1e-9;
    }
    void measuredValues_followTheRangeByte()
    {
        QFETCH(QString, model);
        QFETCH(int, rangeByte);
        QFETCH(QString, set);
        QFETCH(double, expected);
        QFETCH(int, decimals);
        QFETCH(double, tolerance);
        SimProcess sim;
        QVERIFY(sim.start({QStringLiteral("-m"), QStringLiteral("1:") + model}));
        RawBus bus(sim.udpPort());
        QVERIFY(bus.writeByte(1, 0, rangeByte));
        QVERIFY(sim.ok(QStringLiteral("ain 1 0 ") + set));
        int shown = -1;
        const double value = bus.measure(1, 0, &shown);
        QVERIFY2(std::fabs(value - expected) <= tolerance, qPrintable(QString::number(value, 'g', 12)));
        QCOMPARE(shown, decimals);
    }

    void inputsOutsideTheModel_areRefused()
    {
        SimProcess sim;
        QVERIFY(sim.start({QStringLiteral("-m"), QStringLiteral("1:3530")}));
        RawBus bus(sim.udpPort());
        QCOMPARE(bus.ask(1, 0, 5).error, rqframe::ModuleOk);
        // Inputs an RQ-3530 lacks read 0, so a monitor asking all twelve completes.
        const auto missing = bus.ask(1, 0, 6);
        QCOMPARE(missing.error, rqframe::ModuleOk);
        QCOMPARE(missing.d[1] | missing.d[2] | missing.d[3] | missing.d[4], 0);
        QCOMPARE(bus.ask(1, 0, 12).error, rqframe::ModuleBadSubcode);
        QCOMPARE(bus.ask(1, 0, 17).error, rqframe::ModuleBadSubcode);
        QCOMPARE(bus.ask(1, 1, 0).error, rqframe::ModuleBadSubcode);
        QCOMPARE(bus.ask(1, 102, 2).error, rqframe::ModuleBadSubcode);
        QCOMPARE(bus.ask(1, 42, 0).error, rqframe::ModuleUnknownCommand);
        QVERIFY(bus.writeByte(1, 0, 0x8F)); // sensor type 15 does not exist
        QCOMPARE(bus.ask(1, 0, 0).error, rqframe::ModuleBadData);
    }

    void thermometer_settingChoosesTheAnswer()
    {
        SimProcess sim;
        QVERIFY(sim.start({QStringLiteral("--temp"), QStringLiteral("25")}));
        RawBus bus(sim.udpPort());
        int decimals = -1;
        QCOMPARE(bus.measure(1, 16, &decimals), 25.0);
        QCOMPARE(decimals, 1);
        QVERIFY(bus.writeByte(1, 31, 0x80)); // raw counts: tenths of a kelvin with no errors
        auto r = bus.ask(1, 0, 16);
        QCOMPARE(r.d[2] * 256 + r.d[1], 2981);
        QVERIFY(bus.writeByte(1, 31, 0x01)); // off
        r = bus.ask(1, 0, 16);
        QCOMPARE(r.error, rqframe::ModuleOk);
        QCOMPARE(r.d[1] | r.d[2] | r.d[3] | r.d[4], 0);
    }

    // The module applies the constants the service tool computes, and they
    // remove the simulated gain and offset error.
    void analogCalibration_removesTheSimulatedErrors()
    {
        SimProcess sim;
        QVERIFY(sim.start({QStringLiteral("--ain-gain-error"), QStringLiteral("0.02"),
                           QStringLiteral("--ain-offset-error"), QStringLiteral("0.0003")}));
        RawBus bus(sim.udpPort());
        QVERIFY(bus.writeByte(1, 1, 1)); // reference input 1 on +/- 50 mV
        QVERIFY(sim.setInput(1, 1, 0.0));
        const double zero = bus.measure(1, 1);
        QVERIFY(std::fabs(zero - 0.0003) < 5e-6); // uncalibrated: the offset shows
        const double entered = 0.045;
        QVERIFY(sim.setInput(1, 1, entered));
        const double reference = bus.measure(1, 1);

        const long double u = std::trunc(entered / 0.078125L * 32767 + 32768);
        const long double z = std::trunc(zero / 0.2384258553L * 100000 + 32768);
        const long double ref = std::trunc(reference / 0.2384258553L * 100000 + 32768);
        const auto gain = static_cast<int>(std::nearbyint((u - 32768) * 10000 / (ref - z)));
        const auto d = static_cast<int>((32768 - z) * 2);
        const int offset = d >= 0 ? d : 32768 - d;
        QVERIFY(bus.writeByte(1, 25, offset & 0xFF));
        QVERIFY(bus.writeByte(1, 26, offset >> 8));
        QVERIFY(bus.writeByte(1, 23, gain & 0xFF));
        QVERIFY(bus.writeByte(1, 24, gain >> 8));

        QVERIFY(std::fabs(bus.measure(1, 1) - entered) < 6e-6);
        QVERIFY(sim.setInput(1, 1, -0.02));
        QVERIFY(std::fabs(bus.measure(1, 1) + 0.02) < 6e-6);
    }

    void thermometerCalibration_removesTheSimulatedErrors()
    {
        SimProcess sim;
        QVERIFY(sim.start({QStringLiteral("--temp-gain-error"), QStringLiteral("0.03"),
                           QStringLiteral("--temp-zero-error"), QStringLiteral("150")}));
        RawBus bus(sim.udpPort());
        QVERIFY(bus.writeByte(1, 31, 128));
        QVERIFY(sim.ok(QStringLiteral("jumper 1 1")));
        auto r = bus.ask(1, 0, 16);
        const int zero = r.d[2] * 256 + r.d[1];
        QCOMPARE(zero, 150);
        QVERIFY(sim.ok(QStringLiteral("jumper 1 0")));
        QVERIFY(sim.setTemperature(1, 20.0));
        r = bus.ask(1, 0, 16);
        const int reference = r.d[2] * 256 + r.d[1];

        const int offset = (32768 - zero) & 0xFFFF;
        const long double count = std::trunc(20.0L * 10 + 2731);
        const auto gain = static_cast<int>(std::trunc(count / (reference - zero) * 10000));
        for (const auto &[at, value] :
             {std::pair{29, offset & 0xFF}, {30, offset >> 8}, {27, gain & 0xFF}, {28, gain >> 8}, {31, 129}})
            QVERIFY(bus.writeByte(1, at, value));
        QVERIFY(std::fabs(bus.measure(1, 16) - 20.0) <= 0.11);
        QVERIFY(sim.setTemperature(1, 35.0));
        QVERIFY(std::fabs(bus.measure(1, 16) - 35.0) <= 0.11);
    }

    void digitalInputsAndOutputs_applyTheNegation()
    {
        SimProcess sim;
        QVERIFY(sim.start());
        RawBus bus(sim.udpPort());
        QVERIFY(bus.writeByte(1, 33, 0x0F)); // DIN negation byte 0
        QVERIFY(sim.setDigitalInputs(1, 0x000000FF));
        auto r = bus.ask(1, 0, 64);
        QCOMPARE(int(r.d[1]), 0xF0);
        QCOMPARE(int(r.d[2]), 0xFF);

        QCOMPARE(bus.ask(1, 1, 64, {0, 0x12, 0x34, 0x56, 0x78}).error, rqframe::ModuleOk);
        QCOMPARE(sim.outputs(1), 0x78563412u);
        QVERIFY(sim.command(QStringLiteral("dout 1")).endsWith(u"physical=0x87a9cbed"));

        // The initial state is latched at power-up.
        QVERIFY(bus.writeByte(1, 35, 0xA5));
        QVERIFY(sim.ok(QStringLiteral("power 1")));
        QCOMPARE(sim.outputs(1), 0x0000A500u);
    }

    void statusRegister_setAtPowerUpAndCleared()
    {
        SimProcess sim;
        QVERIFY(sim.start());
        RawBus bus(sim.udpPort());
        QCOMPARE(int(bus.ask(1, 100, 0).d[1]), 0x30); // PWR and RST
        QCOMPARE(bus.ask(1, 101, 0).error, rqframe::ModuleOk);
        QCOMPARE(int(bus.ask(1, 100, 0).d[1]), 0);
        QVERIFY(sim.ok(QStringLiteral("status 1 80000002")));
        const auto r = bus.ask(1, 100, 0);
        QCOMPARE(int(r.d[1]), 0x02);
        QCOMPARE(int(r.d[4]), 0x80);
    }

    void stateFile_keepsMemory_addressAndBaudTakeEffectAtNextStart()
    {
        QTemporaryDir dir;
        const QString state = dir.filePath(QStringLiteral("module.json"));
        {
            SimProcess sim;
            QVERIFY(sim.start({QStringLiteral("--state"), state}));
            RawBus bus(sim.udpPort());
            QVERIFY(bus.writeByte(1, 63, 7));
            QVERIFY(bus.writeByte(1, 62, 5));
            QVERIFY(bus.writeByte(1, 300, 0x42));
            QCOMPARE(bus.readByte(1, 63), 7); // still answers at its old address until power-up
        }
        QVERIFY(QJsonDocument::fromJson([&] {
                    QFile f(state);
                    f.open(QIODevice::ReadOnly);
                    return f.readAll();
                }())
                    .object()
                    .contains(u"modules"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("module.json")});

        SimProcess sim;
        QVERIFY(sim.start({QStringLiteral("--state"), state}));
        RawBus bus(sim.udpPort());
        rqframe::Reply r;
        QVERIFY(!bus.ask(1, 200, 0, {}, r, 9600));
        QVERIFY(!bus.ask(7, 200, 0, {}, r, 9600)); // right address, wrong baud rate
        QVERIFY(bus.ask(7, 102, 1, {0, 44, 44, 0, 0}, r, 19200));
        QCOMPARE(int(r.d[3]), 0x42);
        QCOMPARE(sim.counters().value(QStringLiteral("ignored")), 2);
    }

    void stateFile_writtenWhenTerminated()
    {
        QTemporaryDir dir;
        const QString state = dir.filePath(QStringLiteral("module.json"));
        QProcess p;
        p.start(SimProcess::program(),
                {QStringLiteral("--udp"), QStringLiteral("0"), QStringLiteral("--state"), state});
        const quint16 port = startLinePort(p, "udp");
        QVERIFY(port);
        RawBus bus(port);
        QVERIFY(bus.writeByte(1, 100, 0x77));
        p.terminate(); // at once: before the delayed write of the file
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);

        SimProcess sim;
        QVERIFY(sim.start({QStringLiteral("--state"), state}));
        QCOMPARE(sim.memoryByte(1, 100), 0x77);
    }

    void severalModules_eachAnswersItsAddress()
    {
        SimProcess sim;
        QVERIFY(sim.start({QStringLiteral("-m"), QStringLiteral("1:3510"), QStringLiteral("-m"),
                           QStringLiteral("2:3530")}));
        RawBus bus(sim.udpPort());
        QCOMPARE(text4(bus.ask(1, 200, 1)), QByteArray("510 "));
        QCOMPARE(text4(bus.ask(2, 200, 1)), QByteArray("530 "));
        QCOMPARE(bus.ask(3, 200, 1).error, 0xEE); // nobody there
        QCOMPARE(sim.command(QStringLiteral("modules")),
                 QStringLiteral("OK 1:RQ-3510:1.08:9600 2:RQ-3530:1.08:9600"));
    }

    void controlChannel_refusesBadLines_data()
    {
        QTest::addColumn<QString>("line");
        QTest::newRow("unknown") << QStringLiteral("frobnicate 1");
        QTest::newRow("no module") << QStringLiteral("ain 99 0 1");
        QTest::newRow("input range") << QStringLiteral("ain 1 12 1");
        QTest::newRow("mem page") << QStringLiteral("mem 1 2 0");
        QTest::newRow("fault") << QStringLiteral("fault cmd=0");
        QTest::newRow("probability") << QStringLiteral("fault drop p=2");
        QTest::newRow("load") << QStringLiteral("load 1 00ff");
        // Numbers are decimal or 0x hexadecimal, whole words only.
        QTest::newRow("mem junk word") << QStringLiteral("mem 1 0 x 5");
        QTest::newRow("mem trailing junk") << QStringLiteral("mem 1 0 5x");
        QTest::newRow("mem extra word") << QStringLiteral("mem 1 0 5 7 9");
        QTest::newRow("mem value range") << QStringLiteral("mem 1 0 5 256");
        QTest::newRow("address junk") << QStringLiteral("mem 1z 0 5");
        QTest::newRow("signed") << QStringLiteral("mem 1 0 +5");
        QTest::newRow("jumper junk") << QStringLiteral("jumper 1 1 1");
        QTest::newRow("fault octal-looking junk") << QStringLiteral("fault cmd=0x drop");
        QTest::newRow("delay above the cap") << QStringLiteral("fault delay=60001");
        QTest::newRow("delay overflow") << QStringLiteral("fault delay=99999999999");
        QTest::newRow("value on a plain action") << QStringLiteral("fault drop=3");
    }
    void controlChannel_refusesBadLines()
    {
        QFETCH(QString, line);
        SimProcess sim;
        QVERIFY(sim.start());
        QVERIFY(sim.command(line).startsWith(u"ERR "));
        QVERIFY(sim.ok(QStringLiteral("help")));
    }

    void controlChannel_numbers_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("expected");
        QTest::newRow("decimal") << QStringLiteral("10") << 10;
        QTest::newRow("leading zero is decimal") << QStringLiteral("010") << 10;
        QTest::newRow("hexadecimal") << QStringLiteral("0x3F") << 63;
    }
    void controlChannel_numbers()
    {
        QFETCH(QString, address);
        QFETCH(int, expected);
        SimProcess sim;
        QVERIFY(sim.start());
        QVERIFY(sim.ok(QStringLiteral("mem 1 0 %1 0x5a").arg(address)));
        QCOMPARE(sim.memoryByte(1, expected), 0x5A);
    }

    // A client that never ends its line is dropped at 4 KiB; rqsim keeps
    // serving everyone else.
    void controlChannel_longLine_dropsTheClient()
    {
        SimProcess sim;
        QVERIFY(sim.start());
        QTcpSocket flood;
        flood.connectToHost(QHostAddress::LocalHost, sim.controlPort());
        QVERIFY(flood.waitForConnected(5000));
        const QByteArray chunk(64 * 1024, 'x');
        for (int i = 0; i < 64 && flood.state() == QAbstractSocket::ConnectedState; ++i) {
            flood.write(chunk);
            flood.waitForBytesWritten(1000);
        }
        QVERIFY(flood.state() == QAbstractSocket::UnconnectedState || flood.waitForDisconnected(5000));
        QCOMPARE(sim.command(QStringLiteral("mem 1 0 63")), QStringLiteral("OK 1"));

        QTcpSocket longLine; // a whole line, but too long
        longLine.connectToHost(QHostAddress::LocalHost, sim.controlPort());
        QVERIFY(longLine.waitForConnected(5000));
        longLine.write("help " + QByteArray(5000, 'y') + "\nhelp\n");
        QVERIFY(longLine.waitForDisconnected(5000));
        QVERIFY(!longLine.readAll().contains("OK"));
    }

    // Delays add up with saturation at the cap; the number of rules is bounded.
    void faultSet_capsDelaysAndRules()
    {
        FaultSet set;
        QCOMPARE(set.add(QStringLiteral("delay=60000")), QString());
        QCOMPARE(set.add(QStringLiteral("delay=60000")), QString());
        QCOMPARE(set.add(QStringLiteral("dup=010")), QString());
        const FaultEffects e = set.apply(rqframe::Request{1, 200, 0, {}});
        QCOMPARE(e.delayMs, FaultRule::kMaxDelayMs);
        QCOMPARE(e.duplicateAfterMs, 10);
        set.clear();
        for (int i = 0; i < FaultSet::kMaxRules; ++i)
            QCOMPARE(set.add(QStringLiteral("cmd=1 drop")), QString());
        QVERIFY(!set.add(QStringLiteral("cmd=1 drop")).isEmpty());
        QCOMPARE(set.rules().size(), FaultSet::kMaxRules);
    }

    // A state file that cannot be written (here a file size limit below its
    // size) is never replaced by a cut one; rqsim says so and ends nonzero.
    void stateFile_failedSave_keepsTheOldFileAndFails()
    {
        QTemporaryDir dir;
        const QString state = dir.filePath(QStringLiteral("module.json"));
        {
            SimProcess sim;
            QVERIFY(sim.start({QStringLiteral("--state"), state}));
        }
        const QByteArray before = [&] {
            QFile f(state);
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        }();
        QVERIFY(before.size() > 1000);

        QProcess p;
        p.setChildProcessModifier([] {
            const rlimit limit{100, 100};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        });
        p.start(SimProcess::program(),
                {QStringLiteral("--udp"), QStringLiteral("0"), QStringLiteral("--state"), state,
                 QStringLiteral("--exit-with-parent")});
        const quint16 control = startLinePort(p, "control");
        QVERIFY(control);
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, control);
        QVERIFY(socket.waitForConnected(5000));
        socket.write("mem 1 0 40 7\n");
        QByteArray errors;
        QTRY_VERIFY(
            (errors += p.readAllStandardError()).contains("not written")); // the save after the change
        socket.write("quit\n");
        socket.waitForBytesWritten(1000);
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QVERIFY(p.exitCode() != 0);
        QFile after(state);
        QVERIFY(after.open(QIODevice::ReadOnly));
        QCOMPARE(after.readAll(), before);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("module.json")});
    }

    void faultRules_matchAndCount()
    {
        SimProcess sim;
        QVERIFY(sim.start({QStringLiteral("--fault"), QStringLiteral("cmd=0 sub=3 error=5")}));
        RawBus bus(sim.udpPort());
        QCOMPARE(bus.ask(1, 0, 3).error, rqframe::ModuleBusy);
        QCOMPARE(bus.ask(1, 0, 2).error, rqframe::ModuleOk);
        QVERIFY(sim.addFault(QStringLiteral("module=1 cmd=200 drop count=1")));
        QCOMPARE(bus.ask(1, 200, 0).error, 0xEE);
        QCOMPARE(bus.ask(1, 200, 0).error, rqframe::ModuleOk);
        QVERIFY(sim.command(QStringLiteral("faults")).contains(u"error=5 hits=1"));
        const auto c = sim.counters();
        QCOMPARE(c.value(QStringLiteral("requests")), 4);
        QCOMPARE(c.value(QStringLiteral("replies")), 3);
        QCOMPARE(c.value(QStringLiteral("faults")), 2);
        QVERIFY(sim.clearFaults());
        QCOMPARE(bus.ask(1, 0, 3).error, rqframe::ModuleOk);
    }

    // Well-formed lies: readback only in memory reads, d3 in any reply.
    void lyingRules_data()
    {
        QTest::addColumn<QString>("rule");
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("sub");
        QTest::addColumn<int>("d3");
        QTest::newRow("readback in a memory read") << QStringLiteral("readback=0x5A") << 102 << 0 << 0x5A;
        QTest::newRow("readback leaves the identity")
            << QStringLiteral("readback=0x5A") << 200 << 2 << int('0');
        QTest::newRow("d3 in the firmware version")
            << QStringLiteral("cmd=200 sub=2 d3=0x39") << 200 << 2 << 0x39;
        QTest::newRow("d3 of another part is kept")
            << QStringLiteral("cmd=200 sub=2 d3=0x39") << 200 << 1 << int('0');
    }
    void lyingRules()
    {
        QFETCH(QString, rule);
        QFETCH(int, command);
        QFETCH(int, sub);
        QFETCH(int, d3);
        SimProcess sim;
        QVERIFY(sim.start({QStringLiteral("--fault"), rule}));
        RawBus bus(sim.udpPort());
        const rqframe::Reply reply = bus.ask(1, static_cast<quint8>(command), static_cast<quint8>(sub));
        QCOMPARE(reply.error, rqframe::ModuleOk);
        QCOMPARE(int(reply.d[3]), d3);
    }

    // A module on a line resynchronises after noise and answers the next good frame.
    void pty_answersAfterNoise()
    {
        SimProcess sim;
        QVERIFY(sim.start({QStringLiteral("--pty")}));
        const int fd = ::open(sim.ptyPath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
        QVERIFY(fd >= 0);
        termios tio{};
        ::tcgetattr(fd, &tio);
        ::cfmakeraw(&tio);
        ::cfsetispeed(&tio, B9600);
        ::cfsetospeed(&tio, B9600);
        ::tcsetattr(fd, TCSANOW, &tio);
        const auto frame = rqframe::encodeSerialRequest({1, 200, 1, {}});
        QByteArray bytes("\xA5\x01\x02", 3); // noise that even starts like a frame
        bytes.append(reinterpret_cast<const char *>(frame.data()), static_cast<qsizetype>(frame.size()));
        QCOMPARE(::write(fd, bytes.constData(), static_cast<size_t>(bytes.size())), bytes.size());
        QByteArray rx;
        pollfd p{fd, POLLIN, 0};
        while (rx.size() < static_cast<qsizetype>(rqframe::kSerialReplySize) && ::poll(&p, 1, 1000) > 0) {
            char buffer[64];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            rx.append(buffer, n);
        }
        ::close(fd);
        rqframe::Reply reply;
        QCOMPARE(rqframe::decodeSerialReply(reinterpret_cast<const quint8 *>(rx.constData()),
                                            static_cast<std::size_t>(rx.size()), reply),
                 rqframe::Decode::Ok);
        QCOMPARE(text4(reply), QByteArray("510 "));
    }
};

QTEST_GUILESS_MAIN(tst_RqSim)
#include "tst_rqsim.moc"
