// EEPROM read (512 transactions) and write (1024 transactions) through the
// configuration EEPROM dialog's sequences, over UDP to rqsim through the LAN
// converter library, compared with the floor measured in the same run:
// transactions x (one raw UDP round trip followed by one real 1 ms pause).
//
//   bench_eeprom [rounds]     (default 5; the median round is reported)
#include "app/Dekl.h"
#include "app/Pauza.h"
#include "comm/Kxxx638.h"
#include "dio/KonfigEEPROM.h"
#include "support/SimProcess.h"

#include <RqFrame.h>

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {
using Clock = std::chrono::steady_clock;

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

// Mean cost of one rq::pause(1), measured over n pauses.
double pauseCost(int n)
{
    const auto start = Clock::now();
    for (int i = 0; i < n; ++i)
        rq::pause(1);
    return seconds(Clock::now() - start) / n;
}

// A socket to rqsim for raw read requests (command 102), without the adapter library.
class RawUdp
{
public:
    explicit RawUdp(quint16 port)
    {
        m_fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (m_fd >= 0 && ::connect(m_fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
        timeval timeout{1, 0};
        if (m_fd >= 0)
            ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    }
    ~RawUdp()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    RawUdp(const RawUdp &) = delete;
    RawUdp &operator=(const RawUdp &) = delete;

    // One round trip: encode, send, receive, decode. False on any failure.
    bool roundTrip(int i)
    {
        if (m_fd < 0)
            return false;
        rqframe::Request request;
        request.address = 1;
        request.command = 102;
        request.subcode = std::uint8_t(i / 256 % 2);
        request.d[1] = request.d[2] = std::uint8_t(i % 256);
        const auto sequence = std::uint16_t(++m_sequence);
        const auto frame = rqframe::encodeUdpRequest(request, sequence, 9600);
        if (::send(m_fd, frame.data(), frame.size(), 0) != ssize_t(frame.size()))
            return false;
        std::uint8_t buffer[64];
        const ssize_t got = ::recv(m_fd, buffer, sizeof buffer, 0);
        rqframe::Reply reply;
        std::uint16_t answered = 0;
        return got > 0 && rqframe::decodeUdpReply(buffer, std::size_t(got), reply, answered) == rqframe::Decode::Ok &&
               answered == sequence;
    }

private:
    int m_fd = -1;
    int m_sequence = 0;
};

// Mean cost of a raw round trip, back to back.
double udpRoundTrip(RawUdp &udp, int n)
{
    const auto start = Clock::now();
    for (int i = 0; i < n; ++i)
        if (!udp.roundTrip(i))
            return -1;
    return seconds(Clock::now() - start) / n;
}

// The floor of one byte: a raw round trip followed by the 1 ms pause, in the
// rhythm of the sequences (a peer woken after each pause answers more slowly
// than one kept busy back to back).
double floorStep(RawUdp &udp, int n)
{
    const auto start = Clock::now();
    for (int i = 0; i < n; ++i) {
        if (!udp.roundTrip(i))
            return -1;
        rq::pause(1);
    }
    return seconds(Clock::now() - start) / n;
}

// Mean cost of one read transaction through the adapter library, without pauses.
double libraryTransaction(const TData &data, int n)
{
    const auto start = Clock::now();
    for (int i = 0; i < n; ++i) {
        ModuleBytes d{0, quint8(i % 256), quint8(i % 256), 0, 0};
        if (Transact(data, data.moduleAddress, 102, quint8(i / 256 % 2), d) != 0)
            return -1;
    }
    return seconds(Clock::now() - start) / n;
}
} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

    SimProcess sim;
    if (!sim.start({QStringLiteral("--module"), QStringLiteral("1:3510:1.08")})) {
        std::fprintf(stderr, "rqsim did not start: %s\n", qPrintable(sim.errorString()));
        return 2;
    }
    TData data;
    SetDefaults(&data);
    QByteArray ip = QByteArrayLiteral("127.0.0.1");
    InitBlock block{};
    block[0] = reinterpret_cast<std::uintptr_t>(ip.constData());
    block[1] = sim.udpPort();
    block[2] = 500;
    data.adapterKind = 4;
    if (const quint32 e = OpenAdapter(4, &data.handle, block); e != 0) {
        std::fprintf(stderr, "LAN converter library: error %u\n", e);
        return 2;
    }
    ConfigureAdapter(4, data.handle, 9600, 500, 0); // the simulated module runs at 9600 Bd
    data.connected = true;
    data.moduleAddress = 1;

    TForm5 dialog;
    dialog.Data = &data;
    if (!qEnvironmentVariableIsSet("BENCH_HIDDEN"))
        dialog.show(); // the status bar and the progress bar repaint as for a user
    QApplication::processEvents();

    RawUdp udp(sim.udpPort());
    std::vector<double> floorPause, floorRtt, floorSteps, library, read, write;
    bool ok = true;
    for (int r = 0; r < rounds && ok; ++r) {
        floorPause.push_back(pauseCost(512));
        floorRtt.push_back(udpRoundTrip(udp, 512));
        floorSteps.push_back(floorStep(udp, 512));
        library.push_back(libraryTransaction(data, 512));
        auto start = Clock::now();
        ok = dialog.PrectiData(dialog.Work);
        read.push_back(seconds(Clock::now() - start));
        start = Clock::now();
        ok = ok && dialog.ZapisData(dialog.Work);
        write.push_back(seconds(Clock::now() - start));
        ok = ok && floorRtt.back() > 0 && floorSteps.back() > 0 && library.back() > 0;
    }
    CloseAdapter(4, &data.handle);
    if (!ok) {
        std::fprintf(stderr, "transfer failed: %s\n", qPrintable(dialog.statusText()));
        return 1;
    }

    const double pause = median(floorPause), rtt = median(floorRtt), step = median(floorSteps);
    const double readFloor = 512 * step, writeFloor = 1024 * step;
    const double readTime = median(read), writeTime = median(write);
    std::printf("rounds %d (medians)\n", rounds);
    std::printf("1 ms pause            %8.1f us\n", pause * 1e6);
    std::printf("raw UDP round trip    %8.1f us   (back to back)\n", rtt * 1e6);
    std::printf("round trip + pause    %8.1f us   (the floor of one transaction)\n", step * 1e6);
    std::printf("library transaction   %8.1f us\n", median(library) * 1e6);
    std::printf("read   512 bytes      %8.1f ms   floor %8.1f ms   ratio %.3f\n", readTime * 1e3, readFloor * 1e3,
                readTime / readFloor);
    std::printf("write  512 bytes      %8.1f ms   floor %8.1f ms   ratio %.3f\n", writeTime * 1e3,
                writeFloor * 1e3, writeTime / writeFloor);
    std::printf("goal: ratio within 1.10 -> %s\n",
                readTime / readFloor <= 1.10 && writeTime / writeFloor <= 1.10 ? "met" : "NOT met");
    return 0;
}
