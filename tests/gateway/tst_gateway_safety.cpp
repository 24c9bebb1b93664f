// rqgw on a plant network: no output switched that nobody asked for (a
// module's restart, a technician's clear of the status register, a retained
// MQTT command), and the converter port under the same rules as Modbus.
// Real rqsim, mosquitto and pymodbus; the converter through our LAN library.
#include "Broker.h"
#include "GatewayProcess.h"

#include "comm/Kxxx638.h"
#include "support/SimProcess.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {
const QString Python = QStringLiteral("/usr/bin/python3");
const QString Client = QStringLiteral(RQ_GW_TEST_DIR "/modbus_client.py");
constexpr quint32 Rst = 1u << 5;

// One transaction through a LAN converter (here: the gateway's port).
struct Converter
{
    quint32 handle = 0;
    QByteArray ip = QByteArrayLiteral("127.0.0.1");
    bool open(quint16 port)
    {
        InitBlock block{};
        block[0] = reinterpret_cast<std::uintptr_t>(ip.constData());
        block[1] = port;
        block[2] = 3000;
        return OpenAdapter(4, &handle, block) == 0 && ConfigureAdapter(4, handle, 9600, 3000, 0) == 0;
    }
    quint8 run(quint8 command, quint8 sub, std::array<quint8, 5> d)
    {
        quint8 error = 0;
        Record response{};
        RunModuleTransaction(4, handle, 5, command, sub, d[0], d[1], d[2], d[3], d[4], error,
                             response.data());
        return error;
    }
    ~Converter()
    {
        if (handle)
            CloseAdapter(4, &handle);
    }
};
} // namespace

class TestGatewaySafety : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;
    Broker broker;
    QString gwLog;

    QString one(quint16 port, const QString &op)
    {
        return RunTool(Python, {Client, QString::number(port), op}).split(QLatin1Char('\n')).value(0);
    }
    QStringList args(const SimProcess &sim, const QStringList &more) const
    {
        return QStringLiteral("--adapter lan --ip 127.0.0.1 --udp-port %1 --udp-timeout 300 --address 5 "
                              "--offline-retry 500 --converter 127.0.0.1:0 --name safe --mqtt 127.0.0.1:%2")
                   .arg(sim.udpPort())
                   .arg(broker.port)
                   .split(QLatin1Char(' ')) +
               more;
    }
    bool startServing(GatewayProcess &gw, const SimProcess &sim, const QStringList &more)
    {
        if (!gw.start(args(sim, more)))
            return false;
        for (int k = 0; k < 150; ++k) {
            if (one(gw.modbusPort, QStringLiteral("ir:5:100:1")) == u"ok 1")
                return true;
            QTest::qWait(100);
        }
        return false;
    }
    bool logSays(GatewayProcess &gw, const QString &text)
    {
        gwLog += gw.log();
        return gwLog.contains(text);
    }

private slots:
    void initTestCase()
    {
        if (RunTool(Python, {QStringLiteral("-c"), QStringLiteral("import pymodbus.client")})
                .contains(u"Error"))
            QSKIP("python3-pymodbus is not installed (make deps)");
        if (const QString why = Broker::missing(); !why.isEmpty())
            QSKIP(qPrintable(why));
        QVERIFY(dir.isValid());
        QVERIFY2(broker.start(dir.path(), false, false), qPrintable(broker.log()));
    }
    void init() { gwLog.clear(); }

    // Outputs 0..3 set, then something the gateway must not take for "as
    // before"; the next single-coil write switches coil 20 alone.
    void restartAndRetain_data()
    {
        QTest::addColumn<QString>("what");
        QTest::newRow("switched off and on") << "off";
        QTest::newRow("power without an offline phase") << "power";
        QTest::newRow("converter client clears the restart") << "clear";
        QTest::newRow("outputs unknown at start: 0x04") << "start";
        QTest::newRow("retained command, broker connection renewed") << "renewed";
        QTest::newRow("retained command, gateway restarted") << "restarted";
    }
    void restartAndRetain()
    {
        QFETCH(QString, what);
        SimProcess sim;
        QVERIFY2(
            sim.start({QStringLiteral("--wire-time"), QStringLiteral("--module"), QStringLiteral("5:3510")}),
            qPrintable(sim.errorString()));
        GatewayProcess gw;
        const QStringList writes{QStringLiteral("--allow-writes")};
        const QString retainedTopic = QStringLiteral("rq/safe/5/dout/7/set");

        if (what == u"start") {
            // Outputs 0..3 on and the restart cleared before the gateway starts.
            Converter c;
            QVERIFY(c.open(sim.udpPort()));
            QCOMPARE(c.run(1, 64, {0, 0x0F, 0, 0, 0}), quint8(0));
            QVERIFY(sim.ok(QStringLiteral("status 5 0")));
            QVERIFY(startServing(gw, sim, writes));
            Broker::Watch watch(broker, QStringLiteral("rq/safe/5/dout/result"),
                                QStringLiteral("rq/safe/status"));
            QVERIFY(watch.subscribed());
            QCOMPARE(one(gw.modbusPort, QStringLiteral("wc:5:20:1")), QStringLiteral("ex 4"));
            QTRY_VERIFY2_WITH_TIMEOUT(logSays(gw, QStringLiteral("zapište všech 32 výstupů najednou")),
                                      qPrintable(gwLog), 10000);
            QVERIFY(broker.publish(QStringLiteral("rq/safe/5/dout/20/set"), "ON"));
            QTRY_COMPARE_WITH_TIMEOUT(watch.messages(QStringLiteral("rq/safe/5/dout/result")).size(), 1,
                                      10000);
            const QJsonObject r =
                QJsonDocument::fromJson(watch.messages(QStringLiteral("rq/safe/5/dout/result")).first())
                    .object();
            QVERIFY2(
                r.value(u"error").toString().contains(u"publikujte všech 32 výstupů na rq/safe/5/dout/set"),
                qPrintable(r.value(u"error").toString()));
            QTRY_VERIFY_WITH_TIMEOUT(
                QJsonDocument::fromJson(broker.retainedOne(QStringLiteral("rq/safe/5/state")))
                    .object()
                    .contains(u"dout"),
                10000);
            QVERIFY(QJsonDocument::fromJson(broker.retainedOne(QStringLiteral("rq/safe/5/state")))
                        .object()
                        .value(u"dout")
                        .isNull());
            QCOMPARE(sim.outputs(5), 0x0Fu);
            // All 32 make them known.
            QCOMPARE(one(gw.modbusPort, QStringLiteral("wm:5:0:") + QString(32, QLatin1Char('1'))),
                     QStringLiteral("ok"));
            QCOMPARE(one(gw.modbusPort, QStringLiteral("ir:5:110:1")), QStringLiteral("ok 1"));
            QVERIFY(gw.stop());
            return;
        }

        QVERIFY(startServing(gw, sim, writes));
        QTRY_COMPARE_WITH_TIMEOUT(one(gw.modbusPort, QStringLiteral("ir:5:110:1")), QStringLiteral("ok 1"),
                                  10000);
        if (what == u"renewed" || what == u"restarted") {
            // The first live delivery of a retained publish comes without the
            // retain flag (MQTT 3.1.1): carried out.
            QVERIFY(QProcess::execute(QStringLiteral("mosquitto_pub"),
                                      broker.args({QStringLiteral("-r"), QStringLiteral("-q"),
                                                   QStringLiteral("1"), QStringLiteral("-t"), retainedTopic,
                                                   QStringLiteral("-m"), QStringLiteral("ON")})) == 0);
            QTRY_COMPARE_WITH_TIMEOUT(sim.outputs(5), 0x80u, 10000);
            QCOMPARE(one(gw.modbusPort, QStringLiteral("wc:5:7:0")), QStringLiteral("ok"));
            Broker::Watch watch(broker, QStringLiteral("rq/safe/5/dout/result"),
                                QStringLiteral("rq/safe/status"));
            QVERIFY(watch.subscribed());
            if (what == u"renewed") {
                // Another client with the gateway's id: the broker drops the gateway, which connects again.
                char host[256] = {};
                gethostname(host, sizeof host - 1);
                QFile id(QStringLiteral("/etc/machine-id"));
                const QByteArray machine =
                    id.open(QIODevice::ReadOnly) ? id.readLine(64).trimmed().left(12) : host;
                const QString clientId =
                    QStringLiteral("rqgw-safe-%1-%2").arg(QString::fromLatin1(machine)).arg(gw.pid());
                QProcess intruder;
                intruder.start(QStringLiteral("mosquitto_sub"),
                               broker.args({QStringLiteral("-i"), clientId, QStringLiteral("-t"),
                                            QStringLiteral("x"), QStringLiteral("-E")}));
                QVERIFY(intruder.waitForFinished(10000));
            } else {
                QVERIFY(gw.stop());
                QVERIFY(startServing(gw, sim, writes));
            }
            QTRY_VERIFY_WITH_TIMEOUT(logSays(gw, QStringLiteral("se neprovádí")), 15000);
            QTRY_COMPARE_WITH_TIMEOUT(watch.messages(QStringLiteral("rq/safe/5/dout/result")).size(), 1,
                                      10000);
            QVERIFY(watch.messages(QStringLiteral("rq/safe/5/dout/result")).first().contains("retained"));
            QVERIFY(broker.retained(retainedTopic).isEmpty()); // deleted
            QCOMPARE(sim.outputs(5), 0u);
            QVERIFY(gw.stop());
            return;
        }

        QCOMPARE(one(gw.modbusPort, QStringLiteral("wm:5:0:1111")), QStringLiteral("ok"));
        QCOMPARE(sim.outputs(5), 0x0Fu);
        if (what == u"off") {
            QVERIFY(sim.addFault(QStringLiteral("module=5 drop")));
            QTRY_COMPARE_WITH_TIMEOUT(one(gw.modbusPort, QStringLiteral("ir:5:100:1")),
                                      QStringLiteral("ok 0"), 15000);
            QVERIFY(sim.ok(QStringLiteral("power 5")));
            QVERIFY(sim.clearFaults());
            QTRY_COMPARE_WITH_TIMEOUT(one(gw.modbusPort, QStringLiteral("ir:5:100:1")),
                                      QStringLiteral("ok 1"), 15000);
        } else if (what == u"power") {
            QVERIFY(sim.ok(QStringLiteral("power 5")));
        } else {
            // A technician's output command holds the module's polls for a
            // while; in that while it restarts and the technician clears
            // the status register ("Vynulovat").
            Converter c;
            QVERIFY(c.open(gw.converterPort));
            QCOMPARE(c.run(1, 64, {0, 0x0F, 0, 0, 0}), quint8(0));
            QVERIFY(sim.ok(QStringLiteral("power 5")));
            QCOMPARE(c.run(101, 0, {0, 0, 0, 0, 0}), quint8(0));
            QCOMPARE(sim.status(5) & Rst, 0u);
        }
        QCOMPARE(one(gw.modbusPort, QStringLiteral("wc:5:20:1")), QStringLiteral("ok"));
        QCOMPARE(sim.outputs(5), 1u << 20);
        QTRY_VERIFY2_WITH_TIMEOUT(logSays(gw, QStringLiteral("byl restartován")), qPrintable(gwLog), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(sim.status(5) & Rst, 0u, 10000); // cleared once seen
        QVERIFY(gw.stop());
    }

    // A refusal is answered at once with its own code, never left to time out.
    void converterPermissions_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("address"); // D1: memory address, or the outputs 0..7
        QTest::addColumn<int>("expected");
        QTest::newRow("outputs without --allow-writes") << QStringList{} << 1 << 0xFF << 28;
        QTest::newRow("memory without converter-writes")
            << QStringList{QStringLiteral("--allow-writes")} << 103 << 20 << 28;
        QTest::newRow("client not in converter-allow")
            << QStringList{QStringLiteral("--allow-writes"), QStringLiteral("--converter-writes"),
                           QStringLiteral("--converter-allow"), QStringLiteral("10.1.2.0/24")}
            << 102 << 20 << 29;
        QTest::newRow("client in converter-allow")
            << QStringList{QStringLiteral("--converter-allow"), QStringLiteral("10.1.2.0/24,127.0.0.0/8")}
            << 102 << 20 << 0;
    }
    void converterPermissions()
    {
        QFETCH(QStringList, options);
        QFETCH(int, command);
        QFETCH(int, address);
        QFETCH(int, expected);
        SimProcess sim;
        QVERIFY2(
            sim.start({QStringLiteral("--wire-time"), QStringLiteral("--module"), QStringLiteral("5:3510")}),
            qPrintable(sim.errorString()));
        GatewayProcess gw;
        QVERIFY(startServing(gw, sim, options));
        const QByteArray before = sim.memory(5);
        Converter c;
        QVERIFY(c.open(gw.converterPort));
        const auto a = static_cast<quint8>(address);
        QCOMPARE(c.run(static_cast<quint8>(command), command == 1 ? 64 : 0, {0, a, a, 0x55, 0x55}),
                 quint8(expected));
        QCOMPARE(sim.outputs(5), 0u);
        QCOMPARE(sim.memory(5), before);
        if (expected) {
            QString text = ErrorText(4, static_cast<quint32>(expected));
            QVERIFY2(text.startsWith(u"Brána"), qPrintable(text));
            QTRY_VERIFY2_WITH_TIMEOUT(logSays(gw, QStringLiteral("odmítnut")), qPrintable(gwLog), 10000);
        }
        QVERIFY(gw.stop());
    }
};

QTEST_GUILESS_MAIN(TestGatewaySafety)
#include "tst_gateway_safety.moc"
