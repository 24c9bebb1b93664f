// The nightly backup script of the user guide against a sparse bus (8 of
// the 32 addresses answer) whose modules lose 0.5 % of their replies: it
// must run through, twice, and name the one module changed in between.
#include "app/Dekl.h"
#include "support/SimProcess.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class TestNightly : public QObject
{
    Q_OBJECT

    static QByteArray read(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private slots:
    void scriptIsTheUserGuides()
    {
        const QByteArray script = read(QStringLiteral(RQ_SOURCE_DIR "/tests/cli/nocni-zaloha.sh"));
        const QByteArray guide = read(QStringLiteral(RQ_SOURCE_DIR "/docs/user-guide.md"));
        QVERIFY(!script.isEmpty());
        QByteArray indented;
        for (const QByteArray &line : script.split('\n'))
            indented += line.isEmpty() ? QByteArray("\n") : QByteArray("    ") + line + '\n';
        QVERIFY2(guide.contains(indented.trimmed()), "docs/user-guide.md holds another nightly script");
    }

    void nightlyBackupWithLostReplies()
    {
        SimProcess sim;
        QStringList args{QStringLiteral("--fault"), QStringLiteral("drop p=0.005"), QStringLiteral("--seed"),
                         QStringLiteral("7")};
        for (int a = 3; a <= 32; a += 4)
            args << QStringLiteral("--module")
                 << QStringLiteral("%1:%2:1.08").arg(a).arg(a % 3 == 0 ? 3520 : 3510);
        QVERIFY2(sim.start(args), qPrintable(sim.errorString()));
        QTemporaryDir dir;
        TData d;
        SetDefaults(&d);
        d.adapterKind = 4;
        d.ipAddress = QStringLiteral("127.0.0.1");
        d.udpPort = sim.udpPort();
        const QString settings = dir.filePath(QStringLiteral("lan.ini"));
        QVERIFY(SaveSettings(&d, settings));

        const auto night = [&](const QString &today, const QString &yesterday) {
            QProcess p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("PATH"),
                       QStringLiteral(RQ_BIN_DIR ":") + env.value(QStringLiteral("PATH")));
            env.insert(QStringLiteral("ZALOHY"), dir.filePath(QStringLiteral("zalohy")));
            env.insert(QStringLiteral("DNES"), today);
            env.insert(QStringLiteral("VCERA"), yesterday);
            env.insert(QStringLiteral("SPOJENI"),
                       QStringLiteral("--settings %1 --timeout 150").arg(settings));
            p.setProcessEnvironment(env);
            p.start(QStringLiteral("bash"), {QStringLiteral(RQ_SOURCE_DIR "/tests/cli/nocni-zaloha.sh")});
            p.waitForFinished(240000);
            return std::make_pair(p.exitCode(),
                                  QString::fromUtf8(p.readAllStandardError() + p.readAllStandardOutput()));
        };
        const auto first = night(QStringLiteral("2026-12-06"), QStringLiteral("2026-12-05"));
        QVERIFY2(first.first == 0, qPrintable(first.second));
        QCOMPARE(QDir(dir.filePath(QStringLiteral("zalohy/2026-12-06")))
                     .entryList({QStringLiteral("*.kee")})
                     .size(),
                 8);
        QVERIFY(sim.setMemoryByte(7, 33, sim.memoryByte(7, 33) ^ 0x04)); // negation of DIN2
        const auto second = night(QStringLiteral("2026-12-07"), QStringLiteral("2026-12-06"));
        QVERIFY2(second.first == 0, qPrintable(second.second));
        QVERIFY2(second.second.contains(QStringLiteral("RQ-3510_a7: ")), qPrintable(second.second));
        QCOMPARE(second.second.count(QStringLiteral("→")), 1);
        QVERIFY(sim.counters().value(QStringLiteral("faults")) > 0);
    }
};

QTEST_GUILESS_MAIN(TestNightly)
#include "tst_nocni.moc"
