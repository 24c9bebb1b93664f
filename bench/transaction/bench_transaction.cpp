// Time of one module transaction through the program's binding and the LAN
// converter library to rqsim on loopback, against a plain UDP request/reply
// round trip to the same rqsim in the same run. Both sides alternate in
// blocks so that drift of the machine hits them alike; medians are reported.
//
//   bench_transaction [transactions per side, default 20000]
#include "RqFrame.h"
#include "comm/Kxxx638.h"

#include <QCoreApplication>
#include <QProcess>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
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
        if (::send(m_fd, frame.data(), frame.size(), 0) != static_cast<ssize_t>(frame.size())) return false;
        std::uint8_t buffer[64];
        return ::recv(m_fd, buffer, sizeof buffer, 0) == static_cast<ssize_t>(rqframe::kUdpReplySize);
    }

private:
    int m_fd = -1;
    std::uint16_t m_sequence = 0;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int total = argc > 1 ? std::max(100, std::atoi(argv[1])) : 20000;
    constexpr int kBlock = 500;

    QProcess sim;
    sim.start(QStringLiteral(RQ_BIN_DIR "/rqsim"), {QStringLiteral("--udp"), QStringLiteral("0")});
    quint16 port = 0;
    while (sim.waitForReadyRead(5000)) {
        while (sim.canReadLine()) {
            const QByteArray line = sim.readLine().trimmed();
            if (line.startsWith("udp ")) port = static_cast<quint16>(line.mid(4).toUInt());
        }
        if (port) break;
    }
    if (!port) {
        std::fprintf(stderr, "bench_transaction: rqsim did not start\n");
        return 1;
    }

    QByteArray ip = "127.0.0.1";
    InitBlock block{};
    block[0] = reinterpret_cast<std::uintptr_t>(ip.constData());
    block[1] = port;
    block[2] = 200;
    quint32 handle = 0;
    const quint8 kind = 4;
    if (OpenAdapter(kind, &handle, block) != 0 || ConfigureAdapter(kind, handle, 9600, 200, 2) != 0) {
        std::fprintf(stderr, "bench_transaction: cannot open libKRQ4638 through the binding\n");
        return 1;
    }
    RawUdp raw(port);
    Record response{};
    auto viaBinding = [&] {
        quint8 d0 = 0, d1 = 63, d2 = 63, d3 = 0, d4 = 0, error = 0;
        RunModuleTransaction(kind, handle, 1, 102, 0, d0, d1, d2, d3, d4, error, response.data());
        return error == 0 && d3 == 1;
    };

    for (int i = 0; i < 1000; ++i) { // warm caches, sockets and the simulator
        raw.roundTrip(1);
        viaBinding();
    }
    std::vector<double> rawUs, bindingUs;
    rawUs.reserve(static_cast<std::size_t>(total));
    bindingUs.reserve(static_cast<std::size_t>(total));
    int failures = 0;
    for (int done = 0; done < total; done += kBlock) {
        for (int i = 0; i < kBlock; ++i) {
            const auto t0 = Clock::now();
            failures += raw.roundTrip(1) ? 0 : 1;
            rawUs.push_back(us(Clock::now() - t0));
        }
        for (int i = 0; i < kBlock; ++i) {
            const auto t0 = Clock::now();
            failures += viaBinding() ? 0 : 1;
            bindingUs.push_back(us(Clock::now() - t0));
        }
    }
    CloseAdapter(kind, &handle);
    sim.terminate();
    sim.waitForFinished(3000);

    const double rawMedian = percentile(rawUs, 0.5);
    const double bindingMedian = percentile(bindingUs, 0.5);
    std::printf("transactions per side: %zu (failures %d)\n", rawUs.size(), failures);
    std::printf("plain UDP round trip to rqsim:      median %7.1f us  p90 %7.1f us  p99 %7.1f us\n",
                rawMedian, percentile(rawUs, 0.9), percentile(rawUs, 0.99));
    std::printf("binding + libKRQ4638 to rqsim:      median %7.1f us  p90 %7.1f us  p99 %7.1f us\n",
                bindingMedian, percentile(bindingUs, 0.9), percentile(bindingUs, 0.99));
    std::printf("ratio of medians: %.3f (goal <= 1.2)\n", bindingMedian / rawMedian);
    return failures == 0 ? 0 : 1;
}
