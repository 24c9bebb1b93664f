#include "calib/KalibraceVypocet.h"

#include <QTest>

using namespace kalibrace;

class TestKalibraceVypocet : public QObject
{
    Q_OBJECT

private slots:
    void analogConstants_data()
    {
        QTest::addColumn<double>("volts");
        QTest::addColumn<double>("zero");
        QTest::addColumn<double>("reference");
        QTest::addColumn<double>("voltageCount");
        QTest::addColumn<double>("zeroCount");
        QTest::addColumn<double>("referenceCount");
        QTest::addColumn<int>("gain");
        QTest::addColumn<int>("offset");
        // Zero reading above 0: D = -16, the sign bit set.
        QTest::newRow("negative offset")
            << 0.05 << 0.00002 << 0.0499 << 53738.0 << 32776.0 << 53696.0 << 10024 << 32784;
        // Below 0: the count is truncated toward zero (32759.6 -> 32759).
        QTest::newRow("positive offset")
            << 0.05 << -0.00002 << 0.0501 << 53738.0 << 32759.0 << 53780.0 << 9976 << 18;
        QTest::newRow("ideal") << 0.05 << 0.000001 << 0.05 << 53738.0 << 32768.0 << 53738.0 << 10000 << 0;
        // Near the largest |D|: zero count 49150 gives D = -32764.
        QTest::newRow("largest negative offset")
            << 0.05 << 0.03906 << 0.0499 << 53738.0 << 49150.0 << 53696.0 << 46128 << 32768 + 32764;
        QTest::newRow("upper band limit")
            << 0.06 << 0.00002 << 0.0599 << 57933.0 << 32776.0 << 57891.0 << 10020 << 32784;
        // Spans of 14400 and 4800 counts give K = 14562.5 and 43687.5 exactly.
        QTest::newRow("half rounds down to even")
            << 0.05 << 0.000001 << 14400.5 * 2.384258553e-6 << 53738.0 << 32768.0 << 47168.0 << 14562 << 0;
        QTest::newRow("half rounds up to even")
            << 0.05 << 0.000001 << 4800.5 * 2.384258553e-6 << 53738.0 << 32768.0 << 37568.0 << 43688 << 0;
    }
    void analogConstants()
    {
        QFETCH(double, volts);
        QFETCH(double, zero);
        QFETCH(double, reference);
        const AinConstants c = ComputeAin(volts, zero, reference);
        QCOMPARE(c.outcome, Outcome::Ok);
        QTEST(c.voltageCount, "voltageCount");
        QTEST(c.zeroCount, "zeroCount");
        QTEST(c.referenceCount, "referenceCount");
        QTEST(int(c.gain), "gain");
        QTEST(int(c.offset), "offset");
    }

    void analogRatioIsNotTruncated()
    {
        const AinConstants c = ComputeAin(0.05, 0.00002, 0.0499);
        QVERIFY(qAbs(double(c.ratio) - 10023.90) < 0.005);
        QCOMPARE(c.offsetD, -16);
    }

    void analogFailures_data()
    {
        QTest::addColumn<double>("volts");
        QTest::addColumn<double>("zero");
        QTest::addColumn<double>("reference");
        QTest::addColumn<Outcome>("outcome");
        QTest::newRow("0.029") << 0.029 << 0.00002 << 0.0499 << Outcome::OutOfBand;
        QTest::newRow("0.03 just below the extended limit")
            << 0.03 << 0.00002 << 0.0499 << Outcome::OutOfBand;
        QTest::newRow("0.061") << 0.061 << 0.00002 << 0.0499 << Outcome::OutOfBand;
        QTest::newRow("NaN") << qQNaN() << 0.00002 << 0.0499 << Outcome::OutOfBand;
        QTest::newRow("equal counts") << 0.05 << 0.00002 << 0.000021 << Outcome::BadMeasurement;
        QTest::newRow("negative ratio") << 0.05 << 0.00002 << -0.0499 << Outcome::BadMeasurement;
        // A span of 3 counts: K near 7 million.
        QTest::newRow("ratio above 65535") << 0.05 << 0.00002 << 0.000027 << Outcome::BadMeasurement;
        // Zero count 49152: D = -32768.
        QTest::newRow("offset too large") << 0.05 << 0.03907 << 0.0499 << Outcome::BadMeasurement;
        QTest::newRow("offset too large, positive") << 0.05 << -0.03907 << 0.0499 << Outcome::BadMeasurement;
    }
    void analogFailures()
    {
        QFETCH(double, volts);
        QFETCH(double, zero);
        QFETCH(double, reference);
        QTEST(ComputeAin(volts, zero, reference).outcome, "outcome");
    }

    void voltageBand_data()
    {
        QTest::addColumn<double>("volts");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("0.03") << 0.03 << false;
        QTest::newRow("0.0300000000000001") << 0.0300000000000001 << true;
        QTest::newRow("0.04") << 0.04 << true;
        QTest::newRow("0.06") << 0.06 << true;
        QTest::newRow("0.0600000000000001") << 0.0600000000000001 << false;
        QTest::newRow("-0.05") << -0.05 << false;
        QTest::newRow("inf") << qInf() << false;
    }
    void voltageBand()
    {
        QFETCH(double, volts);
        QTEST(VoltageInBand(volts), "accepted");
    }

    void halvesToEven_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<double>("rounded");
        QTest::newRow("9975.5") << 9975.5 << 9976.0;
        QTest::newRow("9976.5") << 9976.5 << 9976.0;
        QTest::newRow("9976.5000001") << 9976.5000001 << 9977.0;
        QTest::newRow("9976.4999999") << 9976.4999999 << 9976.0;
        QTest::newRow("0.5") << 0.5 << 0.0;
        QTest::newRow("65534.5") << 65534.5 << 65534.0;
    }
    void halvesToEven()
    {
        QFETCH(double, value);
        QTEST(double(RoundHalfEven(value)), "rounded");
    }

    void thermometerConstants_data()
    {
        QTest::addColumn<double>("celsius");
        QTest::addColumn<int>("zero");
        QTest::addColumn<int>("reference");
        QTest::addColumn<double>("temperatureCount");
        QTest::addColumn<int>("gain");
        QTest::addColumn<int>("offset");
        QTest::newRow("20.0") << 20.0 << 100 << 3031 << 2931.0 << 10000 << 32668;
        // K = 9976.57, truncated.
        QTest::newRow("25.0") << 25.0 << 512 << 3500 << 2981.0 << 9976 << 32256;
        // 32768 - 40000 wraps modulo 65536.
        QTest::newRow("zero 40000") << 20.0 << 40000 << 42931 << 2931.0 << 10000 << 58304;
        QTest::newRow("zero 32768") << 20.0 << 32768 << 35699 << 2931.0 << 10000 << 0;
        // 20.1 * 10 in extended precision stays above 201.
        QTest::newRow("20.1") << 20.1 << 100 << 3032 << 2932.0 << 10000 << 32668;
        QTest::newRow("below 0 °C") << -10.5 << 1 << 2627 << 2626.0 << 10000 << 32767;
        // 0.6 is stored just below 0.6: in extended precision the count stays below 2737.
        QTest::newRow("0.6") << 0.6 << 100 << 2836 << 2736.0 << 10000 << 32668;
        // Reference below zero, entered temperature below -273.1 °C: both negative.
        QTest::newRow("both negative") << -300.0 << 3000 << 2731 << -269.0 << 10000 << 29768;
    }
    void thermometerConstants()
    {
        QFETCH(double, celsius);
        QFETCH(int, zero);
        QFETCH(int, reference);
        const ItConstants c = ComputeIt(celsius, quint16(zero), quint16(reference));
        QCOMPARE(c.outcome, Outcome::Ok);
        QTEST(c.temperatureCount, "temperatureCount");
        QTEST(int(c.gain), "gain");
        QTEST(int(c.offset), "offset");
    }

    void thermometerFailures_data()
    {
        QTest::addColumn<double>("celsius");
        QTest::addColumn<int>("zero");
        QTest::addColumn<int>("reference");
        QTest::newRow("-300") << -300.0 << 100 << 3031;
        QTest::newRow("equal readings") << 20.0 << 3031 << 3031;
        QTest::newRow("gain above 65535") << 20.0 << 100 << 500;
        QTest::newRow("reading below zero") << 20.0 << 3031 << 100;
    }
    void thermometerFailures()
    {
        QFETCH(double, celsius);
        QFETCH(int, zero);
        QFETCH(int, reference);
        const ItConstants c = ComputeIt(celsius, quint16(zero), quint16(reference));
        QCOMPARE(c.outcome, Outcome::BadMeasurement);
    }
};

QTEST_APPLESS_MAIN(TestKalibraceVypocet)
#include "tst_kalibracevypocet.moc"
