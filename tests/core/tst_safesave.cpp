#include "core/SafeSave.h"
#include "support/Child.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

    // Links on the way to the file. In a sticky folder that everybody may
    // write into, a link is followed only when it is the user's own or the
    // folder owner's; anywhere else a chain is followed to its very end. The
    // links lead to "aim" (home/victim exists, home/new does not); what it
    // holds afterwards tells whether they were followed.
    void linksFollowedOnlyWhereTheyAreSafe_data()
    {
        QTest::addColumn<QStringList>("links"); // "name>target", made in order
        QTest::addColumn<int>("owner"); // of the last link: -1 the user, -2 the folder's owner, else a uid
        QTest::addColumn<QString>("saved");
        QTest::addColumn<QString>("aim");
        QTest::addColumn<bool>("followed");
        const QString victim = QStringLiteral("home/victim"), none = QStringLiteral("home/new");
        const QStringList chain{QStringLiteral("home/b>victim"), QStringLiteral("home/a>b")};
        const QStringList shared{QStringLiteral("shared/z>../home/victim")};
        const QStringList toNew{QStringLiteral("shared/z>../home/new")};
        const QStringList toFolder{QStringLiteral("shared/d>../home")};
        const QString a = QStringLiteral("home/a"), z = QStringLiteral("shared/z");
        QTest::newRow("chain a -> b -> victim") << chain << -1 << a << victim << true;
        QTest::newRow("relative link through ..")
            << QStringList{QStringLiteral("home/a>../home/./victim")} << -1 << a << victim << true;
        QTest::newRow("another user's link in a private folder") << chain << 65533 << a << victim << true;
        QTest::newRow("shared folder, own link to a file not there yet") << toNew << -1 << z << none << true;
        QTest::newRow("shared folder, folder owner's link") << shared << -2 << z << victim << true;
        QTest::newRow("shared folder, another user's link") << shared << 65533 << z << victim << false;
        QTest::newRow("shared folder, another user's link to nowhere")
            << toNew << 65533 << z << none << false;
        QTest::newRow("shared folder, another user's link to a folder")
            << toFolder << 65533 << QStringLiteral("shared/d/victim") << victim << false;
    }
    void linksFollowedOnlyWhereTheyAreSafe()
    {
        QFETCH(QStringList, links);
        QFETCH(int, owner);
        QFETCH(QString, saved);
        QFETCH(QString, aim);
        QFETCH(bool, followed);
        if (owner != -1 && geteuid() != 0)
            QSKIP("giving a link to another user needs root");
        const QDir dir(newFolder());
        QVERIFY(dir.mkpath(QStringLiteral("home")) && dir.mkpath(QStringLiteral("shared")));
        const QByteArray shared = QFile::encodeName(dir.filePath(QStringLiteral("shared")));
        QVERIFY(chmod(shared.constData(), 01777) == 0);
        QVERIFY(owner != -2 || lchown(shared.constData(), 65532, 65532) == 0);
        QVERIFY(writeFile(dir.filePath(QStringLiteral("home/victim")), pattern(100, 7)));
        for (const QString &link : links)
            QVERIFY(QFile::link(link.section(u'>', 1), dir.filePath(link.section(u'>', 0, 0))));
        const QByteArray last = QFile::encodeName(dir.filePath(links.last().section(u'>', 0, 0)));
        const uid_t uid = owner == -2 ? 65532 : uid_t(owner);
        QVERIFY(owner == -1 || lchown(last.constData(), uid, uid) == 0);
        const auto names = [&] {
            QStringList all;
            for (const QString &sub : {QStringLiteral("home"), QStringLiteral("shared")})
                all << QDir(dir.filePath(sub))
                           .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
            return all;
        };
        const QStringList before = names();

        QString error;
        const QByteArray bytes = pattern(512, 8);
        QCOMPARE(rq::saveWholeFile(dir.filePath(saved), bytes, &error), followed);
        const bool existed = aim.endsWith(QLatin1String("victim"));
        QCOMPARE(readFile(dir.filePath(aim)), followed ? bytes : existed ? pattern(100, 7) : QByteArray());
        for (const QString &link : links)
            QVERIFY(QFileInfo(dir.filePath(link.section(u'>', 0, 0))).isSymLink());
        if (!followed)
            QVERIFY2(error.contains(QStringLiteral("odkaz jiného uživatele")), qPrintable(error));
        // Nothing left beside: the same names, and the new file where one was made.
        QCOMPARE(names().size(), before.size() + int(followed && !existed));
    }

    // A save names the real reason, the same text for every save; a save
    // into /proc gets ENOENT from the kernel though /proc is there.
    void reasonsSayWhatHappened_data()
    {
        QTest::addColumn<int>("err");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("reason");
        QTest::newRow("permission") << EACCES << QString() << QStringLiteral("chybí oprávnění k zápisu");
        QTest::newRow("read-only file system")
            << EROFS << QString() << QStringLiteral("disk je jen pro čtení");
        QTest::newRow("full disk") << ENOSPC << QString() << QStringLiteral("na disku není dost místa");
        QTest::newRow("missing folder")
            << ENOENT << QStringLiteral("/nonexistent-rq/a.png") << QStringLiteral("složka neexistuje");
        QTest::newRow("folder there, /proc") << ENOENT << QStringLiteral("/proc/trend.png")
                                             << QStringLiteral("do složky /proc nelze zapisovat");
        QTest::newRow("FIFO nobody reads")
            << ENXIO << QString() << QStringLiteral("zařízení nebo roura nepřijímá data");
    }
    void reasonsSayWhatHappened()
    {
        QFETCH(int, err);
        QFETCH(QString, path);
        QFETCH(QString, reason);
        const QString text = rq::saveErrorText(path, err);
        QVERIFY2(rq::fileErrorReason(err, path).startsWith(reason) &&
                     text.contains(QStringLiteral(": ") + reason),
                 qPrintable(text));
        if (path.startsWith(QLatin1String("/proc"))) {
            QString error;
            QVERIFY(!rq::saveWholeFile(path, "x", &error));
            QCOMPARE(error, rq::saveErrorText(path, err));
        }
    }

    // What is no regular file is written into, never renamed over: a
    // FIFO's reader gets the bytes, a device stays a device and /dev/full
    // says the disk is full.
    void nonRegularTargetsAreWrittenInto_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason"); // empty: saved
        QTest::newRow("FIFO with a reader") << QStringLiteral("fifo") << QString();
        QTest::newRow("FIFO nobody reads") << QStringLiteral("lonely fifo") << QStringLiteral("nepřijímá");
        QTest::newRow("/dev/null") << QStringLiteral("/dev/null") << QString();
        QTest::newRow("/dev/full") << QStringLiteral("/dev/full") << QStringLiteral("není dost místa");
    }
    void nonRegularTargetsAreWrittenInto()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        const QString dir = newFolder();
        QString target = kind;
        int reader = -1;
        if (kind.endsWith(QLatin1String("fifo"))) {
            target = dir + QStringLiteral("/pipe");
            QCOMPARE(mkfifo(QFile::encodeName(target).constData(), 0600), 0);
            if (kind == QLatin1String("fifo"))
                reader = ::open(QFile::encodeName(target).constData(), O_RDONLY | O_NONBLOCK);
        }
        QString error;
        const QByteArray bytes = pattern(512, 9);
        QCOMPARE(rq::saveWholeFile(target, bytes, &error), reason.isEmpty());
        QVERIFY2(error.contains(reason), qPrintable(error));
        struct stat st = {};
        QCOMPARE(lstat(QFile::encodeName(target).constData(), &st), 0);
        QVERIFY(!S_ISREG(st.st_mode));
        if (reader >= 0) {
            QByteArray got(1024, '\0');
            const ssize_t n = ::read(reader, got.data(), std::size_t(got.size()));
            ::close(reader);
            QCOMPARE(got.left(int(n)), bytes);
        }
        if (!kind.startsWith(u'/')) // the FIFO alone, nothing beside it
            QCOMPARE(QDir(dir).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size(), 1);
    }

    // Files planted under names a save could use for its new file neither
    // make it fail nor receive its bytes.
    void plantedTemporaryNamesDoNotMatter()
    {
        const QString dir = newFolder();
        const QString file = dir + QStringLiteral("/data.bin");
        QVERIFY(writeFile(file, pattern(50, 1)));
        for (int pid = ::getpid(); pid < ::getpid() + 20; ++pid) {
            const QString name = QStringLiteral("%1.%2.tmp").arg(file).arg(pid);
            QVERIFY(QDir().mkdir(name));
        }
        QString error;
        QVERIFY2(rq::saveWholeFile(file, pattern(60, 2), &error), qPrintable(error));
        QCOMPARE(readFile(file), pattern(60, 2));
        QCOMPARE(FilesIn(dir).size(), 21);
    }
};

QTEST_GUILESS_MAIN(TestSafeSave)
#include "tst_safesave.moc"
