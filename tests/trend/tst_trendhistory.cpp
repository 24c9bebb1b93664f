// The bounded history of values over time: every reduction keeps each
// bucket's minimum and maximum, failed cycles stay gaps, and a day at the
// full rate fits the memory set aside at the start.
#include "trend/Historie.h"

#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <cmath>

namespace {
TrendSample sampleAt(qint64 t, QRandomGenerator &random, bool analog = true)
{
    TrendSample s;
    s.time = t;
    s.analogValid = analog;
    for (std::size_t k = 0; k < TrendSample::ValueCount; ++k)
        s.values[k] = std::round(random.bounded(2000.0) - 1000.0) / 8; // exact in float
    s.dinValid = true;
    s.din = random.generate();
    return s;
}
} // namespace

class TestTrendHistory : public QObject
{
    Q_OBJECT

private slots:
    // Each bucket of a view holds exactly the extremes, sum and bit states
    // of the samples in its slot, whichever ring it came from.
    void decimationKeepsMinAndMaxOfEachBucket_data()
    {
        QTest::addColumn<qint64>("period");   // ms between samples
        QTest::addColumn<qint64>("duration"); // ms fed
        QTest::addColumn<qint64>("window");   // ms read back, from the end
        QTest::addColumn<int>("buckets");
        QTest::newRow("1 min at 10 ms, 300 buckets") << qint64(10) << qint64(70'000) << qint64(60'000) << 300;
        QTest::newRow("10 min at 50 ms, 600 buckets")
            << qint64(50) << qint64(700'000) << qint64(600'000) << 600;
        QTest::newRow("1 h at 200 ms, 97 buckets")
            << qint64(200) << qint64(3'700'000) << qint64(3'600'000) << 97;
        QTest::newRow("3 h at 300 ms, everything")
            << qint64(300) << qint64(10'800'000) << qint64(10'800'000) << 400;
        QTest::newRow("slow bus, 1 min") << qint64(370) << qint64(200'000) << qint64(60'000) << 600;
    }
    void decimationKeepsMinAndMaxOfEachBucket()
    {
        QFETCH(qint64, period);
        QFETCH(qint64, duration);
        QFETCH(qint64, window);
        QFETCH(int, buckets);
        QRandomGenerator random(7);
        TrendHistory h;
        QList<TrendSample> all;
        const qint64 start = 1'765'000'000'000;
        for (qint64 t = start; t < start + duration; t += period) {
            all.append(sampleAt(t, random, (t / period) % 97 != 0));
            h.append(all.last());
        }
        const qint64 to = h.lastTime();
        const qint64 from = to - window;
        qint64 width = 0;
        const QList<TrendBucket> view = h.view(from, to, buckets, &width);
        QVERIFY(!view.isEmpty());
        QVERIFY(view.size() <= buckets + 1);
        QVERIFY(width * buckets >= window);
        quint64 counted = 0;
        for (const TrendBucket &b : view) {
            TrendBucket expected;
            for (const TrendSample &s : all)
                if (s.time >= b.start && s.time < b.start + width)
                    expected.add(s);
            QVERIFY(expected.samples > 0);
            QCOMPARE(b.samples, expected.samples);
            QCOMPARE(b.analogCount, expected.analogCount);
            QCOMPARE(b.analogGap(), expected.analogGap());
            QCOMPARE(b.min, expected.min);
            QCOMPARE(b.max, expected.max);
            QCOMPARE(b.dinAny, expected.dinAny);
            QCOMPARE(b.dinAll, expected.dinAll);
            for (int c = 0; c < TrendBucket::ValueCount; ++c)
                QVERIFY(std::abs(b.mean(c) - expected.mean(c)) < 1e-9);
            counted += b.samples;
        }
        // Nothing older than the ring read leaves out the window's start:
        // all samples of the window are in the view.
        const auto inWindow = std::count_if(all.begin(), all.end(), [&](const TrendSample &s) {
            return s.time >= view.first().start && s.time <= to;
        });
        QCOMPARE(counted, quint64(inWindow));
    }

    // A day at 100 cycles a second: the memory stays what was set aside, the
    // whole-run ring still reaches back to the first sample, and the finer
    // rings keep their last minute and hour.
    void dayAtFullRateStaysBounded()
    {
        TrendHistory h;
        const std::size_t reserved = h.reservedBytes();
        TrendSample s;
        s.analogValid = s.dinValid = true;
        for (qint64 t = 0; t < 86'400'000; t += 10) {
            s.time = t;
            s.values.fill(double(t % 1000));
            h.append(s);
        }
        QCOMPARE(h.reservedBytes(), reserved);
        QVERIFY(reserved < 4u * 1024 * 1024);
        QCOMPARE(h.sampleCount(), quint64(8'640'000));
        const QList<TrendBucket> all = h.view(0, h.lastTime(), 500);
        QVERIFY(!all.isEmpty());
        QCOMPARE(all.first().first, qint64(0));
        quint64 samples = 0;
        for (const TrendBucket &b : all)
            samples += b.samples;
        QCOMPARE(samples, quint64(8'640'000));
        QCOMPARE(h.levelWidth(0), qint64(100));
        const qint64 minuteAgo = h.lastTime() - 60'000;
        const QList<TrendBucket> minute = h.view(minuteAgo, h.lastTime(), 600);
        QVERIFY(minute.first().start <= minuteAgo && minute.first().start > minuteAgo - 1000);
        QCOMPARE(minute.first().samples, 20u); // 200 ms slots of 10 ms samples, the first one whole
        QVERIFY(h.levelWidth(2) >= 86'400'000 / 4096);
    }
};

QTEST_GUILESS_MAIN(TestTrendHistory)
#include "tst_trendhistory.moc"
