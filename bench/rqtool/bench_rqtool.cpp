// rqtool over the LAN converter library against rqsim with --wire-time:
//  1. restore of an image that differs from the module in 5 bytes (read 512,
//     write 5 with read-back) beside the full write of the same image
//     (--all: 512 verified writes, as the dialog does), at 9600 Bd;
//  2. one fleet backup of 8 modules (one adapter opening) beside 8 single
//     backups started one after another, at 115200 Bd.
// Each figure is the wall time of the rqtool process, start-up included.
#include "BenchCpu.h"
#include "support/SimProcess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

namespace {
QStringList connection(const SimProcess &sim, const QTemporaryDir &dir)
{
    return {QStringLiteral("--settings"), dir.filePath(QStringLiteral("none.ini")), QStringLiteral("--adapter"),
            QStringLiteral("lan"),        QStringLiteral("--ip"),                  QStringLiteral("127.0.0.1"),
            QStringLiteral("--udp-port"), QString::number(sim.udpPort()),        QStringLiteral("--quiet")};
}

// Wall time of one rqtool run in seconds; negative when it failed.
double timed(const QStringList &args, int expectedCode = 0)
{
    QProcess p;
    QElapsedTimer t;
    t.start();
    p.start(QStringLiteral(RQ_BIN_DIR "/rqtool"), args);
    if (!p.waitForFinished(600000) || p.exitCode() != expectedCode) {
        std::fprintf(stderr, "rqtool %s: exit %d: %s\n", qPrintable(args.join(QLatin1Char(' '))), p.exitCode(),
                     p.readAllStandardError().constData());
        return -1;
    }
    return double(t.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;

    {
        SimProcess sim;
        if (!sim.start({QStringLiteral("--module"), QStringLiteral("1:3510:1.08:9600"), QStringLiteral("--wire-time")})) {
            std::fprintf(stderr, "rqsim: %s\n", qPrintable(sim.errorString()));
            return 1;
        }
        QByteArray image = sim.memory(1);
        for (int offset : {100, 150, 200, 300, 500})
            image[offset] = char(image[offset] ^ 0x11);
        const QString file = dir.filePath(QStringLiteral("image.kee"));
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly) || f.write(image) != image.size()) return 1;
        f.close();
        const QStringList base = connection(sim, dir) + QStringList{QStringLiteral("--address"), QStringLiteral("1"),
                                                                     QStringLiteral("--baud"), QStringLiteral("9600")};
        const double full = timed(base + QStringList{QStringLiteral("restore"), file, QStringLiteral("--all")});
        // Back to the module's own image, so the changed-bytes run has 5 to write.
        for (int offset : {100, 150, 200, 300, 500})
            sim.setMemoryByte(1, offset, image[offset] ^ 0x11);
        const double changed = timed(base + QStringList{QStringLiteral("restore"), file});
        if (full <= 0 || changed <= 0 || sim.memory(1) != image) return 1;
        std::printf("restore at 9600 Bd with wire time: full write %.2f s, 5 changed bytes %.2f s\n", full, changed);
        bench::printGoal("rqtool restore of 5 changed bytes / full write", changed / full, 0.55);
    }
    {
        SimProcess sim;
        QStringList modules;
        for (int a = 1; a <= 8; ++a)
            modules << QStringLiteral("--module") << QStringLiteral("%1:3510:1.08:115200").arg(a);
        if (!sim.start(modules + QStringList{QStringLiteral("--wire-time")})) return 1;
        const QStringList base = connection(sim, dir) + QStringList{QStringLiteral("--baud"), QStringLiteral("115200")};
        const double fleet = timed(base + QStringList{QStringLiteral("--address"), QStringLiteral("1-8"),
                                                      QStringLiteral("backup"), dir.filePath(QStringLiteral("fleet/"))});
        double singles = 0;
        for (int a = 1; a <= 8; ++a) {
            const double t = timed(base + QStringList{QStringLiteral("--address"), QString::number(a), QStringLiteral("backup"),
                                                      dir.filePath(QStringLiteral("single%1.kee").arg(a))});
            if (t < 0) return 1;
            singles += t;
        }
        if (fleet <= 0) return 1;
        std::printf("backup of 8 modules at 115200 Bd with wire time: fleet %.2f s, 8 single runs %.2f s\n", fleet,
                    singles);
        bench::printGoal("rqtool fleet backup of 8 / 8 single backups", fleet / singles, 1.05);
    }
    return 0;
}
