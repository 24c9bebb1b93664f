// Every ELF file the build makes (programs, adapter libraries, simulator,
// tests, benchmarks) carries the RUNPATH $ORIGIN or none. An empty entry (a
// trailing colon) or a relative one would load libraries from whatever
// folder the program is started in.
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTest>

class tst_Runpath : public QObject
{
    Q_OBJECT

private slots:
    void everyElf_hasOnlyOrigin()
    {
        int checked = 0;
        QStringList wrong;
        QDirIterator it(QStringLiteral(RQ_BUILD_DIR), QDir::Files | QDir::NoSymLinks,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            // CMake's own probes of the compiler are not made by the build.
            if (path.contains(u"/CMakeFiles/") || path.endsWith(u".o") || path.endsWith(u".a"))
                continue;
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly) || file.read(4) != "\x7f"
                                                                   "ELF")
                continue;
            QProcess readelf;
            readelf.start(QStringLiteral("readelf"), {QStringLiteral("-d"), QStringLiteral("-W"), path});
            QVERIFY2(readelf.waitForFinished(30000), "readelf (binutils) is needed");
            const QList<QByteArray> lines = readelf.readAllStandardOutput().split('\n');
            ++checked;
            for (const QByteArray &line : lines) {
                const QByteArray entry = line.trimmed();
                if (!entry.contains("(RUNPATH)") && !entry.contains("(RPATH)"))
                    continue;
                const QByteArray value = entry.mid(entry.indexOf('[') + 1).chopped(1);
                if (value != "$ORIGIN")
                    wrong << path + QStringLiteral(": ") + QString::fromLocal8Bit(entry);
            }
        }
        QVERIFY(checked >= 6); // at least the adapter libraries and rqsim
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QLatin1Char('\n'))));
    }
};

QTEST_GUILESS_MAIN(tst_Runpath)
#include "tst_runpath.moc"
