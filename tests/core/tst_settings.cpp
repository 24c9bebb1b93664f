#include "app/Dekl.h"
#include "core/Cp1250.h"
#include "core/IniFile.h"
#include "support/Child.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

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
    return RunInChild([&] { return !DropRoot() ? 3 : fn() ? 0 : 1; }) == 0;
}

void chmodPath(const QString &path, mode_t mode)
{
    QCOMPARE(chmod(QFile::encodeName(path).constData(), mode), 0);
}

const QByteArray FullFile =
    cp("; poznámka\r\n[Připojení]\r\nRozhraní=RQ-4638\r\nAdresa=7\r\nRychlost=19200\r\n"
       "[COMx]\r\nČíslo portu=4\r\n[RQ-4638]\r\nIP adresa=10.0.0.9\r\nUDP port=7000\r\n"
       "UDP timeout=300\r\n[Jiné]\r\nklíč=hodnota\r\n");
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
        QCOMPARE(
            readFile(path()),
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
        writeFile(path(),
                  cp("[Připojení]\nRozhraní=PCI-638\nRychlost=$FFFFFFFF\n[PCI-638]\nBázová adresa=$12345\n"
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
        const QByteArray before =
            cp("; settings of the service tool\r\n"
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
        const QByteArray expected =
            QByteArray(before)
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

    // The raw file read line by line and written back without a change:
    // line ends become CRLF, nothing else moves, and every byte of the code
    // page comes back as itself.
    void rawFileWrittenBack_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("written");
        QByteArray everyByte;
        for (int b = 1; b < 256; ++b)
            if (b != '\n' && b != '\r')
                everyByte.append(char(b));
        QTest::newRow("LF") << QByteArray("a\nb\n") << QByteArray("a\r\nb\r\n");
        QTest::newRow("no final break") << QByteArray("a\r\nb") << QByteArray("a\r\nb\r\n");
        QTest::newRow("empty lines kept") << QByteArray("\n\na\r\n\r\n") << QByteArray("\r\n\r\na\r\n\r\n");
        QTest::newRow("final CR alone") << QByteArray("a\n\r") << QByteArray("a\r\n");
        QTest::newRow("CR inside a line") << QByteArray("a\rb\n") << QByteArray("a\rb\r\n");
        QTest::newRow("every byte") << everyByte << everyByte + "\r\n";
    }
    void rawFileWrittenBack()
    {
        QFETCH(QByteArray, file);
        writeFile(path(), file);
        QTEST(IniFile(path()).toBytes(), "written");
    }

    // What an editor wrote is read: UTF-8 (with or without its byte order
    // mark) as UTF-8, anything else as Windows-1250; a save writes the whole
    // file in Windows-1250, or nothing where a character has no form there.
    void editorsEncodingRead_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("saved");
        const QByteArray text = QString::fromUtf8("; poznámka\n[Připojení]\nRozhraní=RQ-4638\nAdresa=7\n"
                                                  "Rychlost=19200\n[COMx]\nČíslo portu=4\n[RQ-4638]\n"
                                                  "IP adresa=10.0.0.9\nUDP port=7000\nUDP timeout=300\n"
                                                  "[Jiné]\nklíč=hodnota\n")
                                    .toUtf8();
        QTest::newRow("Windows-1250") << FullFile << true;
        QTest::newRow("UTF-8") << text << true;
        QTest::newRow("UTF-8 with byte order mark") << QByteArray("\xEF\xBB\xBF") + text << true;
        QTest::newRow("UTF-8, a character Windows-1250 lacks")
            << text + QString::fromUtf8("; hotovo ✓\n").toUtf8() << false;
    }
    void editorsEncodingRead()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, saved);
        writeFile(path(), file);
        TData d;
        SetDefaults(&d);
        QVERIFY(LoadSettings(&d, path()));
        QCOMPARE(d.adapterKind, 4);
        QCOMPARE(d.ipAddress, QStringLiteral("10.0.0.9"));
        QCOMPARE(d.comPort, 4);
        QString error;
        QCOMPARE(SaveSettings(&d, path(), &error), saved);
        if (saved) {
            QCOMPARE(readFile(path()), FullFile);
        } else {
            QCOMPARE(readFile(path()), file);
            QVERIFY2(error.contains(QStringLiteral("Windows-1250")) && error.contains(QStringLiteral("✓")),
                     qPrintable(error));
        }
    }

    void charactersOutsideTheCodePage()
    {
        QCOMPARE(ToCp1250(QString::fromUtf8("Žluťoučký kůň €\u2122\u2123\u00C5\u00A0")),
                 QByteArray("\x8Elu\x9Dou\xE8k\xFD k\xF9\xF2 \x80\x99??\xA0"));
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

    // A save on a full disk fails with a reason and keeps the old file.
    void fullDiskKeepsOldFile_data() { AddFullDiskRows(); }
    void fullDiskKeepsOldFile()
    {
        QFETCH(FullDisk, full);
        RQ_SKIP_UNLESS_DISK_CAN_FILL(full);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("W_rq3510.ini"));
        const int code = RunWithFullDisk(full, file, FullFile, [&] {
            TData d;
            SetDefaults(&d);
            d.ipAddress = QString(300, QLatin1Char('9')); // more than the old file
            d.adapterKind = 4;
            QString error;
            if (SaveSettings(&d, file, &error))
                return 1;
            if (error.isEmpty() || readFile(file) != FullFile)
                return 2;
            return FilesIn(dir.path()) == QStringList{QStringLiteral("W_rq3510.ini")} ? 0 : 3;
        });
        QCOMPARE(code, 0);
    }

    // A big file is read as it is, and a save keeps all of it.
    void bigFileLoadsAndSurvivesASave()
    {
        QByteArray big = cp("[Jiné]\r\n");
        while (big.size() < (3 << 20))
            big += "klic" + QByteArray::number(big.size()) + '=' + QByteArray(100, 'x') + "\r\n";
        writeFile(path(), big + FullFile);
        TData d;
        SetDefaults(&d);
        QVERIFY(LoadSettings(&d, path()));
        QCOMPARE(d.adapterKind, 4);
        QCOMPARE(d.udpPort, 7000u);
        d.moduleAddress = 9;
        QVERIFY(SaveSettings(&d, path()));
        QCOMPARE(readFile(path()), big + QByteArray(FullFile).replace("Adresa=7", "Adresa=9"));
    }

    // A file that is there but cannot be read is left as it is, and the save
    // says so in Czech.
    void unreadableFileIsNotOverwritten()
    {
        QTemporaryDir dir;
        chmodPath(dir.path(), 0777);
        const QString file = dir.filePath(QStringLiteral("W_rq3510.ini"));
        writeFile(file, FullFile);
        chmodPath(file, 0222);
        QString error;
        const bool saved = runUnprivileged([&] {
            TData d;
            SetDefaults(&d);
            return LoadSettings(&d, file) || SaveSettings(&d, file, &error) ||
                   !error.contains(QStringLiteral("beze změny"));
        });
        chmodPath(file, 0644);
        QVERIFY(!saved);
        QCOMPARE(readFile(file), FullFile);
        // A folder in the file's place is no file to replace either.
        TData d;
        SetDefaults(&d);
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder.ini")));
        QVERIFY(!SaveSettings(&d, dir.filePath(QStringLiteral("folder.ini")), &error));
        QVERIFY(QFileInfo(dir.filePath(QStringLiteral("folder.ini"))).isDir());
    }

    // Every 32-bit value comes back from a save as it was.
    void values32BitSurviveASave_data()
    {
        QTest::addColumn<QByteArray>("baud");
        QTest::addColumn<QByteArray>("port");
        QTest::addColumn<QByteArray>("timeout");
        QTest::newRow("negative and all ones")
            << QByteArray("-1") << QByteArray("$FFFFFFFF") << QByteArray("-5");
        QTest::newRow("extremes") << QByteArray("$80000000") << QByteArray("2147483647")
                                  << QByteArray("0x7FFFFFFF");
    }
    void values32BitSurviveASave()
    {
        QFETCH(QByteArray, baud);
        QFETCH(QByteArray, port);
        QFETCH(QByteArray, timeout);
        writeFile(path(), cp("[Připojení]\r\nRozhraní=RQ-4638\r\nRychlost=") + baud +
                              "\r\n[RQ-4638]\r\nUDP port=" + port + "\r\nUDP timeout=" + timeout + "\r\n");
        TData a;
        SetDefaults(&a);
        QVERIFY(LoadSettings(&a, path()));
        QVERIFY(SaveSettings(&a, path()));
        TData b;
        SetDefaults(&b);
        b.baudRate = b.udpPort = b.udpTimeout = 1;
        QVERIFY(LoadSettings(&b, path()));
        QCOMPARE(b.baudRate, quint32(ParseIntText(QString::fromLatin1(baud)).value()));
        QCOMPARE(b.udpPort, quint32(ParseIntText(QString::fromLatin1(port)).value()));
        QCOMPARE(b.udpTimeout, quint32(ParseIntText(QString::fromLatin1(timeout)).value()));
    }

    // Where the settings are kept: beside the program where it may write
    // there, else in the user's configuration folder, started from the file
    // beside the program. The user is nobody, so permissions hold for root.
    void location_data()
    {
        QTest::addColumn<mode_t>("folderMode");
        QTest::addColumn<int>("besideMode"); // -1: no file beside the program
        QTest::addColumn<bool>("beside");
        QTest::newRow("writable folder") << mode_t(0777) << 0644 << true;
        QTest::newRow("writable file in a read-only folder") << mode_t(0555) << 0666 << true;
        QTest::newRow("read-only folder, no file") << mode_t(0555) << -1 << false;
        QTest::newRow("read-only folder and file") << mode_t(0555) << 0444 << false;
    }
    void location()
    {
        QFETCH(mode_t, folderMode);
        QFETCH(int, besideMode);
        QFETCH(bool, beside);
        QTemporaryDir top;
        chmodPath(top.path(), 0777);
        const QString program = top.filePath(QStringLiteral("lib"));
        const QString config = top.filePath(QStringLiteral("home/.config"));
        QVERIFY(QDir().mkpath(program));
        QVERIFY(QDir().mkpath(config));
        chmodPath(top.filePath(QStringLiteral("home")), 0777);
        chmodPath(config, 0777);
        const QString besideFile = program + QStringLiteral("/W_rq3510.ini");
        const QString ownFile = config + QStringLiteral("/W_RQ3510/W_rq3510.ini");
        if (besideMode >= 0) {
            writeFile(besideFile, FullFile);
            chmodPath(besideFile, mode_t(besideMode));
        }
        chmodPath(program, folderMode);
        // Nobody loads, changes the address and saves, twice: the second run
        // starts from what the first one saved.
        const int code = RunInChild([&] {
            if (!DropRoot())
                return 100;
            for (int run = 1; run <= 2; ++run) {
                const SettingsLocation where = FindSettingsLocation(program, config);
                if (where.path != (beside ? besideFile : ownFile))
                    return 1;
                TData d;
                SetDefaults(&d);
                if (LoadSettings(&d, where) != (besideMode >= 0 || run == 2))
                    return 2;
                if (run == 2 && d.moduleAddress != 42)
                    return 3;
                d.moduleAddress = 42;
                QString error;
                if (!SaveSettings(&d, where, &error))
                    return 4;
            }
            return 0;
        });
        chmodPath(program, 0755);
        QCOMPARE(code, 0);
        const QByteArray saved = readFile(beside ? besideFile : ownFile);
        QVERIFY(saved.contains("Adresa=42"));
        if (besideMode >= 0) // the rest of the file beside the program came along
            QVERIFY(saved.contains(cp("[Jiné]\r\nklíč=hodnota")));
        if (!beside) {
            QCOMPARE(readFile(besideFile), besideMode >= 0 ? FullFile : QByteArray());
        } else {
            QVERIFY(!QFile::exists(ownFile));
        }
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
