// The link counters against the recording test adapter: what the binding
// counts for every transaction, and the reply-time statistics.
#include "diag/LinkStats.h"
#include "support/Fixtures.h"

#include <QTest>

namespace {
qint64 g_now = 0;
qint64 fakeClock()
{
    return g_now;
}
} // namespace

class TestLinkStats : public QObject
{
    Q_OBJECT
    TestConnection link;
    LinkStats &stats = LinkStats::instance();

    quint8 send(quint8 command = 102, quint8 sub = 0, ModuleBytes d = {})
    {
        return Transact(link.data, link.data.moduleAddress, command, sub, d);
    }

private slots:
    void initTestCase() { stats.setClock(&fakeClock); }
    void cleanupTestCase() { stats.setClock(nullptr); }
    void init()
    {
        QVERIFY(link.open(3));
        g_now = 1000000;
    }
    void cleanup() { link.close(); }

    // Opening an adapter starts the counters from nothing.
    void opensAfresh()
    {
        send();
        send();
        QCOMPARE(stats.transactions(), 2u);
        QVERIFY(link.open(3));
        QCOMPARE(stats.transactions(), 0u);
        QVERIFY(stats.log().isEmpty());
    }

    // Every error code lands once in its own counter with the library's text;
    // codes above 255 are counted as 255 (as the transaction reports them).
    void errorsByCode()
    {
        const QList<quint32> codes = {1, 10, 20, 21, 26, 35, 99, 255, 300};
        for (int i = 0; i < codes.size(); ++i)
            link.ta.failSend.insert(2 * i + 1, codes[i]); // every other Send fails
        link.ta.errorTexts.insert(21, QStringLiteral("Chybný kontrolní součet odpovědi"));
        for (int i = 0; i < 2 * codes.size(); ++i)
            send();
        QCOMPARE(stats.transactions(), quint64(2 * codes.size()));
        QCOMPARE(stats.errors(), quint64(codes.size()));
        QCOMPARE(stats.replies(), quint64(codes.size()));
        const QList<LinkErrorCount> counts = stats.errorCounts();
        QCOMPARE(counts.size(), codes.size() - 1); // 255 and 300 share a counter
        for (quint32 code : {1u, 10u, 20u, 21u, 26u, 35u, 99u})
            QCOMPARE(stats.errorCount(static_cast<quint8>(code)), 1u);
        QCOMPARE(stats.errorCount(255), 2u);
        QCOMPARE(counts.at(3).code, quint8(21));
        QCOMPARE(counts.at(3).text, QStringLiteral("Chybný kontrolní součet odpovědi"));
        QCOMPARE(counts.at(0).text, QStringLiteral("chyba 1"));
        // Failed transactions go to the chart's error series, never to the reply times.
        quint64 chartErrors = 0;
        for (const LinkHistogramBin &b : stats.histogram())
            chartErrors += b.errors;
        QCOMPARE(chartErrors, quint64(codes.size()));
    }

    void percentiles_data()
    {
        QTest::addColumn<QList<quint32>>("durations"); // µs, in the order sent
        QTest::addColumn<quint32>("min");
        QTest::addColumn<quint32>("median");
        QTest::addColumn<quint32>("p95");
        QTest::addColumn<quint32>("max");
        QList<quint32> hundred;
        for (quint32 v = 100; v >= 1; --v)
            hundred << v; // descending, so no order is assumed
        QTest::newRow("1..100 µs") << hundred << 1u << 50u << 95u << 100u;
        QTest::newRow("one") << QList<quint32>{733} << 733u << 733u << 733u << 733u;
        QTest::newRow("even count, nearest rank")
            << QList<quint32>{40, 10, 30, 20} << 10u << 20u << 40u << 40u;
        QList<quint32> timeouts(19, 52);
        timeouts << 200000; // one slow reply among fast ones
        QTest::newRow("one slow") << timeouts << 52u << 52u << 52u << 200000u;
        QTest::newRow("zero") << QList<quint32>{0, 0, 5} << 0u << 0u << 5u << 5u;
    }
    void percentiles()
    {
        QFETCH(QList<quint32>, durations);
        int index = 0;
        link.ta.script = [&](const TaRequest &, int) {
            g_now += durations.at(index++);
            return TaReply{};
        };
        for (int i = 0; i < durations.size(); ++i)
            send();
        QCOMPARE(stats.replies(), quint64(durations.size()));
        QTEST(stats.minUs(), "min");
        QTEST(stats.percentileUs(0.5), "median");
        QTEST(stats.percentileUs(0.95), "p95");
        QTEST(stats.maxUs(), "max");
    }

    // Long times keep their size within 0.1 %.
    void longTimes()
    {
        const QList<quint32> durations = {2048, 4097, 123457, 1000001, 75000000};
        for (quint32 d : durations) {
            QVERIFY(link.open(3));
            link.ta.script = [d](const TaRequest &, int) {
                g_now += d;
                return TaReply{};
            };
            send();
            const quint32 median = stats.percentileUs(0.5);
            QVERIFY2(median <= d && d - median <= d / 1000, qPrintable(QString::number(median)));
        }
    }

    // The ring keeps the last 1000 transactions, oldest first, with the bytes
    // sent and received and the time each took.
    void ring()
    {
        link.ta.script = [](const TaRequest &r, int index) {
            g_now += 10 + index % 7;
            TaReply reply;
            reply.d = {r.d[0], r.d[1], 0x42, static_cast<quint8>(index), 0};
            if (index % 100 == 0)
                reply.errorWord = 20;
            return reply;
        };
        for (int i = 1; i <= 1005; ++i)
            send(102, static_cast<quint8>(i % 2),
                 {static_cast<quint8>(i >> 8), static_cast<quint8>(i), 0, 0, 0});
        const QList<LinkTransaction> log = stats.log();
        QCOMPARE(log.size(), LinkStats::RingSize);
        const LinkTransaction &first = log.first(); // transaction 6
        QCOMPARE(first.sent, (std::array<quint8, 5>{0, 6, 0, 0, 0}));
        QCOMPARE(first.received, (std::array<quint8, 5>{0, 6, 0x42, 6, 0}));
        QCOMPARE(first.address, quint8(3));
        QCOMPARE(first.command, quint8(102));
        QCOMPARE(first.subCode, quint8(0));
        QCOMPARE(first.durationUs, 10u + 6 % 7);
        QCOMPARE(first.error, quint8(0));
        const LinkTransaction &failed = log.at(1000 - 6); // transaction 1000
        QCOMPARE(failed.error, quint8(20));
        QCOMPARE(failed.received, (std::array<quint8, 5>{}));
        QCOMPARE(log.last().sent[1], quint8(1005 & 0xFF));
        QVERIFY(log.first().time <= log.last().time);
    }

    // What the checks send is not the connection's traffic.
    void pausedPassesUncounted()
    {
        {
            LinkStats::Pause pause;
            send();
            quint32 handle = 0;
            QCOMPARE(OpenAdapter(4, &handle, InitBlock{}), 0u); // does not restart either
            link.data.handle = handle;
        }
        send();
        QCOMPARE(stats.transactions(), 1u);
    }
};

QTEST_GUILESS_MAIN(TestLinkStats)
#include "tst_linkstats.moc"
