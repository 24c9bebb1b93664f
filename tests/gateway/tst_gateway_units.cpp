// The gateway's configuration, its exception rules and its register map.
#include "gateway/GatewayConfig.h"
#include "gateway/GatewayState.h"
#include "gateway/ModbusFrames.h"
#include "gateway/MqttCommand.h"
#include "gateway/MqttTopics.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <vector>

class TestGatewayUnits : public QObject
{
    Q_OBJECT
private slots:
    void configFile_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("error"); // empty: valid
        const QByteArray bus = "[bus]\nadapter=lan\nip=10.0.0.5\nudp-port=4638\n";
        QTest::newRow("valid") << bus + "[module kotel]\naddress=3\nbaud=19200\ninterval=500\n"
                               << "";
        QTest::newRow("typo in a key") << bus + "[module a]\nadress=3\n"
                                       << "gw.ini:6: adress: neznámý klíč";
        QTest::newRow("rate not in the table") << bus + "[module a]\naddress=3\nbaud=14400\n"
                                               << "gw.ini:7: baud: neplatná rychlost (600 až 115200 Bd)";
        QTest::newRow("address out of range") << bus + "[module a]\naddress=256\n"
                                              << "gw.ini:6: address: očekáváno celé číslo 0 až 255";
        QTest::newRow("module without address") << bus + "[module a]\nbaud=9600\n"
                                                << "gw.ini:5: address: modul a nemá adresu";
        QTest::newRow("two modules, one unit")
            << bus + "[module a]\naddress=3\n[module b]\naddress=4\nunit=3\n"
            << "gw.ini:7: unit: jednotku 3 už má modul a";
        QTest::newRow("bad endpoint")
            << "[gateway]\nmodbus=localhost\n" + bus << "gw.ini:2: modbus: očekáváno ADRESA:PORT";
        QTest::newRow("settings of the model")
            << bus + "[module a]\naddress=3\nmodel=RQ-3520\ncount=4\nain0=+/- 500 mV\n"
            << "";
        QTest::newRow("key the model lacks")
            << bus + "[module a]\naddress=3\nmodel=RQ-3510\ncount=4\n"
            << "gw.ini:8: count: model RQ-3510 takový klíč nemá (klíče: rqtool get --list)";
        QTest::newRow("model after a value it refuses")
            << bus + "[module a]\naddress=3\nain1=500 ohm\nmodel=RQ-3510\n"
            << "gw.ini:7: ain1: hodnota „500 ohm“ neplatí pro model RQ-3510";
        QTest::newRow("value no model takes") << bus + "[module a]\naddress=3\nthermometer=teplo\n"
                                              << "gw.ini:7: thermometer: hodnota „teplo“ neplatí";
        QTest::newRow("unknown model") << bus + "[module a]\naddress=3\nmodel=RQ-9\n"
                                       << "gw.ini:7: model: očekáváno RQ-3510, RQ-3520 nebo RQ-3530";
        QTest::newRow("calibration stays the hardware's") << bus + "[module a]\naddress=3\nain.gain=1\n"
                                                          << "gw.ini:7: ain.gain: neznámý klíč";
        QTest::newRow("lan without ip") << QByteArray("[bus]\nadapter=lan\n[module a]\naddress=1\n")
                                        << "gw.ini: ip: LAN konvertor potřebuje IP adresu";
    }
    // The form of the file, read alike for rqgw and as a plant file: the first
    // fault, where a module's end is checked before the next head.
    void sectionForm_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("error");
        QTest::newRow("not text") << QByteArray("[bus]\0\n", 7) << "gw.ini: soubor není text";
        QTest::newRow("unclosed head after a mark and comments")
            << QByteArray("\xEF\xBB\xBF; a\n# b\n[bus]\nadapter=lan\n[nic\n")
            << "gw.ini:5: neuzavřený název oddílu";
        QTest::newRow("key before a section")
            << QByteArray("\nadapter=lan\n") << "gw.ini:2: adapter: klíč mimo oddíl";
        QTest::newRow("no =") << QByteArray("[bus]\nadapter\n") << "gw.ini:2: očekáváno klíč=hodnota";
        QTest::newRow("not UTF-8") << QByteArray("[bus]\nadapter=l\xff\n")
                                   << "gw.ini:2: text není v kódování UTF-8";
        QTest::newRow("unknown section")
            << QByteArray("[bus]\n[ Busy ]\n") << "gw.ini:2: neznámý oddíl [Busy]";
        QTest::newRow("module without a name")
            << QByteArray("[bus]\n[module]\n") << "gw.ini:2: neznámý oddíl [module]";
        QTest::newRow("module twice, case aside")
            << QByteArray("[bus]\n[module Pec]\naddress=1\n[module\tpec]\n")
            << "gw.ini:4: modul pec je uveden dvakrát";
        QTest::newRow("module's end before an unknown head")
            << QByteArray("[bus]\n[module a]\nunit=2\n[foo]\n") << "gw.ini:2: address: modul a nemá adresu";
        QTest::newRow("unclosed head before the module's end")
            << QByteArray("[bus]\n[module a]\nunit=2\n[foo\n") << "gw.ini:4: neuzavřený název oddílu";
    }
    void sectionForm()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, error);
        GatewayConfig cfg;
        const std::optional<ConfigError> gateway = ParseGatewayIni(text, QStringLiteral("gw.ini"), cfg);
        QCOMPARE(gateway ? gateway->text() : QString(), error);
        PlantFile plant;
        const std::optional<PlantError> file = ParsePlantFile(text, plant);
        QCOMPARE(file ? file->text(QStringLiteral("gw.ini")) : QString(), error);
    }

    void configFile()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, error);
        GatewayConfig cfg;
        const auto e = ParseGatewayIni(text, QStringLiteral("gw.ini"), cfg);
        QCOMPARE(e ? e->text() : QString(), error);
        if (!error.isEmpty())
            return;
        QCOMPARE(cfg.adapter.kind, quint8(4));
        QCOMPARE(cfg.adapter.ipAddress, QStringLiteral("10.0.0.5"));
        QCOMPARE(cfg.modules.size(), 1);
        if (!cfg.modules[0].settings.isEmpty()) {
            QCOMPARE(cfg.modules[0].model, ModuleModel::RQ3520);
            QCOMPARE(cfg.modules[0].settings.size(), 2);
            return;
        }
        QCOMPARE(cfg.modules[0].unit, 3); // the address, when no unit is given
        QCOMPARE(cfg.modules[0].baud, 19200u);
        QCOMPARE(cfg.modules[0].intervalMs, 500u);
        QCOMPARE(cfg.modbus, (Endpoint{QStringLiteral("127.0.0.1"), 1502})); // local only by default
    }

    // Addresses a Modbus unit id cannot name are polled, not served, and said so.
    void unitOfAddress_data()
    {
        QTest::addColumn<QByteArray>("module");
        QTest::addColumn<int>("unit");
        QTest::newRow("address 1") << QByteArray("address=1\n") << 1;
        QTest::newRow("address 247") << QByteArray("address=247\n") << 247;
        QTest::newRow("address 0") << QByteArray("address=0\n") << -1;
        QTest::newRow("address 248") << QByteArray("address=248\n") << -1;
        QTest::newRow("address 250, unit 9") << QByteArray("address=250\nunit=9\n") << 9;
    }
    void unitOfAddress()
    {
        QFETCH(QByteArray, module);
        QFETCH(int, unit);
        GatewayConfig cfg;
        QVERIFY(!ParseGatewayIni("[bus]\nadapter=com\n[module m]\n" + module, QStringLiteral("x"), cfg));
        QCOMPARE(cfg.modules[0].unit, unit);
        QCOMPARE(UnitWarnings(cfg).size(), unit < 0 ? 1 : 0);
    }

    // The default stale age from the configuration alone: 2 x max(interval,
    // the round's wire time) x 2 + retries x reply timeout, at least 2 s.
    void defaultStale_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<qint64>("staleMs"); // of the first module
        const QByteArray com = "[bus]\nadapter=com\n";
        QTest::newRow("one module, at least 2 s") << com + "[module a]\naddress=1\n" << qint64(2000);
        // 15 transactions of 23.96 ms a module: 1437.5 ms a round, x 4, + 2 x 200 ms.
        QTest::newRow("four modules at 9600 Bd")
            << com +
                   "[module a]\naddress=1\n[module b]\naddress=2\n[module c]\naddress=3\n[module d]\naddress=4\n"
            << qint64(6150);
        QTest::newRow("interval=10000")
            << com + "[module a]\naddress=1\ninterval=10000\n[module b]\naddress=2\n"
            << qint64(40400);
        // The LAN converter's library waits its UDP timeout at any rate.
        QTest::newRow("600 Bd over LAN, 3 retries")
            << QByteArray("[gateway]\nretries=3\n[bus]\nadapter=lan\nip=10.0.0.5\nudp-timeout=1500\n"
                          "[module a]\naddress=1\nbaud=600\n")
            << qint64(27500);
    }
    void defaultStale()
    {
        QFETCH(QByteArray, text);
        QFETCH(qint64, staleMs);
        GatewayConfig cfg;
        QVERIFY(!ParseGatewayIni(text, QStringLiteral("x"), cfg));
        QCOMPARE(DefaultStaleMs(cfg, cfg.modules.at(0)), staleMs);
    }

    void commandLine_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<QString>("error");
        QTest::newRow("search")
            << "--adapter lan --ip 1.2.3.4 --address 1,5-7 --baud 9600,19200 --allow-writes"
            << "";
        QTest::newRow("no modules")
            << "--adapter lan --ip 1.2.3.4"
            << "příkazová řádka: žádný modul: uveďte --config SOUBOR nebo --address SEZNAM";
        QTest::newRow("unknown option") << "--adress 1"
                                        << "příkazová řádka: --adress: neznámá volba";
        QTest::newRow("retries out of range") << "--address 1 --retries 11"
                                              << "příkazová řádka: --retries: očekáváno celé číslo 0 až 10";
        QTest::newRow("missing file") << "--config /nonexistent/gw.ini"
                                      << "/nonexistent/gw.ini: soubor nelze číst: No such file or directory";
        QTest::newRow("broker without port") << "--address 1 --mqtt broker"
                                             << "příkazová řádka: --mqtt: očekáváno ADRESA:PORT";
        QTest::newRow("name with a wildcard")
            << "--address 1 --name a+b"
            << "příkazová řádka: --name: jméno je součástí témat MQTT: nesmí obsahovat mezery, /, + ani #";
    }
    void commandLine()
    {
        QFETCH(QString, args);
        QFETCH(QString, error);
        GatewayCommand cmd;
        const auto e = ParseGatewayArguments(args.split(QLatin1Char(' ')), cmd);
        QCOMPARE(e ? e->text() : QString(), error);
        if (!error.isEmpty())
            return;
        QCOMPARE(cmd.config.searchAddresses, (QList<quint8>{1, 5, 6, 7}));
        QCOMPARE(cmd.config.searchBauds, (QList<quint32>{9600, 19200}));
        QVERIFY(cmd.config.allowWrites);
        QCOMPARE(cmd.config.retries, 2);
        QCOMPARE(cmd.config.offlineRetryMs, 5000u);
    }

    // --check-config catches what would only fail later, and says where:
    // FILE stands for the file's path.
    void checkConfig_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("args");  // beside --check-config FILE
        QTest::addColumn<QString>("error"); // empty: valid
        const QByteArray bus = "[bus]\nadapter=lan\nip=10.0.0.5\n[module a]\naddress=1\n";
        const QString same =
            QStringLiteral("metrics: stejná adresa a port jako modbus= (%1): jeden z nich by nezačal");
        QTest::newRow("modbus and metrics on one port")
            << "[gateway]\nmodbus=0.0.0.0:1502\nmetrics=127.0.0.1:1502\n" + bus << ""
            << QStringLiteral("FILE:3: ") + same.arg(QStringLiteral("0.0.0.0:1502"));
        QTest::newRow("metrics on the default Modbus port")
            << "[gateway]\nmetrics=127.0.0.1:1502\n" + bus << ""
            << QStringLiteral("FILE:2: ") + same.arg(QStringLiteral("127.0.0.1:1502"));
        QTest::newRow("the command line moves one")
            << "[gateway]\nmetrics=127.0.0.1:1502\n" + bus << "--modbus 127.0.0.1:1503"
            << "";
        QTest::newRow("no [bus]")
            << QByteArray("[gateway]\nname=x\n[module a]\naddress=1\n") << ""
            << "FILE:3: chybí oddíl [bus]: rozhraní, na kterém jsou moduly, musí být uvedeno";
        QTest::newRow("a key twice") << "[gateway]\nretries=1\nstale=500\nretries=3\n" + bus << ""
                                     << "FILE:4: retries: klíč je v oddílu už na řádku 2";
        QTest::newRow("a key twice in a module") << bus + "baud=9600\naddress=2\n"
                                                 << ""
                                                 << "FILE:7: address: klíč je v oddílu už na řádku 5";
        QTest::newRow("one key in two modules") << bus + "[module b]\naddress=2\n"
                                                << ""
                                                << "";
        QTest::newRow("ha-discovery without mqtt")
            << "[gateway]\nha-discovery=yes\n" + bus << ""
            << "FILE:2: ha-discovery: Home Assistant se dozví o modulech jen přes MQTT: chybí mqtt=";
        QTest::newRow("ha-discovery with mqtt")
            << "[gateway]\nha-discovery=yes\nmqtt=127.0.0.1:1883\n" + bus << ""
            << "";
        QTest::newRow("--ha-discovery without mqtt")
            << bus << "--ha-discovery"
            << "příkazová řádka: --ha-discovery: Home Assistant se dozví o modulech jen přes MQTT: chybí mqtt=";
        QTest::newRow("a blank in the name")
            << "[gateway]\nname=hala 1\n" + bus << ""
            << "FILE:2: name: jméno je součástí témat MQTT: nesmí obsahovat mezery, /, + ani #";
        QTest::newRow("a slash in the name")
            << "[gateway]\nname=hala/1\n" + bus << ""
            << "FILE:2: name: jméno je součástí témat MQTT: nesmí obsahovat mezery, /, + ani #";
        QTest::newRow("word order") << "[gateway]\nword-order=low-first\n" + bus << ""
                                    << "";
        QTest::newRow("word order misspelt") << "[gateway]\nword-order=little\n" + bus << ""
                                             << "FILE:2: word-order: očekáváno high-first nebo low-first";
    }
    void checkConfig()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, args);
        QFETCH(QString, error);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("gw.ini"));
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(text) == text.size());
        f.close();
        GatewayCommand cmd;
        QStringList list{QStringLiteral("--check-config"), file};
        if (!args.isEmpty())
            list += args.split(QLatin1Char(' '));
        const auto e = ParseGatewayArguments(list, cmd);
        QCOMPARE(e ? e->text() : QString(), QString(error).replace(QStringLiteral("FILE"), file));
        if (QTest::currentDataTag() == QByteArrayLiteral("word order"))
            QVERIFY(cmd.config.lowWordFirst);
    }

    // The broker's and Prometheus' keys in the file, and the base topic's name.
    void plantKeys_data()
    {
        QTest::addColumn<QByteArray>("gateway");
        QTest::addColumn<QString>("mqttName");
        QTest::newRow("defaults: host and instance") << QByteArray() << "stroj-hala_1";
        QTest::newRow("all set") << QByteArray(
                                        "name=sever\nmqtt=[::1]:8883\nmqtt-user=gw\nmqtt-cafile=/etc/ca.pem\n"
                                        "mqtt-interval=250\nha-discovery=yes\nmetrics=0.0.0.0:9105\n")
                                 << "sever";
    }
    void plantKeys()
    {
        QFETCH(QByteArray, gateway);
        QFETCH(QString, mqttName);
        GatewayConfig cfg;
        QVERIFY(!ParseGatewayIni("[gateway]\n" + gateway + "[bus]\nadapter=com\n[module m]\naddress=1\n",
                                 QStringLiteral("/etc/rqgw/hala 1.ini"), cfg));
        QCOMPARE(MqttName(cfg, QStringLiteral("stroj")), mqttName);
        if (gateway.isEmpty()) {
            QVERIFY(!cfg.mqtt && !cfg.metrics && !cfg.haDiscovery);
            QCOMPARE(cfg.mqttIntervalMs, 1000u);
            return;
        }
        QCOMPARE(cfg.mqtt, (Endpoint{QStringLiteral("::1"), 8883}));
        QCOMPARE(cfg.metrics, (Endpoint{QStringLiteral("0.0.0.0"), 9105}));
        QCOMPARE(cfg.mqttUser, QStringLiteral("gw"));
        QCOMPARE(cfg.mqttCafile, QStringLiteral("/etc/ca.pem"));
        QCOMPARE(cfg.mqttIntervalMs, 250u);
        QVERIFY(cfg.haDiscovery);
    }

    // Output commands from the broker: the topic names the module and the
    // outputs, the payload their values.
    void doutCommand_data()
    {
        QTest::addColumn<QByteArray>("topic");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("address"); // -1: not a command topic
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("count");
        QTest::addColumn<quint32>("values");
        const QByteArray b = "rq/hala1/";
        QTest::newRow("all, decimal")
            << b + "5/dout/set" << QByteArray("4660") << true << 5 << 0 << 32 << 4660u;
        QTest::newRow("all, hex") << b + "5/dout/set" << QByteArray(" 0xFFFFFFFF\n") << true << 5 << 0 << 32
                                  << 0xFFFFFFFFu;
        QTest::newRow("all, too big")
            << b + "5/dout/set" << QByteArray("4294967296") << false << 5 << 0 << 0 << 0u;
        QTest::newRow("all, negative") << b + "5/dout/set" << QByteArray("-1") << false << 5 << 0 << 0 << 0u;
        QTest::newRow("all, hex without digits")
            << b + "5/dout/set" << QByteArray("0x") << false << 5 << 0 << 0 << 0u;
        QTest::newRow("all, empty") << b + "5/dout/set" << QByteArray() << false << 5 << 0 << 0 << 0u;
        QTest::newRow("one ON") << b + "0/dout/31/set" << QByteArray("ON") << true << 0 << 31 << 1 << 1u;
        QTest::newRow("one off, lower case")
            << b + "255/dout/7/set" << QByteArray("off") << true << 255 << 7 << 1 << 0u;
        QTest::newRow("one, a word") << b + "5/dout/7/set" << QByteArray("zapni") << false << 5 << 0 << 0
                                     << 0u;
        QTest::newRow("output 32") << b + "5/dout/32/set" << QByteArray("1") << false << -1 << 0 << 0 << 0u;
        QTest::newRow("address 256") << b + "256/dout/set" << QByteArray("1") << false << -1 << 0 << 0 << 0u;
        QTest::newRow("another gateway")
            << QByteArray("rq/hala10/5/dout/set") << QByteArray("1") << false << -1 << 0 << 0 << 0u;
        QTest::newRow("the result topic")
            << b + "5/dout/result" << QByteArray("1") << false << -1 << 0 << 0 << 0u;
        QTest::newRow("signed address")
            << b + "+5/dout/set" << QByteArray("1") << false << -1 << 0 << 0 << 0u;
    }
    void doutCommand()
    {
        QFETCH(QByteArray, topic);
        QFETCH(QByteArray, payload);
        QFETCH(bool, ok);
        QFETCH(int, address);
        const auto t = ParseDoutTopic("rq/hala1", topic);
        QCOMPARE(t ? t->address : -1, address);
        if (!t)
            return;
        const DoutCommand c = ParseDoutCommand(t->output, payload);
        QCOMPARE(c.ok, ok);
        QCOMPARE(c.error.isEmpty(), ok);
        if (!ok)
            return;
        QTEST(c.first, "first");
        QTEST(c.count, "count");
        QTEST(c.values, "values");
    }

    void requestException_data()
    {
        QTest::addColumn<bool>("present");
        QTest::addColumn<bool>("online");
        QTest::addColumn<int>("ageMs");
        QTest::addColumn<bool>("writes");
        QTest::addColumn<int>("function");
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("exception"); // 0: served
        QTest::newRow("values") << true << true << 100 << false << 4 << 0 << 26 << 0;
        QTest::newRow("no module") << false << true << 100 << false << 4 << 0 << 2 << 0x0A;
        QTest::newRow("offline") << true << false << 100 << false << 4 << 0 << 2 << 0x0B;
        QTest::newRow("stale") << true << true << 2001 << false << 4 << 0 << 2 << 0x0B;
        QTest::newRow("state of an offline module") << true << false << 100 << false << 4 << 100 << 11 << 0;
        QTest::newRow("values and state at once") << true << true << 100 << false << 4 << 30 << 80 << 0x02;
        QTest::newRow("register 39") << true << true << 100 << false << 4 << 39 << 1 << 0x02;
        QTest::newRow("register 112") << true << true << 100 << false << 4 << 111 << 2 << 0x02;
        QTest::newRow("drift of an offline module") << true << false << 100 << false << 4 << 111 << 1 << 0;
        QTest::newRow("no count: left to the form check") << true << true << 100 << false << 4 << 0 << 0 << 0;
        QTest::newRow("holding registers: the same map") << true << true << 100 << false << 3 << 0 << 26 << 0;
        QTest::newRow("holding registers, stale") << true << true << 2001 << false << 3 << 0 << 2 << 0x0B;
        QTest::newRow("holding register 39") << true << true << 100 << false << 3 << 39 << 1 << 0x02;
        QTest::newRow("coil write, writes off") << true << true << 100 << false << 5 << 0 << 1 << 0x01;
        QTest::newRow("register write, writes off") << true << true << 100 << false << 6 << 0 << 1 << 0x01;
        QTest::newRow("register write, writes on: read-only")
            << true << true << 100 << true << 6 << 0 << 1 << 0x01;
        QTest::newRow("registers write, writes on: read-only")
            << true << true << 100 << true << 16 << 0 << 2 << 0x01;
        QTest::newRow("coil write") << true << true << 100 << true << 15 << 0 << 32 << 0;
        QTest::newRow("coil write past 31") << true << true << 100 << true << 15 << 16 << 17 << 0x02;
        QTest::newRow("coil write, offline") << true << false << 100 << true << 5 << 0 << 1 << 0x0B;
        QTest::newRow("writes off before no module") << false << true << 100 << false << 5 << 0 << 1 << 0x0A;
        QTest::newRow("inputs") << true << true << 100 << false << 2 << 0 << 32 << 0;
        QTest::newRow("input 32") << true << true << 100 << false << 2 << 31 << 2 << 0x02;
        QTest::newRow("exception status: libmodbus would not answer")
            << true << true << 100 << false << 7 << 0 << 0 << 0x01;
        QTest::newRow("unknown function: left to the form check")
            << true << true << 100 << false << 43 << 0 << 0 << 0;
    }
    void requestException()
    {
        QFETCH(bool, present);
        QFETCH(bool, online);
        QFETCH(int, ageMs);
        QFETCH(bool, writes);
        QFETCH(int, function);
        QFETCH(int, address);
        QFETCH(int, count);
        QFETCH(int, exception);
        ModuleSnapshot m;
        m.online = online;
        m.lastCompleteMs = 10000;
        const auto e =
            RequestException(present ? &m : nullptr, {function, address, count}, writes, 10000 + ageMs, 2000);
        QCOMPARE(e.value_or(0), exception);
    }

    void inputRegisters()
    {
        ModuleSnapshot m;
        m.ain[0] = 1.5f;
        m.ainUnit[0] = static_cast<quint16>(UnitCodeOfText(QStringLiteral("°C")));
        m.temperature = -40.0f;
        m.temperatureUnit = static_cast<quint16>(TemperatureUnit(0x80));
        m.online = true;
        m.lastError = 20;
        m.lastCompleteMs = 1000;
        m.status = 0x80000030;
        m.completeCycles = 70000;
        m.failedCycles = 3;
        m.doutKnown = true;
        m.drift = 1;
        const auto r = InputRegisters(m, 1250);
        // Floats high word first: 1.5, NaN for a value never measured, -40.
        QCOMPARE(std::vector<quint16>(r.begin(), r.begin() + 4),
                 (std::vector<quint16>{0x3FC0, 0, 0x7FC0, 0}));
        QCOMPARE(std::vector<quint16>(r.begin() + 24, r.begin() + 28),
                 (std::vector<quint16>{0xC220, 0, 3, 0}));
        QCOMPARE(r[38], quint16(6)); // thermometer on, not in degrees: counts
        // online, last error, age 250 ms, status, 70000 cycles, 3 failed, outputs known, drift
        QCOMPARE(std::vector<quint16>(r.begin() + 100, r.end()),
                 (std::vector<quint16>{1, 20, 0, 250, 0x8000, 0x0030, 1, 70000 - 65536, 0, 3, 1, 1}));
        // word-order=low-first swaps the two words of every 32-bit value, and only those.
        const auto low = InputRegisters(m, 1250, true);
        QCOMPARE(std::vector<quint16>(low.begin(), low.begin() + 4),
                 (std::vector<quint16>{0, 0x3FC0, 0, 0x7FC0}));
        QCOMPARE(std::vector<quint16>(low.begin() + 24, low.begin() + 28),
                 (std::vector<quint16>{0, 0xC220, 3, 0}));
        QCOMPARE(std::vector<quint16>(low.begin() + 100, low.end()),
                 (std::vector<quint16>{1, 20, 250, 0, 0x0030, 0x8000, 70000 - 65536, 1, 3, 0, 1, 1}));
        m.drift = -1;
        QCOMPARE(InputRegisters(m, 1250)[111], quint16(0)); // not known is no drift
        m.lastCompleteMs = -1;
        QCOMPARE(InputRegisters(m, 1250)[103], quint16(0xFFFF)); // never: as old as it gets
    }

    // A coil write either goes to the outputs or is refused with 0x03: a
    // quantity out of range (0, above 1968) must not switch them while the
    // client hears the refusal, nor a byte count that does not fit the
    // quantity or the frame be answered as done with nothing written.
    void coilWriteReachesOutputs_data()
    {
        QTest::addColumn<QByteArray>("pdu");
        QTest::addColumn<int>("values"); // -3: refused with 0x03
        QTest::newRow("single on") << QByteArray::fromHex("050003ff00") << 1;
        QTest::newRow("single, bad value") << QByteArray::fromHex("0500031234") << -3;
        QTest::newRow("ten coils") << QByteArray::fromHex("0f0000000a02ff03") << 0x3FF;
        QTest::newRow("byte count short") << QByteArray::fromHex("0f0000000a01ff") << -3;
        QTest::newRow("byte count long") << QByteArray::fromHex("0f0000000a05ff03000000") << -3;
        QTest::newRow("none") << QByteArray::fromHex("0f0000000000") << -3;
        QTest::newRow("2000 coils") << QByteArray::fromHex("0f000007d0fa") + QByteArray(250, '\xff') << -3;
    }
    void coilWriteReachesOutputs()
    {
        QFETCH(QByteArray, pdu);
        QFETCH(int, values);
        ModbusRequest q;
        q.unit = 1;
        q.pdu = pdu;
        ModuleSnapshot m;
        m.online = true;
        m.lastCompleteMs = 1000;
        const RequestDecision d = DecideRequest(q, &m, true, 1000, 2000);
        QCOMPARE(d.write ? int(d.write->values) : -int(d.exception.value_or(0)), values);
    }

    // Who the device is: Read Device Identification (43/14) in its access
    // modes, and Report Server ID (17), for an RQ-3530 at bus address 17.
    void identification_data()
    {
        QTest::addColumn<QByteArray>("pdu");
        QTest::addColumn<QString>("model"); // empty: the module never identified itself
        QTest::addColumn<QByteArray>("answer");
        const QByteArray basic = "0002" + QByteArray("RQ").toHex() + "0107" + QByteArray("RQ-3530").toHex() +
                                 "0204" + QByteArray("1.08").toHex();
        const QByteArray address = "0602" + QByteArray("17").toHex();
        QTest::newRow("basic") << QByteArray("2b0e0100") << "RQ-3530"
                               << "2b0e0182000003" + basic;
        QTest::newRow("regular: the bus address too") << QByteArray("2b0e0200") << "RQ-3530"
                                                      << "2b0e0282000004" + basic + address;
        QTest::newRow("one object") << QByteArray("2b0e0406") << "RQ-3530"
                                    << "2b0e0482000001" + address;
        QTest::newRow("stream from the revision") << QByteArray("2b0e0102") << "RQ-3530"
                                                  << "2b0e0182000001" + basic.right(12);
        QTest::newRow("basic from a regular object starts over") << QByteArray("2b0e0106") << "RQ-3530"
                                                                 << "2b0e0182000003" + basic;
        QTest::newRow("an object it does not have")
            << QByteArray("2b0e0403") << "RQ-3530" << QByteArray("ab02");
        QTest::newRow("read code 5") << QByteArray("2b0e0500") << "RQ-3530" << QByteArray("ab03");
        QTest::newRow("another MEI type") << QByteArray("2b0d0100") << "RQ-3530" << QByteArray("ab01");
        QTest::newRow("not identified yet") << QByteArray("2b0e0100") << "" << QByteArray("ab0b");
        QTest::newRow("server id: unit, running, model") << QByteArray("11") << "RQ-3530"
                                                         << "110911ff" + QByteArray("RQ-3530").toHex();
    }
    void identification()
    {
        QFETCH(QByteArray, pdu);
        QFETCH(QString, model);
        QFETCH(QByteArray, answer);
        ModbusRequest q;
        q.transaction = 0x1234;
        q.unit = 17;
        q.pdu = QByteArray::fromHex(pdu);
        ModuleSnapshot m;
        m.address = 17;
        m.model = model;
        m.firmware = QStringLiteral("1.08");
        m.online = true;
        m.lastCompleteMs = -1; // never a complete cycle: identity is served all the same
        const RequestDecision d = DecideRequest(q, &m, false, 1000, 2000);
        QCOMPARE(d.answer.left(7), QByteArray::fromHex("1234000000") + char(d.answer.size() - 6) + char(17));
        QCOMPARE(d.answer.mid(7).toHex(), answer);
    }

    // Requests leave the assembler only whole, by the MBAP length, however
    // the stream was cut; a stream that is not Modbus TCP breaks it for good.
    void frameAssembly_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QString>("requests"); // transaction:unit:pdu hex, one per request
        QTest::addColumn<bool>("broken");
        const QByteArray read = QByteArray::fromHex("000100000006010400000002");
        QTest::newRow("one") << read << "1:1:0400000002" << false;
        QTest::newRow("two at once, a third begun")
            << read + QByteArray::fromHex("0002000000020211") + read.left(9) << "1:1:0400000002 2:2:11"
            << false;
        QTest::newRow("half a frame") << read.left(8) << "" << false;
        QTest::newRow("the longest") << QByteArray::fromHex("0003000000fe") + QByteArray(254, '\x11')
                                     << QStringLiteral("3:17:") + QString(253 * 2, QLatin1Char('1')) << false;
        QTest::newRow("protocol id 1") << QByteArray::fromHex("00010001") << "" << true;
        QTest::newRow("after a good one, protocol id 0x100")
            << read + QByteArray::fromHex("000201000006") << "1:1:0400000002" << true;
        QTest::newRow("length 1") << QByteArray::fromHex("00010000000101") << "" << true;
        QTest::newRow("length 255") << QByteArray::fromHex("0001000000ff") << "" << true;
    }
    void frameAssembly()
    {
        QFETCH(QByteArray, stream);
        QFETCH(QString, requests);
        QFETCH(bool, broken);
        for (qsizetype cut = 0; cut <= stream.size(); ++cut) {
            FrameAssembler a;
            QStringList got;
            const auto take = [&] {
                while (const auto q = a.next())
                    got << QStringLiteral("%1:%2:%3")
                               .arg(q->transaction)
                               .arg(q->unit)
                               .arg(QString::fromLatin1(q->pdu.toHex()));
            };
            a.feed(stream.constData(), cut);
            take();
            a.feed(stream.constData() + cut, stream.size() - cut);
            take();
            QCOMPARE(got.join(QLatin1Char(' ')), requests);
            QCOMPARE(a.broken(), broken);
        }
    }

    void mergeCoils_data()
    {
        QTest::addColumn<quint32>("known");
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("count");
        QTest::addColumn<quint32>("values");
        QTest::addColumn<quint32>("result");
        QTest::newRow("one on") << 0x0u << 3 << 1 << 1u << 0x8u;
        QTest::newRow("one off, others kept") << 0xFFFFFFFFu << 0 << 1 << 0u << 0xFFFFFFFEu;
        QTest::newRow("all 32") << 0x12345678u << 0 << 32 << 0xCAFEBABEu << 0xCAFEBABEu;
        QTest::newRow("the top one") << 0x0u << 31 << 1 << 1u << 0x80000000u;
        QTest::newRow("values beyond count ignored") << 0x0u << 4 << 2 << 0xFFu << 0x30u;
    }
    void mergeCoils()
    {
        QFETCH(quint32, known);
        QFETCH(int, address);
        QFETCH(int, count);
        QFETCH(quint32, values);
        QFETCH(quint32, result);
        QCOMPARE(MergeCoils(known, address, count, values), result);
    }

    // converter-allow: networks of both families, and a dual-stack socket's IPv4 sources.
    void converterAllow_data()
    {
        QTest::addColumn<QString>("allow");
        QTest::addColumn<QString>("client");
        QTest::addColumn<int>("verdict"); // 1 allowed, 0 refused, -1 the list is refused
        QTest::newRow("in the network") << "10.1.2.0/24"
                                        << "10.1.2.77" << 1;
        QTest::newRow("next network") << "10.1.2.0/24"
                                      << "10.1.3.1" << 0;
        QTest::newRow("host bits ignored") << "10.1.2.9/24"
                                           << "10.1.2.200" << 1;
        QTest::newRow("one address") << "192.168.5.5"
                                     << "192.168.5.6" << 0;
        QTest::newRow("IPv4 through a dual-stack socket") << "10.1.2.0/24"
                                                          << "::ffff:10.1.2.5" << 1;
        QTest::newRow("IPv6 network") << "127.0.0.1, fd00::/8"
                                      << "fd12::1" << 1;
        QTest::newRow("prefix too long") << "10.1.2.0/33"
                                         << "10.1.2.1" << -1;
        QTest::newRow("a name") << "plc.local"
                                << "10.1.2.1" << -1;
    }
    void converterAllow()
    {
        QFETCH(QString, allow);
        QFETCH(QString, client);
        QFETCH(int, verdict);
        GatewayConfig cfg;
        const auto e = ParseGatewayIni("[gateway]\nconverter-allow=" + allow.toUtf8() + '\n',
                                       QStringLiteral("gw.ini"), cfg);
        QCOMPARE(e.has_value(), verdict < 0);
        if (verdict < 0)
            return;
        sockaddr_storage from{};
        if (client.contains(u':')) {
            auto *a6 = reinterpret_cast<sockaddr_in6 *>(&from);
            a6->sin6_family = AF_INET6;
            QVERIFY(inet_pton(AF_INET6, client.toLatin1().constData(), &a6->sin6_addr) == 1);
        } else {
            auto *a4 = reinterpret_cast<sockaddr_in *>(&from);
            a4->sin_family = AF_INET;
            QVERIFY(inet_pton(AF_INET, client.toLatin1().constData(), &a4->sin_addr) == 1);
        }
        QCOMPARE(ClientAllowed(cfg.converterAllow, reinterpret_cast<const sockaddr *>(&from)), verdict == 1);
    }

    // Home Assistant's discovery: each config against the keys its component
    // requires and allows (object_id is gone since 2026.4), with the device
    // class the unit has, entity ids from a slug of the name.
    void discoveryKeys_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("unit"); // of AIN0..AIN5 (UnitCode)
        QTest::addColumn<bool>("writes");
        QTest::addColumn<QString>("deviceClass"); // of the inputs; empty: none
        QTest::addColumn<QByteArray>("slug");
        QTest::newRow("volts") << "hala1" << int(UnitCode::Volt) << false << "voltage" << QByteArray("hala1");
        QTest::newRow("type K, °C") << "hala1" << int(UnitCode::Celsius) << false << "temperature"
                                    << QByteArray("hala1");
        QTest::newRow("ohm, writes allowed")
            << "Sever-2" << int(UnitCode::Ohm) << true << "" << QByteArray("sever_2");
        QTest::newRow("accents") << "Hala_Říčany" << int(UnitCode::Kelvin) << true << "temperature"
                                 << QByteArray("hala_ricany");
    }
    void discoveryKeys()
    {
        QFETCH(QString, name);
        QFETCH(int, unit);
        QFETCH(bool, writes);
        QFETCH(QString, deviceClass);
        QFETCH(QByteArray, slug);
        const auto names = [](const char *list) {
            QSet<QString> out;
            for (const QString &n : QString::fromLatin1(list).split(u' ', Qt::SkipEmptyParts))
                out.insert(n);
            return out;
        };
        const QSet<QString> common = names(
            "unique_id default_entity_id name state_topic value_template availability availability_mode device");
        // component: required beside the common ones, and allowed beside those
        const QMap<QString, QPair<QSet<QString>, QSet<QString>>> keys = {
            {QStringLiteral("sensor"), {names("unit_of_measurement state_class"), names("device_class")}},
            {QStringLiteral("binary_sensor"), {}},
            {QStringLiteral("switch"),
             {names("command_topic payload_on payload_off state_on state_off"), {}}}};
        ModuleSnapshot m;
        m.name = QStringLiteral("m17");
        m.address = 17;
        m.model = QStringLiteral("RQ-3530");
        m.firmware = QStringLiteral("1.08");
        for (int i = 0; i < 6; ++i)
            m.ainUnit[static_cast<std::size_t>(i)] = static_cast<quint16>(unit);
        m.temperatureUnit = static_cast<quint16>(UnitCode::Celsius);
        const QByteArray base = "rq/" + name.toUtf8();
        const QMap<QByteArray, QByteArray> configs = DiscoveryConfigs(m, base, name, writes);
        QMap<QString, int> perComponent;
        QSet<QString> ids;
        for (auto it = configs.cbegin(); it != configs.cend(); ++it) {
            const QString component = QString::fromUtf8(it.key().split('/').value(1));
            QVERIFY2(keys.contains(component), it.key().constData());
            ++perComponent[component];
            QJsonParseError error{};
            const QJsonObject o = QJsonDocument::fromJson(it.value(), &error).object();
            QVERIFY2(error.error == QJsonParseError::NoError, it.value().constData());
            const QStringList present = o.keys();
            const QSet<QString> has(present.begin(), present.end());
            const QSet<QString> required = common + keys[component].first;
            QVERIFY2(has.contains(required), it.key().constData());
            QVERIFY2((has - required - keys[component].second).isEmpty(),
                     qPrintable(QStringList((has - required - keys[component].second).values()).join(u',')));
            const QString id = o.value(u"unique_id").toString();
            QVERIFY2(!ids.contains(id), qPrintable(id));
            ids.insert(id);
            const QString object = id.section(u'_', -1);
            QCOMPARE(o.value(u"default_entity_id").toString(),
                     component + u".rq_" + QString::fromUtf8(slug) + u"_17_" + object);
            QCOMPARE(o.value(u"device").toObject().value(u"identifiers").toArray().first().toString(),
                     u"rq_" + name + u"_17");
            const QJsonArray availability = o.value(u"availability").toArray();
            QCOMPARE(availability.size(), 2);
            QCOMPARE(availability.at(0).toObject().value(u"topic").toString(),
                     QString::fromUtf8(base + "/status"));
            QCOMPARE(availability.at(1).toObject().value(u"topic").toString(),
                     QString::fromUtf8(base + "/17/availability"));
            if (object.startsWith(u"ain"))
                QCOMPARE(o.value(u"device_class").toString(), deviceClass);
            if (object == u"temperature")
                QCOMPARE(o.value(u"device_class").toString(), QStringLiteral("temperature"));
        }
        QCOMPARE(perComponent.value(QStringLiteral("sensor")), 7); // six inputs and the temperature
        QCOMPARE(perComponent.value(QStringLiteral("binary_sensor")), 32);
        QCOMPARE(perComponent.value(QStringLiteral("switch")), writes ? 32 : 0);
    }

    // One name, one gateway: who may take the name on the broker.
    void nameTaken_data()
    {
        QTest::addColumn<QByteArray>("instance"); // rq/NAME/instance as retained
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<bool>("refused");
        const QByteArray other =
            R"({"host":"jiny-stroj","machine":"m2","instance":"/etc/rqgw/gw1.ini","pid":7,)"
            R"("started":"2026-12-08T06:00:00+01:00"})";
        const QByteArray own = R"({"host":"stroj","machine":"m1","instance":"/etc/rqgw/gw1.ini","pid":9})";
        QTest::newRow("nothing there") << QByteArray() << QByteArray() << false;
        QTest::newRow("another host, online") << other << QByteArray("online") << true;
        QTest::newRow("another host, gone") << other << QByteArray("offline") << false;
        QTest::newRow("this instance restarted") << own << QByteArray("online") << false;
        QTest::newRow("another instance here")
            << QByteArray(own).replace("gw1.ini", "gw2.ini") << QByteArray("online") << true;
        QTest::newRow("not an identity") << QByteArray("{}") << QByteArray("online") << false;
    }
    void nameTaken()
    {
        QFETCH(QByteArray, instance);
        QFETCH(QByteArray, status);
        QFETCH(bool, refused);
        GatewayInstance me;
        me.host = QStringLiteral("stroj");
        me.machine = QStringLiteral("m1");
        me.instance = QStringLiteral("/etc/rqgw/gw1.ini");
        QCOMPARE(GatewayInstance::fromJson(me.json())->sameAs(me), true);
        const std::optional<QString> why = NameTaken(me, instance, status, QStringLiteral("gw1"));
        QCOMPARE(why.has_value(), refused);
        if (why) // the other one's host, for the operator who has to find it
            QVERIFY2(why->contains(GatewayInstance::fromJson(instance)->host), qPrintable(*why));
    }

    // mqtt-values=yes: one value a topic, as the state writes it.
    void plainValues_data()
    {
        QTest::addColumn<bool>("doutKnown");
        QTest::newRow("outputs known") << true;
        QTest::newRow("outputs not known") << false;
    }
    void plainValues()
    {
        QFETCH(bool, doutKnown);
        ModuleSnapshot m;
        m.ain[0] = 0.95370f;
        m.ainDecimals[0] = 4;
        m.ainUnit[0] = static_cast<quint16>(UnitCode::Volt);
        m.ain[1] = 3.0f; // no unit: the module does not measure it
        m.din = 1u << 3;
        m.dout = 1u << 31;
        m.doutKnown = doutKnown;
        const QMap<QByteArray, QByteArray> v = PlainValues(m);
        QCOMPARE(v.value("ain/0"), QByteArray("0.9537"));
        QVERIFY(!v.contains("ain/1") && !v.contains("temperature"));
        QCOMPARE(v.value("din/3"), QByteArray("1"));
        QCOMPARE(v.value("din/4"), QByteArray("0"));
        QCOMPARE(v.value("dout/31"), doutKnown ? QByteArray("1") : QByteArray());
        QCOMPARE(ParseTopicList(TopicListText({{17, {"rq/a/17/state", "x y"}}, {3, {"t"}}})),
                 (QMap<int, QSet<QByteArray>>{{17, {"rq/a/17/state", "x y"}}, {3, {"t"}}}));
    }
};

QTEST_GUILESS_MAIN(TestGatewayUnits)
#include "tst_gateway_units.moc"
