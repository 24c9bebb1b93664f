// rqgw and its broker.
//
// 1. From a complete cycle to the state message at a subscriber: the
//    gateway's publisher handed a cycle as the polling thread hands it,
//    beside a bare libmosquitto client, already connected, that publishes
//    the same payload; one broker, one subscriber, taking turns.
// 2. Eight gateways of 25 modules each (rqsim at 115200 Bd with the wire's
//    time), every module polled and published once a second: the CPU of
//    all gateways together, and each one's memory, before and after the
//    broker is away for a minute (BENCH_MQTT_AWAY_S to change).
#include "BenchCpu.h"
#include "gateway/Broker.h"
#include "gateway/GatewayProcess.h"
#include "gateway/MqttPublisher.h"
#include "support/SimProcess.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <mosquitto.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;

// The subscriber: notes when the next message arrives.
struct Receiver
{
    std::mutex lock;
    std::condition_variable arrived;
    int count = 0;
    Clock::time_point at;
};

void onMessage(mosquitto *, void *self, const mosquitto_message *)
{
    auto *r = static_cast<Receiver *>(self);
    {
        std::lock_guard l(r->lock);
        r->at = Clock::now();
        ++r->count;
    }
    r->arrived.notify_all();
}

mosquitto *client(const Broker &b, const char *id, void *self)
{
    mosquitto *m = mosquitto_new(id, true, self);
    mosquitto_username_pw_set(m, b.user.toUtf8().constData(), b.password.toUtf8().constData());
    if (mosquitto_connect(m, "127.0.0.1", b.port, 30) != MOSQ_ERR_SUCCESS)
        return nullptr;
    mosquitto_loop_start(m);
    return m;
}

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0
                     : v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

qint64 cpuTicks(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray s = f.readAll();
    const QList<QByteArray> fields = s.mid(s.lastIndexOf(')') + 2).split(' ');
    return fields.value(11).toLongLong() + fields.value(12).toLongLong(); // utime, stime
}

void latency(const Broker &broker)
{
    Receiver rx;
    mosquitto *sub = client(broker, "bench-sub", &rx);
    mosquitto_message_callback_set(sub, onMessage);
    mosquitto_subscribe(sub, nullptr, "rq/bench/#", 1);
    mosquitto *bare = client(broker, "bench-bare", nullptr);

    GatewayConfig cfg;
    cfg.name = QStringLiteral("bench");
    cfg.nameSet = true;
    cfg.mqtt = Endpoint{QStringLiteral("127.0.0.1"), broker.port};
    cfg.mqttUser = broker.user;
    cfg.mqttIntervalMs = 0;
    QTemporaryDir dir;
    QFile pw(dir.filePath(QStringLiteral("pw")));
    pw.open(QIODevice::WriteOnly);
    pw.write(broker.password.toUtf8());
    pw.close();
    cfg.mqttPasswordFile = pw.fileName();
    GatewayModule gm;
    gm.name = QStringLiteral("m1");
    gm.address = 1;
    gm.unit = 1;
    cfg.modules = {gm};
    SnapshotStore store;
    Poller poller(cfg, store); // never started: only its write queue is there
    MqttPublisher gw(cfg, QStringLiteral("bench"), QStringLiteral("bench"), store, poller);
    QString error;
    gw.start(error);
    for (int i = 0; i < 200 && !gw.connected(); ++i)
        QThread::msleep(10);

    ModuleSnapshot m;
    m.name = gm.name;
    m.address = 1;
    m.model = QStringLiteral("RQ-3510");
    m.firmware = QStringLiteral("1.08");
    m.online = true;
    for (int i = 0; i < 12; ++i) {
        m.ain[static_cast<std::size_t>(i)] = 0.9537f + static_cast<float>(i);
        m.ainUnit[static_cast<std::size_t>(i)] = 1;
        m.ainDecimals[static_cast<std::size_t>(i)] = 5;
    }
    m.temperature = 25.0f;
    m.temperatureUnit = 3;
    m.completeCycles = 1;
    const QByteArray payload = StateJson(m, QDateTime::currentDateTime());

    const auto wait = [&rx](int n) {
        std::unique_lock l(rx.lock);
        rx.arrived.wait_for(l, std::chrono::seconds(5), [&] { return rx.count >= n; });
        return rx.at;
    };
    std::vector<double> ours, baseline;
    constexpr int Rounds = 2000;
    for (int k = 0; k < Rounds + 100; ++k) {
        int n = 0;
        {
            std::lock_guard l(rx.lock);
            n = rx.count;
        }
        m.lastCompleteMs = MonotonicMs();
        auto t0 = Clock::now();
        gw.cycleComplete(m); // as the polling thread calls it at the end of a cycle
        const double a = std::chrono::duration<double, std::micro>(wait(n + 1) - t0).count();
        t0 = Clock::now();
        mosquitto_publish(bare, nullptr, "rq/bench/1/bare", static_cast<int>(payload.size()),
                          payload.constData(), 1, true);
        const double b = std::chrono::duration<double, std::micro>(wait(n + 2) - t0).count();
        if (k >= 100) { // warmed up
            ours.push_back(a);
            baseline.push_back(b);
        }
    }
    std::printf("cycle -> state at a subscriber (%d each, %lld-byte payload, QoS 1, retained):\n", Rounds,
                static_cast<long long>(payload.size()));
    std::printf("  rqgw publisher       median %7.1f us  p99 %7.1f us\n", percentile(ours, 0.5),
                percentile(ours, 0.99));
    std::printf("  bare libmosquitto    median %7.1f us  p99 %7.1f us\n", percentile(baseline, 0.5),
                percentile(baseline, 0.99));
    bench::printGoal("state latency, rqgw / bare libmosquitto (median)",
                     percentile(ours, 0.5) / percentile(baseline, 0.5), 1.5);
    gw.stop();
    mosquitto_disconnect(bare);
    mosquitto_loop_stop(bare, false);
    mosquitto_destroy(bare);
    mosquitto_disconnect(sub);
    mosquitto_loop_stop(sub, false);
    mosquitto_destroy(sub);
}

void fleet(Broker &broker, const QString &dirPath)
{
    constexpr int Gateways = 8, Modules = 25;
    std::vector<std::unique_ptr<SimProcess>> sims;
    std::vector<std::unique_ptr<GatewayProcess>> gws;
    QFile pw(dirPath + QStringLiteral("/pw"));
    pw.open(QIODevice::WriteOnly);
    pw.write(broker.password.toUtf8());
    pw.close();
    for (int g = 0; g < Gateways; ++g) {
        QStringList simArgs{QStringLiteral("--wire-time")};
        QByteArray ini = "[gateway]\nname=bus" + QByteArray::number(g) +
                         "\nmqtt=127.0.0.1:" + QByteArray::number(broker.port) +
                         "\nmqtt-user=" + broker.user.toUtf8() +
                         "\nmqtt-password-file=" + pw.fileName().toUtf8() + "\nmqtt-interval=1000\n";
        auto sim = std::make_unique<SimProcess>();
        for (int a = 1; a <= Modules; ++a)
            simArgs << QStringLiteral("--module") << QStringLiteral("%1:3510:1.08:115200").arg(a);
        if (!sim->start(simArgs)) {
            std::printf("rqsim did not start: %s\n", qPrintable(sim->errorString()));
            return;
        }
        ini += "[bus]\nadapter=lan\nip=127.0.0.1\nudp-port=" + QByteArray::number(sim->udpPort()) +
               "\nudp-timeout=100\nbaud=115200\n";
        for (int a = 1; a <= Modules; ++a)
            ini += "[module m" + QByteArray::number(a) + "]\naddress=" + QByteArray::number(a) +
                   "\ninterval=1000\n";
        const QString file = dirPath + QStringLiteral("/bus%1.ini").arg(g);
        QFile f(file);
        f.open(QIODevice::WriteOnly);
        f.write(ini);
        f.close();
        auto gw = std::make_unique<GatewayProcess>();
        if (!gw->start({QStringLiteral("--config"), file})) {
            std::printf("rqgw %d did not start: %s\n", g, qPrintable(gw->log()));
            return;
        }
        sims.push_back(std::move(sim));
        gws.push_back(std::move(gw));
    }
    QThread::sleep(8); // every module read once, settings included
    const auto measure = [&](int seconds) {
        std::vector<qint64> before;
        for (auto &gw : gws)
            before.push_back(cpuTicks(gw->pid()));
        const auto t0 = Clock::now();
        QThread::sleep(static_cast<unsigned long>(seconds));
        const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
        qint64 ticks = 0;
        for (std::size_t i = 0; i < gws.size(); ++i)
            ticks += cpuTicks(gws[i]->pid()) - before[i];
        return 100.0 * static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK)) / wall;
    };
    const auto rss = [&] {
        QString out;
        for (auto &gw : gws)
            out += QStringLiteral(" %1").arg(gw->rssKb());
        return out;
    };
    const double cpu = measure(20);
    std::printf(
        "%d gateways x %d modules, interval=1000, a state a second each: CPU of all gateways %.2f %% of one core\n",
        Gateways, Modules, cpu);
    std::printf("  RSS of each (kB):%s\n", qPrintable(rss()));
    bench::printGoal("CPU of 8 gateways x 25 modules, % of one core / 10 %", cpu / 10.0, 1.0);

    const int away = qEnvironmentVariableIsSet("BENCH_MQTT_AWAY_S")
                         ? qEnvironmentVariableIntValue("BENCH_MQTT_AWAY_S")
                         : 60;
    broker.stop();
    QThread::sleep(static_cast<unsigned long>(away));
    std::printf("  after %d s without the broker, RSS (kB):%s\n", away, qPrintable(rss()));
    broker.restart();
    const auto t0 = Clock::now();
    int back = 0;
    while (back < Gateways && Clock::now() - t0 < std::chrono::seconds(60)) {
        back = 0;
        for (const auto &[topic, payload] : broker.retained(QStringLiteral("rq/+/status")))
            back += payload == "online";
    }
    std::printf("  broker back: %d of %d gateways online again after %.1f s; RSS (kB):%s\n", back, Gateways,
                std::chrono::duration<double>(Clock::now() - t0).count(), qPrintable(rss()));
    int states = 0;
    for (const auto &[topic, payload] : broker.retained(QStringLiteral("rq/+/+/state")))
        states += !payload.isEmpty();
    std::printf("  retained states after the restart: %d of %d\n", states, Gateways * Modules);
    for (auto &gw : gws)
        gw->stop();
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (const QString why = Broker::missing(); !why.isEmpty()) {
        std::printf("skipped: %s\n", qPrintable(why));
        return 0;
    }
    QTemporaryDir dir;
    Broker broker;
    if (!broker.start(dir.path(), true, false)) {
        std::printf("mosquitto did not start: %s\n", qPrintable(broker.log()));
        return 1;
    }
    mosquitto_lib_init();
    latency(broker);
    fleet(broker, dir.path());
    return 0;
}
