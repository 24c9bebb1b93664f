// rqgw: every RQ module on one bus as a Modbus TCP device, and the bus
// shared with the service tool through the LAN converter protocol.
#include "gateway/GatewayConfig.h"
#include "gateway/Log.h"
#include "gateway/Metrics.h"
#include "gateway/ModbusServer.h"
#include "gateway/MqttPublisher.h"
#include "gateway/Poller.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <systemd/sd-daemon.h>

#include <csignal>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

namespace {
// Another live gateway has this name on the broker.
constexpr int NameTakenExit = 3;

int fail(const QString &text, int code)
{
    std::fprintf(stderr, "rqgw: %s\n", text.toUtf8().constData());
    return code;
}
} // namespace

int main(int argc, char **argv)
{
    // Signals are taken by sigtimedwait below; every thread inherits the mask.
    sigset_t handled;
    sigemptyset(&handled);
    sigaddset(&handled, SIGTERM);
    sigaddset(&handled, SIGINT);
    sigaddset(&handled, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &handled, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    GatewayCommand cmd;
    if (const auto e = ParseGatewayArguments(args, cmd))
        return fail(e->text(), 2);
    if (cmd.action == GatewayCommand::Action::Help) {
        std::fputs(GatewayUsage().toUtf8().constData(), stdout);
        return 0;
    }
    if (cmd.action == GatewayCommand::Action::Version) {
        std::printf("rqgw %s\n", RQ_VERSION);
        return 0;
    }
    GatewayConfig &cfg = cmd.config;
    if (cmd.action == GatewayCommand::Action::CheckConfig) {
        for (const QString &w : UnitWarnings(cfg))
            std::fprintf(stderr, "rqgw: %s\n", w.toUtf8().constData());
        QString password, error;
        if (!ReadMqttPassword(cfg, password, error))
            return fail(QStringLiteral("%1: %2").arg(cfg.file, error), 2);
        if (!cfg.mqttCafile.isEmpty() && !QFileInfo(cfg.mqttCafile).isReadable())
            return fail(QStringLiteral("%1: mqtt-cafile: soubor %2 nelze číst").arg(cfg.file, cfg.mqttCafile),
                        2);
        std::printf("%s: v pořádku, %lld modulů\n", cfg.file.toUtf8().constData(),
                    static_cast<long long>(cfg.modules.size()));
        return 0;
    }
    SetLogName(cfg.name);
    SetLogLevel(LogLevelOf(cmd.logLevel));
    for (const QString &w : UnitWarnings(cfg))
        Log(LogLevel::Warning, w);

    // Many Modbus clients each hold a descriptor.
    rlimit lim{};
    if (getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur < lim.rlim_max) {
        lim.rlim_cur = std::min<rlim_t>(lim.rlim_max, 65536);
        setrlimit(RLIMIT_NOFILE, &lim);
    }

    SnapshotStore store;
    Poller poller(cfg, store);
    QString error;
    if (!poller.openConverter(error))
        return fail(error, 1);
    ModbusServer server(store, poller, cfg.modbusLimits);
    if (!server.listen(cfg.modbus, error))
        return fail(QStringLiteral("Modbus TCP: %1").arg(error), 1);
    poller.setWriteDone([&server] { server.wake(); });

    char host[256] = {};
    gethostname(host, sizeof host - 1);
    const QString plantName = MqttName(cfg, QString::fromLocal8Bit(host));
    std::unique_ptr<MqttPublisher> mqtt;
    if (cfg.mqtt) {
        // What tells this gateway from another of its name on this host.
        const QString instance = cfg.file.isEmpty()
                                     ? QStringLiteral("modbus %1:%2").arg(cfg.modbus.host).arg(server.port())
                                     : QFileInfo(cfg.file).absoluteFilePath();
        mqtt = std::make_unique<MqttPublisher>(cfg, plantName, instance, store, poller);
        if (!mqtt->start(error))
            return fail(QStringLiteral("MQTT: %1").arg(error), 1);
        // One name, one gateway: a broker that answers tells at once whether
        // another one of this name is live; one that does not is asked when
        // it answers.
        if (mqtt->waitForNameCheck(5000) == MqttPublisher::NameCheck::Refused) {
            mqtt->stop();
            return fail(mqtt->refusal(), NameTakenExit);
        }
        poller.addObserver(mqtt.get());
        Log(LogLevel::Info, QStringLiteral("MQTT: broker %1:%2, témata %3/…")
                                .arg(cfg.mqtt->host)
                                .arg(cfg.mqtt->port)
                                .arg(QString::fromUtf8(mqtt->base())));
    }
    std::unique_ptr<Metrics> metrics;
    if (cfg.metrics) {
        MqttPublisher *m = mqtt.get();
        metrics = std::make_unique<Metrics>(plantName, store, &server.requests,
                                            [m] { return m && m->connected(); });
        if (!metrics->listen(*cfg.metrics, error))
            return fail(QStringLiteral("metriky: %1").arg(error), 1);
        poller.addObserver(metrics.get());
    }
    // The watchdog is fed by the polling thread itself whenever it ends a
    // scheduling step: a stuck poller gets the service restarted, a dead
    // bus does not (failed transactions are steps too).
    uint64_t watchdogUs = 0;
    if (sd_watchdog_enabled(0, &watchdogUs) > 0) {
        const qint64 feedMs = std::max<qint64>(1, static_cast<qint64>(watchdogUs / 4000));
        poller.setStepDone([feedMs, last = qint64(-1)]() mutable {
            const qint64 now = MonotonicMs();
            if (last >= 0 && now - last < feedMs)
                return; // a few a period do; thousands a second would only load the service manager
            last = now;
            sd_notify(0, "WATCHDOG=1");
        });
    }
    poller.start();
    server.start();
    Log(LogLevel::Info, QStringLiteral("Modbus TCP na %1:%2").arg(cfg.modbus.host).arg(server.port()));
    if (cfg.converter)
        Log(LogLevel::Info,
            QStringLiteral("LAN konvertor na %1:%2").arg(cfg.converter->host).arg(poller.converterPort()));
    // Tests and scripts that asked for port 0 learn the ports here.
    std::printf("modbus %u\n", server.port());
    if (cfg.converter)
        std::printf("converter %u\n", poller.converterPort());
    if (metrics) {
        Log(LogLevel::Info,
            QStringLiteral("metriky na http://%1:%2/metrics").arg(cfg.metrics->host).arg(metrics->port()));
        std::printf("metrics %u\n", metrics->port());
    }
    std::printf("ready\n");
    std::fflush(stdout);
    sd_notify(0, "READY=1");

    int code = 0;
    for (;;) {
        timespec ts{1, 0};
        siginfo_t info{};
        const int sig = sigtimedwait(&handled, &info, &ts);
        if (mqtt && mqtt->refused()) {
            code = NameTakenExit; // found on a later connection: the other one stays
            sd_notify(0, "STOPPING=1");
            break;
        }
        if (sig == SIGTERM || sig == SIGINT) {
            Log(LogLevel::Info, QStringLiteral("končím"));
            sd_notify(0, "STOPPING=1");
            break;
        }
        if (sig == SIGHUP) {
            sd_notify(0, "RELOADING=1");
            GatewayCommand again;
            if (const auto e = ParseGatewayArguments(args, again)) {
                Log(LogLevel::Error,
                    QStringLiteral("konfigurace nenačtena, platí dosavadní: %1").arg(e->text()));
            } else {
                if (!(again.config.modbus == cfg.modbus) || again.config.converter != cfg.converter)
                    Log(LogLevel::Warning, QStringLiteral("změna adres serverů se projeví až po restartu"));
                if (again.config.mqtt != cfg.mqtt || again.config.metrics != cfg.metrics ||
                    again.config.mqttUser != cfg.mqttUser || again.config.mqttCafile != cfg.mqttCafile ||
                    again.config.mqttIntervalMs != cfg.mqttIntervalMs ||
                    again.config.haDiscovery != cfg.haDiscovery ||
                    again.config.mqttValues != cfg.mqttValues ||
                    again.config.mqttTopicsFile != cfg.mqttTopicsFile ||
                    MqttName(again.config, QString::fromLocal8Bit(host)) != plantName)
                    Log(LogLevel::Warning,
                        QStringLiteral("změna nastavení MQTT a metrik se projeví až po restartu"));
                for (const QString &w : UnitWarnings(again.config))
                    Log(LogLevel::Warning, w);
                poller.reload(again.config);
            }
            sd_notify(0, "READY=1");
        }
    }
    server.stop();
    poller.stop();
    if (mqtt)
        mqtt->stop();
    return code;
}
