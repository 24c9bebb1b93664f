#include "core/SafeSave.h"
#include "support/Child.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {
QByteArray pattern(int size, int seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 11 + seed) & 0xFF);
    return bytes;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.flush();
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
} // namespace

class TestSafeSave : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    int m_case = 0;

    // A fresh folder that nobody may enter too.
    QString newFolder()
    {
        const QString dir = m_dir.filePath(QString::number(++m_case));
        QDir().mkpath(dir);
        chmod(QFile::encodeName(m_dir.path()).constData(), 0755);
        return dir;
    }

private slots:
    // Where the save cannot finish, the old file stays byte for byte, no new
    // file is left beside it, and the reason is Czech. "in place": the folder
    // takes no new files but the file itself may be written.
    void fullDiskKeepsOldFile_data()
    {
        QTest::addColumn<FullDisk>("full");
        QTest::addColumn<bool>("inPlace");
        QTest::addColumn<QString>("why");
        QTest::newRow("file size limit") << FullDisk::SizeLimit << false << QStringLiteral("velikost");
        QTest::newRow("full tmpfs") << FullDisk::Tmpfs << false << QStringLiteral("místa");
        QTest::newRow("file size limit, in place")
            << FullDisk::SizeLimit << true << QStringLiteral("velikost");
        QTest::newRow("full tmpfs, in place") << FullDisk::Tmpfs << true << QStringLiteral("místa");
    }
    void fullDiskKeepsOldFile()
    {
        QFETCH(FullDisk, full);
        QFETCH(bool, inPlace);
        QFETCH(QString, why);
        RQ_SKIP_UNLESS_DISK_CAN_FILL(full);
        const QString dir = newFolder();
        const QString file = dir + QStringLiteral("/data.bin");
        const QByteArray old = pattern(300, 1);
        const int code = RunWithFullDisk(full, file, old, [&] {
            if (inPlace && (chmod(QFile::encodeName(file).constData(), 0666) != 0 ||
                            chmod(QFile::encodeName(dir).constData(), 0555) != 0 || !DropRoot()))
                return 100;
            QString error;
            if (rq::saveWholeFile(file, pattern(5000, 2), &error, rq::FolderRefuses::RewriteInPlace))
                return 1;
            if (!error.contains(why) || !error.contains(file))
                return 2;
            if (readFile(file) != old)
                return 3;
            return FilesIn(dir) == QStringList{QStringLiteral("data.bin")} ? 0 : 4;
        });
        QCOMPARE(code, 0);
    }

    // What a save keeps besides the bytes: who may read the file, a link to
    // it, and a file in a folder that takes no new files.
    void saveReplacesTheWholeFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("new file") << QStringLiteral("new");
        QTest::newRow("old file keeps its mode") << QStringLiteral("mode");
        QTest::newRow("through a link") << QStringLiteral("link");
        QTest::newRow("in place, shorter") << QStringLiteral("in place");
        QTest::newRow("folder refuses: no save") << QStringLiteral("refused");
    }
    void saveReplacesTheWholeFile()
    {
        QFETCH(QString, kind);
        const QString dir = newFolder();
        const QString file = dir + QStringLiteral("/data.bin");
        QString target = file;
        if (kind != QLatin1String("new"))
            QVERIFY(writeFile(file, pattern(3000, 5)));
        QVERIFY(chmod(QFile::encodeName(file).constData(), 0640) == 0 || kind == QLatin1String("new"));
        if (kind == QLatin1String("link")) {
            target = dir + QStringLiteral("/link.bin");
            QVERIFY(QFile::link(file, target));
        }
        const bool locked = kind == QLatin1String("in place") || kind == QLatin1String("refused");
        if (locked)
            QVERIFY(chmod(QFile::encodeName(file).constData(), 0666) == 0);
        const QByteArray bytes = pattern(700, 6);
        const int code = RunInChild([&] {
            if (locked && (chmod(QFile::encodeName(dir).constData(), 0555) != 0 || !DropRoot()))
                return 100;
            return rq::saveWholeFile(target, bytes, nullptr,
                                     kind == QLatin1String("in place") ? rq::FolderRefuses::RewriteInPlace
                                                                       : rq::FolderRefuses::Fail)
                       ? 0
                       : 1;
        });
        chmod(QFile::encodeName(dir).constData(), 0755);
        QCOMPARE(code, kind == QLatin1String("refused") ? 1 : 0);
        QCOMPARE(readFile(file), kind == QLatin1String("refused") ? pattern(3000, 5) : bytes);
        struct stat st = {};
        QCOMPARE(stat(QFile::encodeName(file).constData(), &st), 0);
        if (kind == QLatin1String("mode"))
            QCOMPARE(st.st_mode & 0777, 0640u);
        if (kind == QLatin1String("link"))
            QVERIFY(QFileInfo(target).isSymLink());
        QCOMPARE(FilesIn(dir).size(), kind == QLatin1String("link") ? 2 : 1);
    }
};

QTEST_GUILESS_MAIN(TestSafeSave)
#include "tst_safesave.moc"
