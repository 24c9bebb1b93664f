// The real LAN converter library with IP texts a settings file may hold:
// every one gives a defined error code with a text, or a connection, and
// never a crash or a read past the text.
#include "app/Dekl.h"
#include "comm/Kxxx638.h"
#include "core/Cp1250.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

class TestLanLibrary : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        quint32 h = 0;
        CloseAdapter(4, &h);
    }

    void ipTexts_data()
    {
        QTest::addColumn<QString>("ip");
        QTest::newRow("200 digits") << QString(200, QLatin1Char('9'));
        QTest::newRow("200 characters of addresses")
            << QStringLiteral("192.168.1.100.").repeated(14) + QStringLiteral("1234");
        QTest::newRow("empty") << QString();
        QTest::newRow("blank") << QStringLiteral(" ");
        QTest::newRow("Czech letters") << QStringLiteral("řídicí.ústředna");
        QTest::newRow("octet above 255") << QStringLiteral("10.0.0.256");
    }
    void ipTexts()
    {
        QFETCH(QString, ip);
        // Through the settings file first, as the program gets it.
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("W_rq3510.ini"));
        TData saved;
        SetDefaults(&saved);
        saved.adapterKind = 4;
        saved.ipAddress = ip;
        QVERIFY(SaveSettings(&saved, path));
        TData d;
        SetDefaults(&d);
        QVERIFY(LoadSettings(&d, path));
        QCOMPARE(d.ipAddress, ip.trimmed());

        d.ipAddress8bit = ToCp1250(d.ipAddress);
        d.initBlock.fill(0);
        d.initBlock[0] = reinterpret_cast<std::uintptr_t>(d.ipAddress8bit.constData());
        d.initBlock[1] = d.udpPort;
        d.initBlock[2] = d.udpTimeout;
        QElapsedTimer clock;
        clock.start();
        const quint32 code = OpenAdapter(4, &d.handle, d.initBlock);
        QVERIFY2(code != 0, "no converter has such an address");
        QVERIFY(code != AdapterError::LoadFailed + 4 && code != AdapterError::Incomplete + 4);
        QCOMPARE(d.handle, 0u);
        QVERIFY(!ErrorText(4, code).trimmed().isEmpty());
        qInfo("code %u \"%s\" after %lld ms", code, qPrintable(ErrorText(4, code)), clock.elapsed());
    }
};

QTEST_GUILESS_MAIN(TestLanLibrary)
#include "tst_lanlibrary.moc"
