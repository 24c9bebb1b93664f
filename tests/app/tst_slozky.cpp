// File dialogs remember where the user was, per kind of file, in a file of
// their own: where a dialog starts, where a bare name lands, what is kept.
#include "app/Otazka.h"
#include "core/Slozky.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

class TestSlozky : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    QString dir(const QString &name) const
    {
        const QString path = m_dir.filePath(name);
        QDir().mkpath(path);
        return path;
    }
    // "@" stands for the test folder, a leading "~" for the home folder.
    QString real(QString path) const
    {
        path.replace(u'@', m_dir.path());
        if (path.startsWith(u'~'))
            path = QDir::homePath() + path.mid(1);
        return path;
    }

private slots:
    void init()
    {
        rq::FolderMemory::file = m_dir.filePath(u"config/W_RQ3510/slozky.ini"_s);
        QFile::remove(rq::FolderMemory::file);
    }
    void cleanupTestCase() { rq::FolderMemory::file.clear(); }

    // Where a dialog starts and where a name returned without a folder lies,
    // with and without a folder kept for the kind.
    void startAndResolve_data()
    {
        QTest::addColumn<QString>("kept");     // folder under the test folder kept for pictures
        QTest::addColumn<QString>("proposed"); // by the caller
        QTest::addColumn<QString>("start");    // where the dialog starts
        QTest::addColumn<QString>("bare");     // where "x.svg" returned by the dialog lies
        QTest::newRow("nothing kept, bare name") << ""
                                                 << "trend.png"
                                                 << "~/trend.png"
                                                 << "~/x.svg";
        QTest::newRow("bare name") << "obrazky"
                                   << "trend.png"
                                   << "@/obrazky/trend.png"
                                   << "@/obrazky/x.svg";
        QTest::newRow("new name in the home folder") << "obrazky"
                                                     << "~/trend1.svg"
                                                     << "@/obrazky/trend1.svg"
                                                     << "@/obrazky/x.svg";
        QTest::newRow("nothing kept, new name") << ""
                                                << "~/trend1.svg"
                                                << "~/trend1.svg"
                                                << "~/x.svg";
        QTest::newRow("an existing file stays") << "obrazky"
                                                << "@/stary.png"
                                                << "@/stary.png"
                                                << "@/obrazky/x.svg";
        QTest::newRow("a folder") << "obrazky"
                                  << "~"
                                  << "@/obrazky"
                                  << "@/obrazky/x.svg";
        QTest::newRow("kept folder deleted") << "smazana"
                                             << "trend.png"
                                             << "~/trend.png"
                                             << "~/x.svg";
        QTest::newRow("another kind's folder") << "zaznamy"
                                               << "trend.png"
                                               << "~/trend.png"
                                               << "~/x.svg";
    }
    void startAndResolve()
    {
        QFETCH(QString, kept);
        QFETCH(QString, proposed);
        QFile old(m_dir.filePath(u"stary.png"_s));
        QVERIFY(old.open(QIODevice::WriteOnly));
        const QString kind = rq::FolderKind::Picture;
        if (!kept.isEmpty()) {
            const QString keptKind = kept == u"zaznamy" ? rq::FolderKind::TrendRecord : kind;
            QVERIFY(rq::FolderMemory::remember(keptKind, dir(kept) + u"/predtim.png"_s));
            if (kept == u"smazana")
                QVERIFY(QDir(m_dir.filePath(kept)).removeRecursively());
        }
        QFETCH(QString, start);
        QFETCH(QString, bare);
        QCOMPARE(rq::FolderMemory::startPath(kind, real(proposed)), real(start));
        QCOMPARE(rq::FolderMemory::resolve(kind, u"x.svg"_s), real(bare));
        QCOMPARE(rq::FolderMemory::resolve(kind, real(u"@/jinde/y.svg"_s)), real(u"@/jinde/y.svg"_s));
    }

    // Through the program's file dialog: it opens where the kind was last
    // saved, a name typed without a folder lands there, and the folder then
    // chosen is kept in the file of its own, for the next start.
    void dialogStartsWhereTheKindWasLast()
    {
        const QString kept = dir(u"exporty"_s);
        QVERIFY(rq::FolderMemory::remember(rq::FolderKind::LinkLog, kept + u"/transakce.csv"_s));
        QWidget owner;
        QString startedIn;
        QTimer::singleShot(0, this, [&] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            startedIn = dialog->directory().absolutePath();
            dialog->selectFile(u"druhy.csv"_s);       // typed without a folder
            static_cast<QDialog *>(dialog)->accept(); // as the user pressing the button
        });
        const QString saved = rq::saveFileName(&owner, u"Export"_s, u"transakce.csv"_s, u"CSV (*.csv)"_s, {},
                                               rq::FolderKind::LinkLog);
        QCOMPARE(startedIn, kept);
        QCOMPARE(saved, kept + u"/druhy.csv"_s);

        const QString elsewhere = dir(u"jinde"_s);
        QTimer::singleShot(0, this, [&] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            dialog->selectFile(elsewhere + u"/treti.csv"_s);
            static_cast<QDialog *>(dialog)->accept(); // as the user pressing the button
        });
        rq::saveFileName(&owner, u"Export"_s, u"transakce.csv"_s, u"CSV (*.csv)"_s, {},
                         rq::FolderKind::LinkLog);
        QCOMPARE(rq::FolderMemory::folder(rq::FolderKind::LinkLog), elsewhere);
        QCOMPARE(QSettings(rq::FolderMemory::file, QSettings::IniFormat).allKeys(),
                 QStringList{u"Slozky/diagnostika"_s});
        // The other kinds keep theirs.
        QCOMPARE(rq::FolderMemory::folder(rq::FolderKind::ModuleList), QDir::homePath());
    }
};

QTEST_MAIN(TestSlozky)
#include "tst_slozky.moc"
