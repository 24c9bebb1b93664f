// Module search through the binding and the LAN converter library against
// rqsim with --wire-time, beside its floor: for every rate, 256 times the
// time request and reply take on the wire at that rate (a silent address
// cannot be told from a slow one sooner). Three modules at different
// addresses and rates must all be found.
//
//   bench_scan         full search (256 addresses x 9 rates, about 4 min), then one rate at 9600
//   bench_scan 9600    only the search at 9600 Bd
#include "BenchCpu.h"
#include "scan/HledaniModulu.h"
#include "support/SimProcess.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

struct Quiet : ScanReport
{
    void found(const ScanFinding &f) override
    {
        std::printf("  found %3u at %6u Bd: %s (%.1f ms)\n", f.address, f.baud, qPrintable(f.identity),
                    f.replyMs);
        std::fflush(stdout);
    }
};

// Runs one search; true when it met its goal and found every module.
bool run(const char *title, quint16 port, const QList<quint32> &bauds, int expectedFound)
{
    ScanSettings s;
    s.adapter.kind = 4;
    s.adapter.ipAddress = QStringLiteral("127.0.0.1");
    s.adapter.udpPort = port;
    s.adapter.udpTimeout = 0; // the baud rate table's timeouts bound the probes
    s.bauds = bauds;
    double floorMs = 0;
    for (quint32 b : bauds)
        floorMs += 256 * WireTimeUs(b) / 1000.0;
    std::printf("%s: %d addresses x %lld rates\n", title, 256, static_cast<long long>(bauds.size()));
    Quiet report;
    const ScanResult r = RunScan(s, report);
    if (r.end != ScanResult::End::Finished) {
        std::printf("  search failed: %s\n", qPrintable(r.error));
        return false;
    }
    const double ratio = static_cast<double>(r.elapsedMs) / floorMs;
    const bool all = r.findings.size() == expectedFound;
    std::printf("  time %.1f s, floor %.1f s (wire time of 256 probes a rate), %.1f ms a probe\n",
                static_cast<double>(r.elapsedMs) / 1000.0, floorMs / 1000.0,
                static_cast<double>(r.elapsedMs) / r.probes);
    std::printf("  found %lld of %d modules\n", static_cast<long long>(r.findings.size()), expectedFound);
    const bool met = bench::printGoal(title, ratio, 1.5);
    std::fflush(stdout);
    return met && all;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    bench::pinToOneCpu();
    bench::shieldFromOtherLoad();
    const bool only9600 = argc > 1 && QByteArray(argv[1]) == "9600";
    SimProcess sim;
    if (!sim.start({QStringLiteral("--wire-time"), QStringLiteral("--module"),
                    QStringLiteral("3:3510:1.08:9600"), QStringLiteral("--module"),
                    QStringLiteral("77:3520:1.07:115200"), QStringLiteral("--module"),
                    QStringLiteral("200:3530:1.08:1200")})) {
        std::fprintf(stderr, "rqsim did not start: %s\n", qPrintable(sim.errorString()));
        return 1;
    }
    bench::printCpus(static_cast<pid_t>(sim.processId()));
    bool good = true;
    if (!only9600)
        good =
            run("search 256 x 9 rates vs wire time, 3 modules found", sim.udpPort(), DefaultScanBauds(), 3) &&
            good;
    good = run("search 256 at 9600 Bd vs wire time", sim.udpPort(), {9600}, 1) && good;
    return good ? 0 : 1;
}
