// rqtool end to end against rqsim over UDP, and its command-line parser.
// The test tables are plain text literals.
#undef QT_NO_CAST_FROM_ASCII
#include "app/Dekl.h"
#include "cli/Argumenty.h"
#include "core/Cp1250.h"
#include "support/SimProcess.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

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

bool writeSettings(const QString &path, quint16 port, quint8 address)
{
    TData d;
    SetDefaults(&d);
    d.adapterKind = 4;
    d.ipAddress = QStringLiteral("127.0.0.1");
    d.udpPort = port;
    d.udpTimeout = 300;
    d.moduleAddress = address;
    return SaveSettings(&d, path);
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

    QString settings;
    // A bus of one module of each model for the plant file, and its export.
    SimProcess plantBus;
    QString plantBusLines;

    bool startPlantBus()
    {
        if (plantBus.isRunning())
            return true;
        if (!plantBus.start(
                {"--module", "1:3510:1.08", "--module", "2:3520:1.02", "--module", "3:3530:1.07"}))
            return false;
        plantBusLines = QStringLiteral("[bus]\nadapter=lan\nip=127.0.0.1\nudp-port=%1\nudp-timeout=300\n"
                                       "baud=9600\n")
                            .arg(plantBus.udpPort());
        return true;
    }
    QList<QByteArray> plantMemories() { return {plantBus.memory(1), plantBus.memory(2), plantBus.memory(3)}; }

    // rqtool with a settings file that points the LAN converter at the simulator.
    Run rqtool(const QStringList &args, const QByteArray &input = {})
    {
        QProcess p;
        p.setProgram(QStringLiteral(RQ_BIN_DIR "/rqtool"));
        p.setArguments(QStringList{QStringLiteral("--settings"), settings} + args);
        return finish(p, input);
    }
    static Run finish(QProcess &p, const QByteArray &input = {})
    {
        p.start();
        p.write(input);
        p.closeWriteChannel();
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
    // A shell line with $RQ as rqtool with the settings (ulimit, redirections).
    Run shell(const QString &line)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("RQ"), QStringLiteral(RQ_BIN_DIR "/rqtool --settings ") + settings);
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(dir.path());
        p.setProgram(QStringLiteral("/bin/sh"));
        p.setArguments({QStringLiteral("-c"), line});
        return finish(p);
    }
    QString path(const QString &name) const { return dir.filePath(name); }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        settings = dir.filePath(QStringLiteral("lan.ini"));
        QVERIFY2(sim.start({QStringLiteral("--module"), QStringLiteral("1:3510:1.08"),
                            QStringLiteral("--module"), QStringLiteral("2:3530:1.07"),
                            QStringLiteral("--module"), QStringLiteral("5:3520:1.02"),
                            QStringLiteral("--module"), QStringLiteral("7:3510:1.08")}),
                 qPrintable(sim.errorString()));
        QVERIFY(writeSettings(settings, sim.udpPort(), 1));
    }

    void parse_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("positional");
        const auto row = [](const char *name, QStringList args, bool ok, const char *command = "",
                            int n = 0) {
            QTest::newRow(name) << args << ok << QString::fromLatin1(command) << n;
        };
        row("no command", {}, false);
        row("unknown command", {QStringLiteral("flash")}, false);
        row("unknown option", {QStringLiteral("info"), QStringLiteral("--force")}, false);
        row("other command's option", {QStringLiteral("info"), QStringLiteral("--yes")}, false);
        row("value missing", {QStringLiteral("info"), QStringLiteral("--address")}, false);
        row("switch with a value", {QStringLiteral("--json=1"), QStringLiteral("info")}, false);
        row("twice takes the last",
            {QStringLiteral("--baud"), QStringLiteral("1"), QStringLiteral("--baud=2"),
             QStringLiteral("info")},
            true, "info", 0);
        row("too few arguments", {QStringLiteral("diff"), QStringLiteral("a.kee")}, false);
        row("too many arguments", {QStringLiteral("backup"), QStringLiteral("a"), QStringLiteral("b")},
            false);
        row("set needs an assignment", {QStringLiteral("set")}, false);
        row("options on both sides",
            {QStringLiteral("--json"), QStringLiteral("restore"), QStringLiteral("x.kee"),
             QStringLiteral("--yes")},
            true, "restore", 1);
        row("value after equals",
            {QStringLiteral("backup"), QStringLiteral("--address=1-5"), QStringLiteral("d/")}, true, "backup",
            1);
        row("negative value", {QStringLiteral("--udp-timeout"), QStringLiteral("-5"), QStringLiteral("info")},
            true, "info", 0);
        row("double dash ends options",
            {QStringLiteral("diff"), QStringLiteral("--"), QStringLiteral("--a.kee"),
             QStringLiteral("module")},
            true, "diff", 2);
        row("get any count",
            {QStringLiteral("get"), QStringLiteral("ain0"), QStringLiteral("ain1"),
             QStringLiteral("address")},
            true, "get", 3);
    }
    void parse()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, ok);
        const CliParse p = ParseCliArguments(args);
        QCOMPARE(p.error.isEmpty(), ok);
        if (!ok)
            return;
        QFETCH(QString, command);
        QFETCH(int, positional);
        QCOMPARE(p.arguments.command, command);
        QCOMPARE(p.arguments.positional.size(), positional);
    }

    void usageErrorsExitTwoInCzech_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("command") << QStringList{QStringLiteral("flash")};
        QTest::newRow("address") << QStringList{QStringLiteral("--address"), QStringLiteral("300"),
                                                QStringLiteral("info")};
        QTest::newRow("baud") << QStringList{QStringLiteral("--baud"), QStringLiteral("9601"),
                                             QStringLiteral("info")};
        QTest::newRow("adapter") << QStringList{QStringLiteral("--adapter"), QStringLiteral("can"),
                                                QStringLiteral("info")};
        QTest::newRow("outputs") << QStringList{QStringLiteral("outputs"), QStringLiteral("0x1G")};
        QTest::newRow("field") << QStringList{QStringLiteral("--address"), QStringLiteral("1"),
                                              QStringLiteral("set"), QStringLiteral("ain12=1")};
        QTest::newRow("value") << QStringList{QStringLiteral("--address"), QStringLiteral("1"),
                                              QStringLiteral("set"), QStringLiteral("ain0=abc")};
        QTest::newRow("address list") << QStringList{QStringLiteral("--address"), QStringLiteral("5-1"),
                                                     QStringLiteral("backup"), QStringLiteral("d/")};
    }
    void usageErrorsExitTwoInCzech()
    {
        QFETCH(QStringList, args);
        const Run r = rqtool(args);
        QCOMPARE(r.code, 2);
        QVERIFY2(r.err.startsWith(QStringLiteral("rqtool: ")), qPrintable(r.err));
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
                         .arg(o.value(QStringLiteral("model")).toString(),
                              o.value(QStringLiteral("firmware")).toString());
        }
        QCOMPARE(found, (QStringList{QStringLiteral("1 RQ-3510 1.08"), QStringLiteral("2 RQ-3530 1.07"),
                                     QStringLiteral("5 RQ-3520 1.02"), QStringLiteral("7 RQ-3510 1.08")}));
    }

    // Rates the converter's UDP timeout cuts short are named, even with --quiet.
    void scanWarnsOfRatesBeyondTheTimeout()
    {
        const Run r = rqtool({QStringLiteral("--quiet"), QStringLiteral("--udp-timeout"), QStringLiteral("5"),
                              QStringLiteral("scan"), QStringLiteral("--addresses"), QStringLiteral("1"),
                              QStringLiteral("--bauds"), QStringLiteral("1200,9600,115200")});
        QCOMPARE(r.code, 0);
        QVERIFY2(r.err.contains(QStringLiteral("UDP timeoutem 5 ms modul při 1200 Bd, 9600 Bd nestihne")),
                 qPrintable(r.err));
    }

    void infoDecodesTheModule()
    {
        QVERIFY(sim.setMemoryByte(5, 16, 8));
        const Run r = rqtool({QStringLiteral("--address"), QStringLiteral("5"), QStringLiteral("--json"),
                              QStringLiteral("info")});
        QCOMPARE(r.code, 0);
        const QJsonObject o = r.json();
        QCOMPARE(o.value(QStringLiteral("model")).toString(), QStringLiteral("RQ-3520"));
        QCOMPARE(o.value(QStringLiteral("firmware")).toString(), QStringLiteral("1.02"));
        const QJsonObject fields = o.value(QStringLiteral("fields")).toObject();
        QCOMPARE(fields.value(QStringLiteral("address")).toObject().value(QStringLiteral("value")).toInt(),
                 5);
        QCOMPARE(fields.value(QStringLiteral("count")).toObject().value(QStringLiteral("value")).toInt(), 8);
    }

    void backupEqualsTheModulesMemory()
    {
        const QString file = path(QStringLiteral("one.kee"));
        const Run r =
            rqtool({QStringLiteral("--address"), QStringLiteral("2"), QStringLiteral("backup"), file});
        QCOMPARE(r.code, 0);
        QCOMPARE(readFile(file), sim.memory(2));
    }

    void fleetBackupListsTheMissing()
    {
        const QString folder = path(QStringLiteral("fleet"));
        const Run r = rqtool({QStringLiteral("--json"), QStringLiteral("--address"), QStringLiteral("1,2,3"),
                              QStringLiteral("backup"), folder + QLatin1Char('/')});
        QCOMPARE(r.code, 6); // one module did not answer, the others are saved
        const QJsonObject o = r.json();
        QCOMPARE(o.value(QStringLiteral("kind")).toString(), QStringLiteral("partial"));
        const QJsonArray saved = o.value(QStringLiteral("saved")).toArray();
        const QJsonArray failed = o.value(QStringLiteral("failed")).toArray();
        QCOMPARE(saved.size(), 2);
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed.at(0).toObject().value(QStringLiteral("address")).toInt(), 3);
        for (const QJsonValue &v : saved) {
            const QJsonObject s = v.toObject();
            const QString file = s.value(QStringLiteral("file")).toString();
            QVERIFY2(QFileInfo(file).fileName().startsWith(
                         s.value(QStringLiteral("model")).toString() +
                         QStringLiteral("_a%1_").arg(s.value(QStringLiteral("address")).toInt())),
                     qPrintable(file));
            QCOMPARE(readFile(file), sim.memory(s.value(QStringLiteral("address")).toInt()));
        }
        // A second run the same day keeps the first files.
        QCOMPARE(
            rqtool({QStringLiteral("--address"), QStringLiteral("1"), QStringLiteral("backup"), folder}).code,
            0);
        QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 3);
        // Standard output carries the saved files; what failed goes to standard error.
        const Run plain = rqtool({"--address", "1-3", "backup", path("plain")});
        QCOMPARE(plain.code, 6);
        QCOMPARE(plain.out.count('\n'), 2);
        QVERIFY(!plain.out.contains("neodpovídá"));
        QVERIFY2(plain.err.contains("adresa 3: neodpovídá"), qPrintable(plain.err));
    }

    void restoreWritesOnlyChangedBytes()
    {
        const QByteArray original = sim.memory(7);
        QByteArray image = original;
        image[0] = char(3);
        image[300] = char(0x5A);
        image[511] = char(0xA5);
        const QString file = path(QStringLiteral("RQ-3510_a7_changed.kee"));
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
        const QString file = path(QStringLiteral("RQ-3510_a7_module7.kee"));
        QByteArray other = sim.memory(7);
        other[5] = char(4);
        QVERIFY(writeFile(file, other));
        const Run refused =
            rqtool({QStringLiteral("--address"), QStringLiteral("1"), QStringLiteral("restore"), file});
        QCOMPARE(refused.code, 3);
        QVERIFY2(QString::fromUtf8(refused.out).contains(QStringLiteral("Adresa modulu: 1 → 7")),
                 refused.out.constData());
        QCOMPARE(sim.memory(1), before);

        const Run dry = rqtool({QStringLiteral("--address"), QStringLiteral("1"), QStringLiteral("restore"),
                                file, QStringLiteral("--dry-run")});
        QCOMPARE(dry.code, 3); // a dry run of a refused restore is refused too
        QCOMPARE(sim.memory(1), before);

        // Keeping the address takes the risk away: no --yes needed.
        const Run kept = rqtool({QStringLiteral("--address"), QStringLiteral("1"), QStringLiteral("restore"),
                                 file, QStringLiteral("--keep-address")});
        QCOMPARE(kept.code, 0);
        QByteArray expected = other;
        expected[62] = before[62];
        expected[63] = before[63];
        QCOMPARE(sim.memory(1), expected);

        const Run forced = rqtool({QStringLiteral("--address"), QStringLiteral("1"),
                                   QStringLiteral("restore"), file, QStringLiteral("--yes")});
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
        const Run r = rqtool({QStringLiteral("--json"), QStringLiteral("diff"), QStringLiteral("--model"),
                              QStringLiteral("RQ-3510"), a, b});
        QCOMPARE(r.code, 1);
        const QJsonArray changes = r.json().value(QStringLiteral("changes")).toArray();
        QCOMPARE(changes.size(), 1);
        QCOMPARE(changes.at(0).toObject().value(QStringLiteral("key")).toString(),
                 QStringLiteral("din2.negation"));
        QCOMPARE(rqtool({QStringLiteral("--address"), QStringLiteral("7"), QStringLiteral("diff"), a,
                         QStringLiteral("module")})
                     .code,
                 0);
        QCOMPARE(rqtool({QStringLiteral("--address"), QStringLiteral("7"), QStringLiteral("diff"),
                         QStringLiteral("module"), b})
                     .code,
                 1);
    }

    void setWritesWithReadBackAndGetReadsIt()
    {
        const Run set = rqtool({QStringLiteral("--address"), QStringLiteral("7"), QStringLiteral("set"),
                                QStringLiteral("ain3=3"), QStringLiteral("dout9.initial=1")});
        QCOMPARE(set.code, 0);
        QCOMPARE(sim.memoryByte(7, 3), 3);
        QVERIFY(sim.memoryByte(7, 32 + 3) & 0x02); // DOUT9: byte 1, bit 1
        const Run get =
            rqtool({QStringLiteral("--address"), QStringLiteral("7"), QStringLiteral("--json"),
                    QStringLiteral("get"), QStringLiteral("ain3"), QStringLiteral("dout9.initial")});
        QCOMPARE(get.code, 0);
        const QJsonObject fields = get.json().value(QStringLiteral("fields")).toObject();
        QCOMPARE(fields.value(QStringLiteral("ain3")).toObject().value(QStringLiteral("value")).toInt(), 3);
        QCOMPARE(
            fields.value(QStringLiteral("dout9.initial")).toObject().value(QStringLiteral("value")).toInt(),
            1);
        // A value the module would refuse never reaches it.
        QCOMPARE(rqtool({QStringLiteral("--address"), QStringLiteral("2"), QStringLiteral("set"),
                         QStringLiteral("ain6=1")})
                     .code,
                 2);
    }

    void valuesAsJsonAndCsv()
    {
        QVERIFY(sim.setInput(7, 0, 1.25, QStringLiteral("V")));
        const Run r = rqtool({QStringLiteral("--address"), QStringLiteral("7"), QStringLiteral("--json"),
                              QStringLiteral("values"), QStringLiteral("--count"), QStringLiteral("2"),
                              QStringLiteral("--interval"), QStringLiteral("10")});
        QCOMPARE(r.code, 0);
        // JSON lines: one object a sample.
        QJsonArray rows;
        for (const QByteArray &l : r.out.trimmed().split('\n'))
            rows.append(QJsonDocument::fromJson(l).object());
        QCOMPARE(rows.size(), 2);
        const QJsonArray inputs = rows.at(0).toObject().value(QStringLiteral("inputs")).toArray();
        QCOMPARE(inputs.size(), 12);

        // A module silent at the start is waited for as a later outage is:
        // its cycle a line of the same shape, the failure on standard error.
        QVERIFY(sim.addFault("module=7 drop count=1"));
        const Run late = rqtool(
            {"--address", "7", "--retries", "0", "--json", "values", "--count", "2", "--interval", "0"});
        sim.clearFaults();
        QCOMPARE(late.code, 4);
        const QList<QByteArray> samples = late.out.trimmed().split('\n');
        QCOMPARE(samples.size(), 2);
        const QJsonObject failed = QJsonDocument::fromJson(samples.at(0)).object();
        const QJsonObject good = QJsonDocument::fromJson(samples.at(1)).object();
        QCOMPARE(failed.keys(), good.keys());
        QVERIFY(!failed.value("error").toString().isEmpty() && good.value("error").isNull());
        QVERIFY(late.err.contains("Nepodařilo se přečíst 1 z 2 cyklů"));
        QVERIFY(!inputs.at(0).toObject().value(QStringLiteral("unit")).toString().isEmpty());

        const Run csv = rqtool({QStringLiteral("--address"), QStringLiteral("7"), QStringLiteral("values"),
                                QStringLiteral("--csv")});
        QCOMPARE(csv.code, 0);
        const QList<QByteArray> lines = csv.out.split('\n');
        QCOMPARE(lines.size(), 3); // header, one row, the empty rest
        QVERIFY(lines.at(0).contains("[V]"));
        QVERIFY(lines.at(1).contains(';'));
    }

    void digitalInputsOutputsAndStatus()
    {
        QVERIFY(sim.setDigitalInputs(5, 0x80000001u));
        const Run in = rqtool({QStringLiteral("--address"), QStringLiteral("5"), QStringLiteral("--json"),
                               QStringLiteral("inputs")});
        QCOMPARE(in.code, 0);
        // The module's negation bytes apply on reading.
        quint32 negation = 0;
        for (int k = 0; k < 4; ++k)
            negation |= quint32(sim.memoryByte(5, 33 + 3 * k)) << (8 * k);
        QCOMPARE(in.json().value(QStringLiteral("inputs")).toInteger(), qint64(0x80000001u ^ negation));
        QCOMPARE(rqtool({QStringLiteral("--address"), QStringLiteral("5"), QStringLiteral("outputs"),
                         QStringLiteral("0x12345678")})
                     .code,
                 0);
        QCOMPARE(sim.outputs(5), 0x12345678u);
        const Run st = rqtool({QStringLiteral("--address"), QStringLiteral("5"), QStringLiteral("--json"),
                               QStringLiteral("status"), QStringLiteral("--clear")});
        QCOMPARE(st.code, 0);
        QCOMPARE(st.json().value(QStringLiteral("status")).toInteger(), qint64(sim.status(5)));
    }

    void communicationAndFileErrors()
    {
        const Run silent = rqtool({QStringLiteral("--address"), QStringLiteral("9"), QStringLiteral("--json"),
                                   QStringLiteral("info")});
        QCOMPARE(silent.code, 4);
        QVERIFY(!silent.json().value(QStringLiteral("error")).toString().isEmpty());
        QCOMPARE(rqtool({QStringLiteral("--address"), QStringLiteral("7"), QStringLiteral("restore"),
                         path(QStringLiteral("missing.kee"))})
                     .code,
                 5);
        const QString shortFile = path(QStringLiteral("short.kee"));
        QVERIFY(writeFile(shortFile, QByteArray(100, '\0')));
        const QByteArray before = sim.memory(7);
        QCOMPARE(
            rqtool({QStringLiteral("--address"), QStringLiteral("7"), QStringLiteral("restore"), shortFile})
                .code,
            3);
        QCOMPARE(sim.memory(7), before);
        QCOMPARE(rqtool({QStringLiteral("diff"), shortFile, shortFile}).code, 5);
    }

    // Getopt habits: short options, glued values, groups, the last value wins.
    void optionsAsGetoptTakesThem_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("value");
        QTest::newRow("-a 5") << QStringList{"-a", "5", "info"} << "address"
                              << "5";
        QTest::newRow("-a5") << QStringList{"-a5", "info"} << "address"
                             << "5";
        QTest::newRow("-b") << QStringList{"info", "-b", "19200"} << "baud"
                            << "19200";
        QTest::newRow("group -qj") << QStringList{"-qj", "info"} << "json"
                                   << "";
        QTest::newRow("$COMMON --address 5")
            << QStringList{"--address", "1", "info", "--address", "5"} << "address"
            << "5";
        QTest::newRow("-o") << QStringList{"values", "-o", "x.csv"} << "output"
                            << "x.csv";
    }
    void optionsAsGetoptTakesThem()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, option);
        QFETCH(QString, value);
        const CliParse p = ParseCliArguments(args);
        QVERIFY2(p.error.isEmpty(), qPrintable(p.error));
        QCOMPARE(p.arguments.value(option), value);
    }

    // Every option and command is in the manual page and the completion.
    void documentedEverywhere()
    {
        const QString man = QString::fromUtf8(readFile(QStringLiteral(RQ_SOURCE_DIR "/cli/rqtool.1")));
        const QString completion =
            QString::fromUtf8(readFile(QStringLiteral(RQ_SOURCE_DIR "/cli/rqtool.bash-completion")));
        QStringList names;
        for (const OptionSpec &o : CommonOptions())
            names << o.name;
        for (const Command *c : Commands()) {
            QVERIFY2(man.contains(QStringLiteral(".B %1").arg(c->name())), qPrintable(c->name()));
            QVERIFY2(completion.contains(c->name()), qPrintable(c->name()));
            for (const OptionSpec &o : c->options()) {
                names << o.name;
                // A short form is in the help and the manual page too (-o).
                if (!o.shortName.isNull()) {
                    QVERIFY2(CliHelpText().contains(QStringLiteral("-%1").arg(o.shortName)) ||
                                 c->synopsis().contains(QStringLiteral("-%1|").arg(o.shortName)),
                             qPrintable(o.name));
                    QVERIFY2(man.contains(QStringLiteral("\\-%1").arg(o.shortName)), qPrintable(o.name));
                }
            }
        }
        for (const QString &n : names) {
            QVERIFY2(man.contains(QStringLiteral("\\-\\-") +
                                  QString(n).replace(QLatin1Char('-'), QStringLiteral("\\-"))),
                     qPrintable(n));
            QVERIFY2(completion.contains(QStringLiteral("--") + n), qPrintable(n));
        }
        for (const char *section :
             {"PROSTŘEDÍ", "SOUBORY", "NÁVRATOVÉ KÓDY", "RQ_COM", "RQ_USB", "RQ_VENDOR_DLL_DIR", "WINEPREFIX",
              "porty.ini", "130", "143", "141", "6 některé moduly"})
            QVERIFY2(man.contains(QString::fromUtf8(section)), section);
    }

    // What needs no module exits 0 with its text: help, version, the fields.
    void answersWithoutModule_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("said");
        QTest::newRow("--help") << QStringList{"--help"} << "Návratové kódy";
        QTest::newRow("-h") << QStringList{"-h"} << "--retries N";
        QTest::newRow("--version") << QStringList{"--version"} << "rqtool ";
        QTest::newRow("-V") << QStringList{"-V"} << "rqtool ";
        QTest::newRow("get --list") << QStringList{"--address", "99", "get", "--list"}
                                    << "  din31.negation = ano | ne";
    }
    void answersWithoutModule()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, said);
        const Run r = rqtool(args);
        QCOMPARE(r.code, 0);
        QVERIFY2(QString::fromUtf8(r.out).contains(said), r.out.right(300).constData());
    }

    // A SIGINT, SIGTERM or SIGHUP ends the command after the transaction in
    // flight, says what was done and exits 128 + the signal.
    void signalsStopCleanly_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("signal");
        QTest::addColumn<QString>("said");
        QTest::newRow("restore, SIGINT")
            << QStringList{"restore", "--all", "--yes", "-"} << int(SIGINT) << "Zápis přerušen po ";
        QTest::newRow("values --json, SIGTERM")
            << QStringList{"--json", "values", "--count", "0", "--interval", "0"} << int(SIGTERM)
            << "Měření přerušeno";
        QTest::newRow("values, SIGHUP") << QStringList{"values", "--count", "0", "--interval", "5000"}
                                        << int(SIGHUP) << "Měření přerušeno";
    }
    void signalsStopCleanly()
    {
        QFETCH(QStringList, args);
        QFETCH(int, signal);
        QFETCH(QString, said);
        QVERIFY(sim.addFault(QStringLiteral("module=7 delay=3")));
        QByteArray image = sim.memory(7);
        for (int i = 100; i < 512; ++i)
            image[i] = char(image[i] ^ 0x01);
        const QByteArray before = sim.memory(7);
        QProcess p;
        p.setProgram(QStringLiteral(RQ_BIN_DIR "/rqtool"));
        p.setArguments(QStringList{"--settings", settings, "--address", "7", "--verbose"} + args);
        p.start();
        p.write(image);
        p.closeWriteChannel();
        // Some transactions went over the bus (and a JSON row came out).
        QByteArray err, out;
        p.setReadChannel(QProcess::StandardError);
        while (err.count('\n') < 40 && p.waitForReadyRead(5000))
            err += p.readAllStandardError();
        if (args.contains("--json"))
            QTRY_VERIFY((out += p.readAllStandardOutput()).contains("\"inputs\""));
        // Still running: a pid of 0 would signal this test's own group.
        QVERIFY2(p.state() == QProcess::Running && p.processId() > 0, err.right(300).constData());
        ::kill(pid_t(p.processId()), signal);
        QVERIFY(p.waitForFinished(10000));
        sim.clearFaults();
        QCOMPARE(p.exitCode(), 128 + signal);
        err += p.readAllStandardError();
        const qsizetype at = err.indexOf(said.toUtf8());
        QVERIFY2(at >= 0, err.right(300).constData());
        if (args.contains("restore")) {
            // The count said is the count written, each byte whole.
            const int written = err.mid(at + said.toUtf8().size()).split(' ').first().toInt();
            const QByteArray now = sim.memory(7);
            QVERIFY(written > 0 && written < 512);
            QCOMPARE(now.left(written), image.left(written));
            QCOMPARE(now.mid(written), before.mid(written));
            QVERIFY(writeFile(path("RQ-3510_a7_back.kee"), before));
            QCOMPARE(rqtool({"--address", "7", "restore", path("RQ-3510_a7_back.kee"), "--all"}).code, 0);
        }
        if (args.contains("--json")) {
            // JSON Lines hold samples only; the stop is said on standard error.
            const QList<QByteArray> lines = QByteArray(out + p.readAllStandardOutput()).trimmed().split('\n');
            QVERIFY(QJsonDocument::fromJson(lines.last()).object().contains("inputs"));
        }
    }

    // The installed program and rqtool read the same settings file: with a
    // folder the user cannot write, the one under ~/.config, whatever the
    // editor wrote; one that holds no connection is an error naming it.
    void settingsFileOfTheInstalledProgram_data()
    {
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<int>("code");
        QTest::newRow("Windows-1250") << "cp1250" << 0;
        QTest::newRow("UTF-8 from a Linux editor") << "utf-8" << 0;
        QTest::newRow("no connection in it") << "none" << 5;
    }
    void settingsFileOfTheInstalledProgram()
    {
        QFETCH(QString, encoding);
        QFETCH(int, code);
        if (QStandardPaths::findExecutable("setpriv").isEmpty())
            QSKIP("setpriv is needed to run as another user");
        QTemporaryDir installed, config;
        QVERIFY(QFile::copy(QStringLiteral(RQ_BIN_DIR "/rqtool"), installed.filePath("rqtool")));
        QVERIFY(QFile::setPermissions(installed.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                                            QFileDevice::ReadOther | QFileDevice::ExeOther));
        QVERIFY(QDir().mkpath(config.filePath("W_RQ3510")));
        const QString ini = config.filePath("W_RQ3510/W_rq3510.ini");
        QVERIFY(writeSettings(ini, sim.udpPort(), 5));
        if (encoding == "utf-8")
            QVERIFY(writeFile(ini, FromCp1250(readFile(ini)).toUtf8()));
        if (encoding == "none")
            QVERIFY(writeFile(ini, "[Jiné]\r\nklíč=1\r\n"));
        QFile::setPermissions(ini, QFile::permissions(ini) | QFileDevice::ReadOther);
        QFile::setPermissions(config.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                 QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                                 QFileDevice::ExeOther);
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", config.path());
        env.insert("LD_LIBRARY_PATH", RQ_BIN_DIR);
        p.setProcessEnvironment(env);
        p.setProgram("setpriv");
        p.setArguments({"--reuid=65534", "--regid=65534", "--clear-groups", installed.filePath("rqtool"),
                        "--json", "info"});
        const Run r = finish(p);
        QFile::setPermissions(installed.path(),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QVERIFY2(r.code == code, qPrintable(r.err));
        if (code == 0)
            QCOMPARE(r.json().value("model").toString(), QStringLiteral("RQ-3520"));
        else
            QVERIFY2(r.json().value("error").toString().contains(ini), r.out.constData());
    }

    // Every write is checked: a lost row or a cut result is exit 5 with a
    // reason, and a size limit never kills rqtool half-way.
    void failedWritesAreErrors_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("file"); // holds whole rows only, or must not exist
        QTest::newRow("info > /dev/full") << "$RQ --address 1 info > /dev/full"
                                          << "";
        QTest::newRow("values --csv > /dev/full") << "$RQ --address 1 values --csv > /dev/full"
                                                  << "";
        QTest::newRow("--json > /dev/full") << "$RQ --address 1 --json status > /dev/full"
                                            << "";
        QTest::newRow("ulimit -f 4, --output")
            << "ulimit -f 4; $RQ --address 1 values --count 30 --interval 0 --output log.csv"
            << "log.csv";
        QTest::newRow("ulimit -f 4, >>")
            << "ulimit -f 4; $RQ --address 1 values --count 30 --interval 0 --csv >> cut.csv"
            << "cut.csv";
        QTest::newRow("ulimit -f 0, backup") << "ulimit -f 0; $RQ --address 1 backup x.kee"
                                             << "x.kee";
        // Written into as cp does, never replaced by a regular file.
        QTest::newRow("backup /dev/full") << "$RQ --address 1 backup /dev/full && test -c /dev/full"
                                          << "";
    }
    void failedWritesAreErrors()
    {
        QFETCH(QString, line);
        QFETCH(QString, file);
        const Run r = shell(line);
        QCOMPARE(r.code, 5);
        QVERIFY2(r.err.contains(QStringLiteral("selhal")) || r.err.contains(QStringLiteral("Chyba ukládání")),
                 qPrintable(r.err));
        QVERIFY2(!r.err.contains(QStringLiteral("do standardní výstup")), qPrintable(r.err));
        QVERIFY(QFileInfo(QStringLiteral("/dev/full")).exists() &&
                !QFileInfo(QStringLiteral("/dev/full")).isFile());
        if (file.endsWith(".kee")) {
            QVERIFY(!QFileInfo::exists(path(file)));
            QCOMPARE(QDir(dir.path()).entryList({file + "*"}).size(), 0);
        } else if (!file.isEmpty()) {
            const QByteArray bytes = readFile(path(file));
            QVERIFY(bytes.size() > 0 && bytes.size() <= 4096);
            QVERIFY(bytes.endsWith("\r\n"));
        }
    }

    // Names of standard output work as - does, a FIFO is written into and
    // stays one, binary never goes onto a terminal, and a reader that goes
    // away ends rqtool quietly with 141, as SIGPIPE ends other tools.
    void outputsThatAreNoFiles_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("file"); // must hold module 1's memory
        QTest::newRow("backup /dev/stdout") << "$RQ --address 1 backup /dev/stdout > o1.kee" << 0 << "o1.kee";
        QTest::newRow("backup /proc/self/fd/1")
            << "$RQ --address 1 backup /proc/self/fd/1 > o2.kee" << 0 << "o2.kee";
        QTest::newRow("backup into a FIFO")
            << "rm -f p; mkfifo p; cat p > o3.kee & $RQ --address 1 backup p; r=$?; wait; test -p p && exit $r"
            << 0 << "o3.kee";
        QTest::newRow("backup - onto a terminal")
            << "script -qec \"$RQ --address 1 backup -\" /dev/null > o4.txt" << 2 << "";
        QTest::newRow("backup /dev/stdout onto a terminal")
            << "script -qec \"$RQ --address 1 backup /dev/stdout\" /dev/null > o5.txt" << 2 << "";
        QTest::newRow("values | head -1")
            << "{ $RQ --address 1 values --count 0 --interval 0 2> e.txt; echo $? > rc; } | head -n 1 > /dev/null; "
               "test -s e.txt && exit 99; exit $(cat rc)"
            << 141 << "";
    }
    void outputsThatAreNoFiles()
    {
        QFETCH(QString, line);
        QFETCH(int, code);
        QFETCH(QString, file);
        if (line.startsWith("script") && QStandardPaths::findExecutable("script").isEmpty())
            QSKIP("script is needed for a terminal");
        const Run r = shell(line);
        QVERIFY2(r.code == code, qPrintable(QString::number(r.code) + r.err));
        if (!file.isEmpty())
            QCOMPARE(readFile(path(file)), sim.memory(1));
    }

    // Each output in its own form of 1.23456 on an input with five decimals.
    void digitsMeanWhatTheySay_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("shown");
        QTest::newRow("plain: five significant digits") << QStringList{"values"} << "AIN0 1.23460 V";
        QTest::newRow("csv: the module's decimals") << QStringList{"values", "--csv"} << ";1,23457;";
        QTest::newRow("rfc4180") << QStringList{"values", "--csv", "--csv-format", "rfc4180"} << ",1.23457,";
        QTest::newRow("json: the module's decimals")
            << QStringList{"--json", "values"} << "\"value\":1.23457}";
    }
    void digitsMeanWhatTheySay()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, shown);
        QVERIFY(sim.setInput(1, 0, 1.23456, QStringLiteral("V")));
        const Run r = rqtool(QStringList{"--address", "1"} + args);
        QCOMPARE(r.code, 0);
        QVERIFY2(r.out.contains(shown.toUtf8()), r.out.left(400).constData());
    }

    // A refused restore names its real reason and only the way out that helps.
    void refusalNamesTheReason_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("size");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("reason");
        QTest::newRow("RQ-3530 file, --keep-address")
            << 2 << 512 << QStringList{"--keep-address"} << "neodpovídá modelu RQ-3510";
        QTest::newRow("RQ-3530 file, --dry-run")
            << 2 << 512 << QStringList{"--keep-address", "--dry-run"} << "neodpovídá modelu RQ-3510";
        QTest::newRow("2 MB") << 1 << 2 * 1024 * 1024 << QStringList{"--keep-address"} << "2097152 bajtů";
        QTest::newRow("other address") << 7 << 512 << QStringList{} << "--keep-address";
        QTest::newRow("model unknown: no name, no --model")
            << 1 << 512 << QStringList{} << "Model souboru není známý";
        QTest::newRow("--model of another") << 1 << 512 << QStringList{"--model", "RQ-3520"}
                                            << "podle --model zálohou modelu RQ-3520, připojen je RQ-3510";
    }
    void refusalNamesTheReason()
    {
        QFETCH(int, from);
        QFETCH(int, size);
        QFETCH(QStringList, options);
        QFETCH(QString, reason);
        QByteArray image = sim.memory(from);
        image.append(QByteArray(size - 512, '\0'));
        if (from == 2)
            image[0] = char(0x31); // a sensor byte the RQ-3510 does not know
        QVERIFY(writeFile(path("refused.kee"), image));
        const QByteArray before = sim.memory(1);
        const Run r = rqtool(QStringList{"--address", "1", "restore", path("refused.kee")} + options);
        QCOMPARE(r.code, 3);
        QVERIFY2(r.err.contains(reason), qPrintable(r.err));
        if (options.contains("--keep-address"))
            QVERIFY2(!r.err.contains("--keep-address"), qPrintable(r.err));
        QCOMPARE(sim.memory(1), before);
    }

    // Exit codes and the JSON error object say what went wrong.
    void exitCodesSayWhatWentWrong_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("said");
        QTest::newRow("settings missing")
            << QStringList{"--settings", "nonexist.ini", "info"} << 5 << "nonexist.ini";
        QTest::newRow("settings a folder")
            << QStringList{"--settings", ".", "info"} << 5 << "Soubor nastavení .";
        QTest::newRow("settings garbage")
            << QStringList{"--settings", "garbage.ini", "info"} << 5 << "garbage.ini";
        QTest::newRow("usage") << QStringList{"flash"} << 2 << "flash";
        QTest::newRow("no module") << QStringList{"--address", "9", "info"} << 4
                                   << "Modul neodpovídá (adresa 9, 9600 Bd)";
        QTest::newRow("serial device")
            << QStringList{"--adapter", "com", "--com", "9", "info"} << 4 << "/nonexistent/ttyRQ";
        QTest::newRow("converter refuses") << QStringList{"--udp-port", "1", "info"} << 4 << "LAN konvertor";
        QTest::newRow("--csv with --json")
            << QStringList{"--address", "1", "values", "--csv"} << 2 << "--csv";
        QTest::newRow("get --list with a field") << QStringList{"get", "--list", "ain0"} << 2 << "ain0";
        QTest::newRow("--ip empty") << QStringList{"--ip", "", "info"} << 2 << "--ip";
        QTest::newRow("diff - -") << QStringList{"diff", "-", "-"} << 2 << "Standardní vstup";
        QTest::newRow("a list to -") << QStringList{"-a", "2,1", "backup", "-"} << 2 << "2,1";
        QTest::newRow("restore of 511 bytes")
            << QStringList{"-a", "7", "restore", "b511.kee"} << 3 << "511 bajtů";
        QTest::newRow("restore of 1024 bytes")
            << QStringList{"-a", "7", "restore", "b1024.kee"} << 3 << "1024 bajtů";
        QTest::newRow("appending to CSV of another form")
            << QStringList{"-a", "1", "values", "--csv-format", "rfc4180", "--output", "excel.csv"} << 2
            << "jiného tvaru";
        QTest::newRow("another user's link in a shared folder")
            << QStringList{"-a", "1", "values", "--output", "shared/values.csv"} << 5
            << "odkaz jiného uživatele";
        QTest::newRow("backup through it")
            << QStringList{"-a", "1", "backup", "shared/values.csv"} << 5 << "odkaz jiného uživatele";
    }
    void exitCodesSayWhatWentWrong()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, said);
        QVERIFY(writeFile(path("garbage.ini"), QByteArray("\x01\x02 no settings\n")));
        QVERIFY(writeFile(path("b511.kee"), QByteArray(511, '\0')));
        QVERIFY(writeFile(path("b1024.kee"), sim.memory(7) + QByteArray(512, '\0')));
        QVERIFY(writeFile(path("excel.csv"), QByteArray("\xC4\x8C"
                                                        "as;Adresa;Vstup 0 [V]\r\n")));
        QVERIFY(writeFile(path("victim.csv"), "theirs\n"));
        QDir(dir.path()).mkdir("shared");
        QVERIFY(chmod(QFile::encodeName(path("shared")).constData(), 01777) == 0);
        QFile::link("../victim.csv", path("shared/values.csv"));
        QVERIFY(lchown(QFile::encodeName(path("shared/values.csv")).constData(), 65533, 65533) == 0);
        qputenv("RQ_COM9", "/nonexistent/ttyRQ");
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.setProgram(QStringLiteral(RQ_BIN_DIR "/rqtool"));
        p.setArguments(QStringList{"--settings", settings, "--json"} + args);
        const Run r = finish(p);
        QCOMPARE(r.code, code);
        const QJsonObject o = r.json();
        QVERIFY2(o.value("error").toString().contains(said), r.out.constData());
        QCOMPARE(o.value("exitCode").toInt(), code);
        QCOMPARE(o.value("kind").toString(), QString::fromLatin1(code == 2   ? "usage"
                                                                 : code == 3 ? "refused"
                                                                 : code == 4 ? "communication"
                                                                             : "file"));
        QCOMPARE(readFile(path("victim.csv")), QByteArray("theirs\n"));
    }

    // With several addresses the argument is a folder, made when missing; a
    // folder that takes no file is a file error; a converter that answers
    // nothing at all is no list of missing modules.
    void fleetBackupTellsFailuresApart()
    {
        const Run made = rqtool({"--json", "--address", "1-2", "backup", path("newdir")});
        QCOMPARE(made.code, 0);
        QCOMPARE(QDir(path("newdir")).entryList(QDir::Files).size(), 2);

        QUdpSocket silent;
        QVERIFY(silent.bind(QHostAddress::LocalHost, 0));
        const Run mute = rqtool({"--json", "--udp-port", QString::number(silent.localPort()), "--timeout",
                                 "100", "--address", "1-3", "backup", path("mute")});
        QCOMPARE(mute.code, 4);
        QVERIFY2(mute.json().value("error").toString().contains("LAN konvertor"), mute.out.constData());
        QVERIFY(!mute.json().contains("failed"));
        QVERIFY(!QFileInfo::exists(path("mute")));

        if (QStandardPaths::findExecutable("setpriv").isEmpty())
            QSKIP("setpriv is needed to run as another user");
        QVERIFY(QDir().mkpath(path("readonly")));
        QProcess p;
        p.setProgram("setpriv");
        p.setArguments({"--reuid=65534", "--regid=65534", "--clear-groups", RQ_BIN_DIR "/rqtool",
                        "--settings", settings, "--json", "--address", "1,2", "backup", path("readonly")});
        QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) | QFileDevice::ExeOther |
                                              QFileDevice::ReadOther);
        QFile::setPermissions(settings, QFile::permissions(settings) | QFileDevice::ReadOther);
        const Run r = finish(p);
        QCOMPARE(r.code, 5);
        QCOMPARE(r.json().value("kind").toString(), QStringLiteral("file"));
    }

    // CSV another program can read: the address in every row, a header
    // again where columns or units change, the byte order mark only at the
    // start of a file rqtool creates.
    void csvThatOthersCanRead()
    {
        const QString log = path("others.csv");
        QCOMPARE(
            rqtool({"--address", "1", "values", "--output", log, "--count", "2", "--interval", "0"}).code, 0);
        QCOMPARE(rqtool({"--address", "1", "values", "--output", log}).code, 0);
        QCOMPARE(rqtool({"--address", "2", "values", "--output", log}).code, 0); // an RQ-3530: other units
        const QList<QByteArray> lines = readFile(log).split('\n');
        QVERIFY(lines.first().startsWith("\xEF\xBB\xBF\xC4\x8C"
                                         "as;Adresa;Vstup 0 [V]"));
        QCOMPARE(lines.size(), 7); // header, 3 rows, header, row, the empty rest
        QVERIFY(lines.at(1).contains(";1;"));
        QVERIFY(lines.at(4).startsWith("\xC4\x8C"
                                       "as;") &&
                !lines.at(4).contains("[V]"));
        QVERIFY(lines.at(5).contains(";2;"));
        for (const QByteArray &l : lines.mid(0, 6))
            QVERIFY(l.endsWith('\r'));

        // The first cycle fails: its row, then a header with the units.
        QVERIFY(sim.addFault("module=1 cmd=102 drop count=1"));
        const Run first =
            shell("$RQ --address 1 --retries 0 values --csv --count 2 --interval 0 >> first.csv");
        sim.clearFaults();
        QCOMPARE(first.code, 4);
        const QList<QByteArray> rows = readFile(path("first.csv")).split('\n');
        QVERIFY(!rows.first().startsWith("\xEF\xBB\xBF"));
        QVERIFY(!rows.first().contains("[V]"));
        QVERIFY(rows.at(2).contains("Vstup 0 [V]"));
    }

    // --retries repeats what timed out, came back damaged or found the
    // module busy; a verified
    // write is repeated only when its read-back did not come, never after
    // a read-back that differs.
    void retries_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("writesAt5"); // command 103 at memory address 5
        QTest::newRow("read-back lost") << "module=7 cmd=102 mem=5 drop count=1" << QStringList{} << 0 << 2;
        QTest::newRow("read-back lost, --retries 0")
            << "module=7 cmd=102 mem=5 drop count=1" << QStringList{"--retries", "0"} << 4 << 1;
        QTest::newRow("write reply damaged")
            << "module=7 cmd=103 mem=5 crc count=1" << QStringList{} << 0 << 2;
        QTest::newRow("read-back differs")
            << "module=7 mem=5 readback=0x55 count=1" << QStringList{} << 4 << 1;
        QTest::newRow("module busy") << "module=7 cmd=103 mem=5 error=5 count=1" << QStringList{} << 0 << 2;
        QTest::newRow("module refuses")
            << "module=7 cmd=103 mem=5 error=3 count=1" << QStringList{} << 4 << 1;
        QTest::newRow("three lost, --retries 3")
            << "module=7 cmd=200 drop count=3" << QStringList{"--retries", "3"} << 0 << 1;
        QTest::newRow("slow reply, --timeout")
            << "module=7 cmd=200 delay=500 count=1" << QStringList{"--timeout", "1500", "--retries", "0"} << 0
            << 1;
        QTest::newRow("slow reply, --udp-timeout after --timeout")
            << "module=7 cmd=200 delay=500 count=1"
            << QStringList{"--timeout", "100", "--udp-timeout", "1500", "--retries", "0"} << 0 << 1;
        QTest::newRow("slow reply, short --timeout")
            << "module=7 cmd=200 delay=500" << QStringList{"--timeout", "100", "--retries", "1"} << 4 << 0;
    }
    void retries()
    {
        QFETCH(QString, fault);
        QFETCH(QStringList, options);
        QFETCH(int, code);
        QFETCH(int, writesAt5);
        const QByteArray image = sim.memory(7);
        QVERIFY(writeFile(path("RQ-3510_a7_same.kee"), image));
        QVERIFY(sim.addFault(fault));
        const Run r = rqtool(
            QStringList{"--address", "7", "--verbose", "restore", "--all", path("RQ-3510_a7_same.kee")} +
            options);
        sim.clearFaults();
        QCOMPARE(r.code, code);
        QCOMPARE(int(r.err.count(QStringLiteral("příkaz 103/0  odesláno 00 05 05"))), writesAt5);
        QCOMPARE(sim.memory(7), image);
    }

    // - is standard input or output; --ip takes a host name.
    void dashAndHostName()
    {
        const Run out = rqtool({"--address", "7", "--ip", "localhost", "backup", "-"});
        QCOMPARE(out.code, 0);
        QCOMPARE(out.out, sim.memory(7));
        QVERIFY(writeFile(path("b.kee"), out.out));
        QCOMPARE(rqtool({"diff", "-", path("b.kee")}, out.out).code, 0);
        QCOMPARE(rqtool({"--address", "7", "restore", "-"}, out.out).code, 3); // whose backup?
        QCOMPARE(rqtool({"--address", "7", "restore", "-", "--model", "RQ-3510"}, out.out).code, 0);
    }

    // A backup's model comes from rqtool's file name, --model or the module;
    // without one, and between two models, the bytes are compared by offset.
    void diffKnowsTheModelOrSaysSo_data()
    {
        QTest::addColumn<int>("first");  // module whose memory the first file holds
        QTest::addColumn<QString>("a");  // its name
        QTest::addColumn<int>("second"); // ... and the second (byte 40 changed)
        QTest::addColumn<QString>("b");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("model"); // empty: compared by bytes
        QTest::addColumn<QString>("said");  // on standard error
        QTest::newRow("two RQ-3520 backups, equal")
            << 5 << "RQ-3520_a5_2026-12-06.kee" << 5 << "" << QStringList{} << 0 << "RQ-3520"
            << "(model RQ-3520)";
        QTest::newRow("two RQ-3520 backups, changed")
            << 5 << "RQ-3520_a5_2026-12-06.kee" << 5 << "RQ-3520_a5_2026-12-07.kee" << QStringList{} << 1
            << "RQ-3520"
            << "";
        QTest::newRow("RQ-3510 against RQ-3530") << 7 << "RQ-3510_a7_2026-12-06.kee" << 2
                                                 << "RQ-3530_a2_2026-12-06.kee" << QStringList{} << 1 << ""
                                                 << "pole různých modelů se neporovnávají";
        QTest::newRow("no model") << 5 << "a5.kee" << 5 << "b5.kee" << QStringList{} << 1 << ""
                                  << "Model souborů není známý";
        QTest::newRow("--model") << 5 << "a5.kee" << 5 << "b5.kee" << QStringList{"--model", "RQ-3520"} << 1
                                 << "RQ-3520"
                                 << "";
        QTest::newRow("one side named")
            << 5 << "RQ-3520_a5_2026-12-06.kee" << 5 << "-" << QStringList{} << 1 << "RQ-3520"
            << "";
    }
    void diffKnowsTheModelOrSaysSo()
    {
        QFETCH(int, first);
        QFETCH(QString, a);
        QFETCH(int, second);
        QFETCH(QString, b);
        QFETCH(QStringList, options);
        QFETCH(int, code);
        QFETCH(QString, model);
        QFETCH(QString, said);
        QVERIFY(writeFile(path(a), sim.memory(first)));
        QByteArray other = sim.memory(second);
        other[40] = char(other[40] ^ 0x01);
        if (!b.isEmpty() && b != "-")
            QVERIFY(writeFile(path(b), other));
        const Run r = rqtool(QStringList{"--json", "diff", path(a),
                                         b.isEmpty() ? path(a)
                                         : b == "-"  ? b
                                                     : path(b)} +
                                 options,
                             other);
        QCOMPARE(r.code, code);
        const QJsonObject o = r.json();
        QCOMPARE(o.value("model").toString(), model);
        QVERIFY2(r.err.contains(said), qPrintable(r.err));
        if (model.isEmpty() && code == 1)
            QVERIFY(o.value("changes").toArray().at(0).toObject().contains("offset"));
    }

    // A write cut short says how far it got, in text and JSON; set says
    // which fields went in whole.
    void writeCutShortSaysHowFar_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("written");
        QTest::addColumn<QString>("said");
        const QStringList restore{"restore", "--all", path("RQ-3510_a7_same.kee")};
        QTest::newRow("module stops answering") << "module=7 cmd=103 mem=200 drop" << restore << 200
                                                << "Modul je zapsán jen zčásti: 200 z 512 bajtů";
        QTest::newRow("module refuses") << "module=7 cmd=103 mem=100 error=3" << restore << 100
                                        << "Modul je zapsán jen zčásti: 100 z 512 bajtů";
        QTest::newRow("read-back differs") << "module=7 mem=50 readback=0x55" << restore << 50
                                           << "Modul je zapsán jen zčásti: 50 z 512 bajtů";
        QTest::newRow("set, second field fails")
            << "module=7 cmd=103 mem=4 drop" << QStringList{"set", "ain3=1", "ain4=1"} << 1
            << "Zapsána celá pole: ain3.";
    }
    void writeCutShortSaysHowFar()
    {
        QFETCH(QString, fault);
        QFETCH(QStringList, args);
        QFETCH(int, written);
        QFETCH(QString, said);
        const QByteArray image = sim.memory(7);
        QVERIFY(sim.setMemoryByte(7, 3, 0));
        QVERIFY(sim.setMemoryByte(7, 4, 0));
        QVERIFY(writeFile(path("RQ-3510_a7_same.kee"), sim.memory(7)));
        QVERIFY(sim.addFault(fault));
        const Run r = rqtool(QStringList{"--address", "7", "--retries", "0", "--json"} + args);
        sim.clearFaults();
        QCOMPARE(r.code, 4);
        QCOMPARE(r.json().value("written").toInt(), written);
        QVERIFY2(r.json().value("error").toString().contains(said), r.out.constData());
        QVERIFY(writeFile(path("RQ-3510_a7_same.kee"), image));
        QCOMPARE(rqtool({"--address", "7", "restore", "--all", path("RQ-3510_a7_same.kee")}).code, 0);
    }

    // set of the address or rate asks as a restore does; --dry-run shows it.
    void setOfAddressOrRateIsGuarded_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("changes");
        QTest::addColumn<QString>("said");
        QTest::newRow("address") << QStringList{"address=18"} << 3 << false << "Adresa modulu: 7 → 18";
        QTest::newRow("baud") << QStringList{"baud=19200"} << 3 << false << "19200 Bd";
        QTest::newRow("address, --dry-run")
            << QStringList{"address=18", "--dry-run"} << 3 << false << "Adresa modulu: 7 → 18";
        QTest::newRow("address, --dry-run --yes")
            << QStringList{"address=18", "--dry-run", "--yes"} << 0 << false << "k zápisu 1 bajt,";
        QTest::newRow("address, --yes")
            << QStringList{"address=18", "--yes"} << 0 << true << "Zapsáno a ověřeno 1 bajt.";
        QTest::newRow("two bytes") << QStringList{"ain3=2", "ain4=2"} << 0 << true
                                   << "Zapsáno a ověřeno 2 bajty.";
    }
    void setOfAddressOrRateIsGuarded()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(bool, changes);
        QFETCH(QString, said);
        QVERIFY(sim.setMemoryByte(7, 3, 0));
        QVERIFY(sim.setMemoryByte(7, 4, 0));
        const QByteArray before = sim.memory(7);
        const Run r = rqtool(QStringList{"--address", "7", "set"} + args);
        QCOMPARE(r.code, code);
        QVERIFY2(QString::fromUtf8(r.out + r.err.toUtf8()).contains(said), qPrintable(r.out + r.err));
        QCOMPARE(sim.memory(7) != before, changes);
        QVERIFY(sim.setMemoryByte(7, 63, 7));
    }

    // A list or range of addresses means a folder, one address a file, and
    // - takes one module, whatever the list expands to.
    void backupShapeFollowsTheAddressOption_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("folder");
        QTest::newRow("range of one") << "1-1"
                                      << "s1" << 0 << true;
        QTest::newRow("list of one twice") << "1,1"
                                           << "s2" << 0 << true;
        QTest::newRow("list with a trailing comma") << "1,"
                                                    << "s3" << 0 << true;
        QTest::newRow("one address") << "1"
                                     << "s4" << 0 << false;
    }
    void backupShapeFollowsTheAddressOption()
    {
        QFETCH(QString, address);
        QFETCH(QString, target);
        QFETCH(int, code);
        QFETCH(bool, folder);
        const Run r = rqtool({"-a", address, "backup", path(target)});
        QVERIFY2(r.code == code, qPrintable(r.err));
        QCOMPARE(QFileInfo(path(target)).isDir(), folder);
    }

    // values shows what the module has: its model's inputs, the internal
    // temperature with its unit or nothing while off, JSON Lines of one
    // shape whatever failed.
    void valuesAsTheModuleHasThem_data()
    {
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("thermometer");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("absent");
        QTest::addColumn<QString>("fault"); // an rqsim fault rule for the run
        QTest::newRow("RQ-3530: six inputs") << 2 << 0x81 << QStringList{"--csv"} << "Vstup 5"
                                             << "Vstup 6" << QString();
        QTest::newRow("°C") << 1 << 0x81 << QStringList{"--csv"} << "Interní teplota [°C]"
                            << "" << QString();
        QTest::newRow("counts") << 1 << 0x80 << QStringList{"--csv"} << "Interní teplota [dílky]"
                                << "" << QString();
        QTest::newRow("off, JSON") << 1 << 0x01 << QStringList{"--json"} << "\"temperature\":null"
                                   << "\"temperature\":0" << QString();
        QTest::newRow("off, plain") << 1 << 0x00 << QStringList{} << "teplota vypnuta"
                                    << "teplota 0" << QString();
        QTest::newRow("JSON decimals") << 1 << 0x81 << QStringList{"--json"} << "\"decimals\":"
                                       << "" << QString();
        // One refused input blanks its own cell, not the row.
        QTest::newRow("one input refused") << 1 << 0x81 << QStringList{} << "AIN3 odmítnuto  AIN4 "
                                           << "chyba"
                                           << "module=1 cmd=0 sub=3 error=5";
    }

    void valuesAsTheModuleHasThem()
    {
        QFETCH(int, address);
        QFETCH(int, thermometer);
        QFETCH(QStringList, args);
        QFETCH(QString, shown);
        QFETCH(QString, absent);
        QFETCH(QString, fault);
        const int before = sim.memoryByte(address, 31);
        QVERIFY(sim.setMemoryByte(address, 31, thermometer));
        QVERIFY(fault.isEmpty() || sim.ok(QStringLiteral("fault ") + fault));
        const Run r = rqtool(QStringList{"--address", QString::number(address), "values"} + args);
        QVERIFY(sim.ok(QStringLiteral("clear")));
        QVERIFY(sim.setMemoryByte(address, 31, before));
        QCOMPARE(r.code, 0);
        const QString out = QString::fromUtf8(r.out);
        QVERIFY2(out.contains(shown), qPrintable(out));
        QVERIFY2(absent.isEmpty() || !out.contains(absent), qPrintable(out));
    }

    // Status bits by the status dialog's names; outputs decimal unless 0x.
    void statusNamesAndOutputsRule_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("said");
        QTest::addColumn<quint32>("outputs");
        QTest::newRow("status --clear")
            << QStringList{"status", "--clear"} << "Vynulováno: FN (1), PWR (4), RST (5)" << ~0u;
        QTest::newRow("decimal 255") << QStringList{"outputs", "255"} << "0x000000FF" << 0xFFu;
        QTest::newRow("hexadecimal 0x255") << QStringList{"outputs", "0x255"} << "0x00000255" << 0x255u;
    }
    void statusNamesAndOutputsRule()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, said);
        QFETCH(quint32, outputs);
        QVERIFY(sim.ok(QStringLiteral("status 5 32")));
        const Run r = rqtool(QStringList{"--address", "5"} + args);
        QCOMPARE(r.code, 0);
        QVERIFY2(QString::fromUtf8(r.out).contains(said), r.out.constData());
        if (outputs != ~0u)
            QCOMPARE(sim.outputs(5), outputs);
        else
            QCOMPARE(sim.status(5), 0u);
    }

    // The plant file end to end: export, two keys edited as a person would,
    // plan lists both, apply writes just their bytes, and then nothing is left.
    void plantFileRoundTrip()
    {
        QVERIFY2(startPlantBus(), qPrintable(plantBus.errorString()));
        const QString file = path("zarizeni.ini");
        Run r = rqtool({"--adapter", "lan", "--ip", "127.0.0.1", "--udp-port",
                        QString::number(plantBus.udpPort()), "--udp-timeout", "300", "--address", "1-3",
                        "export", file});
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QString text = QString::fromUtf8(readFile(file));
        for (const char *expected : {"[bus]\nadapter=lan\n", "[module a1]\naddress=1\n", "[module a3]",
                                     "model=RQ-3520\n", "; rqtool export: RQ-3530, firmware 1.07, přečteno",
                                     "ain0=+/- 2 V\n", "thermometer=zapnuto, °C\n", "din3.negation=ano\n"})
            QVERIFY2(text.contains(QString::fromUtf8(expected)), expected);
        QVERIFY(!text.contains("gain"));
        // A plan right after the export finds nothing.
        r = rqtool({"plan", "--config", file});
        QVERIFY2(r.code == 0, qPrintable(r.err + r.out));
        const QList<QByteArray> before = plantMemories();
        const qsizetype a3 = text.indexOf("[module a3]");
        text.replace(text.indexOf("ain0=+/- 2 V\n"), 13, "ain0=+/- 1 V\n");
        text.replace(text.indexOf("ain2=", a3),
                     text.indexOf('\n', text.indexOf("ain2=", a3)) - text.indexOf("ain2=", a3),
                     QString::fromUtf8("ain2=Pt100 (0.00385), °C, 3 vodiče"));
        QVERIFY(writeFile(file, text.toUtf8()));
        r = rqtool({"plan", "--config", file});
        QCOMPARE(r.code, 1);
        const QString plan = QString::fromUtf8(r.out);
        QVERIFY2(plan.contains("a1 ain0: +/- 2 V → +/- 1 V\n"), qPrintable(plan));
        QVERIFY2(plan.contains(
                     QString::fromUtf8("a3 ain2: 5 kohm, ohm, 4 vodiče → Pt100 (0.00385), °C, 3 vodiče\n")),
                 qPrintable(plan));
        QCOMPARE(plan.count("→"), 2);
        const QJsonArray modules = rqtool({"--json", "plan", "--config", file}).json()["modules"].toArray();
        QCOMPARE(modules.size(), 3);
        QCOMPARE(modules[0].toObject()["bytes"].toArray(), QJsonArray{0});
        QCOMPARE(modules[2].toObject()["changes"].toArray()[0].toObject()["key"].toString(), "ain2");
        QCOMPARE(plantMemories(), before); // plan writes nothing

        r = rqtool({"--json", "apply", "--config", file});
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QCOMPARE(r.json()["modules"].toArray()[2].toObject()["written"].toInt(), 1);
        QList<QByteArray> expected = before;
        expected[0][0] = char(5);    // +/- 1 V
        expected[2][2] = char(0x64); // Pt100 (0.00385), °C, 3 wires
        QCOMPARE(plantMemories(), expected);
        r = rqtool({"plan", "--config", file});
        QCOMPARE(r.code, 0);
        r = rqtool({"apply", "--config", file});
        QCOMPARE(r.code, 0);
        QVERIFY2(r.out.contains("nic ke změně"), r.out.constData());
        // Filled in again from the modules: the settings stay, the names too.
        QVERIFY(writeFile(file, "[module kotel]\naddress=1\n" + plantBusLines.toUtf8()));
        r = rqtool({"export", "--config", file});
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QVERIFY(readFile(file).contains("[module kotel]\naddress=1\n; rqtool export: RQ-3510"));
        QVERIFY(readFile(file).contains("\nain0=+/- 1 V\n"));
    }

    // A file wrong for any module writes nothing anywhere; a file that names
    // no model is asked about as restore asks.
    void plantFileRefusals_data()
    {
        QTest::addColumn<QString>("sections");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("fault"); // of rqsim, for the run
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("says");
        QTest::addColumn<QStringList>("written"); // module:offset, every other byte stays
        const QString a3 = "[module a3]\naddress=3\nmodel=RQ-3530\nain0=KTY10, °F, 2 vodiče\n";
        QTest::newRow("another model at the address")
            << "[module a1]\naddress=1\nmodel=RQ-3520\ncount=4\n" + a3 << QStringList{"--yes"} << "" << 3
            << "na adrese 1 je model RQ-3510, soubor uvádí RQ-3520" << QStringList{};
        QTest::newRow("unknown key") << a3 + "[module a1]\naddress=1\nain0.range=1\n"
                                     << QStringList{} << "" << 5 << "ain0.range: neznámý klíč"
                                     << QStringList{};
        QTest::newRow("key the module's model lacks")
            << a3 + "[module a1]\naddress=1\ncount=4\n"
            << QStringList{} << "" << 5 << "count: model RQ-3510 takový klíč nemá" << QStringList{};
        QTest::newRow("a file cut short")
            << a3 + "[module a1\naddress=1\n"
            << QStringList{} << "" << 5 << "neuzavřený název oddílu" << QStringList{};
        QTest::newRow("no model named")
            << "[module a2]\naddress=2\ncount=3\n"
            << QStringList{} << "" << 3 << "Soubor neuvádí model modulu a2 (model=), připojen je RQ-3520"
            << QStringList{};
        QTest::newRow("a gateway that allows no writes")
            << "[gateway]\nconverter=127.0.0.1:9\n" + a3 << QStringList{} << "" << 3 << "converter-writes=yes"
            << QStringList{};
        QTest::newRow("dry run") << a3 << QStringList{"--dry-run"} << "" << 0
                                 << "Zkouška nanečisto: k zápisu 1 bajt" << QStringList{};
        QTest::newRow("no model named, --yes")
            << "[module a2]\naddress=2\ncount=3\n"
            << QStringList{"--yes"} << "" << 0 << "a2: zapsáno a ověřeno 1 bajt." << QStringList{"2:16"};
        // The module whose byte reads back otherwise says so; the next one is written.
        QTest::newRow("one module fails, the others go on")
            << "[module a1]\naddress=1\nmodel=RQ-3510\nain0=+/- 20 mV\n" + a3 << QStringList{}
            << "module=1 mem=0 readback=0x55 count=2" << 6
            << "Chyba zápisu dat: stránka 0, adresa 0 se po zápisu přečetl jinak"
            << QStringList{"1:0", "3:0"};
    }
    void plantFileRefusals()
    {
        QFETCH(QString, sections);
        QFETCH(QStringList, args);
        QFETCH(QString, fault);
        QFETCH(int, code);
        QFETCH(QString, says);
        QFETCH(QStringList, written);
        QVERIFY2(startPlantBus(), qPrintable(plantBus.errorString()));
        const QString file = path("odmitnuto.ini");
        QVERIFY(writeFile(file, (plantBusLines + sections).toUtf8()));
        const QList<QByteArray> before = plantMemories();
        if (!fault.isEmpty())
            QVERIFY(plantBus.addFault(fault));
        const Run r = rqtool(QStringList{"apply", "--config", file} + args);
        QVERIFY(plantBus.clearFaults());
        const QString said = r.err + QString::fromUtf8(r.out);
        QVERIFY2(r.code == code, qPrintable(said));
        QVERIFY2(said.contains(says), qPrintable(said));
        const QList<QByteArray> after = plantMemories();
        for (int m = 0; m < 3; ++m)
            for (int o = 0; o < 512; ++o) {
                const bool listed = written.contains(QStringLiteral("%1:%2").arg(m + 1).arg(o));
                QVERIFY2((after[m][o] != before[m][o]) == listed,
                         qPrintable(QStringLiteral("%1:%2").arg(m + 1).arg(o)));
                if (listed)
                    QVERIFY(plantBus.setMemoryByte(m + 1, o, quint8(before[m][o])));
            }
    }
};

QTEST_GUILESS_MAIN(TestRqtool)
#include "tst_rqtool.moc"
