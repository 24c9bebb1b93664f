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

    // Links on the way to the file. In a sticky folder that everybody may
    // write into, a link is followed only when it is the user's own or the
    // folder owner's; anywhere else a chain is followed to its very end.
    // "victim" is the file a planted link aims at; what it must hold after
    // the save tells whether the link was followed.
    void linksFollowedOnlyWhereTheyAreSafe_data()
    {
        QTest::addColumn<QString>("shape");
        QTest::addColumn<int>("linkOwner"); // -1 the user, -2 the folder's owner, else this uid
        QTest::addColumn<bool>("followed");
        QTest::newRow("chain a -> b -> victim") << QStringLiteral("chain") << -1 << true;
        QTest::newRow("relative link through ..") << QStringLiteral("relative") << -1 << true;
        QTest::newRow("link to a file not there yet") << QStringLiteral("dangling") << -1 << true;
        QTest::newRow("shared folder, own link") << QStringLiteral("shared") << -1 << true;
        QTest::newRow("shared folder, folder owner's link") << QStringLiteral("shared") << -2 << true;
        QTest::newRow("shared folder, another user's link") << QStringLiteral("shared") << 65533 << false;
        QTest::newRow("shared folder, another user's dangling link")
            << QStringLiteral("shared dangling") << 65533 << false;
        QTest::newRow("shared folder, another user's link to a folder")
            << QStringLiteral("shared folder") << 65533 << false;
        QTest::newRow("another user's link in a private folder") << QStringLiteral("chain") << 65533 << true;
    }
    void linksFollowedOnlyWhereTheyAreSafe()
    {
        QFETCH(QString, shape);
        QFETCH(int, linkOwner);
        QFETCH(bool, followed);
        if (linkOwner != -1 && geteuid() != 0)
            QSKIP("giving a link to another user needs root");
        const QString dir = newFolder();
        const QString home = dir + QStringLiteral("/home");
        const QString shared = dir + QStringLiteral("/shared");
        QVERIFY(QDir().mkpath(home) && QDir().mkpath(shared));
        const QByteArray sharedName = QFile::encodeName(shared);
        QVERIFY(chmod(sharedName.constData(), 01777) == 0);
        if (linkOwner == -2)
            QVERIFY(lchown(sharedName.constData(), 65532, 65532) == 0);
        const QString victim = home + QStringLiteral("/authorized_keys");
        const bool dangling = shape.contains(QLatin1String("dangling"));
        if (!dangling)
            QVERIFY(writeFile(victim, pattern(100, 7)));

        QString saved = shared + QStringLiteral("/zaloha.kee");
        QString link = saved;
        if (shape == QLatin1String("chain")) {
            saved = link = home + QStringLiteral("/a");
            QVERIFY(QFile::link(home + QStringLiteral("/b"), link));
            QVERIFY(QFile::link(victim, home + QStringLiteral("/b")));
        } else if (shape == QLatin1String("relative")) {
            saved = link = home + QStringLiteral("/a");
            QVERIFY(QFile::link(QStringLiteral("../home/./authorized_keys"), link));
        } else if (shape == QLatin1String("shared folder")) {
            link = shared + QStringLiteral("/d");
            saved = link + QStringLiteral("/authorized_keys");
            QVERIFY(QFile::link(home, link));
        } else {
            QVERIFY(QFile::link(victim, link));
        }
        const QByteArray linkName = QFile::encodeName(link);
        if (linkOwner == -2)
            QVERIFY(lchown(linkName.constData(), 65532, 65532) == 0);
        else if (linkOwner >= 0)
            QVERIFY(lchown(linkName.constData(), uid_t(linkOwner), gid_t(linkOwner)) == 0);

        QString error;
        const QByteArray bytes = pattern(512, 8);
        QCOMPARE(rq::saveWholeFile(saved, bytes, &error), followed);
        QCOMPARE(readFile(victim), followed ? bytes : dangling ? QByteArray() : pattern(100, 7));
        QVERIFY(QFileInfo(link).isSymLink());
        if (shape == QLatin1String("chain"))
            QVERIFY(QFileInfo(home + QStringLiteral("/b")).isSymLink());
        if (!followed)
            QVERIFY2(error.contains(QStringLiteral("odkaz jiného uživatele")), qPrintable(error));
        // Nothing left beside: names counted with links that lead nowhere.
        const auto count = [](const QString &folder) {
            return QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot).size();
        };
        const bool inHome = shape == QLatin1String("chain") || shape == QLatin1String("relative");
        QCOMPARE(count(shared), inHome ? 0 : 1);
        QCOMPARE(count(home), int(!(dangling && !followed)) + int(shape == QLatin1String("chain")) * 2 +
                                  int(shape == QLatin1String("relative")));
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
