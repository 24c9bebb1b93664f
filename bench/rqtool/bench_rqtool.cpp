// rqtool over the LAN converter library against rqsim with --wire-time:
//  1. restore of an image that differs from the module in 5 bytes (read 512,
//     write 5 with read-back) beside the full write of the same image
//     (--all: 512 verified writes, as the dialog does), at 9600 Bd;
//  2. one fleet backup of 8 modules (one adapter opening) beside 8 single
//     backups started one after another, at 115200 Bd;
//  3. values --interval 0 --count 100000 --json: the resident memory near
//     the last row beside the one after 1000 rows;
//  4. 20 backups with --retries 3 while 2 % of the replies are lost, beside
//     20 without losses plus the timeouts the lossy ones waited;
//  5. (alone: bench_rqtool plant) a plant file of 32 modules at 9600 Bd: apply of one key changed behind
//     the file's back, and plan of 32 unchanged modules, each beside its wire
//     floor: per module the identification (3 transactions, the model is
//     compared) and one read a byte the file names, plus a write and its
//     read-back for the changed byte, each transaction 24 ms on the wire.
// Each time is the wall time of the rqtool process, start-up included.
#include "BenchCpu.h"
#include "app/Dekl.h"
#include "image/Zarizeni.h"
#include "scan/HledaniModulu.h"
#include "support/SimProcess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cmath>
#include <csignal>
#include <cstdio>

namespace {
QStringList connection(const SimProcess &sim, const QTemporaryDir &dir)
{
    // A settings file of the LAN converter; the options name the rest.
    const QString settings = dir.filePath(QStringLiteral("lan.ini"));
    if (!QFileInfo::exists(settings)) {
        TData d;
        SetDefaults(&d);
        d.adapterKind = 4;
        SaveSettings(&d, settings);
    }
    return {QStringLiteral("--settings"), settings,
            QStringLiteral("--adapter"),  QStringLiteral("lan"),
            QStringLiteral("--ip"),       QStringLiteral("127.0.0.1"),
            QStringLiteral("--udp-port"), QString::number(sim.udpPort()),
            QStringLiteral("--quiet")};
}

// Wall time of one rqtool run in seconds; negative when it failed.
double timed(const QStringList &args, int expectedCode = 0)
{
    QProcess p;
    QElapsedTimer t;
    t.start();
    p.start(QStringLiteral(RQ_BIN_DIR "/rqtool"), args);
    if (!p.waitForFinished(600000) || p.exitCode() != expectedCode) {
        std::fprintf(stderr, "rqtool %s: exit %d: %s\n", qPrintable(args.join(QLatin1Char(' '))),
                     p.exitCode(), p.readAllStandardError().constData());
        return -1;
    }
    return double(t.nsecsElapsed()) / 1e9;
}

// Resident memory of a process in kB, from /proc.
long residentKb(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

// Wall time of backups, and how many succeeded and how many replies timed
// out (from --verbose, code 20).
struct Backups
{
    double seconds = 0;
    int succeeded = 0;
    int timeouts = 0;
};
Backups backups(const QStringList &base, const QString &file, int runs)
{
    Backups b;
    for (int i = 0; i < runs; ++i) {
        QProcess p;
        QElapsedTimer t;
        t.start();
        p.start(QStringLiteral(RQ_BIN_DIR "/rqtool"),
                base + QStringList{QStringLiteral("--verbose"), QStringLiteral("backup"), file});
        p.waitForFinished(600000);
        b.seconds += double(t.nsecsElapsed()) / 1e9;
        if (p.exitCode() == 0)
            ++b.succeeded;
        b.timeouts += int(p.readAllStandardError().count("chyba 20:"));
    }
    return b;
}

// 5., also alone: bench_rqtool plant. A loaded machine answers late: the
// timeout is generous and the retries count only where a reply was lost.
int plantFile(QTemporaryDir &dir)
{
    constexpr int Modules = 32;
    SimProcess sim;
    QStringList modules;
    double transactions = 0;
    for (int a = 1; a <= Modules; ++a) {
        const ModuleModel model = AllModels[a % 3];
        modules << QStringLiteral("--module")
                << QStringLiteral("%1:%2:1.08:9600").arg(a).arg(ModelName(model).mid(3));
        QList<PlantSetting> every;
        for (const QString &key : PlantKeys(model))
            every << PlantSetting{key, {}, 0};
        transactions += 3 + PlantOffsets(model, every).size();
    }
    if (!sim.start(modules + QStringList{QStringLiteral("--wire-time")}))
        return 1;
    const QString file = dir.filePath(QStringLiteral("zarizeni.ini"));
    const QStringList base =
        connection(sim, dir) + QStringList{QStringLiteral("--baud"), QStringLiteral("9600"),
                                           QStringLiteral("--udp-timeout"), QStringLiteral("1000")};
    if (timed(base + QStringList{QStringLiteral("--address"), QStringLiteral("1-32"),
                                 QStringLiteral("export"), file}) < 0)
        return 1;
    const QStringList plant{QStringLiteral("--settings"),
                            dir.filePath(QStringLiteral("lan.ini")),
                            QStringLiteral("--quiet"),
                            QStringLiteral("--retries"),
                            QStringLiteral("3"),
                            QStringLiteral("--config"),
                            file};
    const int before = sim.memoryByte(17, 0);
    sim.setMemoryByte(17, 0, before == 5 ? 4 : 5); // one key changed behind the file's back
    const double apply = timed(plant + QStringList{QStringLiteral("apply")});
    const double plan = timed(plant + QStringList{QStringLiteral("plan")});
    if (apply <= 0 || plan <= 0 || sim.memoryByte(17, 0) != before)
        return 1;
    const double wireMs = std::ceil(WireTimeUs(9600) / 1000.0);
    const double planFloor = transactions * wireMs / 1000.0;
    const double applyFloor = (transactions + 2) * wireMs / 1000.0;
    std::printf("plant file of %d modules at 9600 Bd with wire time: apply of one changed key %.2f s (floor "
                "%.2f s), plan of unchanged modules %.2f s (floor %.2f s), %.0f transactions\n",
                Modules, apply, applyFloor, plan, planFloor, transactions);
    bench::printGoal("rqtool apply of 1 changed key on 32 modules / wire floor", apply / applyFloor, 1.2);
    bench::printGoal("rqtool plan of 32 unchanged modules / wire floor", plan / planFloor, 1.2);
    return 0;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (argc > 1 && qstrcmp(argv[1], "plant") == 0)
        return plantFile(dir);

    {
        SimProcess sim;
        if (!sim.start({QStringLiteral("--module"), QStringLiteral("1:3510:1.08:9600"),
                        QStringLiteral("--wire-time")})) {
            std::fprintf(stderr, "rqsim: %s\n", qPrintable(sim.errorString()));
            return 1;
        }
        QByteArray image = sim.memory(1);
        for (int offset : {100, 150, 200, 300, 500})
            image[offset] = char(image[offset] ^ 0x11);
        const QString file = dir.filePath(QStringLiteral("RQ-3510_a1_image.kee")); // its model by name
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly) || f.write(image) != image.size())
            return 1;
        f.close();
        const QStringList base =
            connection(sim, dir) + QStringList{QStringLiteral("--address"), QStringLiteral("1"),
                                               QStringLiteral("--baud"), QStringLiteral("9600")};
        const double full =
            timed(base + QStringList{QStringLiteral("restore"), file, QStringLiteral("--all")});
        // Back to the module's own image, so the changed-bytes run has 5 to write.
        for (int offset : {100, 150, 200, 300, 500})
            sim.setMemoryByte(1, offset, image[offset] ^ 0x11);
        const double changed = timed(base + QStringList{QStringLiteral("restore"), file});
        if (full <= 0 || changed <= 0 || sim.memory(1) != image)
            return 1;
        std::printf("restore at 9600 Bd with wire time: full write %.2f s, 5 changed bytes %.2f s\n", full,
                    changed);
        bench::printGoal("rqtool restore of 5 changed bytes / full write", changed / full, 0.55);
    }
    {
        SimProcess sim;
        QStringList modules;
        for (int a = 1; a <= 8; ++a)
            modules << QStringLiteral("--module") << QStringLiteral("%1:3510:1.08:115200").arg(a);
        if (!sim.start(modules + QStringList{QStringLiteral("--wire-time")}))
            return 1;
        const QStringList base =
            connection(sim, dir) + QStringList{QStringLiteral("--baud"), QStringLiteral("115200")};
        const double fleet =
            timed(base + QStringList{QStringLiteral("--address"), QStringLiteral("1-8"),
                                     QStringLiteral("backup"), dir.filePath(QStringLiteral("fleet/"))});
        double singles = 0;
        for (int a = 1; a <= 8; ++a) {
            const double t = timed(base + QStringList{QStringLiteral("--address"), QString::number(a),
                                                      QStringLiteral("backup"),
                                                      dir.filePath(QStringLiteral("single%1.kee").arg(a))});
            if (t < 0)
                return 1;
            singles += t;
        }
        if (fleet <= 0)
            return 1;
        std::printf("backup of 8 modules at 115200 Bd with wire time: fleet %.2f s, 8 single runs %.2f s\n",
                    fleet, singles);
        bench::printGoal("rqtool fleet backup of 8 / 8 single backups", fleet / singles, 1.05);
    }
    {
        SimProcess sim;
        if (!sim.start({QStringLiteral("--module"), QStringLiteral("1:3510:1.08")}))
            return 1;
        QProcess p;
        p.start(QStringLiteral(RQ_BIN_DIR "/rqtool"),
                connection(sim, dir) + QStringList{QStringLiteral("--address"), QStringLiteral("1"),
                                                   QStringLiteral("--json"), QStringLiteral("values"),
                                                   QStringLiteral("--interval"), QStringLiteral("0"),
                                                   QStringLiteral("--count"), QStringLiteral("100000")});
        qint64 rows = 0;
        long at1000 = -1, atEnd = -1;
        QByteArray pending;
        while (p.waitForReadyRead(30000) || p.bytesAvailable() > 0) {
            pending += p.readAllStandardOutput();
            const qsizetype last = pending.lastIndexOf('\n');
            if (last < 0)
                continue;
            rows += pending.left(last + 1).count('\n');
            pending.remove(0, last + 1);
            if (at1000 < 0 && rows >= 1000)
                at1000 = residentKb(p.processId());
            if (rows >= 99000 && atEnd < 0)
                atEnd = residentKb(p.processId());
            if (rows >= 100000)
                break;
        }
        p.waitForFinished(60000);
        if (at1000 <= 0 || atEnd <= 0 || p.exitCode() != 0) {
            std::fprintf(stderr, "values: %lld rows, exit %d\n", rows, p.exitCode());
            return 1;
        }
        std::printf(
            "values --interval 0 --json: RSS %ld kB after 1000 rows, %ld kB after 99000 of 100000 rows\n",
            at1000, atEnd);
        bench::printGoal("rqtool values RSS at 99000 rows / at 1000 rows", double(atEnd) / double(at1000),
                         1.1);
    }
    {
        constexpr int Runs = 20;
        constexpr int TimeoutMs = 100;
        SimProcess clean, lossy;
        if (!clean.start({QStringLiteral("--module"), QStringLiteral("1:3510:1.08")}) ||
            !lossy.start({QStringLiteral("--module"), QStringLiteral("1:3510:1.08"),
                          QStringLiteral("--fault"), QStringLiteral("drop p=0.02"), QStringLiteral("--seed"),
                          QStringLiteral("3")}))
            return 1;
        const QStringList options{QStringLiteral("--address"), QStringLiteral("1"),
                                  QStringLiteral("--timeout"), QString::number(TimeoutMs),
                                  QStringLiteral("--retries"), QStringLiteral("3")};
        const Backups at0 =
            backups(connection(clean, dir) + options, dir.filePath(QStringLiteral("clean.kee")), Runs);
        const Backups at2 =
            backups(connection(lossy, dir) + options, dir.filePath(QStringLiteral("lossy.kee")), Runs);
        const double waited = at2.timeouts * TimeoutMs / 1000.0;
        std::printf(
            "backup --retries 3: %d of %d at 0 %% lost in %.2f s; %d of %d at 2 %% lost in %.2f s, of which "
            "%d timeouts of %d ms (%.2f s)\n",
            at0.succeeded, Runs, at0.seconds, at2.succeeded, Runs, at2.seconds, at2.timeouts, TimeoutMs,
            waited);
        bench::printGoal("rqtool backups at 2 % lost that succeed / all", double(at2.succeeded) / Runs, 1.0,
                         false);
        bench::printGoal("rqtool backup time at 2 % lost / (at 0 % + timeouts)",
                         at2.seconds / (at0.seconds + waited), 1.1);
    }
    return plantFile(dir);
}
