// An adapter maker's library (the stand-in KRQ4638.DLL) reached through
// rqbridge32.exe under Wine, to rqsim on loopback:
//  - per transaction as the caller sees it, against the time the library's
//    own Send took, measured inside the bridge around the call, in the same
//    run (goal: at most 1.3 x the library's time + 100 us);
//  - connection setup through the program's binding once the Wine prefix
//    exists: Init (starting the bridge), SetConfig and the three
//    identification transactions (goal: at most 3 s).
//
//   bench_bridge [transactions, default 2000]
#include "VendorBridge.h"
#include "comm/Kxxx638.h"

#include <QCoreApplication>
#include <QProcess>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

quint16 startSim(QProcess &sim)
{
    sim.start(QStringLiteral(RQ_BIN_DIR "/rqsim"),
              {QStringLiteral("--udp"), QStringLiteral("0"), QStringLiteral("--exit-with-parent")});
    while (sim.waitForReadyRead(5000)) {
        while (sim.canReadLine()) {
            const QByteArray line = sim.readLine().trimmed();
            if (line.startsWith("udp "))
                return static_cast<quint16>(line.mid(4).toUInt());
        }
    }
    return 0;
}

// Init, SetConfig and three identifications through the binding; seconds, or -1.
double connectionSetup(quint16 port)
{
    const QByteArray ip("127.0.0.1");
    InitBlock block{};
    block[0] = reinterpret_cast<std::uintptr_t>(ip.constData());
    block[1] = port;
    block[2] = 500;
    quint32 handle = 0;
    const auto start = Clock::now();
    bool ok = OpenAdapter(4, &handle, block) == 0 && ConfigureAdapter(4, handle, 9600, 200, 2) == 0;
    for (quint8 sub = 0; ok && sub < 3; ++sub) {
        Record response{};
        quint8 d0 = 0, d1 = 0, d2 = 0, d3 = 0, d4 = 0, error = 0;
        RunModuleTransaction(4, handle, 1, 200, sub, d0, d1, d2, d3, d4, error, response.data());
        ok = error == 0;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    CloseAdapter(4, &handle);
    return ok ? seconds : -1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(100, std::atoi(argv[1])) : 2000;
    qputenv("RQ_VENDOR_DLL_DIR", RQ_STANDIN_DIR "/lan");
    if (qEnvironmentVariableIsEmpty("WINEPREFIX"))
        qputenv("WINEPREFIX", RQ_WINEPREFIX);
    QProcess sim;
    const quint16 port = startSim(sim);
    if (!port) {
        std::fprintf(stderr, "bench_bridge: rqsim did not start\n");
        return 1;
    }

    // The first start may create the Wine prefix: not what is measured.
    rqdrv::VendorLibrary bridge("KRQ4638");
    bridge.setBridgeProgram(RQ_BIN_DIR "/rqbridge32.exe");
    if (!bridge.present(true)) {
        std::fprintf(stderr, "bench_bridge: stand-in KRQ4638.DLL not found\n");
        return 1;
    }
    const QByteArray ip("127.0.0.1");
    std::uintptr_t block[16] = {reinterpret_cast<std::uintptr_t>(ip.constData()), port, 500};
    quint32 handle = 0;
    if (bridge.init(rqdrv::VendorLibrary::Block, &handle, block, 0) != 0 ||
        bridge.setConfig(handle, 9600, 200, 2)) {
        std::fprintf(stderr, "bench_bridge: the bridge did not connect (Wine installed?)\n");
        return 1;
    }

    std::vector<double> through, inside;
    int failures = 0;
    for (int i = 0; i < count + count / 10; ++i) {
        Record request{}, response{};
        request[0] = 1;
        request[1] = 102;
        request[3] = 0;
        request[4] = 63;
        request[5] = 63;
        quint32 status = 0, error = 0;
        const auto start = Clock::now();
        const quint32 result = bridge.send(handle, request.data(), response.data(), &status, &error);
        const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
        if (result != 0)
            ++failures;
        if (i < count / 10)
            continue; // warm up Wine, sockets and the simulator
        through.push_back(us);
        inside.push_back(static_cast<double>(bridge.lastSendNs()) / 1000.0);
    }
    bridge.done(&handle);

    const double t = median(through), s = median(inside);
    const double goal = 1.3 * s + 100;
    std::printf("bridge: %zu transactions, failures %d\n", through.size(), failures);
    std::printf("  %-44s median %8.1f us\n", "inside the library (measured by the bridge)", s);
    std::printf("  %-44s median %8.1f us\n", "through the bridge (caller's view)", t);
    std::printf(
        "  through / (1.3 x inside + 100 us): %.3f (goal <= 1.0; %.1f us over the library's own time)\n",
        t / goal, t - s);

    // Connection setup with the prefix in place: first with Wine's server
    // ended (as after a while without a connection), then right after, while
    // it still runs (it lingers a few seconds after the last Windows process).
    QProcess::execute(QStringLiteral("wineserver"), {QStringLiteral("-w")});
    const double first = connectionSetup(port), second = connectionSetup(port);
    std::printf(
        "  connection setup through the binding: %.2f s from cold (goal <= 3 s; ratio %.2f), %.2f s again "
        "right after\n",
        first, first / 3.0, second);
    sim.kill();
    sim.waitForFinished();
    return failures == 0 && first > 0 ? 0 : 1;
}
