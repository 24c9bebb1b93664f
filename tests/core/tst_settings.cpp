#include "app/Cp1250.h"
#include "app/Dekl.h"
#include "app/IniFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray cp(const char *utf8)
{
    return ToCp1250(QString::fromUtf8(utf8));
}

// Runs fn in a child process without root's privileges, where file
// permissions hold; returns what fn returned.
bool runUnprivileged(const std::function<bool()> &fn)
{
    const pid_t pid = fork();
    if (pid == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(3);
        _exit(fn() ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
} // namespace

class TestSettings : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString path() const { return m_dir.filePath(QStringLiteral("W_rq3510.ini")); }

private slots:
    void init() { QFile::remove(path()); }

    void missingFileLoadsNothing()
    {
        TData d;
        SetDefaults(&d);
        d.moduleAddress = 9;
        QVERIFY(!LoadSettings(&d, path()));
        QCOMPARE(d.moduleAddress, 9);
        QVERIFY(!LoadSettings(nullptr, path()));
    }

    void interfaceNamedJklLoadsNothing()
    {
        writeFile(path(), cp("[Připojení]\r\nRozhraní=jkl\r\nAdresa=5\r\n"));
        TData d;
        SetDefaults(&d);
        QVERIFY(!LoadSettings(&d, path()));
        QCOMPARE(d.moduleAddress, 0);
    }

    void roundTrip_data()
    {
        QTest::addColumn<int>("kind");
        for (int k = 0; k < 5; ++k)
            QTest::addRow("kind %d", k) << k;
    }
    void roundTrip()
    {
        QFETCH(int, kind);
        TData a;
        SetDefaults(&a);
        a.adapterKind = quint8(kind);
        a.moduleAddress = 200;
        a.baudRate = 115200;
        a.comPort = 3;
        a.isaBase = 0x2A0;
        a.ipAddress = QStringLiteral("10.1.2.3");
        a.udpPort = 65535;
        a.udpTimeout = 250;
        QVERIFY(SaveSettings(&a, path()));
        TData b;
        SetDefaults(&b);
        QVERIFY(LoadSettings(&b, path()));
        QCOMPARE(b.adapterKind, a.adapterKind);
        QCOMPARE(b.moduleAddress, 200);
        QCOMPARE(b.baudRate, 115200u);
        QCOMPARE(b.comPort, kind == 0 ? 3 : 1);
        QCOMPARE(b.isaBase, kind == 1 ? 0x2A0 : 0x300);
        QCOMPARE(b.ipAddress, kind == 4 ? QStringLiteral("10.1.2.3") : DefaultIpAddress);
        QCOMPARE(b.udpPort, kind == 4 ? 65535u : 5000u);
        QCOMPARE(b.udpTimeout, kind == 4 ? 250u : 100u);
    }

    void defaultsWrittenIntoEmptyFolder()
    {
        TData d;
        SetDefaults(&d);
        QVERIFY(SaveSettings(&d, path()));
        QCOMPARE(readFile(path()),
                 cp("[Připojení]\r\nRozhraní=COMx\r\nAdresa=0\r\nRychlost=9600\r\n[COMx]\r\nČíslo portu=1\r\n"));
    }

    void integerValues_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<int>("address");
        QTest::newRow("300 truncated") << QByteArray("300") << 44;
        QTest::newRow("dollar") << QByteArray("$1F") << 31;
        QTest::newRow("0x") << QByteArray("0x1F") << 31;
        QTest::newRow("letters keep value") << QByteArray("abc") << 7;
        QTest::newRow("trailing characters keep value") << QByteArray("12ab") << 7;
        QTest::newRow("blanks around") << QByteArray("  12  ") << 12;
        QTest::newRow("negative") << QByteArray("-1") << 255;
    }
    void integerValues()
    {
        QFETCH(QByteArray, value);
        QFETCH(int, address);
        writeFile(path(), cp("[Připojení]\nRozhraní=COMx\nAdresa=") + value + "\n");
        TData d;
        SetDefaults(&d);
        d.moduleAddress = 7;
        QVERIFY(LoadSettings(&d, path()));
        QCOMPARE(int(d.moduleAddress), address);
    }

    void widthsOfFields()
    {
        writeFile(path(), cp("[Připojení]\nRozhraní=PCI-638\nRychlost=$FFFFFFFF\n[PCI-638]\nBázová adresa=$12345\n"
                             "[COMx]\nČíslo portu=257\n"));
        TData d;
        SetDefaults(&d);
        QVERIFY(LoadSettings(&d, path()));
        QCOMPARE(d.adapterKind, 1);
        QCOMPARE(d.baudRate, 0xFFFFFFFFu);
        QCOMPARE(d.isaBase, 0x2345);
        QCOMPARE(d.comPort, 1);
    }

    void unknownInterfaceKeepsKind()
    {
        writeFile(path(), cp("[Připojení]\nRozhraní=rq-4638\nAdresa=5\n[RQ-4638]\nUDP port=6000\n"));
        TData d;
        SetDefaults(&d);
        QVERIFY(LoadSettings(&d, path()));
        QCOMPARE(d.adapterKind, 0); // the name compares case-sensitively
        QCOMPARE(d.moduleAddress, 5);
        QCOMPARE(d.udpPort, 6000u);
    }

    void onlyInterfaceKey()
    {
        writeFile(path(), cp("[Připojení]\nRozhraní=RQ-4638\n"));
        TData d, def;
        SetDefaults(&d);
        SetDefaults(&def);
        QVERIFY(LoadSettings(&d, path()));
        QCOMPARE(d.adapterKind, 4);
        QCOMPARE(d.moduleAddress, def.moduleAddress);
        QCOMPARE(d.baudRate, def.baudRate);
        QCOMPARE(d.ipAddress, def.ipAddress);
        QCOMPARE(d.udpPort, def.udpPort);
    }

    void namesMatchWithoutCase()
    {
        writeFile(path(), cp("[PŘIPOJENÍ]\r\nROZHRANÍ = USB-4638\r\nadresa=12\r\n"));
        TData d;
        SetDefaults(&d);
        QVERIFY(LoadSettings(&d, path()));
        QCOMPARE(d.adapterKind, 3);
        QCOMPARE(d.moduleAddress, 12);
    }

    void saveKeepsOtherSections_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("PCI-4638") << 2;
        QTest::newRow("USB-4638") << 3;
    }
    void saveKeepsOtherSections()
    {
        QFETCH(int, kind);
        const QByteArray before = cp("; settings of the service tool\r\n"
                                     "[Připojení]\r\nRozhraní=COMx\r\nAdresa=1\r\nRychlost=9600\r\n\r\n"
                                     "[COMx]\r\nČíslo portu=4\r\n\r\n"
                                     "[PCI-638]\r\nBázová adresa=672\r\n\r\n"
                                     "[RQ-4638]\r\nIP adresa=10.0.0.9\r\nUDP port=7000\r\nUDP timeout=300\r\n\r\n"
                                     "[Jiné]\r\n# poznámka\r\nklíč=hodnota\r\n");
        writeFile(path(), before);
        TData d;
        SetDefaults(&d);
        d.adapterKind = quint8(kind);
        d.moduleAddress = 33;
        d.baudRate = 19200;
        QVERIFY(SaveSettings(&d, path()));
        const QByteArray expected = QByteArray(before)
                       .replace(cp("Rozhraní=COMx"), cp(kind == 2 ? "Rozhraní=PCI-4638" : "Rozhraní=USB-4638"))
                       .replace("Adresa=1\r\n", "Adresa=33\r\n")
                       .replace("Rychlost=9600", "Rychlost=19200");
        QCOMPARE(readFile(path()), expected);
    }

    void lineEndingsAndNewKeys()
    {
        // LF file with a section missing its keys: keys go into their section,
        // the file comes back with CRLF, a comment stays.
        writeFile(path(), cp("[Připojení]\nRozhraní=COMx\n; c\n\n[RQ-4638]\nUDP port=1\n"));
        TData d;
        SetDefaults(&d);
        QVERIFY(LoadSettings(&d, path()));
        d.adapterKind = 4;
        QVERIFY(SaveSettings(&d, path()));
        QCOMPARE(readFile(path()),
                 cp("[Připojení]\r\nRozhraní=RQ-4638\r\n; c\r\nAdresa=0\r\nRychlost=9600\r\n\r\n"
                    "[RQ-4638]\r\nUDP port=1\r\nIP adresa=") +
                     ToCp1250(DefaultIpAddress) + "\r\nUDP timeout=100\r\n");
    }

    void lineBreakInValueStaysOneLine()
    {
        TData d;
        SetDefaults(&d);
        d.adapterKind = 4;
        d.ipAddress = QStringLiteral("10.0.0.1\r\n[Připojení]\r\nRozhraní=PCI-638");
        QVERIFY(SaveSettings(&d, path()));
        TData e;
        SetDefaults(&e);
        QVERIFY(LoadSettings(&e, path()));
        QCOMPARE(e.adapterKind, 4);
    }

    void saveWithoutRecord()
    {
        QVERIFY(!SaveSettings(nullptr, path()));
        QVERIFY(!QFile::exists(path()));
    }

    void failedSaveKeepsOldFile()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("W_rq3510.ini"));
        const QByteArray old = cp("[Připojení]\r\nRozhraní=PCI-638\r\n");
        writeFile(file, old);
        QVERIFY(chmod(QFile::encodeName(file).constData(), 0644) == 0);
        QVERIFY(chmod(QFile::encodeName(dir.path()).constData(), 0555) == 0);
        const bool saved = runUnprivileged([&] {
            TData d;
            SetDefaults(&d);
            QString error;
            return SaveSettings(&d, file, &error) || error.isEmpty(); // false: failed with a reason
        });
        chmod(QFile::encodeName(dir.path()).constData(), 0755);
        QVERIFY(!saved);
        QCOMPARE(readFile(file), old);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("W_rq3510.ini")});

        // A folder that does not exist at all.
        TData d;
        SetDefaults(&d);
        QString error;
        QVERIFY(!SaveSettings(&d, dir.filePath(QStringLiteral("missing/W_rq3510.ini")), &error));
        QVERIFY(!error.isEmpty());
    }

    void oversizedFileReadsEmpty()
    {
        QByteArray big = cp("[Připojení]\nRozhraní=RQ-4638\n");
        big.append(QByteArray(2 << 20, 'x'));
        writeFile(path(), big);
        TData d;
        SetDefaults(&d);
        QVERIFY(!LoadSettings(&d, path()));
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
