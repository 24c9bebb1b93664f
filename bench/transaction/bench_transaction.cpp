// Time of one module transaction through the program's binding and the LAN
// converter library to rqsim on loopback, against a plain UDP request/reply
// round trip to the same rqsim in the same run. Both sides alternate in
// blocks so that drift of the machine hits them alike; medians are reported.
// The link counters the binding keeps are measured the same way: the same
// transactions with the counters paused and counting, side by side.
// For information the same over a pseudo-terminal at 115200 Bd (serial port
// library against a plain write/read of the frames). Both processes are
// pinned to one CPU and, where allowed, shielded from the machine's other
// load (BenchCpu.h).
//
//   bench_transaction [transactions per side, default 20000]
#include "BenchCpu.h"
#include "RqFrame.h"
#include "comm/Kxxx638.h"
#include "diag/LinkStats.h"

#include <QCoreApplication>
#include <QProcess>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double us(Clock::duration d)
{
    return std::chrono::duration<double, std::micro>(d).count();
}

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1))];
}

// The reference: our request frame over a connected UDP socket, blocking recv.
class RawUdp
{
public:
    explicit RawUdp(quint16 port)
    {
        m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(m_fd, reinterpret_cast<const sockaddr *>(&to), sizeof to);
    }
    ~RawUdp() { ::close(m_fd); }

    bool roundTrip(quint8 address)
    {
        const rqframe::Request request{address, 102, 0, {0, 63, 63, 0, 0}};
        const auto frame = rqframe::encodeUdpRequest(request, ++m_sequence, 9600);
        if (::send(m_fd, frame.data(), frame.size(), 0) != static_cast<ssize_t>(frame.size()))
            return false;
        std::uint8_t buffer[64];
        return ::recv(m_fd, buffer, sizeof buffer, 0) == static_cast<ssize_t>(rqframe::kUdpReplySize);
    }

private:
    int m_fd = -1;
    std::uint16_t m_sequence = 0;
};

// The serial reference: our frames written to the line, the reply read back.
class RawLine
{
public:
    explicit RawLine(const QByteArray &path)
    {
        m_fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios tio{};
        ::tcgetattr(m_fd, &tio);
        ::cfmakeraw(&tio);
        ::cfsetispeed(&tio, B115200);
        ::cfsetospeed(&tio, B115200);
        ::tcsetattr(m_fd, TCSANOW, &tio);
    }
    ~RawLine() { ::close(m_fd); }

    bool roundTrip(quint8 address)
    {
        const auto frame = rqframe::encodeSerialRequest({address, 102, 0, {0, 63, 63, 0, 0}});
        if (::write(m_fd, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size()))
            return false;
        std::size_t got = 0;
        std::uint8_t buffer[64];
        while (got < rqframe::kSerialReplySize) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 1000) <= 0)
                return false;
            const ssize_t n = ::read(m_fd, buffer + got, sizeof buffer - got);
            if (n <= 0)
                return false;
            got += static_cast<std::size_t>(n);
        }
        return got == rqframe::kSerialReplySize;
    }

private:
    int m_fd = -1;
};

// Starts rqsim and returns the value of its start line with the given key.
QByteArray startSim(QProcess &sim, const QStringList &args, const QByteArray &key)
{
    sim.start(QStringLiteral(RQ_BIN_DIR "/rqsim"), args);
    QByteArray value;
    while (value.isEmpty() && sim.waitForReadyRead(5000)) {
        while (sim.canReadLine()) {
            const QByteArray line = sim.readLine().trimmed();
            if (line.startsWith(QByteArray(key + ' ')))
                value = line.mid(key.size() + 1);
        }
    }
    return value;
}

struct Figures
{
    std::vector<double> reference, binding;
    int failures = 0;
};

template <typename Reference, typename Binding>
Figures measure(int total, Reference &&reference, Binding &&binding)
{
    constexpr int kBlock = 500;
    Figures f;
    for (int i = 0; i < std::min(total / 10, 1000); ++i) { // warm caches, sockets and the simulator
        reference();
        binding();
    }
    f.reference.reserve(static_cast<std::size_t>(total));
    f.binding.reserve(static_cast<std::size_t>(total));
    for (int done = 0; done < total; done += kBlock) {
        for (int i = 0; i < kBlock; ++i) {
            const auto t0 = Clock::now();
            f.failures += reference() ? 0 : 1;
            f.reference.push_back(us(Clock::now() - t0));
        }
        for (int i = 0; i < kBlock; ++i) {
            const auto t0 = Clock::now();
            f.failures += binding() ? 0 : 1;
            f.binding.push_back(us(Clock::now() - t0));
        }
    }
    return f;
}

void report(const char *title, const char *reference, const char *binding, const Figures &f)
{
    std::printf("%s: %zu transactions per side, failures %d\n", title, f.reference.size(), f.failures);
    std::printf("  %-34s median %8.1f us  p90 %8.1f us  p99 %8.1f us\n", reference,
                percentile(f.reference, 0.5), percentile(f.reference, 0.9), percentile(f.reference, 0.99));
    std::printf("  %-34s median %8.1f us  p90 %8.1f us  p99 %8.1f us\n", binding, percentile(f.binding, 0.5),
                percentile(f.binding, 0.9), percentile(f.binding, 0.99));
}

} // namespace

int main(int argc, char *argv[])
{
    bench::pinToOneCpu();
    bench::shieldFromOtherLoad();
    QCoreApplication app(argc, argv);
    const int total = argc > 1 ? std::max(500, std::atoi(argv[1])) : 20000;

    QProcess udpSim;
    const quint16 port = static_cast<quint16>(
        startSim(udpSim, {QStringLiteral("--udp"), QStringLiteral("0"), QStringLiteral("--exit-with-parent")},
                 "udp")
            .toUInt());
    QProcess ptySim;
    const QByteArray pty = startSim(ptySim,
                                    {QStringLiteral("--pty"), QStringLiteral("--baud"),
                                     QStringLiteral("115200"), QStringLiteral("--exit-with-parent")},
                                    "pty");
    if (!port || pty.isEmpty()) {
        std::fprintf(stderr, "bench_transaction: rqsim did not start\n");
        return 1;
    }

    QByteArray ip = "127.0.0.1";
    InitBlock block{};
    block[0] = reinterpret_cast<std::uintptr_t>(ip.constData());
    block[1] = port;
    block[2] = 200;
    Record response{};
    quint8 kind = 4;
    quint32 handle = 0;
    auto viaBinding = [&] {
        quint8 d0 = 0, d1 = 63, d2 = 63, d3 = 0, d4 = 0, error = 0;
        RunModuleTransaction(kind, handle, 1, 102, 0, d0, d1, d2, d3, d4, error, response.data());
        return error == 0 && d3 == 1;
    };

    if (OpenAdapter(kind, &handle, block) != 0 || ConfigureAdapter(kind, handle, 9600, 200, 2) != 0) {
        std::fprintf(stderr, "bench_transaction: cannot open libKRQ4638 through the binding\n");
        return 1;
    }
    RawUdp raw(port);
    const Figures lan = measure(
        total, [&] { return raw.roundTrip(1); }, viaBinding);
    // The link counters' share: the same transactions with the counters paused
    // (the reference) and counting.
    const Figures counters = measure(
        total,
        [&] {
            LinkStats::Pause pause;
            return viaBinding();
        },
        viaBinding);
    CloseAdapter(kind, &handle);
    // And the counting alone, without the bus.
    double recordNs = 0;
    {
        LinkStats &stats = LinkStats::instance();
        const std::array<quint32, 8> request{1, 102, 0, 0, 63, 63, 0, 0};
        constexpr int kRecords = 1000000;
        const auto t0 = Clock::now();
        for (int i = 0; i < kRecords; ++i)
            stats.record(kind, request.data(), static_cast<quint8>(i % 50 == 0 ? 20 : 0), {0, 63, 63, 1, 0},
                         stats.clock());
        recordNs = us(Clock::now() - t0) * 1000.0 / kRecords;
        stats.restart();
    }

    Figures line;
    {
        qputenv("RQ_COM9", pty);
        kind = 0;
        block = {};
        block[0] = 9;
        if (OpenAdapter(kind, &handle, block) != 0 || ConfigureAdapter(kind, handle, 115200, 200, 2) != 0) {
            std::fprintf(stderr, "bench_transaction: cannot open libKCOM638 through the binding\n");
            return 1;
        }
        // One master at a time on the line: the raw side opens it only while it runs.
        const int serialTotal = std::max(500, total / 10);
        Figures f;
        for (int round = 0; round < 4; ++round) {
            CloseAdapter(kind, &handle);
            Figures part;
            {
                RawLine rawLine(pty);
                part = measure(
                    serialTotal / 4, [&] { return rawLine.roundTrip(1); }, [] { return true; });
            }
            OpenAdapter(kind, &handle, block);
            ConfigureAdapter(kind, handle, 115200, 200, 2);
            const Figures lib = measure(
                serialTotal / 4, [] { return true; }, viaBinding);
            f.reference.insert(f.reference.end(), part.reference.begin(), part.reference.end());
            f.binding.insert(f.binding.end(), lib.binding.begin(), lib.binding.end());
            f.failures += part.failures + lib.failures;
        }
        CloseAdapter(kind, &handle);
        line = f;
    }

    bench::printCpus(static_cast<pid_t>(udpSim.processId()));
    report("LAN converter, UDP loopback", "plain UDP round trip to rqsim", "binding + libKRQ4638 to rqsim",
           lan);
    const bool met = bench::printGoal("UDP transaction / plain exchange (medians)",
                                      percentile(lan.binding, 0.5) / percentile(lan.reference, 0.5), 1.05);
    report("link counters, LAN converter", "binding, counters paused", "binding, counting", counters);
    const bool countersMet =
        bench::printGoal("link counters counting / paused (medians)",
                         percentile(counters.binding, 0.5) / percentile(counters.reference, 0.5), 1.02);
    std::printf("  counting alone: %.0f ns a transaction = %.4f of the median transaction (goal <= 0.02)\n",
                recordNs, recordNs / 1000.0 / percentile(counters.reference, 0.5));
    report("serial port, pseudo-terminal at 115200 Bd (for information)", "plain write/read of the frames",
           "binding + libKCOM638", line);
    std::printf("  ratio of medians: %.3f (for information)\n",
                percentile(line.binding, 0.5) / percentile(line.reference, 0.5));
    udpSim.terminate();
    ptySim.terminate();
    udpSim.waitForFinished(3000);
    ptySim.waitForFinished(3000);
    return lan.failures == 0 && counters.failures == 0 && line.failures == 0 ? (met && countersMet ? 0 : 3)
                                                                             : 1;
}
