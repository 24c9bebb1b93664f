// Settings files a technician's machine may really hold: cut, binary, edited
// in another encoding, absurdly long. Loading never crashes, takes only what
// is valid and keeps the defaults for the rest; what was loaded saves and
// loads back the same.
#include "app/Dekl.h"
#include "core/Cp1250.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray cp(const QString &text)
{
    return ToCp1250(text);
}

QByteArray lanFile(const QByteArray &ip)
{
    return cp(QStringLiteral("[Připojení]\r\nRozhraní=RQ-4638\r\nAdresa=5\r\n[RQ-4638]\r\nIP adresa=")) + ip +
           QByteArrayLiteral("\r\nUDP port=6000\r\n");
}

} // namespace

class TestBadSettings : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    QString path() const { return m_dir.filePath(QStringLiteral("W_rq3510.ini")); }
    void write(const QByteArray &bytes)
    {
        QFile f(path());
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(f.write(bytes), bytes.size());
    }
    QByteArray read()
    {
        QFile f(path());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static TData defaults()
    {
        TData d;
        SetDefaults(&d);
        return d;
    }
    // Saves the record and loads it into a fresh one.
    TData roundTrip(const TData &d)
    {
        [&] { QVERIFY(SaveSettings(&d, path())); }();
        TData e = defaults();
        [&] { QVERIFY(LoadSettings(&e, path())); }();
        return e;
    }

private slots:
    void init() { QFile::remove(path()); }

    // File contents that load nothing, or nothing but the interface, and
    // leave every other field at its default.
    void unusableFiles_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("loads");
        QTest::addColumn<int>("kind");
        QTest::newRow("empty") << QByteArray() << false << 0;
        QTest::newRow("only NUL bytes") << QByteArray(4096, '\0') << false << 0;
        QTest::newRow("NUL in the section name") << cp(QStringLiteral("[Při")) + QByteArray(1, '\0') +
                                                        cp(QStringLiteral("pojení]\r\nRozhraní=RQ-4638\r\n"))
                                                 << false << 0;
        QTest::newRow("NUL in the interface name")
            << cp(QStringLiteral("[Připojení]\r\nRozhraní=RQ-4")) + QByteArray(1, '\0') + "638\r\n"
            << true << 0;
        QTest::newRow("NUL after the interface name")
            << cp(QStringLiteral("[Připojení]\r\nRozhraní=RQ-4638")) + QByteArray(3, '\0') + "\r\n"
            << true << 0;
        QTest::newRow("bytes undefined in Windows-1250")
            << cp(QStringLiteral("[Připojení]\r\nRozhraní=")) + QByteArray("\x81\x83\x88\x90\x98") + "\r\n"
            << true << 0;
        QTest::newRow("section never closed")
            << cp(QStringLiteral("[Připojení\r\nRozhraní=RQ-4638\r\n")) << false << 0;
        QTest::newRow("only CR line ends")
            << cp(QStringLiteral("[Připojení]\rRozhraní=RQ-4638\rAdresa=3\r")) << false << 0;
        QTest::newRow("cut in the middle of a key")
            << cp(QStringLiteral("[Připojení]\r\nRozhraní=PCI-4638\r\nAdr")) << true << 2;
    }
    void unusableFiles()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, loads);
        QFETCH(int, kind);
        write(bytes);
        TData d = defaults();
        QCOMPARE(LoadSettings(&d, path()), loads);
        QCOMPARE(int(d.adapterKind), kind);
        const TData def = defaults();
        QCOMPARE(d.moduleAddress, def.moduleAddress);
        QCOMPARE(d.baudRate, def.baudRate);
        QCOMPARE(d.ipAddress, def.ipAddress);
        QCOMPARE(d.udpPort, def.udpPort);
        // A save into such a file always gives one that loads.
        QVERIFY(SaveSettings(&d, path()));
        TData e = defaults();
        QVERIFY(LoadSettings(&e, path()));
        QCOMPARE(e.adapterKind, d.adapterKind);
    }

    // Integer values with NUL bytes, absurd lengths or stray bytes keep the field.
    void badNumbers_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::newRow("NUL inside") << QByteArray("1\0"
                                                  "2",
                                                  3);
        QTest::newRow("NUL after") << QByteArray("12\0", 3);
        QTest::newRow("thousand digits") << QByteArray(1000, '7');
        QTest::newRow("hundred thousand zeros then 1x") << QByteArray(100000, '0') + "1x";
        QTest::newRow("2^32 in hex") << QByteArray("$100000000");
        QTest::newRow("2^31 in decimal") << QByteArray("2147483648");
        QTest::newRow("sign only") << QByteArray("-");
        QTest::newRow("prefix only") << QByteArray("0x");
        QTest::newRow("Windows-1250 digits look-alike") << QByteArray("\xb9\xb2");
    }
    void badNumbers()
    {
        QFETCH(QByteArray, value);
        write(cp(QStringLiteral("[Připojení]\r\nRozhraní=COMx\r\nAdresa=")) + value +
              cp(QStringLiteral("\r\nRychlost=")) + value + cp(QStringLiteral("\r\n[COMx]\r\nČíslo portu=")) +
              value + QByteArrayLiteral("\r\n"));
        TData d = defaults();
        QVERIFY(LoadSettings(&d, path()));
        QCOMPARE(d.moduleAddress, defaults().moduleAddress);
        QCOMPARE(d.baudRate, defaults().baudRate);
        QCOMPARE(d.comPort, defaults().comPort);
    }

    // Long leading zeros are still a number: the width rule is on the value.
    void longLeadingZeros()
    {
        write(cp(QStringLiteral("[Připojení]\r\nRozhraní=COMx\r\nAdresa=")) + QByteArray(50000, '0') +
              "300\r\n");
        TData d = defaults();
        QVERIFY(LoadSettings(&d, path()));
        QCOMPARE(int(d.moduleAddress), 44);
    }

    // IP texts that are no address at all still travel unchanged through
    // the file: the library, not the file, decides whether it can use one.
    void ipTexts_data()
    {
        QTest::addColumn<QString>("ip");
        QTest::newRow("200 characters") << QString(200, QLatin1Char('9'));
        QTest::newRow("200 mixed") << QStringLiteral("192.168.1.100.").repeated(14) + QStringLiteral("1234");
        QTest::newRow("100000 characters") << QString(100000, QLatin1Char('a'));
        QTest::newRow("Czech letters") << QStringLiteral("řízení-ústředna.local");
        QTest::newRow("equals and brackets") << QStringLiteral("[RQ-4638]=x;y#z");
        QTest::newRow("inner blanks") << QStringLiteral("10.0. 0.1");
    }
    void ipTexts()
    {
        QFETCH(QString, ip);
        TData d = defaults();
        d.adapterKind = 4;
        d.ipAddress = ip;
        const TData e = roundTrip(d);
        QCOMPARE(e.ipAddress.size(), ip.size());
        QCOMPARE(e.ipAddress, ip);
        QCOMPARE(int(e.adapterKind), 4);
        QCOMPARE(e.udpPort, d.udpPort);
    }

    // Bytes that Windows-1250 leaves undefined come back as the same bytes.
    void undefinedBytesSurviveASave()
    {
        const QByteArray odd("\x81\x83\x88\x90\x98", 5);
        write(lanFile(odd));
        TData d = defaults();
        QVERIFY(LoadSettings(&d, path()));
        QCOMPARE(d.ipAddress.size(), 5);
        QVERIFY(SaveSettings(&d, path()));
        QVERIFY(read().contains(QByteArray(QByteArrayLiteral("=") + odd + QByteArrayLiteral("\r\n"))));
        QCOMPARE(roundTrip(d).ipAddress, d.ipAddress);
    }

    // A carriage return inside a value: kept as it is while the key is not
    // written, a blank once it is, and never a line of its own.
    void carriageReturnInsideValue()
    {
        write(lanFile(QByteArray("127.0.0.1\rU", 11)));
        TData d = defaults();
        QVERIFY(LoadSettings(&d, path()));
        QCOMPARE(d.ipAddress, QStringLiteral("127.0.0.1\rU"));
        d.adapterKind = 0; // the IP address is not written
        QVERIFY(SaveSettings(&d, path()));
        QVERIFY(read().contains(QByteArray("IP adresa=127.0.0.1\rU\r\n")));
        d.adapterKind = 4;
        QCOMPARE(roundTrip(d).ipAddress, QStringLiteral("127.0.0.1 U"));
        QCOMPARE(roundTrip(d).udpPort, 6000u);
    }

    // A NUL byte inside a value read from the file stays inside it.
    void nulInsideIpText()
    {
        const QByteArray ip("10.0\0.0.1", 9);
        write(lanFile(ip));
        TData d = defaults();
        QVERIFY(LoadSettings(&d, path()));
        QCOMPARE(d.ipAddress.size(), 9);
        QCOMPARE(roundTrip(d).ipAddress, d.ipAddress);
        QCOMPARE(int(d.moduleAddress), 5);
        QCOMPARE(d.udpPort, 6000u);
    }

    // A huge foreign section does not disturb ours, and a save keeps it.
    void hugeForeignContent()
    {
        QByteArray foreign = QByteArrayLiteral("[Jiné]\r\n");
        for (int i = 0; i < 20000; ++i)
            foreign += "klic" + QByteArray::number(i) + "=" + QByteArray(20, 'x') + "\r\n";
        write(foreign + lanFile("10.1.2.3"));
        TData d = defaults();
        QVERIFY(LoadSettings(&d, path()));
        QCOMPARE(d.ipAddress, QStringLiteral("10.1.2.3"));
        d.udpPort = 7000;
        QVERIFY(SaveSettings(&d, path()));
        QVERIFY(read().startsWith(foreign));
        QCOMPARE(roundTrip(d).udpPort, 7000u);
    }
};

QTEST_GUILESS_MAIN(TestBadSettings)
#include "tst_badsettings.moc"
