// rqgw towards the plant: a real mosquitto (password, TLS for one site)
// read and written with mosquitto_sub/mosquitto_pub, and /metrics fetched
// with curl and checked by promtool. Two sites, each its own rqsim bus.
#include "Broker.h"
#include "GatewayProcess.h"
#include "comm/Kxxx638.h"

#include "support/SimProcess.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

class TestGatewayMqtt : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;
    Broker broker;
    SimProcess simA, simB;
    GatewayProcess gwA; // plain MQTT with a password, writes allowed, metrics
    GatewayProcess gwB; // TLS, writes off, the password as a systemd credential
    GatewayProcess gwD; // a file, discovery and plain values; module 1 of simB and an absent one

    // A configuration file for simB's bus; its path.
    QString writeIni(const QString &name, const QByteArray &gateway, const QByteArray &modules) const
    {
        const QString path = dir.filePath(name + QStringLiteral(".ini"));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            return {};
        f.write("[gateway]\nname=" + name.toUtf8() + "\nmqtt=127.0.0.1:" + QByteArray::number(broker.port) +
                "\nmqtt-user=" + broker.user.toUtf8() +
                "\nmqtt-password-file=" + dir.filePath(QStringLiteral("password")).toUtf8() +
                "\nmqtt-interval=200\noffline-retry=500\n" + gateway +
                "[bus]\nadapter=lan\nip=127.0.0.1\nudp-port=" + QByteArray::number(simB.udpPort()) +
                "\nudp-timeout=300\nbaud=9600\n" + modules);
        return path;
    }
    QString writeIniD(bool writes, const QByteArray &modules) const
    {
        return writeIni(QStringLiteral("siteD"),
                        "ha-discovery=yes\nmqtt-values=yes\nunits-reread=1000\nmqtt-topics-file=" +
                            dir.filePath(QStringLiteral("siteD.topics")).toUtf8() +
                            (writes ? "\nallow-writes=yes\n" : "\n"),
                        modules);
    }

    QStringList mqttArgs(const QString &name, const SimProcess &sim, bool tls) const
    {
        return QStringList{QStringLiteral("--adapter"),
                           QStringLiteral("lan"),
                           QStringLiteral("--ip"),
                           QStringLiteral("127.0.0.1"),
                           QStringLiteral("--udp-port"),
                           QString::number(sim.udpPort()),
                           QStringLiteral("--udp-timeout"),
                           QStringLiteral("300"),
                           QStringLiteral("--baud"),
                           QStringLiteral("9600"),
                           QStringLiteral("--offline-retry"),
                           QStringLiteral("500"),
                           QStringLiteral("--name"),
                           name,
                           QStringLiteral("--mqtt"),
                           QStringLiteral("127.0.0.1:%1").arg(tls ? broker.tlsPort : broker.port),
                           QStringLiteral("--mqtt-user"),
                           broker.user,
                           QStringLiteral("--mqtt-interval"),
                           QStringLiteral("200")} +
               (tls ? QStringList{QStringLiteral("--mqtt-cafile"), broker.cafile}
                    : QStringList{QStringLiteral("--mqtt-password-file"),
                                  dir.filePath(QStringLiteral("password"))});
    }
    // The retained message on topic, without waiting a second where there is one.
    QByteArray retainedNow(const QString &topic) const
    {
        return broker.subscribe(topic, 1, {QStringLiteral("--retained-only")}, 1).value(0).second;
    }
    QJsonObject state(const QString &site, int address) const
    {
        return QJsonDocument::fromJson(
                   broker.retainedOne(QStringLiteral("rq/%1/%2/state").arg(site).arg(address)))
            .object();
    }

private slots:
    void initTestCase()
    {
        if (const QString why = Broker::missing(); !why.isEmpty())
            QSKIP(qPrintable(why));
        QVERIFY(dir.isValid());
        QVERIFY2(broker.start(dir.path(), true, true), qPrintable(broker.log()));
        QFile pw(dir.filePath(QStringLiteral("password")));
        QVERIFY(pw.open(QIODevice::WriteOnly));
        pw.write(broker.password.toUtf8() + '\n');
        pw.close();
        // As systemd's LoadCredential= passes it; the file named by
        // --mqtt-password-file wins where both are there.
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("credentials")));
        QVERIFY(QFile::copy(dir.filePath(QStringLiteral("password")),
                            dir.filePath(QStringLiteral("credentials/mqtt-password"))));
        qputenv("CREDENTIALS_DIRECTORY", QFile::encodeName(dir.filePath(QStringLiteral("credentials"))));
        QVERIFY2(simA.start({QStringLiteral("--wire-time"), QStringLiteral("--module"),
                             QStringLiteral("1:3510:1.08"), QStringLiteral("--module"),
                             QStringLiteral("2:3530:1.08")}),
                 qPrintable(simA.errorString()));
        QVERIFY2(simB.start({QStringLiteral("--wire-time"), QStringLiteral("--module"),
                             QStringLiteral("1:3520:1.07")}),
                 qPrintable(simB.errorString()));
        QVERIFY(gwA.start(mqttArgs(QStringLiteral("siteA"), simA, false) +
                          QStringList{QStringLiteral("--address"), QStringLiteral("1,2"),
                                      QStringLiteral("--allow-writes"), QStringLiteral("--converter-writes"),
                                      QStringLiteral("--metrics"), QStringLiteral("127.0.0.1:0"),
                                      QStringLiteral("--converter"), QStringLiteral("127.0.0.1:0"),
                                      QStringLiteral("--stale"), QStringLiteral("2500"),
                                      QStringLiteral("--ha-discovery")}));
        QVERIFY(gwB.start(mqttArgs(QStringLiteral("siteB"), simB, true) +
                          QStringList{QStringLiteral("--address"), QStringLiteral("1")}));
        QVERIFY(gwD.start({QStringLiteral("--config"),
                           writeIniD(false, "[module a]\naddress=1\n[module b]\naddress=3\n")}));
        QTRY_VERIFY_WITH_TIMEOUT(!state(QStringLiteral("siteA"), 2).isEmpty(), 30000);
        QTRY_VERIFY2_WITH_TIMEOUT(!state(QStringLiteral("siteB"), 1).isEmpty(), qPrintable(gwB.log()), 30000);
        QTRY_VERIFY2_WITH_TIMEOUT(!state(QStringLiteral("siteD"), 1).isEmpty(), qPrintable(gwD.log()), 30000);
    }

    // One subscriber to rq/# sees both sites, each under its own name.
    void bothSitesOnOneBroker()
    {
        QMap<QString, QByteArray> seen;
        for (const auto &[topic, payload] : broker.retained(QStringLiteral("rq/#")))
            seen.insert(topic, payload);
        for (const char *topic : {"rq/siteA/status", "rq/siteB/status", "rq/siteA/1/availability",
                                  "rq/siteA/2/availability", "rq/siteB/1/availability"})
            QCOMPARE(seen.value(QString::fromLatin1(topic)), QByteArray("online"));
        for (const char *topic : {"rq/siteA/1/state", "rq/siteA/2/state", "rq/siteB/1/state"})
            QVERIFY2(seen.contains(QString::fromLatin1(topic)), topic);
    }

    void stateEqualsSim_data()
    {
        QTest::addColumn<QString>("site");
        QTest::addColumn<int>("address");
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("firmware");
        QTest::addColumn<int>("measured"); // inputs with a unit; the rest are null
        QTest::addColumn<QString>("unit");
        QTest::addColumn<double>("first"); // input k is set to first + k * step
        QTest::addColumn<double>("step");
        QTest::newRow("RQ-3510, volts") << "siteA" << 1 << "RQ-3510"
                                        << "1.08" << 12 << "V" << -1.0 << 0.18;
        QTest::newRow("RQ-3530, ohms, six inputs") << "siteA" << 2 << "RQ-3530"
                                                   << "1.08" << 6 << "ohm" << 120.0 << 35.5;
        QTest::newRow("RQ-3520 on the TLS site") << "siteB" << 1 << "RQ-3520"
                                                 << "1.07" << 12 << "V" << 0.3 << -0.05;
    }
    void stateEqualsSim()
    {
        QFETCH(QString, site);
        QFETCH(int, address);
        QFETCH(int, measured);
        QFETCH(QString, unit);
        QFETCH(double, first);
        QFETCH(double, step);
        SimProcess &sim = site == u"siteA" ? simA : simB;
        for (int k = 0; k < measured; ++k)
            QVERIFY(sim.setInput(address, k, first + k * step));
        QVERIFY(sim.setDigitalInputs(address, 0x0F0000A5));
        QVERIFY(sim.setTemperature(address, 31.5));
        const auto matches = [&](const QJsonObject &s) {
            const QJsonArray ain = s.value(u"ain").toArray(), units = s.value(u"units").toArray();
            if (ain.size() != 12 || units.size() != 12 || s.value(u"temperature").toDouble() != 31.5 ||
                s.value(u"din").toInteger() !=
                    qint64(~0x0F0000A5u)) // the module inverts its inputs by default
                return false;
            for (int k = 0; k < 12; ++k) {
                const bool has = k < measured;
                if (units.at(k).isNull() == has || ain.at(k).isNull() == has)
                    return false;
                if (has &&
                    (units.at(k).toString() != unit || std::abs(ain.at(k).toDouble() - (first + k * step)) >
                                                           1e-3 * std::max(1.0, std::abs(first + k * step))))
                    return false;
            }
            return true;
        };
        QTRY_VERIFY_WITH_TIMEOUT(matches(state(site, address)), 15000);
        const QJsonObject s = state(site, address);
        QTEST(s.value(u"model").toString(), "model");
        QTEST(s.value(u"firmware").toString(), "firmware");
        QCOMPARE(s.value(u"address").toInt(), address);
        QVERIFY(s.value(u"online").toBool());
        QVERIFY(s.contains(u"drift") && s.value(u"drift").isNull()); // no settings in its file to compare
        QVERIFY(QDateTime::fromString(s.value(u"time").toString(), Qt::ISODateWithMs).isValid());
    }

    // A module switched off goes offline, and so does one whose values pass
    // --stale while a converter client holds it (writes pause its polls);
    // both come online again when they answer.
    void availability_data()
    {
        QTest::addColumn<bool>("switchedOff");
        QTest::newRow("switched off") << true;
        QTest::newRow("held past --stale") << false;
    }
    void availability()
    {
        QFETCH(bool, switchedOff);
        const QString topic = QStringLiteral("rq/siteA/2/availability");
        Broker::Watch watch(broker, topic, QStringLiteral("rq/siteA/status"));
        QVERIFY(watch.subscribed());
        const auto said = [&] {
            const QList<QByteArray> all = watch.messages(topic);
            return all.isEmpty() ? QByteArray() : all.last();
        };
        if (switchedOff) {
            QVERIFY(simA.addFault(QStringLiteral("module=2 drop")));
            QTRY_VERIFY_WITH_TIMEOUT(watch.messages(topic).contains("offline"), 20000);
            QVERIFY(simA.clearFaults());
        } else {
            // A byte of module 2 written back as it is, through the converter.
            QByteArray ip = QByteArrayLiteral("127.0.0.1");
            InitBlock block{};
            block[0] = reinterpret_cast<std::uintptr_t>(ip.constData());
            block[1] = gwA.converterPort;
            block[2] = 2000;
            quint32 handle = 0;
            QCOMPARE(OpenAdapter(4, &handle, block), 0u);
            QCOMPARE(ConfigureAdapter(4, handle, 9600, 2000, 0), 0u);
            quint8 error = 0;
            Record response{};
            quint8 d[5] = {0, 100, 100, 0, 0};
            RunModuleTransaction(4, handle, 2, 102, 0, d[0], d[1], d[2], d[3], d[4], error, response.data());
            QCOMPARE(error, quint8(0));
            // Each write holds the module's polls for 2 s: twice, 1.5 s apart.
            for (int k = 0; k < 2; ++k) {
                if (k)
                    QTest::qWait(1500);
                quint8 w[5] = {0, 100, 100, d[3], d[3]};
                RunModuleTransaction(4, handle, 2, 103, 0, w[0], w[1], w[2], w[3], w[4], error,
                                     response.data());
                QCOMPARE(error, quint8(0));
            }
            CloseAdapter(4, &handle);
            QTRY_VERIFY_WITH_TIMEOUT(watch.messages(topic).contains("offline"), 10000);
        }
        QTRY_COMPARE_WITH_TIMEOUT(broker.retainedOne(QStringLiteral("rq/siteA/1/availability")),
                                  QByteArray("online"), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(said(), QByteArray("online"), 20000);
    }

    // Ranges and the thermometer changed on the bus behind the gateway's
    // back (another tool, a replaced module): the state, Home Assistant's
    // configs and the plain value topics follow within units-reread.
    void unitsFollowModule_data()
    {
        QTest::addColumn<QString>("change");  // rqsim's command on simB
        QTest::addColumn<QString>("restore"); // and back
        QTest::addColumn<QString>("topic");
        QTest::addColumn<QByteArray>("expect"); // in the retained payload; empty: deleted
        const QString d = QStringLiteral("homeassistant/sensor/rq_siteD_1_");
        QTest::newRow("range byte to type K: the config")
            << "mem 1 0 0 5"
            << "mem 1 0 0 4" << d + u"ain0/config"
            << QByteArray("\"unit_of_measurement\":\"°C\",\"device_class\":\"temperature\"");
        QTest::newRow("range byte to type K: the state")
            << "mem 1 0 0 5"
            << "mem 1 0 0 4"
            << "rq/siteD/1/state" << QByteArray("\"units\":[\"°C\",\"V\",");
        QTest::newRow("thermometer to raw counts: no sensor")
            << "mem 1 0 31 128"
            << "mem 1 0 31 129" << d + u"temperature/config" << QByteArray();
        QTest::newRow("thermometer to raw counts: no plain value")
            << "mem 1 0 31 128"
            << "mem 1 0 31 129"
            << "rq/siteD/1/temperature" << QByteArray();
        QTest::newRow("plain value of an input") << "ain 1 2 0.75"
                                                 << "ain 1 2 0"
                                                 << "rq/siteD/1/ain/2" << QByteArray("0.7");
        QTest::newRow("plain value of a digital input") // read inverted, as the module does by default
            << "din 1 8"
            << "din 1 0"
            << "rq/siteD/1/din/3" << QByteArray("0");
    }
    void unitsFollowModule()
    {
        QFETCH(QString, change);
        QFETCH(QString, restore);
        QFETCH(QString, topic);
        QFETCH(QByteArray, expect);
        QTRY_VERIFY_WITH_TIMEOUT(!retainedNow(QStringLiteral("rq/siteD/1/state")).isEmpty(), 15000);
        QVERIFY(simB.ok(change));
        const auto shows = [&] {
            const QByteArray p = retainedNow(topic);
            return expect.isEmpty() ? p.isEmpty() : p.contains(expect);
        };
        QTRY_VERIFY2_WITH_TIMEOUT(shows(), retainedNow(topic).constData(), 15000);
        QVERIFY(simB.ok(restore));
        if (expect.isEmpty()) // and back when it is back
            QTRY_VERIFY_WITH_TIMEOUT(!retainedNow(topic).isEmpty(), 15000);
    }

    // What discovery says follows the configuration: switches with writes
    // allowed by a reload, nothing left of a module taken out by a reload or
    // while the gateway was stopped (the list of its topics outlives it).
    void discoveryFollowsConfig_data()
    {
        QTest::addColumn<bool>("writes");
        QTest::addColumn<QByteArray>("modules");
        QTest::addColumn<bool>("restart"); // stopped, changed, started; else SIGHUP
        QTest::addColumn<QStringList>("topics");
        QTest::addColumn<QByteArray>("expect"); // in each; empty: deleted
        QTest::newRow("allow-writes by SIGHUP")
            << true << QByteArray("[module a]\naddress=1\n[module b]\naddress=3\n") << false
            << QStringList{QStringLiteral("homeassistant/switch/rq_siteD_1_dout0/config")}
            << QByteArray("\"command_topic\":\"rq/siteD/1/dout/0/set\"");
        QTest::newRow("module removed by SIGHUP")
            << true << QByteArray("[module a]\naddress=1\n") << false
            << QStringList{QStringLiteral("rq/siteD/3/availability"),
                           QStringLiteral("homeassistant/binary_sensor/rq_siteD_3_din0/config")}
            << QByteArray();
        QTest::newRow("module removed while stopped")
            << true << QByteArray("[module b]\naddress=3\n") << true
            << QStringList{QStringLiteral("rq/siteD/1/state"), QStringLiteral("rq/siteD/1/availability"),
                           QStringLiteral("rq/siteD/1/din/0"),
                           QStringLiteral("homeassistant/switch/rq_siteD_1_dout0/config")}
            << QByteArray();
    }
    void discoveryFollowsConfig()
    {
        QFETCH(bool, writes);
        QFETCH(QByteArray, modules);
        QFETCH(bool, restart);
        QFETCH(QStringList, topics);
        QFETCH(QByteArray, expect);
        if (expect.isEmpty()) // there before
            for (const QString &t : topics)
                QTRY_VERIFY2_WITH_TIMEOUT(!retainedNow(t).isEmpty() || t.contains(u"_3_"), qPrintable(t),
                                          15000);
        if (restart)
            QVERIFY(gwD.stop());
        const QString ini = writeIniD(writes, modules);
        if (restart)
            QVERIFY(gwD.start({QStringLiteral("--config"), ini}));
        else
            QCOMPARE(::kill(static_cast<pid_t>(gwD.pid()), SIGHUP), 0);
        for (const QString &t : topics)
            QTRY_VERIFY2_WITH_TIMEOUT(expect.isEmpty() ? retainedNow(t).isEmpty()
                                                       : retainedNow(t).contains(expect),
                                      qPrintable(t), 15000);
    }

    // One name, one gateway: a second one of a live gateway's name refuses
    // to start (exit code 3, the other's host named) and the first goes on
    // undisturbed; one of a name whose gateway is gone, or the same instance
    // restarted, takes the name.
    void oneNameOneGateway_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("instance"); // retained before; empty: a live gateway's own
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<bool>("refused");
        QFile id(QStringLiteral("/etc/machine-id"));
        const QByteArray machine = id.open(QIODevice::ReadOnly) ? id.readLine().trimmed() : QByteArray();
        const QByteArray ini =
            QFileInfo(dir.filePath(QStringLiteral("siteE.ini"))).absoluteFilePath().toUtf8();
        QTest::newRow("live gateway of the name") << "siteA" << QByteArray() << QByteArray() << true;
        QTest::newRow("another host's, gone")
            << "siteE"
            << QByteArray("{\"host\":\"jiny-stroj\",\"machine\":\"0123\",\"instance\":\"" + ini + "\"}")
            << QByteArray("offline") << false;
        if (!machine.isEmpty())
            QTest::newRow("this instance, restarted before its will")
                << "siteE"
                << QByteArray("{\"host\":\"x\",\"machine\":\"" + machine + "\",\"instance\":\"" + ini + "\"}")
                << QByteArray("online") << false;
    }
    void oneNameOneGateway()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, instance);
        QFETCH(QByteArray, status);
        QFETCH(bool, refused);
        const QString base = QStringLiteral("rq/") + name;
        if (!instance.isEmpty()) {
            QVERIFY(broker.publish(base + QStringLiteral("/instance"), instance, true));
            QVERIFY(broker.publish(base + QStringLiteral("/status"), status, true));
        }
        if (refused) // the live one settled (a loaded machine may still be reconnecting it)
            QTRY_COMPARE_WITH_TIMEOUT(retainedNow(base + QStringLiteral("/status")), QByteArray("online"),
                                      20000);
        const QByteArray before = retainedNow(base + QStringLiteral("/instance"));
        Broker::Watch watch(broker, base + QStringLiteral("/+/availability"),
                            base + QStringLiteral("/status"));
        QVERIFY(watch.subscribed());
        GatewayProcess gw;
        const bool started =
            name == u"siteE"
                ? gw.start({QStringLiteral("--config"), writeIni(name, {}, "[module a]\naddress=1\n")})
                : gw.start(mqttArgs(name, simB, false) +
                           QStringList{QStringLiteral("--address"), QStringLiteral("1")});
        QCOMPARE(started, !refused);
        if (refused) {
            QCOMPARE(gw.exitCode(), 3);
            char host[256] = {};
            gethostname(host, sizeof host - 1);
            const QString log = gw.log();
            QVERIFY2(log.contains(QString::fromLocal8Bit(host)), qPrintable(log));
            // The first one undisturbed: its identity, its status, its modules' topics.
            QCOMPARE(retainedNow(base + QStringLiteral("/instance")), before);
            // A connection of the refused one that broke (a loaded machine) may
            // leave its last will for a moment: the live one answers it.
            QTRY_COMPARE_WITH_TIMEOUT(retainedNow(base + QStringLiteral("/status")), QByteArray("online"),
                                      10000);
            QVERIFY(!watch.messages(base + QStringLiteral("/1/availability")).contains("offline"));
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(retainedNow(base + QStringLiteral("/instance")).contains("\"pid\":"), 15000);
        QCOMPARE(retainedNow(base + QStringLiteral("/status")), QByteArray("online"));
        QVERIFY(gw.stop());
    }

    void commands_data()
    {
        QTest::addColumn<QString>("site");
        QTest::addColumn<QString>("topic"); // under rq/SITE/
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QString>("error");   // part of the error text; empty: ok
        QTest::addColumn<quint32>("outputs"); // rqsim's outputs of the site's module 1 afterwards
        QTest::newRow("all outputs, hex") << "siteA"
                                          << "1/dout/set" << QByteArray("0x105") << "" << 0x105u;
        QTest::newRow("one on, the others kept") << "siteA"
                                                 << "1/dout/4/set" << QByteArray("ON") << "" << 0x115u;
        QTest::newRow("one off") << "siteA"
                                 << "1/dout/0/set" << QByteArray("0") << "" << 0x114u;
        QTest::newRow("not a level") << "siteA"
                                     << "1/dout/2/set" << QByteArray("maybe") << "ON, OFF" << 0x114u;
        QTest::newRow("output 32") << "siteA"
                                   << "1/dout/32/set" << QByteArray("1") << "0 až 31" << 0x114u;
        // No result topic: logged only.
        QTest::newRow("no such module") << "siteA"
                                        << "9/dout/set" << QByteArray("1") << "-" << 0x114u;
        QTest::newRow("writes off") << "siteB"
                                    << "1/dout/set" << QByteArray("255") << "--allow-writes" << 0u;
    }
    void commands()
    {
        QFETCH(QString, site);
        QFETCH(QString, topic);
        QFETCH(QByteArray, payload);
        QFETCH(QString, error);
        QFETCH(quint32, outputs);
        const QString result =
            QStringLiteral("rq/%1/%2/dout/result").arg(site, topic.section(QLatin1Char('/'), 0, 0));
        Broker::Watch watch(broker, QStringLiteral("rq/%1/+/dout/result").arg(site),
                            QStringLiteral("rq/%1/status").arg(site));
        QVERIFY(watch.subscribed());
        QVERIFY(broker.publish(QStringLiteral("rq/%1/%2").arg(site, topic), payload));
        if (error == u"-") {
            // Commands are taken in order: once a later one is answered, this one had its chance.
            const QString later = QStringLiteral("rq/%1/1/dout/result").arg(site);
            QVERIFY(broker.publish(QStringLiteral("rq/%1/1/dout/32/set").arg(site), "1"));
            QTRY_COMPARE_WITH_TIMEOUT(watch.messages(later).size(), 1, 10000);
            QVERIFY(watch.messages(result).isEmpty());
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(watch.messages(result).size(), 1, 10000);
        const QJsonObject r = QJsonDocument::fromJson(watch.messages(result).first()).object();
        QCOMPARE(r.value(u"ok").toBool(), error.isEmpty());
        QVERIFY2(r.value(u"error").toString().contains(error), qPrintable(r.value(u"error").toString()));
        QCOMPARE((site == u"siteA" ? simA : simB).outputs(1), outputs);
        if (error.isEmpty()) // the next state shows it
            QTRY_COMPARE_WITH_TIMEOUT(state(site, 1).value(u"dout").toInteger(), qint64(outputs), 5000);
    }

    void metrics()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("curl")).isEmpty() ||
            QStandardPaths::findExecutable(QStringLiteral("promtool")).isEmpty())
            QSKIP("curl or promtool (Debian prometheus) is not installed (make deps)");
        QVERIFY(simA.setInput(1, 3, 2.345));
        const QString url = QStringLiteral("http://127.0.0.1:%1/metrics").arg(gwA.metricsPort);
        const QRegularExpression input(QStringLiteral(
            "\nrq_input_value\\{bus=\"siteA\",address=\"1\",input=\"3\",unit=\"V\"\\} (\\S+)\n"));
        QString text;
        const auto value = [&] {
            text = RunTool(QStringLiteral("curl"), {QStringLiteral("-sf"), url});
            const auto m = input.match(text);
            return m.hasMatch() ? m.captured(1).toDouble() : 0.0;
        };
        QTRY_VERIFY_WITH_TIMEOUT(std::abs(value() - 2.345) < 1e-3, 10000);
        for (const char *line : {"rq_module_up{bus=\"siteA\",address=\"2\",model=\"RQ-3530\"} 1",
                                 "rq_mqtt_connected{bus=\"siteA\"} 1",
                                 "rq_digital_output{bus=\"siteA\",address=\"1\",output=\"2\"} 1",
                                 "rq_transaction_duration_seconds_count{bus=\"siteA\"}"})
            QVERIFY2(text.contains(QString::fromUtf8(line)), line);
        QProcess promtool;
        promtool.start(QStringLiteral("promtool"), {QStringLiteral("check"), QStringLiteral("metrics")});
        promtool.write(text.toUtf8());
        promtool.closeWriteChannel();
        QVERIFY(promtool.waitForFinished(30000));
        QVERIFY2(promtool.exitCode() == 0, promtool.readAll().constData());
    }

    // The broker learns that a gateway is gone: from the gateway when it stops, from its last will when it
    // dies.
    void goneGateway_data()
    {
        QTest::addColumn<bool>("killed");
        QTest::newRow("SIGTERM: says offline itself") << false;
        QTest::newRow("SIGKILL: the last will") << true;
    }
    void goneGateway()
    {
        QFETCH(bool, killed);
        GatewayProcess gw;
        QVERIFY(gw.start(mqttArgs(QStringLiteral("siteC"), simA, false) +
                         QStringList{QStringLiteral("--address"), QStringLiteral("1")}));
        QTRY_COMPARE_WITH_TIMEOUT(broker.retainedOne(QStringLiteral("rq/siteC/status")), QByteArray("online"),
                                  15000);
        if (killed)
            gw.kill();
        else
            QVERIFY(gw.stop());
        QTRY_COMPARE_WITH_TIMEOUT(broker.retainedOne(QStringLiteral("rq/siteC/status")),
                                  QByteArray("offline"), 30000);
    }

    // The broker away for a while (the minute-long version is in the
    // benchmark): the gateway reconnects, the retained topics are right
    // again, and what waited was only the newest state.
    void brokerRestarted()
    {
        const qint64 rssBefore = gwA.rssKb();
        broker.stop();
        QTest::qWait(4000);
        QVERIFY2(broker.restart(), qPrintable(broker.log()));
        for (const char *topic : {"rq/siteA/status", "rq/siteA/1/availability", "rq/siteB/status"})
            QTRY_COMPARE_WITH_TIMEOUT(broker.retainedOne(QString::fromLatin1(topic)), QByteArray("online"),
                                      90000);
        QCOMPARE(state(QStringLiteral("siteA"), 2).value(u"model").toString(), QStringLiteral("RQ-3530"));
        QCOMPARE(state(QStringLiteral("siteB"), 1).value(u"model").toString(), QStringLiteral("RQ-3520"));
#ifndef __SANITIZE_ADDRESS__
        // Under AddressSanitizer freed memory stays resident in its
        // quarantine (up to 256 MB), and LeakSanitizer checks leaks at exit.
        QVERIFY2(gwA.rssKb() - rssBefore < 2048,
                 qPrintable(QStringLiteral("%1 kB -> %2 kB").arg(rssBefore).arg(gwA.rssKb())));
#else
        Q_UNUSED(rssBefore)
#endif
    }

    // What the gateway sends a broker anew after reconnecting: a module
    // past --stale is offline there, never with its last state as new.
    void reconnectWhileStale_data()
    {
        QTest::addColumn<int>("address");
        QTest::newRow("silent module") << 2;
    }
    void reconnectWhileStale()
    {
        QFETCH(int, address);
        const QString availability = QStringLiteral("rq/siteA/%1/availability").arg(address);
        QVERIFY(simA.addFault(QStringLiteral("module=%1 drop").arg(address)));
        QTRY_COMPARE_WITH_TIMEOUT(broker.retainedOne(availability), QByteArray("offline"), 20000);
        broker.stop(); // without persistence: the restarted broker holds what is sent anew
        QVERIFY2(broker.restart(), qPrintable(broker.log()));
        QTRY_COMPARE_WITH_TIMEOUT(broker.retainedOne(QStringLiteral("rq/siteA/1/availability")),
                                  QByteArray("online"), 40000);
        QCOMPARE(broker.retainedOne(availability), QByteArray("offline"));
        QVERIFY(state(QStringLiteral("siteA"), address).isEmpty());
        QVERIFY(simA.clearFaults());
        QTRY_VERIFY_WITH_TIMEOUT(!state(QStringLiteral("siteA"), address).isEmpty(), 20000);
    }

    void cleanupTestCase()
    {
        QVERIFY(gwA.stop());
        QVERIFY(gwB.stop());
        QVERIFY(gwD.stop());
    }
};

QTEST_GUILESS_MAIN(TestGatewayMqtt)
#include "tst_gateway_mqtt.moc"
