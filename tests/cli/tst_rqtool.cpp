// rqtool end to end against rqsim over UDP, and its command-line parser.
#include "cli/Argumenty.h"
#include "support/SimProcess.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {
struct Run
{
    int code = -1;
    QByteArray out;
    QString err;
    QJsonObject json() const { return QJsonDocument::fromJson(out).object(); }
    QJsonArray array() const { return QJsonDocument::fromJson(out).array(); }
};

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}
} // namespace

class TestRqtool : public QObject
{
    Q_OBJECT
    SimProcess sim;
    QTemporaryDir dir;

    // rqtool with the LAN converter pointed at the simulator and no settings file.
    Run rqtool(const QStringList &args)
    {
        QProcess p;
        p.setProgram(QStringLiteral(RQ_BIN_DIR "/rqtool"));
        p.setArguments(QStringList{QStringLiteral("--settings"), dir.filePath(QStringLiteral("none.ini")),
                                   QStringLiteral("--adapter"), QStringLiteral("lan"), QStringLiteral("--ip"),
                                   QStringLiteral("127.0.0.1"), QStringLiteral("--udp-port"),
                                   QString::number(sim.udpPort()), QStringLiteral("--udp-timeout"),
                                   QStringLiteral("300")} +
                       args);
        p.start();
        Run r;
        if (!p.waitForFinished(60000)) {
            p.kill();
            p.waitForFinished();
            return r;
        }
        r.code = p.exitCode();
        r.out = p.readAllStandardOutput();
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }
    QString path(const QString &name) const { return dir.filePath(name); }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QVERIFY2(sim.start({QStringLiteral("--module"), QStringLiteral("1:3510:1.08"), QStringLiteral("--module"),
                            QStringLiteral("2:3530:1.07"), QStringLiteral("--module"), QStringLiteral("5:3520:1.02"),
                            QStringLiteral("--module"), QStringLiteral("7:3510:1.08")}),
                 qPrintable(sim.errorString()));
    }

    void parse_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("positional");
        const auto row = [](const char *name, QStringList args, bool ok, const char *command = "", int n = 0) {
            QTest::newRow(name) << args << ok << QString::fromLatin1(command) << n;
        };
        row("no command", {}, false);
        row("unknown command", {QStringLiteral("flash")}, false);
        row("unknown option", {QStringLiteral("info"), QStringLiteral("--force")}, false);
        row("other command's option", {QStringLiteral("info"), QStringLiteral("--yes")}, false);
        row("value missing", {QStringLiteral("info"), QStringLiteral("--address")}, false);
        row("switch with a value", {QStringLiteral("--json=1"), QStringLiteral("info")}, false);
        row("twice", {QStringLiteral("--baud"), QStringLiteral("1"), QStringLiteral("--baud=2"), QStringLiteral("info")}, false);
        row("too few arguments", {QStringLiteral("diff"), QStringLiteral("a.kee")}, false);
        row("too many arguments", {QStringLiteral("backup"), QStringLiteral("a"), QStringLiteral("b")}, false);
        row("set needs an assignment", {QStringLiteral("set")}, false);
        row("options on both sides", {QStringLiteral("--json"), QStringLiteral("restore"), QStringLiteral("x.kee"), QStringLiteral("--yes")}, true, "restore", 1);
        row("value after equals", {QStringLiteral("backup"), QStringLiteral("--address=1-5"), QStringLiteral("d/")}, true, "backup", 1);
        row("negative value", {QStringLiteral("--udp-timeout"), QStringLiteral("-5"), QStringLiteral("info")}, true, "info", 0);
        row("double dash ends options", {QStringLiteral("diff"), QStringLiteral("--"), QStringLiteral("--a.kee"), QStringLiteral("module")}, true, "diff", 2);
        row("get any count", {QStringLiteral("get"), QStringLiteral("ain0"), QStringLiteral("ain1"), QStringLiteral("address")}, true, "get", 3);
    }
    void parse()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, ok);
        const CliParse p = ParseCliArguments(args);
        QCOMPARE(p.error.isEmpty(), ok);
        if (!ok) return;
        QFETCH(QString, command);
        QFETCH(int, positional);
        QCOMPARE(p.arguments.command, command);
        QCOMPARE(p.arguments.positional.size(), positional);
    }

    void usageErrorsExitTwoInCzech_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("command") << QStringList{QStringLiteral("flash")};
        QTest::newRow("address") << QStringList{QStringLiteral("--address"), QStringLiteral("300"), QStringLiteral("info")};
        QTest::newRow("baud") << QStringList{QStringLiteral("--baud"), QStringLiteral("9601"), QStringLiteral("info")};
        QTest::newRow("adapter") << QStringList{QStringLiteral("--adapter"), QStringLiteral("can"), QStringLiteral("info")};
        QTest::newRow("outputs") << QStringList{QStringLiteral("outputs"), QStringLiteral("0x1G")};
        QTest::newRow("field") << QStringList{QStringLiteral("--address"), QStringLiteral("1"), QStringLiteral("set"), QStringLiteral("ain12=1")};
        QTest::newRow("value") << QStringList{QStringLiteral("--address"), QStringLiteral("1"), QStringLiteral("set"), QStringLiteral("ain0=abc")};
        QTest::newRow("address list") << QStringList{QStringLiteral("--address"), QStringLiteral("5-1"), QStringLiteral("backup"), QStringLiteral("d/")};
    }
    void usageErrorsExitTwoInCzech()
    {
        QFETCH(QStringList, args);
        const Run r = rqtool(args);
        QCOMPARE(r.code, 2);
        QVERIFY2(r.err.startsWith(QStringLiteral("rqtool: ")), qPrintable(r.err));
    }

    void helpIsCzech()
    {
        const Run r = rqtool({QStringLiteral("--help")});
        QCOMPARE(r.code, 0);
        QVERIFY(QString::fromUtf8(r.out).contains(QStringLiteral("Návratové kódy")));
    }

    void scanFindsEveryModule()
    {
        const Run r = rqtool({QStringLiteral("--json"), QStringLiteral("scan"), QStringLiteral("--addresses"),
                              QStringLiteral("0-8"), QStringLiteral("--bauds"), QStringLiteral("9600")});
        QCOMPARE(r.code, 0);
        QStringList found;
        for (const QJsonValue &v : r.array()) {
            const QJsonObject o = v.toObject();
            QCOMPARE(o.value(QStringLiteral("baud")).toInt(), 9600);
            found << QStringLiteral("%1 %2 %3")
                         .arg(o.value(QStringLiteral("address")).toInt())
                         .arg(o.value(QStringLiteral("model")).toString(), o.value(QStringLiteral("firmware")).toString());
        }
        QCOMPARE(found, (QStringList{QStringLiteral("1 RQ-3510 1.08"), QStringLiteral("2 RQ-3530 1.07"),
                                     QStringLiteral("5 RQ-3520 1.02"), QStringLiteral("7 RQ-3510 1.08")}));
    }

    void infoDecodesTheModule()
    {
        QVERIFY(sim.setMemoryByte(5, 16, 8));
        const Run r = rqtool({QStringLiteral("--address"), QStringLiteral("5"), QStringLiteral("--json"), QStringLiteral("info")});
        QCOMPARE(r.code, 0);
        const QJsonObject o = r.json();
        QCOMPARE(o.value(QStringLiteral("model")).toString(), QStringLiteral("RQ-3520"));
        QCOMPARE(o.value(QStringLiteral("firmware")).toString(), QStringLiteral("1.02"));
        const QJsonObject fields = o.value(QStringLiteral("fields")).toObject();
        QCOMPARE(fields.value(QStringLiteral("address")).toObject().value(QStringLiteral("value")).toInt(), 5);
        QCOMPARE(fields.value(QStringLiteral("count")).toObject().value(QStringLiteral("value")).toInt(), 8);
    }

    void backupEqualsTheModulesMemory()
    {
        const QString file = path(QStringLiteral("one.kee"));
        const Run r = rqtool({QStringLiteral("--address"), QStringLiteral("2"), QStringLiteral("backup"), file});
        QCOMPARE(r.code, 0);
        QCOMPARE(readFile(file), sim.memory(2));
    }

    void fleetBackupListsTheMissing()
    {
        const QString folder = path(QStringLiteral("fleet"));
        const Run r = rqtool({QStringLiteral("--json"), QStringLiteral("--address"), QStringLiteral("1,2,3"),
                              QStringLiteral("backup"), folder + QLatin1Char('/')});
        QCOMPARE(r.code, 4); // one module did not answer
        const QJsonObject o = r.json();
        const QJsonArray saved = o.value(QStringLiteral("saved")).toArray();
        const QJsonArray failed = o.value(QStringLiteral("failed")).toArray();
        QCOMPARE(saved.size(), 2);
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed.at(0).toObject().value(QStringLiteral("address")).toInt(), 3);
        for (const QJsonValue &v : saved) {
            const QJsonObject s = v.toObject();
            const QString file = s.value(QStringLiteral("file")).toString();
            QVERIFY2(QFileInfo(file).fileName().startsWith(s.value(QStringLiteral("model")).toString() +
                                                           QStringLiteral("_a%1_").arg(s.value(QStringLiteral("address")).toInt())),
                     qPrintable(file));
            QCOMPARE(readFile(file), sim.memory(s.value(QStringLiteral("address")).toInt()));
        }
        // A second run the same day keeps the first files.
        QCOMPARE(rqtool({QStringLiteral("--address"), QStringLiteral("1"), QStringLiteral("backup"), folder}).code, 0);
        QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 3);
    }

    void restoreWritesOnlyChangedBytes()
    {
        const QByteArray original = sim.memory(7);
        QByteArray image = original;
        image[0] = char(3);
        image[300] = char(0x5A);
        image[511] = char(0xA5);
        const QString file = path(QStringLiteral("changed.kee"));
        QVERIFY(writeFile(file, image));
        const Run r = rqtool({QStringLiteral("--address"), QStringLiteral("7"), QStringLiteral("--json"),
                              QStringLiteral("restore"), file});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.json().value(QStringLiteral("written")).toInt(), 3);
        QCOMPARE(sim.memory(7), image);
        // --all writes every byte, as the dialog does.
        QVERIFY(writeFile(file, original));
        const Run all = rqtool({QStringLiteral("--address"), QStringLiteral("7"), QStringLiteral("--json"),
                                QStringLiteral("restore"), file, QStringLiteral("--all")});
        QCOMPARE(all.code, 0);
        QCOMPARE(all.json().value(QStringLiteral("written")).toInt(), 512);
        QCOMPARE(sim.memory(7), original);
    }

    void riskyRestoreIsRefusedThenForced()
    {
        const QByteArray before = sim.memory(1);
        const QString file = path(QStringLiteral("module7.kee"));
        QByteArray other = sim.memory(7);
        other[5] = char(4);
        QVERIFY(writeFile(file, other));
        const Run refused = rqtool({QStringLiteral("--address"), QStringLiteral("1"), QStringLiteral("restore"), file});
        QCOMPARE(refused.code, 3);
        QVERIFY2(QString::fromUtf8(refused.out).contains(QStringLiteral("Adresa modulu: 1 → 7")), refused.out.constData());
        QCOMPARE(sim.memory(1), before);

        const Run dry = rqtool({QStringLiteral("--address"), QStringLiteral("1"), QStringLiteral("restore"), file,
                                QStringLiteral("--dry-run")});
        QCOMPARE(dry.code, 0);
        QCOMPARE(sim.memory(1), before);

        // Keeping the address takes the risk away: no --yes needed.
        const Run kept = rqtool({QStringLiteral("--address"), QStringLiteral("1"), QStringLiteral("restore"), file,
                                 QStringLiteral("--keep-address")});
        QCOMPARE(kept.code, 0);
        QByteArray expected = other;
        expected[62] = before[62];
        expected[63] = before[63];
        QCOMPARE(sim.memory(1), expected);

        const Run forced = rqtool({QStringLiteral("--address"), QStringLiteral("1"), QStringLiteral("restore"), file,
                                   QStringLiteral("--yes")});
        QCOMPARE(forced.code, 0);
        QCOMPARE(sim.memory(1), other);
        // Back to address 1, else the next power-up would move it.
        QVERIFY(sim.setMemoryByte(1, 63, 1));
    }

    void diffOfFilesAndOfTheModule()
    {
        const QString a = path(QStringLiteral("a.kee")), b = path(QStringLiteral("b.kee"));
        QByteArray image = sim.memory(7);
        QVERIFY(writeFile(a, image));
        QCOMPARE(rqtool({QStringLiteral("diff"), a, a}).code, 0);
        image[33] = char(image[33] ^ 0x04); // negation of DIN2
        QVERIFY(writeFile(b, image));
        const Run r = rqtool({QStringLiteral("--json"), QStringLiteral("diff"), a, b});
        QCOMPARE(r.code, 1);
        const QJsonArray changes = r.json().value(QStringLiteral("changes")).toArray();
        QCOMPARE(changes.size(), 1);
        QCOMPARE(changes.at(0).toObject().value(QStringLiteral("key")).toString(), QStringLiteral("din2.negation"));
        QCOMPARE(rqtool({QStringLiteral("--address"), QStringLiteral("7"), QStringLiteral("diff"), a,
                         QStringLiteral("module")}).code,
                 0);
        QCOMPARE(rqtool({QStringLiteral("--address"), QStringLiteral("7"), QStringLiteral("diff"),
                         QStringLiteral("module"), b}).code,
                 1);
    }

    void setWritesWithReadBackAndGetReadsIt()
    {
        const Run set = rqtool({QStringLiteral("--address"), QStringLiteral("7"), QStringLiteral("set"),
                                QStringLiteral("ain3=3"), QStringLiteral("dout9.initial=1")});
        QCOMPARE(set.code, 0);
        QCOMPARE(sim.memoryByte(7, 3), 3);
        QVERIFY(sim.memoryByte(7, 32 + 3) & 0x02); // DOUT9: byte 1, bit 1
        const Run get = rqtool({QStringLiteral("--address"), QStringLiteral("7"), QStringLiteral("--json"),
                                QStringLiteral("get"), QStringLiteral("ain3"), QStringLiteral("dout9.initial")});
        QCOMPARE(get.code, 0);
        const QJsonObject fields = get.json().value(QStringLiteral("fields")).toObject();
        QCOMPARE(fields.value(QStringLiteral("ain3")).toObject().value(QStringLiteral("value")).toInt(), 3);
        QCOMPARE(fields.value(QStringLiteral("dout9.initial")).toObject().value(QStringLiteral("value")).toInt(), 1);
        // A value the module would refuse never reaches it.
        QCOMPARE(rqtool({QStringLiteral("--address"), QStringLiteral("2"), QStringLiteral("set"), QStringLiteral("ain6=1")}).code, 2);
    }

    void valuesAsJsonAndCsv()
    {
        QVERIFY(sim.setInput(7, 0, 1.25, QStringLiteral("V")));
        const Run r = rqtool({QStringLiteral("--address"), QStringLiteral("7"), QStringLiteral("--json"),
                              QStringLiteral("values"), QStringLiteral("--count"), QStringLiteral("2"),
                              QStringLiteral("--interval"), QStringLiteral("10")});
        QCOMPARE(r.code, 0);
        const QJsonArray rows = r.json().value(QStringLiteral("rows")).toArray();
        QCOMPARE(rows.size(), 2);
        const QJsonArray inputs = rows.at(0).toObject().value(QStringLiteral("inputs")).toArray();
        QCOMPARE(inputs.size(), 12);
        QVERIFY(!inputs.at(0).toObject().value(QStringLiteral("unit")).toString().isEmpty());

        const Run csv = rqtool({QStringLiteral("--address"), QStringLiteral("7"), QStringLiteral("values"), QStringLiteral("--csv")});
        QCOMPARE(csv.code, 0);
        const QList<QByteArray> lines = csv.out.split('\n');
        QCOMPARE(lines.size(), 3); // header, one row, the empty rest
        QVERIFY(lines.at(0).contains("[V]"));
        QVERIFY(lines.at(1).contains(';'));
    }

    void digitalInputsOutputsAndStatus()
    {
        QVERIFY(sim.setDigitalInputs(5, 0x80000001u));
        const Run in = rqtool({QStringLiteral("--address"), QStringLiteral("5"), QStringLiteral("--json"), QStringLiteral("inputs")});
        QCOMPARE(in.code, 0);
        // The module's negation bytes apply on reading.
        quint32 negation = 0;
        for (int k = 0; k < 4; ++k)
            negation |= quint32(sim.memoryByte(5, 33 + 3 * k)) << (8 * k);
        QCOMPARE(in.json().value(QStringLiteral("inputs")).toInteger(), qint64(0x80000001u ^ negation));
        QCOMPARE(rqtool({QStringLiteral("--address"), QStringLiteral("5"), QStringLiteral("outputs"), QStringLiteral("0x12345678")}).code, 0);
        QCOMPARE(sim.outputs(5), 0x12345678u);
        const Run st = rqtool({QStringLiteral("--address"), QStringLiteral("5"), QStringLiteral("--json"),
                               QStringLiteral("status"), QStringLiteral("--clear")});
        QCOMPARE(st.code, 0);
        QCOMPARE(st.json().value(QStringLiteral("status")).toInteger(), qint64(sim.status(5)));
    }

    void communicationAndFileErrors()
    {
        const Run silent = rqtool({QStringLiteral("--address"), QStringLiteral("9"), QStringLiteral("--json"), QStringLiteral("info")});
        QCOMPARE(silent.code, 4);
        QVERIFY(!silent.json().value(QStringLiteral("error")).toString().isEmpty());
        QCOMPARE(rqtool({QStringLiteral("--address"), QStringLiteral("7"), QStringLiteral("restore"),
                         path(QStringLiteral("missing.kee"))}).code,
                 5);
        const QString shortFile = path(QStringLiteral("short.kee"));
        QVERIFY(writeFile(shortFile, QByteArray(100, '\0')));
        const QByteArray before = sim.memory(7);
        QCOMPARE(rqtool({QStringLiteral("--address"), QStringLiteral("7"), QStringLiteral("restore"), shortFile}).code, 5);
        QCOMPARE(sim.memory(7), before);
        QCOMPARE(rqtool({QStringLiteral("diff"), shortFile, shortFile}).code, 5);
    }
};

QTEST_GUILESS_MAIN(TestRqtool)
#include "tst_rqtool.moc"
