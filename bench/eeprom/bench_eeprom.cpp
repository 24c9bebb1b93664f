// EEPROM read (512 transactions) and write (1024 transactions) through the
// configuration EEPROM dialog's sequences, over UDP to rqsim through the LAN
// converter library, compared with the floor measured in the same run:
// transactions x (one real 1 ms pause + one raw UDP round trip).
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

// Mean raw UDP round trip of a read request (command 102) to rqsim, without
// the adapter library: encode, send, receive, decode.
double udpRoundTrip(quint16 port, int n)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        return -1;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) != 0) {
        ::close(fd);
        return -1;
    }
    timeval timeout{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    int ok = 0;
    const auto start = Clock::now();
    for (int i = 0; i < n; ++i) {
        rqframe::Request request;
        request.address = 1;
        request.command = 102;
        request.subcode = std::uint8_t(i / 256 % 2);
        request.d[1] = request.d[2] = std::uint8_t(i % 256);
        const auto frame = rqframe::encodeUdpRequest(request, std::uint16_t(i), 9600);
        if (::send(fd, frame.data(), frame.size(), 0) != ssize_t(frame.size()))
            break;
        std::uint8_t buffer[64];
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        rqframe::Reply reply;
        std::uint16_t sequence = 0;
        if (got > 0 && rqframe::decodeUdpReply(buffer, std::size_t(got), reply, sequence) == rqframe::Decode::Ok &&
            sequence == std::uint16_t(i))
            ++ok;
    }
    const double mean = seconds(Clock::now() - start) / n;
    ::close(fd);
    return ok == n ? mean : -1;
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
    dialog.show(); // the status bar and the progress bar repaint as for a user
    QApplication::processEvents();

    std::vector<double> floorPause, floorRtt, read, write;
    bool ok = true;
    for (int r = 0; r < rounds && ok; ++r) {
        floorPause.push_back(pauseCost(512));
        floorRtt.push_back(udpRoundTrip(sim.udpPort(), 512));
        auto start = Clock::now();
        ok = dialog.PrectiData(dialog.Work);
        read.push_back(seconds(Clock::now() - start));
        start = Clock::now();
        ok = ok && dialog.ZapisData(dialog.Work);
        write.push_back(seconds(Clock::now() - start));
        ok = ok && floorRtt.back() > 0;
    }
    CloseAdapter(4, &data.handle);
    if (!ok) {
        std::fprintf(stderr, "transfer failed: %s\n", qPrintable(dialog.statusText()));
        return 1;
    }

    const double pause = median(floorPause), rtt = median(floorRtt);
    const double readFloor = 512 * (pause + rtt), writeFloor = 1024 * (pause + rtt);
    const double readTime = median(read), writeTime = median(write);
    std::printf("rounds %d (medians)\n", rounds);
    std::printf("1 ms pause            %8.1f us\n", pause * 1e6);
    std::printf("raw UDP round trip    %8.1f us\n", rtt * 1e6);
    std::printf("read   512 bytes      %8.1f ms   floor %8.1f ms   ratio %.3f\n", readTime * 1e3, readFloor * 1e3,
                readTime / readFloor);
    std::printf("write  512 bytes      %8.1f ms   floor %8.1f ms   ratio %.3f\n", writeTime * 1e3,
                writeFloor * 1e3, writeTime / writeFloor);
    std::printf("goal: ratio within 1.10 -> %s\n",
                readTime / readFloor <= 1.10 && writeTime / writeFloor <= 1.10 ? "met" : "NOT met");
    return 0;
}
