// rqgw's Modbus TCP server against hostile clients, each figure beside its
// reference in the same run:
//  1. 50 well-behaved libmodbus clients reading 26 input registers back to
//     back, p99 alone and beside 20 hostile clients (6 slow senders at one
//     byte per 80 ms, 6 half frames, 6 clients that never read, 2 opening
//     2,500 connections each): the goal is p99 <= max(2 x alone, alone +
//     5 ms); the gateway alive and its descriptors back afterwards;
//  2. 1,100 idle connections, then one read: with the limits raised so that
//     all are held, and with the default limits (the rest refused).
#include "BenchCpu.h"
#include "gateway/GatewayProcess.h"
#include "support/HostileClients.h"
#include "support/SimProcess.h"

#include <QCoreApplication>
#include <QThread>

#include <modbus.h>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;

double ms(Clock::time_point from)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - from).count();
}

// Connected libmodbus clients of unit 1. Made before the hostile clients
// open their thousands of descriptors in this process: libmodbus waits with
// select(), which cannot watch a descriptor of 1024 or more.
std::vector<modbus_t *> connectClients(quint16 port, int n)
{
    std::vector<modbus_t *> all;
    for (int k = 0; k < n; ++k) {
        modbus_t *ctx = modbus_new_tcp("127.0.0.1", port);
        modbus_set_slave(ctx, 1);
        modbus_set_response_timeout(ctx, 30, 0);
        if (modbus_connect(ctx) != 0) {
            modbus_free(ctx);
            ctx = nullptr;
        }
        all.push_back(ctx);
    }
    return all;
}

void closeClients(std::vector<modbus_t *> &all)
{
    for (modbus_t *ctx : all)
        if (ctx) {
            modbus_close(ctx);
            modbus_free(ctx);
        }
    all.clear();
}

// The clients reading the 26 registers back to back for window seconds;
// the p99 of their reads in ms, -1 when a read failed.
double clientsP99(const std::vector<modbus_t *> &clients, double window)
{
    std::atomic<bool> stop{false};
    std::atomic<int> failed{0};
    std::vector<std::vector<double>> lat(clients.size());
    std::vector<std::thread> threads;
    for (std::size_t k = 0; k < clients.size(); ++k)
        threads.emplace_back([&, k] {
            modbus_t *ctx = clients[k];
            if (!ctx) {
                ++failed;
                return;
            }
            uint16_t r[26];
            while (!stop) {
                const auto t = Clock::now();
                if (modbus_read_input_registers(ctx, 0, 26, r) == 26)
                    lat[k].push_back(ms(t));
                else
                    ++failed;
            }
        });
    QThread::msleep(static_cast<unsigned long>(window * 1000));
    stop = true;
    for (auto &t : threads)
        t.join();
    std::vector<double> all;
    for (auto &l : lat)
        all.insert(all.end(), l.begin(), l.end());
    if (all.empty() || failed)
        return -1;
    std::sort(all.begin(), all.end());
    return all[all.size() * 99 / 100];
}

// One read on a client connected before: ms, -1 when it failed.
double oneRead(modbus_t *ctx)
{
    const auto t = Clock::now();
    uint16_t r[26];
    const bool ok = ctx && modbus_read_input_registers(ctx, 0, 26, r) == 26;
    return ok ? ms(t) : -1;
}

double oneRead(quint16 port)
{
    auto c = connectClients(port, 1);
    const double took = oneRead(c[0]);
    closeClients(c);
    return took;
}

// Waits up to 30 s for the gateway's descriptors to come back to fds (or below).
bool descriptorsBack(const GatewayProcess &gw, int fds)
{
    for (int k = 0; k < 300; ++k) {
        if (gw.openFds() <= fds)
            return true;
        QThread::msleep(100);
    }
    return false;
}

bool alive(GatewayProcess &gw)
{
    return ::kill(pid_t(gw.pid()), 0) == 0 && oneRead(gw.modbusPort) >= 0;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // Thousands of connections: each holds a descriptor here too.
    rlimit lim{};
    if (getrlimit(RLIMIT_NOFILE, &lim) == 0) {
        lim.rlim_cur = lim.rlim_max;
        setrlimit(RLIMIT_NOFILE, &lim);
    }
    bench::printCpus();
    SimProcess sim;
    if (!sim.start({QStringLiteral("--module"), QStringLiteral("1:3510")})) {
        std::fprintf(stderr, "rqsim: %s\n", qPrintable(sim.errorString()));
        return 1;
    }
    const QStringList bus = {QStringLiteral("--adapter"),     QStringLiteral("lan"),
                             QStringLiteral("--ip"),          QStringLiteral("127.0.0.1"),
                             QStringLiteral("--udp-port"),    QString::number(sim.udpPort()),
                             QStringLiteral("--udp-timeout"), QStringLiteral("200"),
                             QStringLiteral("--address"),     QStringLiteral("1")};
    int failures = 0;
    // 1. 50 clients beside 20 hostile ones.
    {
        GatewayProcess gw;
        if (!gw.start(bus))
            return 1;
        QThread::msleep(2000);
        auto clients = connectClients(gw.modbusPort, 50);
        const int fds = gw.openFds();
        const double alone = clientsP99(clients, 5);
        using K = HostileClients::Kind;
        std::vector<std::unique_ptr<HostileClients>> hostile;
        hostile.push_back(std::make_unique<HostileClients>(K::SlowSender, 6, gw.modbusPort, "127.0.0.2"));
        hostile.push_back(std::make_unique<HostileClients>(K::HalfFrame, 6, gw.modbusPort, "127.0.0.3"));
        hostile.push_back(std::make_unique<HostileClients>(K::NonReader, 6, gw.modbusPort, "127.0.0.4"));
        hostile.push_back(std::make_unique<HostileClients>(K::Connections, 2500, gw.modbusPort, "127.0.0.5"));
        hostile.push_back(std::make_unique<HostileClients>(K::Connections, 2500, gw.modbusPort, "127.0.0.6"));
        for (auto &h : hostile)
            h->start();
        QThread::msleep(1000);
        const double beside = clientsP99(clients, 5);
        int attempts = 0, refused = 0;
        for (auto &h : hostile) {
            attempts += h->attempts();
            refused += h->closed();
        }
        hostile.clear();
        closeClients(clients);
        const bool up = alive(gw);
        const bool back = descriptorsBack(gw, fds);
        const double goal = std::max(2 * alone, alone + 5);
        std::printf(
            "50 Modbus TCP clients, 26 input registers: p99 %.2f ms alone, %.2f ms beside 20 hostile "
            "clients (%d connection attempts, %d closed or refused by the gateway); goal p99 <= %.2f ms; "
            "gateway %s, descriptors %s\n",
            alone, beside, attempts, refused, goal, up ? "alive" : "DEAD", back ? "back" : "NOT back");
        if (alone <= 0 || beside <= 0 || !up || !back)
            ++failures;
        bench::printGoal("rqgw p99 beside hostile clients / max(2 x, +5 ms) alone",
                         beside > 0 ? beside / goal : 99, 1.0);
    }
    // 2. 1,100 idle connections and one read.
    for (const bool raised : {true, false}) {
        GatewayProcess gw;
        QStringList args = bus;
        if (raised)
            args << QStringLiteral("--max-connections") << QStringLiteral("2000")
                 << QStringLiteral("--max-connections-per-address") << QStringLiteral("2000");
        if (!gw.start(args))
            return 1;
        QThread::msleep(2000);
        const int fds = gw.openFds();
        // Connected first, so that it has a descriptor select() can watch.
        auto reader = connectClients(gw.modbusPort, 1);
        HostileClients idle(HostileClients::Kind::Connections, 1100, gw.modbusPort, "127.0.0.7");
        idle.start();
        const auto t = Clock::now();
        while (idle.open() + idle.closed() < 1100 && ms(t) < 30000)
            QThread::msleep(50);
        QThread::msleep(500);
        const int held = idle.open(), refused = idle.closed(), gwFds = gw.openFds() - fds;
        const double read = oneRead(reader[0]);
        closeClients(reader);
        idle.stop();
        const bool up = alive(gw);
        const bool back = descriptorsBack(gw, fds);
        std::printf(
            "1,100 idle connections (%s): %d held, %d refused, gateway descriptors +%d; one read then "
            "answered in %.2f ms; gateway %s, descriptors %s\n",
            raised ? "limits raised to 2000" : "default limits", held, refused, gwFds, read,
            up ? "alive" : "DEAD", back ? "back" : "NOT back");
        if (read < 0 || !up || !back)
            ++failures;
    }
    return failures ? 1 : 0;
}
