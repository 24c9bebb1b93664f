// Refresh rate of the analog input monitor against rqsim over UDP, through
// the real LAN converter library, beside the ideal rate measured in the same
// run and the same rhythm: a timer of the monitor's kind restarted 10 ms
// after each cycle of 13 raw UDP round trips (one request datagram and its
// reply on a bare socket, without library or dialog). The ideal thus pays
// the same timer and wake-up costs as the monitor and is a true ceiling.
//
//   bench_monitor [seconds per round, default 3] [rounds, default 3]
//
// Rounds alternate: the ideal for the given seconds, then the monitor.
#include "BenchCpu.h"
#include "RqFrame.h"

#include "app/Dekl.h"
#include "comm/Kxxx638.h"
#include "live/OkamAIN.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {
constexpr quint32 BusBaud = 9600;
constexpr int RawRoundTrips = 2000;

struct Sim
{
    QProcess process;
    quint16 udpPort = 0;

    bool start()
    {
        process.setProgram(QStringLiteral(RQ_BIN_DIR "/rqsim"));
        process.setArguments({QStringLiteral("--module"), QStringLiteral("1:3510:1.08"),
                              QStringLiteral("--udp"), QStringLiteral("0")});
        process.start();
        if (!process.waitForStarted(5000))
            return false;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 10000) {
            if (!process.canReadLine() && !process.waitForReadyRead(500))
                continue;
            while (process.canReadLine()) {
                const QByteArray line = process.readLine().trimmed();
                if (line.startsWith("udp "))
                    udpPort = static_cast<quint16>(line.mid(4).toUInt());
                if (line == "ready")
                    return udpPort != 0;
            }
        }
        return false;
    }
    ~Sim()
    {
        process.kill();
        process.waitForFinished(3000);
    }
};

// Mean and median of raw UDP round trips in milliseconds; the same request
// the monitor sends most (command 0, a measured value).
bool rawRoundTrips(quint16 port, double *mean, double *median)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        return false;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) != 0) {
        ::close(fd);
        return false;
    }
    std::vector<double> ms;
    ms.reserve(RawRoundTrips);
    rqframe::Request request;
    request.address = 1;
    bool good = true;
    for (int i = 0; i < RawRoundTrips && good; ++i) {
        request.subcode = static_cast<std::uint8_t>(i % 12);
        const auto frame = rqframe::encodeUdpRequest(request, static_cast<std::uint16_t>(i), BusBaud);
        QElapsedTimer t;
        t.start();
        good = ::send(fd, frame.data(), frame.size(), 0) == static_cast<ssize_t>(frame.size());
        pollfd p{fd, POLLIN, 0};
        std::uint8_t buffer[64];
        good = good && ::poll(&p, 1, 1000) == 1 && ::recv(fd, buffer, sizeof buffer, 0) > 0;
        ms.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    }
    ::close(fd);
    if (!good)
        return false;
    double sum = 0;
    for (double v : ms)
        sum += v;
    *mean = sum / static_cast<double>(ms.size());
    std::nth_element(ms.begin(), ms.begin() + static_cast<std::ptrdiff_t>(ms.size() / 2), ms.end());
    *median = ms[ms.size() / 2];
    return true;
}

// Cycles per second of the ideal monitor: the same 13 requests as raw round
// trips, restarted by a timer of the given kind 10 ms after each cycle.
double idealRate(quint16 port, int seconds, Qt::TimerType type)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) != 0)
        return -1;
    std::uint16_t sequence = 0;
    quint64 cycles = 0;
    bool good = true;
    QTimer timer;
    timer.setTimerType(type);
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        rqframe::Request request;
        request.address = 1;
        for (int i = 0; i < 13 && good; ++i) {
            request.subcode = static_cast<std::uint8_t>(i < 12 ? i : 16);
            const auto frame = rqframe::encodeUdpRequest(request, ++sequence, BusBaud);
            pollfd p{fd, POLLIN, 0};
            std::uint8_t buffer[64];
            good = ::send(fd, frame.data(), frame.size(), 0) == static_cast<ssize_t>(frame.size()) &&
                   ::poll(&p, 1, 1000) == 1 && ::recv(fd, buffer, sizeof buffer, 0) > 0;
        }
        ++cycles;
        timer.start(TForm3::CyclePause);
    });
    timer.start(0);
    QElapsedTimer t;
    t.start();
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    const double elapsed = static_cast<double>(t.nsecsElapsed()) / 1e9;
    timer.stop();
    ::close(fd);
    return good ? static_cast<double>(cycles) / elapsed : -1;
}

// Cycles per second of a shown monitor over the given time, counted from
// its first complete cycle (which also reads the units). Also gives the mean
// library round trip and the work of one cycle without its pause.
double monitorRate(TData &data, int seconds, double *libraryMs, double *workMs)
{
    TForm3 dialog;
    dialog.Data = &data;
    dialog.show();
    QElapsedTimer t;
    while (dialog.completedCycles() == 0 && dialog.isVisible())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const quint64 first = dialog.completedCycles();
    t.start();
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    const double elapsed = static_cast<double>(t.nsecsElapsed()) / 1e9;
    const quint64 cycles = dialog.completedCycles() - first;
    // The work of one cycle itself, cycles run back to back without the pause.
    QElapsedTimer w;
    w.start();
    for (int i = 0; i < 200; ++i) {
        dialog.Timer1->stop();
        dialog.Timer1Timer();
    }
    *workMs = static_cast<double>(w.nsecsElapsed()) / 1e6 / 200;
    dialog.hide();
    // A library round trip on the same connection, for comparison.
    QElapsedTimer lt;
    lt.start();
    ModuleBytes d{};
    for (int i = 0; i < 500; ++i)
        Transact(data, 1, 0, static_cast<quint8>(i % 12), d);
    *libraryMs = static_cast<double>(lt.nsecsElapsed()) / 1e6 / 500;
    return static_cast<double>(cycles) / elapsed;
}
} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    bench::pinToOneCpu();
    bench::shieldFromOtherLoad();
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int seconds = args.size() > 1 ? std::max(1, args.at(1).toInt()) : 3;
    const int rounds = args.size() > 2 ? std::max(1, args.at(2).toInt()) : 3;

    Sim sim;
    if (!sim.start()) {
        std::fprintf(stderr, "rqsim did not start (%s)\n", qPrintable(sim.process.program()));
        return 1;
    }
    TData data;
    SetDefaults(&data);
    data.adapterKind = 4;
    data.ipAddress8bit = QByteArrayLiteral("127.0.0.1");
    data.initBlock[0] = reinterpret_cast<std::uintptr_t>(data.ipAddress8bit.constData());
    data.initBlock[1] = sim.udpPort;
    data.initBlock[2] = 200;
    if (const quint32 e = OpenAdapter(4, &data.handle, data.initBlock)) {
        std::fprintf(stderr, "adapter: %s\n", qPrintable(ErrorText(4, e)));
        return 1;
    }
    ConfigureAdapter(4, data.handle, BusBaud, 200, 2);
    data.connected = true;
    data.moduleAddress = 1;

    std::printf("analog monitor against rqsim over UDP, %d round(s) of %d s\n", rounds, seconds);
    bench::printCpus(static_cast<pid_t>(sim.process.processId()));
    std::printf("%5s %11s %11s %11s %11s %11s %11s %7s\n", "round", "raw rtt ms", "(median)", "library ms",
                "cycle ms", "ideal /s", "monitor /s", "ratio");
    std::vector<double> ratios;
    double worst = 1e9;
    for (int r = 1; r <= rounds; ++r) {
        double mean = 0, median = 0, library = 0, work = 0;
        if (!rawRoundTrips(sim.udpPort, &mean, &median)) {
            std::fprintf(stderr, "raw round trips failed\n");
            return 1;
        }
        const double ideal = idealRate(sim.udpPort, seconds, Qt::PreciseTimer); // the monitor's Timer1
        const double rate = monitorRate(data, seconds, &library, &work);
        if (ideal <= 0) {
            std::fprintf(stderr, "ideal cycles failed\n");
            return 1;
        }
        const double ratio = rate / ideal;
        ratios.push_back(ratio);
        worst = std::min(worst, ratio);
        std::printf("%5d %11.4f %11.4f %11.4f %11.3f %11.2f %11.2f %7.3f\n", r, mean, median, library, work,
                    ideal, rate, ratio);
    }
    std::sort(ratios.begin(), ratios.end());
    const double median = ratios[ratios.size() / 2];
    std::printf("worst round ratio %.3f\n", worst);
    bench::printGoal("analog monitor rate / ideal rate (median round)", median, 0.9, false);
    CloseAdapter(4, &data.handle);
    return median >= 0.9 ? 0 : 2;
}
