#include "dio/EepromFile.h"
#include "support/Child.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {
QByteArray pattern(int size, int seed = 0)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + seed) & 0xFF);
    return bytes;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
} // namespace

class TestEepromFile : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString path(const QString &name = QStringLiteral("modul.kee")) const { return m_dir.filePath(name); }

private slots:
    void init()
    {
        QDir dir(m_dir.path());
        for (const QString &name : dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot)) {
            if (!QFile::remove(dir.filePath(name)))
                QDir(dir.filePath(name)).removeRecursively();
        }
    }

    void saveReplacesAnOldFileWithExactly512Bytes()
    {
        writeFile(path(), pattern(1000, 3));
        EepromBlock block;
        const QByteArray bytes = pattern(512);
        std::copy(bytes.cbegin(), bytes.cend(), block.begin());
        QString error;
        QVERIFY2(SaveEepromFile(path(), block, &error), qPrintable(error));
        QCOMPARE(readFile(path()), bytes);
        // No temporary file is left behind.
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("modul.kee")});
    }

    void load_data()
    {
        QTest::addColumn<int>("size"); // -1: no file, -2: a folder
        QTest::addColumn<bool>("complete");
        QTest::newRow("512 bytes") << 512 << true;
        QTest::newRow("600 bytes, the first 512 taken") << 600 << true;
        QTest::newRow("511 bytes") << 511 << false;
        QTest::newRow("empty") << 0 << false;
        QTest::newRow("missing") << -1 << false;
        QTest::newRow("a folder") << -2 << false;
    }
    void load()
    {
        QFETCH(int, size);
        QFETCH(bool, complete);
        const QByteArray bytes = pattern(qMax(size, 0), 1);
        if (size >= 0)
            writeFile(path(), bytes);
        if (size == -2)
            QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("modul.kee")));
        EepromBlock block;
        block.fill(0xEE);
        QString error;
        QCOMPARE(LoadEepromFile(path(), block, &error), complete);
        QCOMPARE(error.isEmpty(), complete);
        // Bytes read before the end stay; the rest keeps its values.
        for (int i = 0; i < EepromFileSize; ++i)
            QCOMPARE(block[std::size_t(i)], i < bytes.size() ? quint8(bytes.at(i)) : quint8(0xEE));
    }

    void unreadableFileFailsToLoad()
    {
        writeFile(path(), pattern(512));
        QVERIFY(QFile::setPermissions(path(), QFile::WriteOwner));
        QVERIFY(QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                        QFile::ReadOther | QFile::ExeOther));
        // Permissions do not stop root: the load runs as nobody.
        const int code = RunInChild([&] {
            if (!DropRoot())
                return 3;
            EepromBlock block{};
            return !LoadEepromFile(path(), block) && block == EepromBlock{} ? 0 : 1;
        });
        QCOMPARE(code, 0);
    }

    // A save on a full disk fails and keeps the old backup byte for byte.
    // Only a model name of our own reaches the file name, whatever the
    // module says it is.
    void backupNameTakesOnlyAKnownModel_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("name");
        QTest::newRow("model name") << QStringLiteral("RQ-3520")
                                    << QStringLiteral("RQ-3520_a7_2026-12-07.kee");
        QTest::newRow("whole identity")
            << QStringLiteral("RQ-3530  v.1.02") << QStringLiteral("RQ-3530_a7_2026-12-07.kee");
        QTest::newRow("unknown") << QString() << QStringLiteral("RQ_a7_2026-12-07.kee");
        QTest::newRow("climbs out") << QStringLiteral("../../ev") << QStringLiteral("RQ_a7_2026-12-07.kee");
        QTest::newRow("absolute") << QStringLiteral("/etc/cron.d/x")
                                  << QStringLiteral("RQ_a7_2026-12-07.kee");
        QTest::newRow("known name, a path behind")
            << QStringLiteral("RQ-3510/../../x") << QStringLiteral("RQ-3510_a7_2026-12-07.kee");
        QTest::newRow("control characters")
            << QStringLiteral("RQ\n\t*?") << QStringLiteral("RQ_a7_2026-12-07.kee");
    }
    void backupNameTakesOnlyAKnownModel()
    {
        QFETCH(QString, model);
        QFETCH(QString, name);
        QCOMPARE(BackupFileName(model, 7, QDate(2026, 12, 7)), name);
    }

    void fullDiskKeepsOldFile_data() { AddFullDiskRows(); }
    void fullDiskKeepsOldFile()
    {
        QFETCH(FullDisk, full);
        RQ_SKIP_UNLESS_DISK_CAN_FILL(full);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("modul.kee"));
        const QByteArray old = pattern(512, 4);
        const int code = RunWithFullDisk(full, file, old, [&] {
            EepromBlock block;
            block.fill(0x55);
            QString error;
            if (SaveEepromFile(file, block, &error) || error.isEmpty())
                return 1;
            return readFile(file) == old && FilesIn(dir.path()) == QStringList{QStringLiteral("modul.kee")}
                       ? 0
                       : 2;
        });
        QCOMPARE(code, 0);
    }

    void saveFailures_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("target is a folder") << QStringLiteral("folder.kee");
        QTest::newRow("folder is a file") << QStringLiteral("plain/modul.kee");
        QTest::newRow("folder missing") << QStringLiteral("none/modul.kee");
        QTest::newRow("empty name") << QString();
    }
    void saveFailures()
    {
        QFETCH(QString, name);
        QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("folder.kee")));
        writeFile(path(QStringLiteral("plain")), "x");
        QString error;
        QVERIFY(!SaveEepromFile(name.isEmpty() ? name : path(name), EepromBlock{}, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(QFileInfo(path(QStringLiteral("folder.kee"))).isDir());
        QCOMPARE(readFile(path(QStringLiteral("plain"))), QByteArray("x"));
    }
};

QTEST_GUILESS_MAIN(TestEepromFile)
#include "tst_eepromfile.moc"
