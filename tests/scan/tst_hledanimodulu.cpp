#include "app/Dekl.h"
#include "scan/HledaniModulu.h"
#include "support/SimProcess.h"

#include <QTest>

namespace {
// Collects what a search reports; can stop it after a number of probes.
class Collector : public ScanReport
{
public:
    QList<ScanFinding> found_;
    int progressCalls = 0;
    QList<ScanProgress> progressed;
    int stopAfter = -1;
    bool stop = false;

    void found(const ScanFinding &f) override { found_.append(f); }
    void progress(const ScanProgress &p) override
    {
        ++progressCalls;
        progressed.append(p);
        if (p.done == stopAfter)
            stop = true;
    }
    bool cancelled() const override { return stop; }
};

AdapterSettings lanTo(quint16 port)
{
    AdapterSettings a;
    a.kind = 4;
    a.ipAddress = QStringLiteral("127.0.0.1");
    a.udpPort = port;
    a.udpTimeout = 200;
    return a;
}

QList<quint8> bytes(std::initializer_list<int> list)
{
    QList<quint8> out;
    for (int v : list)
        out.append(static_cast<quint8>(v));
    return out;
}
} // namespace

class TestHledaniModulu : public QObject
{
    Q_OBJECT

private slots:
    void addressList_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QList<quint8>>("expected");
        QTest::newRow("list and range") << "1,5,10-13" << true << bytes({1, 5, 10, 11, 12, 13});
        QTest::newRow("blanks, hexadecimal") << " 3 , $10 ,0x11" << true << bytes({3, 16, 17});
        QTest::newRow("each once, order kept") << "5,5,4-6" << true << bytes({5, 4, 6});
        QTest::newRow("range with blanks") << "254 - 255" << true << bytes({254, 255});
        QTest::newRow("empty items skipped") << "7,,8," << true << bytes({7, 8});
        QTest::newRow("above 255") << "256" << false << QList<quint8>{};
        QTest::newRow("reversed range") << "10-5" << false << QList<quint8>{};
        QTest::newRow("open range") << "1-" << false << QList<quint8>{};
        QTest::newRow("negative") << "-1" << false << QList<quint8>{};
        QTest::newRow("letters") << "a" << false << QList<quint8>{};
        QTest::newRow("nothing") << " " << false << QList<quint8>{};
    }
    void addressList()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(QList<quint8>, expected);
        QString error;
        const auto list = ParseAddressList(text, &error);
        QCOMPARE(list.has_value(), valid);
        if (valid)
            QCOMPARE(*list, expected);
        else
            QVERIFY(!error.isEmpty());
    }
    void fullRange()
    {
        const auto list = ParseAddressList(QStringLiteral("0-255"));
        QVERIFY(list);
        QCOMPARE(*list, AllAddresses());
    }

    void baudList_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QList<quint32>>("expected");
        QTest::newRow("all, common first")
            << "all" << true << QList<quint32>{9600, 19200, 115200, 57600, 38400, 4800, 2400, 1200, 600};
        QTest::newRow("list with Bd") << "19200, 600 Bd" << true << QList<quint32>{19200, 600};
        QTest::newRow("each once") << "9600,9600" << true << QList<quint32>{9600};
        QTest::newRow("not in the table") << "9601" << false << QList<quint32>{};
        QTest::newRow("letters") << "fast" << false << QList<quint32>{};
        QTest::newRow("nothing") << "" << false << QList<quint32>{};
    }
    void baudList()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(QList<quint32>, expected);
        const auto list = ParseBaudList(text);
        QCOMPARE(list.has_value(), valid);
        if (valid)
            QCOMPARE(*list, expected);
    }

    // The probe waits for request and reply on the wire, and never longer
    // than the connection setup would.
    void probeTimeout_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<quint32>("udpTimeout");
        QTest::addColumn<quint32>("baud");
        QTest::addColumn<quint32>("extra");
        QTest::addColumn<quint32>("expected");
        QTest::newRow("9600, serial") << 0 << 0u << 9600u << 0u << 32u;
        QTest::newRow("115200, serial") << 0 << 0u << 115200u << 0u << 6u;
        QTest::newRow("600 under the table's 1000") << 3 << 0u << 600u << 0u << 463u;
        QTest::newRow("LAN without own timeout") << 4 << 0u << 1200u << 0u << 233u;
        QTest::newRow("LAN's own timeout caps") << 4 << 100u << 600u << 0u << 100u;
        QTest::newRow("LAN's own timeout above") << 4 << 200u << 9600u << 0u << 32u;
        QTest::newRow("reserve added") << 0 << 0u << 9600u << 50u << 82u;
        QTest::newRow("reserve capped by the table") << 0 << 0u << 115200u << 500u << 200u;
    }
    void probeTimeout()
    {
        QFETCH(int, kind);
        QFETCH(quint32, udpTimeout);
        QFETCH(quint32, baud);
        QFETCH(quint32, extra);
        QFETCH(quint32, expected);
        AdapterSettings a;
        a.kind = static_cast<quint8>(kind);
        a.udpTimeout = udpTimeout;
        QCOMPARE(ProbeTimeoutMs(a, baud, extra), expected);
        QVERIFY(ProbeTimeoutMs(a, baud, extra) <= SetupTimeoutMs(a, baud));
        if (udpTimeout == 0)
            QVERIFY(ProbeTimeoutMs(a, baud, extra) * 1000.0 > WireTimeUs(baud));
    }

    // Progress by expected time: two silent probes at 600 Bd are nearly all
    // of a search that adds two at 115200 Bd.
    // The reply time as the window shows it and as the CSV file and the
    // clipboard carry it: never "0,0 ms" for a reply that came.
    void replyTime_data()
    {
        QTest::addColumn<double>("replyMs");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("written");
        QTest::newRow("loopback, Czech") << 0.043 << "cs_CZ"
                                         << "< 0,1"
                                         << "0,043";
        QTest::newRow("loopback, English") << 0.0123 << "en_US"
                                           << "< 0.1"
                                           << "0.012";
        QTest::newRow("just 0.1") << 0.05 << "cs_CZ"
                                  << "0,1"
                                  << "0,050";
        QTest::newRow("9600 Bd") << 24.46 << "cs_CZ"
                                 << "24,5"
                                 << "24,460";
        QTest::newRow("slow converter, no group") << 1234.5 << "en_US"
                                                  << "1234.5"
                                                  << "1234.500";
    }
    void replyTime()
    {
        QFETCH(double, replyMs);
        QFETCH(QString, locale);
        QLocale::setDefault(QLocale(locale));
        ScanFinding f;
        f.address = 3;
        f.baud = 9600;
        f.model = QStringLiteral("RQ-3510");
        f.firmware = QStringLiteral("1.08");
        f.replyMs = replyMs;
        QTEST(ScanReplyTimeText(f, QLocale()), "shown");
        QFETCH(QString, written);
        const QString csv = ScanFindingsCsv({f});
        const QString tabs = ScanFindingsCsv({f}, QLatin1Char('\t'));
        QLocale::setDefault(QLocale::c());
        QCOMPARE(csv, QStringLiteral("Adresa;Rychlost;Model;Firmware;Doba odpovědi [ms];Poznámka\r\n"
                                     "3;9600;RQ-3510;1.08;%1;\r\n")
                          .arg(written));
        QCOMPARE(tabs.split(QLatin1Char('\n')).value(1),
                 QStringLiteral("3\t9600\tRQ-3510\t1.08\t%1\t").arg(written));
    }

    void progressFollowsExpectedTime()
    {
        SimProcess sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ScanSettings s{lanTo(sim.udpPort()), bytes({200, 201}), {600, 115200}};
        s.adapter.udpTimeout = 0;
        Collector c;
        RunScan(s, c);
        const qint64 slow = ProbeTimeoutMs(s.adapter, 600), fast = ProbeTimeoutMs(s.adapter, 115200);
        QCOMPARE(c.progressed.size(), 4);
        QCOMPARE(c.progressed.at(1).expectedDoneMs, 2 * slow);
        QCOMPARE(c.progressed.at(3).expectedDoneMs, 2 * slow + 2 * fast);
        QCOMPARE(c.progressed.at(3).expectedMs, 2 * slow + 2 * fast);
    }

    void threeModulesAtThreeRates()
    {
        SimProcess sim;
        QVERIFY2(sim.start({QStringLiteral("--module"), QStringLiteral("3:3510:1.08:9600"),
                            QStringLiteral("--module"), QStringLiteral("77:3520:1.07:115200"),
                            QStringLiteral("--module"), QStringLiteral("200:3530:2.01:19200")}),
                 qPrintable(sim.errorString()));
        ScanSettings s;
        s.adapter = lanTo(sim.udpPort());
        s.addresses = *ParseAddressList(QStringLiteral("0-5,75-80,198-202"));
        s.bauds = {9600, 19200, 115200, 57600};
        s.extraMs = 20; // rqsim may be slow to answer on a busy machine
        Collector report;
        const ScanResult r = RunScan(s, report);
        QCOMPARE(r.end, ScanResult::End::Finished);
        QCOMPARE(r.probes, 17 * 4);
        QCOMPARE(report.progressCalls, r.probes);
        QCOMPARE(r.findings.size(), 3);
        QCOMPARE(report.found_.size(), 3);
        // Reported in search order: the rates as given, addresses ascending.
        const struct
        {
            int address;
            quint32 baud;
            const char *model, *firmware, *identity;
        } expected[] = {{3, 9600, "RQ-3510", "1.08", "RQ-3510  v.1.08"},
                        {200, 19200, "RQ-3530", "2.01", "RQ-3530  v.2.01"},
                        {77, 115200, "RQ-3520", "1.07", "RQ-3520  v.1.07"}};
        for (int i = 0; i < 3; ++i) {
            const ScanFinding &f = r.findings.at(i);
            QCOMPARE(f.kind, ScanFinding::Kind::Module);
            QCOMPARE(f.address, expected[i].address);
            QCOMPARE(f.baud, expected[i].baud);
            QCOMPARE(f.model, QLatin1String(expected[i].model));
            QCOMPARE(f.firmware, QLatin1String(expected[i].firmware));
            QCOMPARE(f.identity, QLatin1String(expected[i].identity));
            QVERIFY(f.note.isEmpty());
            QVERIFY(f.replyMs > 0);
        }
        const QJsonObject json = ScanFindingJson(r.findings.at(2));
        QCOMPARE(json.value(u"address").toInt(), 77);
        QCOMPARE(json.value(u"baud").toInt(), 115200);
        QCOMPARE(json.value(u"model").toString(), QStringLiteral("RQ-3520"));
        QCOMPARE(json.value(u"firmware").toString(), QStringLiteral("1.07"));
        // Every probe at a silent address is one request; each module adds
        // its three identification parts.
        QCOMPARE(sim.counters().value(QStringLiteral("requests")), qint64(r.probes + 3 * 2));
    }

    // Two modules at one address answer garbled: reported, not passed over.
    void collision_data()
    {
        QTest::addColumn<bool>("serial");
        QTest::newRow("LAN converter") << false;
        QTest::newRow("serial line") << true;
    }
    void collision()
    {
        QFETCH(bool, serial);
        SimProcess sim;
        QStringList args = {QStringLiteral("--module"), QStringLiteral("5:3510"), QStringLiteral("--module"),
                            QStringLiteral("5:3520"), QStringLiteral("--module"), QStringLiteral("6:3530"),
                            // one damaged reply at address 6 is a glitch, asked again
                            QStringLiteral("--fault"), QStringLiteral("module=6 crc count=1")};
        if (serial)
            args << QStringLiteral("--pty");
        QVERIFY2(sim.start(args), qPrintable(sim.errorString()));
        ScanSettings s;
        if (serial) {
            qputenv("RQ_COM4", sim.ptyPath().toLocal8Bit());
            s.adapter.kind = 0;
            s.adapter.comPort = 4;
        } else {
            s.adapter = lanTo(sim.udpPort());
        }
        s.addresses = bytes({4, 5, 6, 7});
        s.bauds = {9600};
        s.extraMs = 20;
        Collector report;
        const ScanResult r = RunScan(s, report);
        QCOMPARE(r.end, ScanResult::End::Finished);
        QCOMPARE(r.findings.size(), 2);
        QCOMPARE(r.findings.at(0).address, 5);
        QCOMPARE(r.findings.at(0).kind, ScanFinding::Kind::Collision);
        QCOMPARE(r.findings.at(0).note, QStringLiteral("možná kolize adres"));
        QVERIFY(ScanFindingsCsv(r.findings).contains(QStringLiteral("\r\n5;9600;;;;možná kolize adres\r\n")));
        QCOMPARE(r.findings.at(1).address, 6);
        QCOMPARE(r.findings.at(1).kind, ScanFinding::Kind::Module);
        QCOMPARE(r.findings.at(1).model, QStringLiteral("RQ-3530"));
        // Asked twice at the colliding address, never a third time.
        QCOMPARE(sim.counters().value(QStringLiteral("collisions")), qint64(2));
    }

    // A collision takes the answer asked again to be garbled too.
    void garbledOnceIsNoCollision_data()
    {
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<int>("findings");
        QTest::addColumn<int>("kind");
        QTest::newRow("garbled, then silence: nothing answers there")
            << QStringList{QStringLiteral("cmd=200 sub=0 crc count=1"),
                           QStringLiteral("cmd=200 sub=0 drop count=1")}
            << 0 << -1;
        QTest::newRow("first part garbled once, a later part silent: a fault")
            << QStringList{QStringLiteral("cmd=200 sub=0 crc count=1"),
                           QStringLiteral("cmd=200 sub=1 drop count=1")}
            << 1 << int(ScanFinding::Kind::Fault);
    }
    void garbledOnceIsNoCollision()
    {
        QFETCH(QStringList, faults);
        QFETCH(int, findings);
        QFETCH(int, kind);
        SimProcess sim;
        QVERIFY2(sim.start({QStringLiteral("--module"), QStringLiteral("6:3530")}),
                 qPrintable(sim.errorString()));
        for (const QString &rule : faults)
            QVERIFY(sim.addFault(rule));
        ScanSettings s;
        s.adapter = lanTo(sim.udpPort());
        s.addresses = bytes({6});
        s.bauds = {9600};
        Collector report;
        const ScanResult r = RunScan(s, report);
        QCOMPARE(r.end, ScanResult::End::Finished);
        QCOMPARE(r.findings.size(), findings);
        if (findings > 0) {
            QCOMPARE(int(r.findings.at(0).kind), kind);
            QVERIFY(r.findings.at(0).note != CollisionText);
        }
    }

    // A stop asked for during a probe takes effect before the next one.
    void stopWithinOneProbe()
    {
        SimProcess sim;
        QVERIFY2(sim.start({QStringLiteral("--module"), QStringLiteral("250:3510")}),
                 qPrintable(sim.errorString()));
        ScanSettings s;
        s.adapter = lanTo(sim.udpPort());
        s.bauds = {115200, 9600};
        Collector report;
        report.stopAfter = 7;
        const ScanResult r = RunScan(s, report);
        QCOMPARE(r.end, ScanResult::End::Stopped);
        QCOMPARE(r.probes, 7);
        QCOMPARE(sim.counters().value(QStringLiteral("requests")), qint64(7));
    }

    void converterUnreachable()
    {
        SimProcess sim; // started only to find a port nobody answers on
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        const quint16 port = sim.udpPort();
        sim.stop();
        ScanSettings s;
        s.adapter = lanTo(port);
        s.bauds = {9600};
        Collector report;
        const ScanResult r = RunScan(s, report);
        QCOMPARE(r.end, ScanResult::End::Failed);
        QVERIFY(!r.error.isEmpty());
        QCOMPARE(r.probes, 0);
        QVERIFY(!AdapterBound());
    }
};

QTEST_GUILESS_MAIN(TestHledaniModulu)
#include "tst_hledanimodulu.moc"
