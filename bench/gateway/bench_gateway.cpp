// rqgw against rqsim, each figure beside its own reference in the same run:
//  1. bus use: 8 modules at 115200 Bd with --wire-time, complete cycles a
//     second beside the wire floor (15 transactions a cycle, 23 characters
//     of 10 bits each);
//  2. one switched-off module among 8: the other 7 beside the same 7 alone;
//  3. Modbus TCP: 50 clients reading the 26 input registers of one module,
//     beside a plain libmodbus server with a static map, p99 latency;
//  4. converter fairness: rqtool backup of one module through --converter
//     at 9600 Bd with --wire-time while the gateway polls 3 others: the
//     others' largest age beside their stale age, the backup beside the
//     direct one;
//  5. memory: RSS after one minute and 100,000 cycles more, beside RSS after
//     the minute.
// BENCH_GW_CYCLES changes the 100,000 of figure 5.
#include "BenchCpu.h"
#include "gateway/GatewayConfig.h"
#include "gateway/GatewayProcess.h"
#include "support/SimProcess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

#include <modbus.h>

#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point from)
{
    return std::chrono::duration<double>(Clock::now() - from).count();
}

QStringList lan(quint16 port, int timeoutMs = 100)
{
    return {QStringLiteral("--adapter"),     QStringLiteral("lan"),        QStringLiteral("--ip"),
            QStringLiteral("127.0.0.1"),     QStringLiteral("--udp-port"), QString::number(port),
            QStringLiteral("--udp-timeout"), QString::number(timeoutMs)};
}

// The gateway's count of complete cycles of the units, summed.
quint64 cycles(quint16 port, const QList<int> &units)
{
    modbus_t *ctx = modbus_new_tcp("127.0.0.1", port);
    quint64 sum = 0;
    if (ctx && modbus_connect(ctx) == 0) {
        for (int unit : units) {
            uint16_t r[2] = {};
            modbus_set_slave(ctx, unit);
            if (modbus_read_input_registers(ctx, 106, 2, r) == 2)
                sum += quint64(r[0]) << 16 | r[1];
        }
    }
    if (ctx) {
        modbus_close(ctx);
        modbus_free(ctx);
    }
    return sum;
}

// Complete cycles a second of the units over a window, after a warm-up.
double cycleRate(quint16 port, const QList<int> &units, double warmup, double window)
{
    QThread::msleep(static_cast<unsigned long>(warmup * 1000));
    const quint64 a = cycles(port, units);
    const auto t = Clock::now();
    QThread::msleep(static_cast<unsigned long>(window * 1000));
    return double(cycles(port, units) - a) / seconds(t);
}

QString configFile(const QTemporaryDir &dir, const QString &name, quint16 simPort,
                   const QList<int> &addresses, int timeoutMs, quint32 baud = 115200)
{
    QString text =
        QStringLiteral("[gateway]\noffline-retry=5000\n[bus]\nadapter=lan\nip=127.0.0.1\nudp-port=%1\n"
                       "udp-timeout=%2\nbaud=%3\n")
            .arg(simPort)
            .arg(timeoutMs)
            .arg(baud);
    for (int a : addresses)
        text += QStringLiteral("[module m%1]\naddress=%1\n").arg(a);
    const QString path = dir.filePath(name);
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(text.toUtf8());
    return path;
}

quint16 freePort()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

// A plain libmodbus server with a static map of 26 input registers: the
// reference of the Modbus figure.
void plainServer(quint16 port, std::atomic<bool> &stop, std::atomic<bool> &ready)
{
    modbus_t *ctx = modbus_new_tcp("127.0.0.1", port);
    modbus_mapping_t *map = modbus_mapping_new(0, 0, 0, 26);
    for (int i = 0; i < 26; ++i)
        map->tab_input_registers[i] = static_cast<uint16_t>(i * 100);
    const int listener = modbus_tcp_listen(ctx, 64);
    ready = true;
    fd_set all;
    FD_ZERO(&all);
    FD_SET(listener, &all);
    int maxFd = listener;
    uint8_t q[MODBUS_TCP_MAX_ADU_LENGTH];
    while (!stop) {
        fd_set rd = all;
        timeval tv{0, 100000};
        if (select(maxFd + 1, &rd, nullptr, nullptr, &tv) <= 0)
            continue;
        for (int fd = 0; fd <= maxFd; ++fd) {
            if (!FD_ISSET(fd, &rd))
                continue;
            if (fd == listener) {
                const int c = accept(listener, nullptr, nullptr);
                if (c >= 0) {
                    FD_SET(c, &all);
                    maxFd = std::max(maxFd, c);
                }
            } else {
                modbus_set_socket(ctx, fd);
                const int n = modbus_receive(ctx, q);
                if (n > 0)
                    modbus_reply(ctx, q, n, map);
                else if (n < 0) {
                    close(fd);
                    FD_CLR(fd, &all);
                }
            }
        }
    }
    close(listener);
    modbus_mapping_free(map);
    modbus_free(ctx);
}

struct Load
{
    double rate = 0;
    double p99ms = 0;
};

// 50 clients, each reading the 26 registers of the unit back to back.
Load fiftyClients(quint16 port, int unit, double window)
{
    std::atomic<bool> stop{false};
    std::vector<std::vector<double>> lat(50);
    std::vector<std::thread> threads;
    for (int k = 0; k < 50; ++k)
        threads.emplace_back([&, k] {
            modbus_t *ctx = modbus_new_tcp("127.0.0.1", port);
            modbus_set_slave(ctx, unit);
            modbus_set_response_timeout(ctx, 2, 0);
            if (modbus_connect(ctx) != 0)
                return;
            uint16_t r[26];
            while (!stop) {
                const auto t = Clock::now();
                if (modbus_read_input_registers(ctx, 0, 26, r) == 26)
                    lat[static_cast<std::size_t>(k)].push_back(seconds(t) * 1000);
            }
            modbus_close(ctx);
            modbus_free(ctx);
        });
    QThread::msleep(static_cast<unsigned long>(window * 1000));
    stop = true;
    for (auto &t : threads)
        t.join();
    std::vector<double> all;
    for (auto &l : lat)
        all.insert(all.end(), l.begin(), l.end());
    if (all.empty())
        return {};
    std::sort(all.begin(), all.end());
    return {double(all.size()) / window, all[all.size() * 99 / 100]};
}

long rssKb(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

double backup(const QStringList &connection, const QString &file, int address, quint32 baud)
{
    QProcess p;
    const auto t = Clock::now();
    p.start(QStringLiteral(RQ_BIN_DIR "/rqtool"),
            connection + QStringList{QStringLiteral("--address"), QString::number(address),
                                     QStringLiteral("--baud"), QString::number(baud),
                                     QStringLiteral("--quiet"), QStringLiteral("backup"), file});
    if (!p.waitForFinished(120000) || p.exitCode() != 0) {
        std::fprintf(stderr, "rqtool backup: %s\n", p.readAllStandardError().constData());
        return -1;
    }
    return seconds(t);
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    // The bus figures run pinned to one CPU and shielded from the machine's
    // other load, as the other benchmarks of the bus do; the Modbus and
    // memory figures run free, since their clients need the other CPU.
    cpu_set_t all;
    CPU_ZERO(&all);
    sched_getaffinity(0, sizeof all, &all);
    bench::pinToOneCpu();
    bench::shieldFromOtherLoad();
    bench::printCpus();
    QStringList modules;
    for (int a = 1; a <= 8; ++a)
        modules << QStringLiteral("--module") << QStringLiteral("%1:3510:1.08:115200").arg(a);
    const QList<int> seven = {1, 2, 3, 4, 5, 6, 7};
    const QList<int> eight = {1, 2, 3, 4, 5, 6, 7, 8};

    {
        SimProcess sim;
        if (!sim.start(modules + QStringList{QStringLiteral("--wire-time")})) {
            std::fprintf(stderr, "rqsim: %s\n", qPrintable(sim.errorString()));
            return 1;
        }
        // 1. Bus use. rqsim holds every reply for the wire time rounded up
        // to whole ms (2 ms at 115200 Bd); the floor is the true wire time.
        {
            GatewayProcess gw;
            if (!gw.start({QStringLiteral("--config"),
                           configFile(dir, QStringLiteral("8.ini"), sim.udpPort(), eight, 100)}))
                return 1;
            const double rate = cycleRate(gw.modbusPort, eight, 3, 10);
            const double floor = 1.0 / (15 * 23 * 10 / 115200.0);
            std::printf("8 modules at 115200 Bd with wire time: %.1f complete cycles/s, wire floor %.1f/s\n",
                        rate, floor);
            bench::printGoal("rqgw cycles/s / wire floor (8 modules, 115200 Bd)", rate / floor, 0.9, false);
        }
        // 2. A switched-off module: address 9 has no module.
        {
            GatewayProcess alone, withDead;
            if (!alone.start({QStringLiteral("--config"),
                              configFile(dir, QStringLiteral("7.ini"), sim.udpPort(), seven, 100)}))
                return 1;
            const double r7 = cycleRate(alone.modbusPort, seven, 3, 15);
            alone.stop();
            if (!withDead.start(
                    {QStringLiteral("--config"),
                     configFile(dir, QStringLiteral("7+1.ini"), sim.udpPort(), seven + QList<int>{9}, 100)}))
                return 1;
            const double r8 = cycleRate(withDead.modbusPort, seven, 3, 15);
            std::printf(
                "7 modules: %.1f cycles/s alone, %.1f cycles/s beside a switched-off module (timeout 100 ms, "
                "offline retry 5000 ms)\n",
                r7, r8);
            bench::printGoal("rqgw 7 modules beside a dead one / alone", r8 / r7, 0.95, false);
        }
    }
    // 4. Converter fairness: a backup through the converter at 9600 Bd
    // while the gateway polls 3 others, the others' ages sampled meanwhile.
    {
        SimProcess sim;
        QStringList four;
        for (int a = 1; a <= 4; ++a)
            four << QStringLiteral("--module") << QStringLiteral("%1:3510:1.08:9600").arg(a);
        if (!sim.start(four + QStringList{QStringLiteral("--wire-time")}))
            return 1;
        const double direct =
            backup(lan(sim.udpPort(), 1000), dir.filePath(QStringLiteral("direct.kee")), 1, 9600);
        const QList<int> others = {2, 3, 4};
        const QString ini = configFile(dir, QStringLiteral("3.ini"), sim.udpPort(), others, 1000, 9600);
        GatewayConfig cfg;
        LoadGatewayConfig(ini, cfg);
        const qint64 stale = DefaultStaleMs(cfg, cfg.modules.value(0));
        GatewayProcess gw;
        if (!gw.start({QStringLiteral("--config"), ini, QStringLiteral("--converter"),
                       QStringLiteral("127.0.0.1:0")}))
            return 1;
        // Until each of the others has completed a cycle: before that its age
        // reads "never" (0xFFFFFFFF), which is the start, not the backup.
        {
            modbus_t *ctx = modbus_new_tcp("127.0.0.1", gw.modbusPort);
            if (!ctx || modbus_connect(ctx) != 0)
                return 1;
            QElapsedTimer waited;
            waited.start();
            for (int done = 0; done < int(others.size()) && waited.elapsed() < 60000; QThread::msleep(100)) {
                done = 0;
                for (int unit : others) {
                    uint16_t r[2] = {};
                    modbus_set_slave(ctx, unit);
                    done += modbus_read_input_registers(ctx, 102, 2, r) == 2 &&
                            (r[0] != 0xFFFF || r[1] != 0xFFFF);
                }
            }
            modbus_close(ctx);
            modbus_free(ctx);
        }
        std::atomic<bool> stop{false};
        std::atomic<quint32> oldest{0};
        std::thread sampler([&] {
            modbus_t *ctx = modbus_new_tcp("127.0.0.1", gw.modbusPort);
            if (!ctx || modbus_connect(ctx) != 0)
                return;
            while (!stop) {
                for (int unit : others) {
                    uint16_t r[2] = {};
                    modbus_set_slave(ctx, unit);
                    if (modbus_read_input_registers(ctx, 102, 2, r) == 2)
                        oldest = std::max<quint32>(oldest, quint32(r[0]) << 16 | r[1]);
                }
                QThread::msleep(20);
            }
            modbus_close(ctx);
            modbus_free(ctx);
        });
        const double shared =
            backup(lan(gw.converterPort, 2000), dir.filePath(QStringLiteral("shared.kee")), 1, 9600);
        stop = true;
        sampler.join();
        if (direct <= 0 || shared <= 0)
            return 1;
        std::printf(
            "rqtool backup at 9600 Bd with wire time: direct %.2f s, through the gateway polling 3 others "
            "%.2f s; the others' largest age %u ms, their stale age %lld ms\n",
            direct, shared, oldest.load(), static_cast<long long>(stale));
        bench::printGoal("others' largest age during the backup / stale age", double(oldest) / double(stale),
                         1.0);
        bench::printGoal("rqtool backup through rqgw / direct", shared / direct, 2.0);
    }
    sched_param normal{};
    sched_setscheduler(0, SCHED_OTHER, &normal);
    sched_setaffinity(0, sizeof all, &all);
    // 3. Modbus TCP, 50 clients, while the gateway polls a module at 9600 Bd.
    {
        SimProcess sim;
        if (!sim.start({QStringLiteral("--module"), QStringLiteral("1:3510"), QStringLiteral("--wire-time")}))
            return 1;
        GatewayProcess gw;
        if (!gw.start(lan(sim.udpPort()) + QStringList{QStringLiteral("--address"), QStringLiteral("1")}))
            return 1;
        QThread::msleep(1500);
        std::atomic<bool> stop{false}, ready{false};
        const quint16 plainPort = freePort();
        std::thread plain(plainServer, plainPort, std::ref(stop), std::ref(ready));
        while (!ready)
            QThread::msleep(10);
        const Load ref = fiftyClients(plainPort, 1, 5);
        const Load ours = fiftyClients(gw.modbusPort, 1, 5);
        stop = true;
        plain.join();
        std::printf(
            "50 Modbus TCP clients, 26 input registers: rqgw %.0f requests/s (p99 %.2f ms), plain libmodbus "
            "server %.0f requests/s (p99 %.2f ms)\n",
            ours.rate, ours.p99ms, ref.rate, ref.p99ms);
        bench::printGoal("rqgw Modbus requests/s / plain libmodbus server",
                         ref.rate > 0 ? ours.rate / ref.rate : 0, 0.8, false);
    }
    // 5. Memory over a long run, without wire time.
    {
        const quint64 target = qEnvironmentVariableIsSet("BENCH_GW_CYCLES")
                                   ? qEnvironmentVariable("BENCH_GW_CYCLES").toULongLong()
                                   : 100000;
        SimProcess sim;
        if (!sim.start(modules))
            return 1;
        GatewayProcess gw;
        if (!gw.start({QStringLiteral("--config"),
                       configFile(dir, QStringLiteral("m.ini"), sim.udpPort(), eight, 100)}))
            return 1;
        const auto t = Clock::now();
        QThread::msleep(60000);
        const long minute = rssKb(gw.pid());
        const quint64 atMinute = cycles(gw.modbusPort, eight);
        // Cycles come fast without wire time: 100,000 more after the minute.
        quint64 n = atMinute;
        while (n < atMinute + target) {
            QThread::msleep(5000);
            n = cycles(gw.modbusPort, eight);
        }
        const long end = rssKb(gw.pid());
        std::printf(
            "memory: RSS %ld kB after one minute (%llu cycles), %ld kB after %llu cycles in all (%.0f s)\n",
            minute, static_cast<unsigned long long>(atMinute), end, static_cast<unsigned long long>(n),
            seconds(t));
        bench::printGoal("rqgw RSS after 100,000 cycles / after one minute", double(end) / double(minute),
                         1.1);
    }
    return 0;
}
