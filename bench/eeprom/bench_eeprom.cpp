// EEPROM backup (512 read transactions) and restore (1024 transactions)
// through the configuration EEPROM dialog's sequences against rqsim.
//
// 1. The 1 ms pause itself: its median against the true 1 ms.
// 2. Over UDP without wire time: backup and restore against the floor
//    transactions x (one raw UDP exchange of the same run + the true 1 ms).
// 3. With rqsim's --wire-time, over the serial port library (pseudo-terminal)
//    and the LAN converter library (UDP), at 9600 and 115200 Bd: one backup
//    each against the floor 512 x (1 ms + the wire time rqsim applies:
//    request 11 + reply 12 characters of 10 bits each, rounded up to whole
//    milliseconds as rqsim does).
// 4. The serial line at 115200 Bd decided by rounds: the dialog's backup and
//    rqtool's backup of the same module, alternating, each against the floor
//    of the transactions rqsim counted in that run; medians and spread.
// 5. Where a transaction's time above the floor goes: a bare round trip
//    between two threads of this process over a pseudo-terminal beside one
//    over UDP (no library, no simulator, no pause), so the kernel's share of
//    each line is known.
//
//   bench_eeprom [rounds of part 2] [rounds of part 4]   (default 3 and 7)
#include "BenchCpu.h"
#include "app/Dekl.h"
#include "comm/Kxxx638.h"
#include "core/Pauza.h"
#include "dio/KonfigEEPROM.h"
#include "support/SimProcess.h"

#include <RqFrame.h>

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <termios.h>
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

// Wire time rqsim applies to one transaction at a baud rate, in ms.
constexpr int kBitsPerCharacter = 10; // start bit, 8 data bits, stop bit
int wireMs(int baud)
{
    const int bits = kBitsPerCharacter * int(rqframe::kSerialRequestSize + rqframe::kSerialReplySize);
    return (bits * 1000 + baud - 1) / baud;
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
        return got > 0 &&
               rqframe::decodeUdpReply(buffer, std::size_t(got), reply, answered) == rqframe::Decode::Ok &&
               answered == sequence;
    }

private:
    int m_fd = -1;
    int m_sequence = 0;
};

// Mean cost of a raw round trip in the rhythm of the sequences (each after
// a 1 ms pause: a peer woken after a pause answers more slowly than one
// kept busy back to back); the pauses themselves are not counted.
double udpExchange(RawUdp &udp, int n)
{
    Clock::duration total{};
    for (int i = 0; i < n; ++i) {
        rq::pause(1);
        const auto start = Clock::now();
        if (!udp.roundTrip(i))
            return -1;
        total += Clock::now() - start;
    }
    return seconds(total) / n;
}

// Connects the record to rqsim: kind 4 over UDP, kind 0 (serial port 9) on its pseudo-terminal.
bool connect(TData &data, SimProcess &sim, int kind, int baud, QByteArray &ip)
{
    InitBlock block{};
    if (kind == 4) {
        ip = QByteArrayLiteral("127.0.0.1");
        block[0] = reinterpret_cast<std::uintptr_t>(ip.constData());
        block[1] = sim.udpPort();
        block[2] = 500;
    } else {
        qputenv("RQ_COM9", sim.ptyPath().toLocal8Bit());
        block[0] = 9;
    }
    data.adapterKind = quint8(kind);
    if (const quint32 e = OpenAdapter(quint8(kind), &data.handle, block); e != 0) {
        std::fprintf(stderr, "adapter kind %d: error %u\n", kind, e);
        return false;
    }
    if (ConfigureAdapter(quint8(kind), data.handle, quint32(baud), 500, 2) != 0)
        return false;
    data.connected = true;
    data.moduleAddress = 1;
    return true;
}

struct Dialog
{
    TForm5 form;
    explicit Dialog(TData &data)
    {
        form.Data = &data;
        if (!qEnvironmentVariableIsSet("BENCH_HIDDEN"))
            form.show(); // the status bar and the progress bar repaint as for a user
        QApplication::processEvents();
    }
};

// One backup with --wire-time; returns its time in seconds, or -1.
double wireBackup(int kind, int baud)
{
    SimProcess sim;
    QStringList args{QStringLiteral("--module"), QStringLiteral("1:3510:1.08"), QStringLiteral("--wire-time"),
                     QStringLiteral("--baud"), QString::number(baud)};
    args << (kind == 4 ? QStringList{QStringLiteral("--udp"), QStringLiteral("0")}
                       : QStringList{QStringLiteral("--pty")});
    if (!sim.start(args))
        return -1;
    TData data;
    SetDefaults(&data);
    QByteArray ip;
    if (!connect(data, sim, kind, baud, ip))
        return -1;
    Dialog dialog(data);
    const auto start = Clock::now();
    const bool ok = dialog.form.PrectiData(dialog.form.Work).ok();
    const double t = seconds(Clock::now() - start);
    CloseAdapter(quint8(kind), &data.handle);
    if (!ok)
        std::fprintf(stderr, "backup failed: %s\n", qPrintable(dialog.form.statusText()));
    return ok ? t : -1;
}
double spread(const std::vector<double> &v)
{
    if (v.empty())
        return 0;
    const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    return *hi - *lo;
}

qint64 simRequests(SimProcess &sim)
{
    return sim.counters().value(QStringLiteral("requests"));
}

// One dialog backup over the serial library on an rqsim that runs on; its
// time over the floor of the requests rqsim counted, or -1.
double dialogRound(SimProcess &sim, int baud)
{
    TData data;
    SetDefaults(&data);
    QByteArray ip;
    if (!connect(data, sim, 0, baud, ip))
        return -1;
    const qint64 before = simRequests(sim);
    double t = -1;
    {
        Dialog dialog(data);
        const auto start = Clock::now();
        const bool ok = dialog.form.PrectiData(dialog.form.Work).ok();
        t = seconds(Clock::now() - start);
        if (!ok) {
            std::fprintf(stderr, "backup failed: %s\n", qPrintable(dialog.form.statusText()));
            t = -1;
        }
    }
    CloseAdapter(0, &data.handle);
    const qint64 requests = simRequests(sim) - before;
    return t < 0 || requests <= 0 ? -1 : t / (double(requests) * (1 + wireMs(baud)) * 1e-3);
}

// Wall time of one rqtool run, in seconds; -1 when it failed.
double rqtoolRun(const QStringList &args)
{
    QProcess p;
    const auto start = Clock::now();
    p.start(QStringLiteral(RQ_BIN_DIR "/rqtool"), args);
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        std::fprintf(stderr, "rqtool %s: %s\n", qPrintable(args.join(QLatin1Char(' '))),
                     p.readAllStandardError().constData());
        return -1;
    }
    return seconds(Clock::now() - start);
}

// One rqtool backup over the serial library: its wall time less rqtool's
// start-up (a run of --version), over the floor of the requests rqsim counted.
double rqtoolRound(SimProcess &sim, int baud, const QString &file, double startup)
{
    // rqtool wants a settings file of the serial port; the options name the rest.
    const QString settings = file + QStringLiteral(".ini");
    if (!QFile::exists(settings)) {
        TData d;
        SetDefaults(&d);
        SaveSettings(&d, settings);
    }
    const qint64 before = simRequests(sim);
    const double t =
        rqtoolRun({QStringLiteral("--settings"), settings, QStringLiteral("--adapter"), QStringLiteral("com"),
                   QStringLiteral("--com"), QStringLiteral("9"), QStringLiteral("--baud"),
                   QString::number(baud), QStringLiteral("--address"), QStringLiteral("1"),
                   QStringLiteral("--quiet"), QStringLiteral("backup"), file});
    const qint64 requests = simRequests(sim) - before;
    QFile::remove(file);
    return t < 0 || requests <= 0 ? -1 : (t - startup) / (double(requests) * (1 + wireMs(baud)) * 1e-3);
}

// A bare round trip of a request (11 bytes) and its reply (12 bytes) between
// two threads of this process, after a 1 ms pause each as in the sequences;
// mean microseconds without the pauses, or -1.
double bareRoundTrips(int ask, int answer, int n)
{
    std::thread peer([answer, n] {
        std::uint8_t in[64], out[rqframe::kSerialReplySize] = {};
        for (int i = 0; i < n; ++i) {
            std::size_t got = 0;
            while (got < rqframe::kSerialRequestSize) {
                pollfd p{answer, POLLIN, 0};
                if (::poll(&p, 1, 1000) <= 0)
                    return;
                const ssize_t r = ::read(answer, in, sizeof in);
                if (r <= 0)
                    return;
                got += std::size_t(r);
            }
            if (::write(answer, out, sizeof out) != ssize_t(sizeof out))
                return;
        }
    });
    Clock::duration total{};
    bool ok = true;
    std::uint8_t request[rqframe::kSerialRequestSize] = {}, in[64];
    for (int i = 0; i < n && ok; ++i) {
        rq::pause(1);
        const auto start = Clock::now();
        ok = ::write(ask, request, sizeof request) == ssize_t(sizeof request);
        std::size_t got = 0;
        while (ok && got < rqframe::kSerialReplySize) {
            pollfd p{ask, POLLIN, 0};
            const ssize_t r = ::poll(&p, 1, 1000) > 0 ? ::read(ask, in, sizeof in) : -1;
            ok = r > 0;
            got += ok ? std::size_t(r) : 0;
        }
        total += Clock::now() - start;
    }
    peer.join();
    return ok ? seconds(total) / n * 1e6 : -1;
}

double barePty(int n)
{
    int master = -1, slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
        return -1;
    termios tio{};
    ::tcgetattr(slave, &tio);
    ::cfmakeraw(&tio);
    ::cfsetspeed(&tio, B115200);
    ::tcsetattr(slave, TCSANOW, &tio);
    const double us = bareRoundTrips(slave, master, n);
    ::close(master);
    ::close(slave);
    return us;
}

double bareUdp(int n)
{
    int a = ::socket(AF_INET, SOCK_DGRAM, 0), b = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sockaddr_in bt = at;
    socklen_t len = sizeof at;
    double us = -1;
    if (::bind(a, reinterpret_cast<sockaddr *>(&at), sizeof at) == 0 &&
        ::bind(b, reinterpret_cast<sockaddr *>(&bt), sizeof bt) == 0 &&
        ::getsockname(a, reinterpret_cast<sockaddr *>(&at), &len) == 0 &&
        ::getsockname(b, reinterpret_cast<sockaddr *>(&bt), &len) == 0 &&
        ::connect(a, reinterpret_cast<sockaddr *>(&bt), sizeof bt) == 0 &&
        ::connect(b, reinterpret_cast<sockaddr *>(&at), sizeof at) == 0)
        us = bareRoundTrips(a, b, n);
    ::close(a);
    ::close(b);
    return us;
}
} // namespace

int main(int argc, char *argv[])
{
    bench::pinToOneCpu();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const int serialRounds = argc > 2 ? std::max(7, std::atoi(argv[2])) : 7;
    bool allMet = true;

    // 1. The pause, under the normal policy, beside a plain relative sleep of
    // 1 ms with the default timer slack (how the pause slept before).
    std::vector<double> pauses, bare;
    for (int i = 0; i < 2000; ++i) {
        auto start = Clock::now();
        rq::pause(1);
        pauses.push_back(seconds(Clock::now() - start) * 1e3);
        if (i % 4 == 0) {
            prctl(PR_SET_TIMERSLACK, 0UL, 0UL, 0UL, 0UL); // 0: the thread's default (50 us)
            start = Clock::now();
            const timespec ms{0, 1000000};
            nanosleep(&ms, nullptr);
            bare.push_back(seconds(Clock::now() - start) * 1e3);
            rq::preciseTimers();
        }
    }
    const double pauseMedian = median(pauses);
    std::sort(pauses.begin(), pauses.end());
    std::printf("rq::pause(1), 2000 pauses: median %.4f ms, p90 %.4f ms, p99 %.4f ms; "
                "a plain nanosleep(1 ms) with the default slack: median %.4f ms\n",
                pauseMedian, pauses[pauses.size() * 9 / 10], pauses[pauses.size() * 99 / 100], median(bare));
    allMet &= bench::printGoal("rq::pause(1) median / 1 ms", pauseMedian / 1.0, 1.03);
    // The pause ran under the normal policy (a real-time thread has no timer
    // slack, so it would not show what the slack does); the transfers run
    // shielded from the machine's other load.
    bench::shieldFromOtherLoad();

    // 2. UDP without wire time, backup and restore.
    {
        SimProcess sim;
        if (!sim.start({QStringLiteral("--module"), QStringLiteral("1:3510:1.08")})) {
            std::fprintf(stderr, "rqsim did not start: %s\n", qPrintable(sim.errorString()));
            return 2;
        }
        bench::printCpus(pid_t(sim.processId()));
        TData data;
        SetDefaults(&data);
        QByteArray ip;
        if (!connect(data, sim, 4, 9600, ip))
            return 2;
        Dialog dialog(data);
        RawUdp udp(sim.udpPort());
        std::vector<double> exchange, read, write;
        bool ok = true;
        for (int r = 0; r < rounds && ok; ++r) {
            exchange.push_back(udpExchange(udp, 512));
            auto start = Clock::now();
            ok = dialog.form.PrectiData(dialog.form.Work).ok();
            read.push_back(seconds(Clock::now() - start));
            start = Clock::now();
            ok = ok && dialog.form.ZapisData(dialog.form.Work);
            write.push_back(seconds(Clock::now() - start));
            ok = ok && exchange.back() > 0;
        }
        CloseAdapter(4, &data.handle);
        if (!ok) {
            std::fprintf(stderr, "transfer failed: %s\n", qPrintable(dialog.form.statusText()));
            return 1;
        }
        const double step = median(exchange) + 1e-3;
        const double readTime = median(read), writeTime = median(write);
        std::printf(
            "UDP, no wire time, %d rounds (medians): raw exchange %.1f us + 1 ms pause per transaction\n",
            rounds, median(exchange) * 1e6);
        std::printf("  backup  512 bytes  %8.1f ms   floor %8.1f ms   ratio %.3f\n", readTime * 1e3,
                    512 * step * 1e3, readTime / (512 * step));
        std::printf("  restore 512 bytes  %8.1f ms   floor %8.1f ms   ratio %.3f (1024 transactions)\n",
                    writeTime * 1e3, 1024 * step * 1e3, writeTime / (1024 * step));
    }

    // 3. With wire time.
    std::printf(
        "with --wire-time: floor = 512 x (1 ms + wire time of 23 characters of %d bits, rounded up to ms)\n",
        kBitsPerCharacter);
    struct Run
    {
        int kind;
        int baud;
        double goal; // 0: for information
        const char *name;
    };
    const Run runs[] = {
        {0, 9600, 1.05, "backup, serial library, 9600 Bd, --wire-time"},
        {0, 115200, 0, "backup, serial library, 115200 Bd, --wire-time"},
        {4, 9600, 0, "backup, LAN library (UDP), 9600 Bd, --wire-time"},
        {4, 115200, 0, "backup, LAN library (UDP), 115200 Bd, --wire-time"},
    };
    for (const Run &run : runs) {
        const double t = wireBackup(run.kind, run.baud);
        if (t < 0) {
            std::printf("%s: failed\n", run.name);
            allMet = false;
            continue;
        }
        const double floor = 512 * (1 + wireMs(run.baud)) * 1e-3;
        std::printf("  %-50s %8.1f ms   floor %8.1f ms (wire %d ms)   ratio %.3f\n", run.name, t * 1e3,
                    floor * 1e3, wireMs(run.baud), t / floor);
        if (run.goal > 0)
            allMet &= bench::printGoal(run.name, t / floor, run.goal);
    }

    // 4. One rqsim on its pseudo-terminal at 115200 Bd; the dialog and rqtool
    // take turns on it, so both meet the same moments of the machine's load.
    {
        constexpr int baud = 115200;
        SimProcess sim;
        if (!sim.start({QStringLiteral("--module"), QStringLiteral("1:3510:1.08"),
                        QStringLiteral("--wire-time"), QStringLiteral("--baud"), QString::number(baud),
                        QStringLiteral("--pty")})) {
            std::fprintf(stderr, "rqsim did not start: %s\n", qPrintable(sim.errorString()));
            return 2;
        }
        qputenv("RQ_COM9", sim.ptyPath().toLocal8Bit());
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("zaloha.kee"));
        std::vector<double> startups;
        for (int i = 0; i < 5; ++i)
            startups.push_back(rqtoolRun({QStringLiteral("--version")}));
        const double startup = median(startups);
        // A round where either failed (a reply later than the timeout on a
        // machine under load) is told and run again, up to as many again.
        std::vector<double> dialog, tool;
        for (int r = 0; r < 2 * serialRounds && int(dialog.size()) < serialRounds; ++r) {
            const double d = dialogRound(sim, baud), t = rqtoolRound(sim, baud, file, startup);
            if (d < 0 || t < 0) {
                std::printf("serial line, 115200 Bd, round %d: %s failed\n", r + 1,
                            d < 0 ? "the dialog" : "rqtool");
                continue;
            }
            dialog.push_back(d);
            tool.push_back(t);
        }
        if (int(dialog.size()) < serialRounds) {
            std::printf("serial line, 115200 Bd: fewer than %d whole rounds\n", serialRounds);
            return 1;
        }
        std::printf("serial library, 115200 Bd, --wire-time, %d alternating rounds, against the floor of the "
                    "requests rqsim counted (rqtool less its start-up of %.1f ms):\n",
                    serialRounds, startup * 1e3);
        std::printf("  dialog  median %.3f  min %.3f  max %.3f  spread %.3f\n", median(dialog),
                    *std::min_element(dialog.begin(), dialog.end()),
                    *std::max_element(dialog.begin(), dialog.end()), spread(dialog));
        std::printf("  rqtool  median %.3f  min %.3f  max %.3f  spread %.3f\n", median(tool),
                    *std::min_element(tool.begin(), tool.end()), *std::max_element(tool.begin(), tool.end()),
                    spread(tool));
        allMet &= bench::printGoal("dialog backup, serial library, 115200 Bd, median", median(dialog), 1.08);
    }

    // 5. The kernel's part of a transaction on each line.
    const double pty = barePty(512), udp = bareUdp(512);
    std::printf(
        "bare round trip between two threads, 11 + 12 bytes, after a 1 ms pause: pseudo-terminal %.1f us, "
        "UDP %.1f us (difference %.1f us)\n",
        pty, udp, pty - udp);
    return allMet ? 0 : 3;
}
