#include "app/Dekl.h"
#include "comm/Kxxx638.h"
#include "live/FixedPoint.h"

#include <QLocale>
#include <QTest>

#include <cmath>

class TestRecords : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Czech, QLocale::CzechRepublic)); }

    void resetGivesDefaults()
    {
        TCFGRQ cfg;
        cfg.configuredAddress = 9;
        cfg.ranges3510.fill(0);
        cfg.eeprom.fill(0x55);
        cfg.eepromFileName = QStringLiteral("x");
        ResetCFG(cfg);
        QCOMPARE(cfg.configuredAddress, 1);
        QCOMPARE(cfg.configuredBaudIndex, 4);
        for (quint8 r : cfg.ranges3510)
            QCOMPARE(r, 6);
        for (quint8 r : cfg.ranges3520)
            QCOMPARE(r, 4);
        for (quint8 r : cfg.sensors3530)
            QCOMPARE(r, 0x83);
        QCOMPARE(cfg.thermometer, 0x81);
        QCOMPARE(cfg.inputCount, 12);
        for (int k = 0; k < 4; ++k) {
            QCOMPARE(cfg.dinNegation[k], 0xFF);
            QCOMPARE(cfg.doutNegation[k], 0xFF);
            QCOMPARE(cfg.doutInitial[k], 0x00);
        }
        for (quint8 b : cfg.eeprom)
            QCOMPARE(b, 0);
        QCOMPARE(cfg.eepromFileName, QStringLiteral("Rq3510.kee"));
    }

    void recordDefaults()
    {
        TData d;
        d.adapterKind = 4;
        d.connected = true;
        d.handle = 5;
        d.identity = QStringLiteral("x");
        SetDefaults(&d);
        QCOMPARE(d.adapterKind, 0);
        QCOMPARE(d.moduleAddress, 0);
        QCOMPARE(d.baudRate, 9600u);
        QCOMPARE(d.isaBase, 0x300);
        QCOMPARE(d.comPort, 1);
        QCOMPARE(d.udpPort, 5000u);
        QCOMPARE(d.udpTimeout, 100u);
        QCOMPARE(d.statusText, QStringLiteral("Připojení modulu dosud neinicializováno"));
        QCOMPARE(d.handle, 0u);
        QVERIFY(!d.connected);
        QVERIFY(d.identity.isEmpty());
        QVERIFY(!d.ready());
        // A private-network address (192.168/16, 10/8 or 172.16/12).
        QVERIFY(d.ipAddress.startsWith(QLatin1String("192.168.")) ||
                d.ipAddress.startsWith(QLatin1String("10.")));
        SetDefaults(nullptr); // does nothing, does not fail
    }

    void parseIntText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<qint32>("value");
        QTest::newRow("decimal") << "300" << true << 300;
        QTest::newRow("blanks and sign") << "  -12" << true << -12;
        QTest::newRow("plus") << "+7" << true << 7;
        QTest::newRow("dollar") << "$1F" << true << 31;
        QTest::newRow("0x") << "0x1F" << true << 31;
        QTest::newRow("0X") << "0X1f" << true << 31;
        QTest::newRow("x") << "x10" << true << 16;
        QTest::newRow("X") << "X10" << true << 16;
        QTest::newRow("negative hex") << "-$10" << true << -16;
        QTest::newRow("all bits") << "$FFFFFFFF" << true << -1;
        QTest::newRow("int max") << "2147483647" << true << 2147483647;
        QTest::newRow("int min") << "-2147483648" << true << (-2147483647 - 1);
        QTest::newRow("too big") << "2147483648" << false << 0;
        QTest::newRow("hex too big") << "$100000000" << false << 0;
        QTest::newRow("letters") << "abc" << false << 0;
        QTest::newRow("trailing") << "12 " << false << 0;
        QTest::newRow("trailing h") << "2A0h" << false << 0;
        QTest::newRow("empty") << "" << false << 0;
        QTest::newRow("only blanks") << "   " << false << 0;
        QTest::newRow("only prefix") << "$" << false << 0;
        QTest::newRow("only sign") << "-" << false << 0;
        QTest::newRow("hex digit in decimal") << "1F" << false << 0;
    }
    void parseIntText()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(qint32, value);
        const auto parsed = ParseIntText(text);
        QCOMPARE(parsed.has_value(), valid);
        if (valid)
            QCOMPARE(*parsed, value);
    }

    void baudTable()
    {
        QCOMPARE(BaudRateOfIndex(0), 600u);
        QCOMPARE(BaudRateOfIndex(8), 115200u);
        QCOMPARE(BaudRateOfIndex(9), 9600u);
        QCOMPARE(BaudRateOfIndex(-1), 9600u);
        QCOMPARE(BaudIndexOfRate(57600), 7);
        QCOMPARE(BaudIndexOfRate(12345), 4);
        QCOMPARE(ReplyTimeoutOfRate(600), 1000u);
        QCOMPARE(ReplyTimeoutOfRate(1200), 500u);
        QCOMPARE(ReplyTimeoutOfRate(2400), 500u);
        QCOMPARE(ReplyTimeoutOfRate(4800), 200u);
        QCOMPARE(ReplyTimeoutOfRate(115200), 200u);
        QCOMPARE(ReplyTimeoutOfRate(7), 200u);
    }

    void decode_data()
    {
        QTest::addColumn<int>("low");
        QTest::addColumn<int>("mid");
        QTest::addColumn<int>("high");
        QTest::addColumn<int>("dec");
        QTest::addColumn<double>("value");
        QTest::newRow("123.45") << 0x39 << 0x30 << 0x00 << 2 << 123.45;
        QTest::newRow("-123.45") << 0x39 << 0x30 << 0x80 << 2 << -123.45;
        QTest::newRow("largest") << 0xFF << 0xFF << 0x7F << 0 << 8388607.0;
        QTest::newRow("bit 7 of decimals ignored") << 0x39 << 0x30 << 0x00 << 0x82 << 123.45;
        QTest::newRow("decimals 0 gives magnitude") << 0x10 << 0x00 << 0x00 << 0 << 16.0;
        QTest::newRow("negative zero") << 0 << 0 << 0x80 << 0 << 0.0;
    }
    void decode()
    {
        QFETCH(int, low);
        QFETCH(int, mid);
        QFETCH(int, high);
        QFETCH(int, dec);
        QFETCH(double, value);
        const double v = DecodeMeasuredValue(quint8(low), quint8(mid), quint8(high), quint8(dec));
        QCOMPARE(v, value);
        QVERIFY(v == value); // negative zero compares equal to 0
    }

    void fixedPoint_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("decimals");
        QTest::addColumn<QString>("text");
        QTest::newRow("1.2345/4") << 1.2345 << 4 << "1,2345";
        QTest::newRow("123.456/3") << 123.456 << 3 << "123,460";
        QTest::newRow("20/0") << 20.0 << 0 << "20";
        QTest::newRow("23.5/1") << 23.5 << 1 << "23,5";
        QTest::newRow("negative") << -0.01234 << 5 << "-0,01234";
        QTest::newRow("small keeps five digits") << 0.000123456 << 9 << "0,000123460";
        QTest::newRow("zero") << 0.0 << 3 << "0,000";
        QTest::newRow("negative zero") << -0.0 << 2 << "0,00";
        QTest::newRow("rounds to zero no sign") << -0.0004 << 3 << "0,000";
        QTest::newRow("rounding up keeps the decimals") << 9.99996 << 5 << "10,00000";
        QTest::newRow("fewer decimals than five digits") << 1.23456 << 2 << "1,23";
        QTest::newRow("five integer digits") << 12345.6 << 1 << "12346,0";
        QTest::newRow("six integer digits") << 123456.0 << 0 << "1,2346E+05";
        QTest::newRow("largest magnitude") << 8388607.0 << 0 << "8,3886E+06";
        QTest::newRow("negative large") << -8388.607 << 3 << "-8388,600";
    }
    void fixedPoint()
    {
        QFETCH(double, value);
        QFETCH(int, decimals);
        QFETCH(QString, text);
        QCOMPARE(FormatFixed(value, decimals), text);
    }

    void fixedPointUsesLocaleSeparator()
    {
        QLocale::setDefault(QLocale::c());
        QCOMPARE(FormatFixed(1.5, 1), QStringLiteral("1.5"));
        QLocale::setDefault(QLocale(QLocale::Czech, QLocale::CzechRepublic));
    }
};

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
