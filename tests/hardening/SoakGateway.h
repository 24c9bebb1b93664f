// The gateway path of the soak: rqgw polls modules 1-3 on an rqsim bus that
// damages a share of its replies, while two Modbus TCP clients read every
// module's 32 digital inputs (discrete inputs 0..31) and its analog inputs
// (floats in input registers 0..23), which the soak changes on rqsim all the
// time; rqgw also publishes every module's state to a mosquitto of the
// soak's own, read by a subscriber here. A value may be old, never wrong:
// every value read or published must be one rqsim held at some moment
// within --stale (and a little slack) before the read or the message came.
// Module 3 goes silent now and then for three times --stale: past --stale
// its unit must answer 0x0B, never its last value, and MQTT must call it
// offline. rqtool backs up module 1 through the gateway's LAN converter
// port, then, with the faults off for a while, writes the module's image
// back whole (the gateway polls the module meanwhile and must start its
// cycle anew). A backup it calls good must equal rqsim's memory; a restore
// must be good. rqgw's descriptors and resident memory are compared between
// the first seconds and the end.
#ifndef RQ_TESTS_HARDENING_SOAKGATEWAY_H
#define RQ_TESTS_HARDENING_SOAKGATEWAY_H

#include "../gateway/Broker.h"
#include "app/Dekl.h"
#include "support/SimProcess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <modbus.h>
#include <mosquitto.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <sys/prctl.h>
#include <vector>

struct GatewayTally
{
    qint64 reads = 0, values = 0, analogReads = 0, analogValues = 0, offlineAnswers = 0, wrong = 0,
           stalePast = 0, silent = 0, hangs = 0;
    qint64 backups = 0, backupsGood = 0, backupsCut = 0, restores = 0, restoresGood = 0, bytesChecked = 0;
    bool mqtt = false; // false: no broker here, the MQTT checks were skipped
    qint64 mqttStates = 0, mqttValues = 0, mqttWrong = 0, mqttStalePast = 0, mqttOffline = 0,
           silentPeriods = 0, offlineLate = 0, offlineDelayMs = 0;
    qint64 fdStart = 0, fdEnd = 0, rssStartKb = 0, rssEndKb = 0;
    qint64 slowHonest = 0, slowestMs = 0; // honest requests slower than 1 s
    bool crashed = false;                 // rqgw was gone at the end
    bool started = false;
};

// The analog inputs the soak sets per module, on a grid far coarser than
// what the module resolves, so that one value is never taken for another:
// the RQ-3510 on its 2 V range (5 decimals, a converter step of 95 uV), the
// RQ-3520 on 0.5 V (6 decimals, 24 uV), the RQ-3530's six inputs on
// 5000 ohm (0.1 ohm, no converter: the value comes back exactly).
struct SoakAnalog
{
    int inputs;
    double grid;
    int lowest, highest; // in grid steps
    double tolerance;    // half a converter step and the last decimal's rounding
};
inline constexpr SoakAnalog SoakAnalogOf[4] = {
    {0, 0, 0, 0, 0}, {12, 0.01, -199, 199, 1e-4}, {12, 0.001, -499, 499, 2.5e-5}, {6, 0.5, 0, 9999, 0}};

// A subscriber to everything rqgw publishes, on libmosquitto's own thread:
// each message is stamped with the soak's clock when it arrives (the main
// thread may be waiting for rqtool meanwhile) and judged later.
class SoakSubscriber
{
public:
    struct Message
    {
        qint64 at;
        QByteArray topic, payload;
    };

    explicit SoakSubscriber(const QElapsedTimer &clock) : m_clock(clock) {}
    ~SoakSubscriber()
    {
        if (!m_mosq)
            return;
        mosquitto_disconnect(m_mosq);
        mosquitto_loop_stop(m_mosq, false);
        mosquitto_destroy(m_mosq);
        mosquitto_lib_cleanup();
    }

    // True once subscribed to filter on the broker at port.
    bool start(quint16 port, const QByteArray &filter)
    {
        m_filter = filter;
        mosquitto_lib_init();
        m_mosq = mosquitto_new("rqsoak", true, this);
        if (!m_mosq)
            return false;
        mosquitto_connect_callback_set(m_mosq, [](mosquitto *m, void *self, int rc) {
            if (rc == 0)
                mosquitto_subscribe(m, nullptr, static_cast<SoakSubscriber *>(self)->m_filter.constData(), 1);
        });
        mosquitto_subscribe_callback_set(m_mosq, [](mosquitto *, void *self, int, int, const int *) {
            static_cast<SoakSubscriber *>(self)->m_subscribed = true;
        });
        mosquitto_message_callback_set(m_mosq, [](mosquitto *, void *self, const mosquitto_message *msg) {
            auto *s = static_cast<SoakSubscriber *>(self);
            Message m{s->m_clock.elapsed(), QByteArray(msg->topic),
                      QByteArray(static_cast<const char *>(msg->payload), std::max(msg->payloadlen, 0))};
            std::lock_guard lock(s->m_lock);
            s->m_messages.push_back(std::move(m));
        });
        if (mosquitto_connect(m_mosq, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS ||
            mosquitto_loop_start(m_mosq) != MOSQ_ERR_SUCCESS)
            return false;
        for (int i = 0; i < 500 && !m_subscribed; ++i)
            QThread::msleep(10);
        return m_subscribed;
    }

    // From libmosquitto's thread too: it is safe with the loop running.
    bool publish(const QByteArray &topic, const QByteArray &payload, bool retain)
    {
        return m_mosq && mosquitto_publish(m_mosq, nullptr, topic.constData(), int(payload.size()),
                                           payload.constData(), 0, retain) == MOSQ_ERR_SUCCESS;
    }

    std::vector<Message> take()
    {
        std::lock_guard lock(m_lock);
        return std::exchange(m_messages, {});
    }

private:
    const QElapsedTimer &m_clock;
    QByteArray m_filter;
    mosquitto *m_mosq = nullptr;
    std::atomic<bool> m_subscribed{false};
    std::mutex m_lock;
    std::vector<Message> m_messages;
};

class GatewaySoak
{
public:
    static constexpr int StaleMs = 1000;
    // The gateway dates a cycle's values by its first transaction, so a
    // value it serves as fresh was read within --stale: the slack is for
    // the clocks' milliseconds only.
    static constexpr int SlackMs = 100;
    // A silence shorter than --stale and this is not judged.
    static constexpr int OfflineSlackMs = 600;
    // After a broker hold, what waited for it is delivered within this.
    static constexpr int HoldSlackMs = 3000;

    GatewaySoak(SimProcess &sim, quint32 seed, quint32 timeoutMs, std::function<bool()> faultsOn)
        : m_sim(sim), m_random(seed), m_timeoutMs(timeoutMs), m_faultsOn(std::move(faultsOn))
    {
        m_clock.start();
    }
    ~GatewaySoak()
    {
        for (modbus_t *c : m_clients)
            if (c) {
                modbus_close(c);
                modbus_free(c);
            }
        if (m_gw.state() != QProcess::NotRunning) {
            ::kill(pid_t(m_gw.processId()), SIGTERM);
            if (!m_gw.waitForFinished(5000)) {
                m_gw.kill();
                m_gw.waitForFinished(2000);
            }
        }
    }

    // Starts a broker and rqgw on a configuration file and waits until it
    // serves every module.
    bool start()
    {
        QByteArray mqtt;
        if (Broker::program().isEmpty() ||
            QStandardPaths::findExecutable(QStringLiteral("mosquitto_pub")).isEmpty()) {
            std::fprintf(stderr, "rqsoak: mosquitto is not installed: the MQTT checks are skipped\n");
        } else if (!m_broker.start(m_dir.path(), false, false) ||
                   !m_subscriber.start(m_broker.port, "rq/soak/#")) {
            std::fprintf(stderr, "rqsoak: mosquitto did not start: %s\n", qPrintable(m_broker.log()));
            return false;
        } else {
            m_t.mqtt = true;
            mqtt = "mqtt=127.0.0.1:" + QByteArray::number(m_broker.port) + "\nmqtt-interval=100\n";
        }
        // Known analog values before the gateway reads its first cycle.
        for (int unit = 1; unit <= 3; ++unit)
            for (int k = 0; k < SoakAnalogOf[unit].inputs; ++k)
                if (!setAnalog(unit, k))
                    return false;
        const QString ini = m_dir.filePath(QStringLiteral("soak.ini"));
        QFile f(ini);
        const QByteArray text =
            QStringLiteral(
                "[gateway]\nname=soak\nstale=%1\noffline-retry=500\nretries=2\nconverter-writes=yes\n%4%5"
                "[bus]\nadapter=lan\nip=127.0.0.1\nudp-port=%2\nudp-timeout=%3\n"
                "[module m1]\naddress=1\n[module m2]\naddress=2\n[module m3]\naddress=3\n")
                .arg(StaleMs)
                .arg(m_sim.udpPort())
                .arg(m_timeoutMs)
                .arg(QString::fromUtf8(mqtt))
                .arg(allowWrites ? QStringLiteral("allow-writes=yes\n") : QString())
                .toUtf8();
        if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size())
            return false;
        f.close();
        m_gw.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        m_gw.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_gw.start(QStringLiteral(RQ_BIN_DIR "/rqgw"),
                   {QStringLiteral("--config"), ini, QStringLiteral("--modbus"),
                    QStringLiteral("127.0.0.1:0"), QStringLiteral("--converter"),
                    QStringLiteral("127.0.0.1:0"), QStringLiteral("--log-level"), QStringLiteral("error")});
        QElapsedTimer t;
        t.start();
        bool ready = false;
        while (!ready && t.elapsed() < 20000 && m_gw.state() != QProcess::NotRunning) {
            if (!m_gw.canReadLine() && !m_gw.waitForReadyRead(200))
                continue;
            while (m_gw.canReadLine()) {
                const QByteArray line = m_gw.readLine().trimmed();
                if (line.startsWith("modbus "))
                    m_modbusPort = line.mid(7).toUShort();
                else if (line.startsWith("converter "))
                    m_converterPort = line.mid(10).toUShort();
                else if (line == "ready")
                    ready = true;
            }
        }
        if (!ready || !m_modbusPort || !m_converterPort) {
            std::fprintf(stderr, "rqsoak: rqgw did not start\n");
            return false;
        }
        for (modbus_t *&c : m_clients)
            if (!(c = connectClient()))
                return false;
        // Without faults yet: what the module reports for what rqsim's
        // inputs are set to (an inversion in its settings shows here).
        for (int unit = 1; unit <= 3; ++unit) {
            quint32 before = 0;
            int e = -1;
            for (int i = 0; i < 1500 && e != 0; ++i) { // until the gateway has polled it
                e = read(m_clients[0], unit, before);
                if (e != 0)
                    QThread::msleep(10);
            }
            if (e != 0) {
                std::fprintf(stderr, "rqsoak: unit %d: %s\n", unit, modbus_strerror(e));
                return false;
            }
            const quint32 physical = ~before ^ (0x0F0F0000u + quint32(unit));
            const qint64 from = m_clock.elapsed();
            m_sim.setDigitalInputs(unit, physical);
            m_history[unit].push_back({from, m_clock.elapsed(), double(physical)});
            bool seen = false;
            for (int i = 0; i < 500 && !seen; ++i) {
                quint32 v = 0;
                if (read(m_clients[0], unit, v) == 0 && v != before) {
                    m_mask[unit] = v ^ physical;
                    seen = true;
                }
                QThread::msleep(10);
            }
            if (!seen) {
                std::fprintf(stderr, "rqsoak: unit %d does not follow rqsim's digital inputs\n", unit);
                return false;
            }
            // The analog values set above, as the module resolves them.
            std::array<float, 12> ain{};
            bool same = false;
            for (int i = 0; i < 500 && !same; ++i) {
                same = readAnalog(m_clients[0], unit, ain) == 0;
                for (int k = 0; k < SoakAnalogOf[unit].inputs && same; ++k)
                    same = near(unit, ain[std::size_t(k)], m_ain[unit][std::size_t(k)].back().value);
                if (!same)
                    QThread::msleep(10);
            }
            if (!same) {
                std::fprintf(stderr, "rqsoak: unit %d does not report rqsim's analog inputs:", unit);
                for (int k = 0; k < SoakAnalogOf[unit].inputs; ++k)
                    std::fprintf(stderr, " %g/%g", double(ain[std::size_t(k)]),
                                 m_ain[unit][std::size_t(k)].back().value);
                std::fprintf(stderr, "\n");
                return false;
            }
        }
        if (m_t.mqtt)
            m_subscriber.take(); // published before the inversion was known
        return true;
    }

    void run(qint64 ms)
    {
        const qint64 begin = m_clock.elapsed();
        qint64 nextChange = 0, nextBackup = 500, nextOffline = 1000, onlineAgain = -1, offlineSince = -1;
        int client = 0;
        bool analog = false;
        while (m_clock.elapsed() - begin < ms) {
            const qint64 now = m_clock.elapsed() - begin;
            if (!m_t.started && now > 2000) {
                sample(m_t.fdStart, m_t.rssStartKb);
                m_t.started = true;
            }
            if (now >= nextChange) {
                setDigital(1 + int(m_random.bounded(3)));
                for (int n = 0; n < 2; ++n) {
                    const int unit = 1 + int(m_random.bounded(3));
                    setAnalog(unit, int(m_random.bounded(SoakAnalogOf[unit].inputs)));
                }
                nextChange = now + 50;
            }
            // Not while the restore runs without faults.
            if (offlineSince < 0 && now >= nextOffline && m_job != Job::Restore) {
                nextBackup = std::max(nextBackup, now + 3 * StaleMs + 500);
                m_sim.addFault(QStringLiteral("module=3 drop p=1"));
                offlineSince = now;
                m_silent.push_back({m_clock.elapsed(), -1});
                onlineAgain = now + 3 * StaleMs;
            } else if (offlineSince >= 0 && now >= onlineAgain) {
                m_sim.clearFaults();
                m_silent.back().to = m_clock.elapsed();
                m_faultsOn();
                offlineSince = -1;
                nextOffline = now + 6000;
            }
            if (onTick)
                onTick(now);
            if ((m_job != Job::None || now >= nextBackup) && !stepTool(offlineSince >= 0))
                nextBackup = m_clock.elapsed() - begin + 4000;
            const int unit = 1 + int(m_random.bounded(3));
            const qint64 start = m_clock.elapsed();
            quint32 v = 0;
            std::array<float, 12> ain{};
            const int e =
                analog ? readAnalog(m_clients[client], unit, ain) : read(m_clients[client], unit, v);
            const qint64 end = m_clock.elapsed();
            ++m_t.reads;
            m_t.slowestMs = std::max(m_t.slowestMs, end - start);
            if (end - start > 1000 && ++m_t.slowHonest <= 20)
                std::fprintf(stderr, "rqsoak: an honest read of unit %d took %lld ms%s%s\n", unit,
                             static_cast<long long>(end - start), during ? ", during " : "",
                             during ? during() : "");
            if (e == 0 && analog) {
                ++m_t.analogReads;
                for (int k = 0; k < 12; ++k)
                    judgeAnalog(unit, k, ain[std::size_t(k)], start, end, false);
            } else if (e == 0) {
                ++m_t.values;
                judgeDigital(unit, v ^ m_mask[unit], start, end, false);
            } else if (e == EMBXGTAR) {
                ++m_t.offlineAnswers;
            } else if (e == ETIMEDOUT) {
                ++m_t.hangs;
                std::fprintf(stderr, "rqsoak: unit %d: no answer within 2 s\n", unit);
                reconnect(client);
            } else {
                ++m_t.silent;
                std::fprintf(stderr, "rqsoak: unit %d: %s\n", unit, modbus_strerror(e));
                reconnect(client);
            }
            client = 1 - client;
            analog = client == 0 ? !analog : analog;
            judgeMessages();
        }
        if (offlineSince >= 0) {
            m_sim.clearFaults();
            m_silent.back().to = m_clock.elapsed();
            m_faultsOn();
        }
        // A backup on a faulty bus may take long: it is cut short. A restore ends.
        if (m_job == Job::Backup) {
            m_tool->kill();
            m_tool->waitForFinished();
            ++m_t.backupsCut;
        }
        if (m_job != Job::Restore)
            m_job = Job::None;
        while (m_job == Job::Restore) {
            stepTool(false);
            QThread::msleep(20);
        }
        if (onCalm)
            onCalm();
        // Connections closed by clients are closed by rqgw soon after, not at once.
        for (int i = 0; i < 50; ++i) {
            sample(m_t.fdEnd, m_t.rssEndKb);
            if (m_t.fdEnd <= m_t.fdStart + 4)
                break;
            QThread::msleep(100);
        }
        m_t.crashed = m_gw.state() == QProcess::NotRunning;
        QThread::msleep(200); // what is on its way from the broker
        judgeMessages();
        judgeSilence();
    }

    // The lie for the self-check: module 1 answers half its digital input
    // reads with a well-formed reply holding another byte.
    static QString lie() { return QStringLiteral("module=1 cmd=0 sub=64 d3=0x39 p=0.5"); }

    const GatewayTally &tally() const { return m_t; }

    // The hostile path: commands allowed, something done between the honest
    // requests, and all of it stopped before the end is measured.
    bool allowWrites = false;
    std::function<void(qint64)> onTick;
    std::function<void()> onCalm;
    std::function<const char *()> during; // what the hostile network did then
    quint16 modbusPort() const { return m_modbusPort; }
    quint16 brokerPort() const { return m_broker.port; }
    quint16 converterPort() const { return m_converterPort; }
    // The broker stops reading (SIGSTOP) until let go (SIGCONT), or goes
    // away and comes back on its port. What MQTT delivers after such a hold
    // is judged from the hold's start: the delay is the broker's.
    void holdBroker(bool hold)
    {
        if (!m_t.mqtt || hold == (!m_held.empty() && m_held.back().second < 0))
            return;
        ::kill(pid_t(m_broker.pid()), hold ? SIGSTOP : SIGCONT);
        if (hold)
            m_held.push_back({m_clock.elapsed(), -1});
        else
            m_held.back().second = m_clock.elapsed();
    }
    bool restartBroker()
    {
        if (!m_t.mqtt)
            return true;
        holdBroker(false);
        m_held.push_back({m_clock.elapsed(), -1});
        m_broker.stop();
        const bool back = m_broker.restart();
        m_held.back().second = m_clock.elapsed();
        return back;
    }
    qint64 gatewayPid() const { return m_gw.processId(); }
    bool publish(const QByteArray &topic, const QByteArray &payload, bool retain)
    {
        return m_t.mqtt && m_subscriber.publish(topic, payload, retain);
    }

private:
    // A value rqsim took in a command that began at `from` and was done at
    // `to`; it was held until the next one was done.
    struct Held
    {
        qint64 from, to;
        double value;
    };
    struct Silence
    {
        qint64 from, to; // -1: until the end
    };
    enum class Verdict { Held, Past, Never };

    modbus_t *connectClient()
    {
        modbus_t *c = modbus_new_tcp("127.0.0.1", m_modbusPort);
        if (!c)
            return nullptr;
        modbus_set_response_timeout(c, 2, 0);
        if (modbus_connect(c) != 0) {
            modbus_free(c);
            return nullptr;
        }
        return c;
    }

    void reconnect(int k)
    {
        if (m_clients[k]) {
            modbus_close(m_clients[k]);
            modbus_free(m_clients[k]);
        }
        m_clients[k] = connectClient();
    }

    // 0, or the errno of libmodbus (an exception is MODBUS_ENOBASE + its code).
    int read(modbus_t *c, int unit, quint32 &value)
    {
        if (!c)
            return ECONNREFUSED;
        quint8 bits[32];
        modbus_set_slave(c, unit);
        if (modbus_read_input_bits(c, 0, 32, bits) != 32)
            return errno;
        value = 0;
        for (int n = 0; n < 32; ++n)
            value |= quint32(bits[n] & 1) << n;
        return 0;
    }

    // The twelve analog inputs, each a float in two input registers, high word first.
    int readAnalog(modbus_t *c, int unit, std::array<float, 12> &values)
    {
        if (!c)
            return ECONNREFUSED;
        quint16 regs[24];
        modbus_set_slave(c, unit);
        if (modbus_read_input_registers(c, 0, 24, regs) != 24)
            return errno;
        for (std::size_t k = 0; k < 12; ++k)
            values[k] = std::bit_cast<float>(quint32(regs[2 * k]) << 16 | regs[2 * k + 1]);
        return 0;
    }

    void setDigital(int unit)
    {
        const quint32 v = m_random.generate();
        const qint64 from = m_clock.elapsed();
        if (m_sim.setDigitalInputs(unit, v))
            m_history[unit].push_back({from, m_clock.elapsed(), double(v)});
    }

    bool setAnalog(int unit, int input)
    {
        const SoakAnalog &a = SoakAnalogOf[unit];
        const double v = a.grid * (a.lowest + int(m_random.bounded(a.highest - a.lowest + 1)));
        const qint64 from = m_clock.elapsed();
        if (!m_sim.setInput(unit, input, v))
            return false;
        m_ain[unit][std::size_t(input)].push_back({from, m_clock.elapsed(), v});
        return true;
    }

    static bool near(int unit, double read, double held)
    {
        return std::abs(read - held) <= SoakAnalogOf[unit].tolerance;
    }

    // Whether a value matching `same` was held at some moment of [start -
    // stale - slack, end]: a command's value may have been there from the
    // moment the command began until the next one was done.
    Verdict verdict(const std::vector<Held> &h, const std::function<bool(double)> &same, qint64 start,
                    qint64 end) const
    {
        Verdict v = Verdict::Never;
        for (std::size_t k = 0; k < h.size(); ++k) {
            if (!same(h[k].value) || h[k].from > end)
                continue;
            const qint64 until = k + 1 < h.size() ? h[k + 1].to : end;
            if (until >= start - StaleMs - SlackMs)
                return Verdict::Held;
            v = Verdict::Past;
        }
        return v;
    }

    void count(Verdict v, bool mqtt, const QString &what)
    {
        if (v == Verdict::Held)
            return;
        ++(v == Verdict::Past ? (mqtt ? m_t.mqttStalePast : m_t.stalePast)
                              : (mqtt ? m_t.mqttWrong : m_t.wrong));
        // The first few say what went wrong; a lying module would fill the log.
        if (++m_told <= 20)
            std::fprintf(stderr, "rqsoak: %s, %s\n", qPrintable(what),
                         v == Verdict::Past ? "a value older than --stale" : "never held");
    }

    static QString via(bool mqtt) { return mqtt ? QStringLiteral("MQTT") : QStringLiteral("Modbus"); }

    void judgeDigital(int unit, quint32 v, qint64 start, qint64 end, bool mqtt)
    {
        count(verdict(
                  m_history[unit], [v](double h) { return h == v; }, start, end),
              mqtt,
              QStringLiteral("%1 unit %2 gave digital inputs 0x%3")
                  .arg(via(mqtt))
                  .arg(unit)
                  .arg(v, 8, 16, QLatin1Char('0')));
    }

    // Inputs the module does not measure read as NaN.
    void judgeAnalog(int unit, int input, double v, qint64 start, qint64 end, bool mqtt)
    {
        const QString what = QStringLiteral("%1 unit %2 gave AIN%3 = %4")
                                 .arg(via(mqtt))
                                 .arg(unit)
                                 .arg(input)
                                 .arg(v, 0, 'g', 9);
        if (input >= SoakAnalogOf[unit].inputs) {
            if (!std::isnan(v))
                count(Verdict::Never, mqtt, what);
            return;
        }
        ++(mqtt ? m_t.mqttValues : m_t.analogValues);
        count(verdict(
                  m_ain[unit][std::size_t(input)], [unit, v](double h) { return near(unit, v, h); }, start,
                  end),
              mqtt, what);
    }

    // Every state message for modules 1-3 against what rqsim held before it came.
    void judgeMessages()
    {
        if (!m_t.mqtt)
            return;
        for (const SoakSubscriber::Message &m : m_subscriber.take()) {
            const QList<QByteArray> parts = m.topic.split('/');
            const int unit = parts.value(2).toInt();
            if (parts.size() != 4 || unit < 1 || unit > 3)
                continue;
            if (parts[3] == "availability") {
                m_availability[unit].push_back({m.at, m.payload == "online"});
                continue;
            }
            if (parts[3] != "state")
                continue;
            ++m_t.mqttStates;
            const QJsonObject s = QJsonDocument::fromJson(m.payload).object();
            const QJsonArray ain = s.value(u"ain").toArray();
            if (s.value(u"online") != QJsonValue(true) || ain.size() != 12 || !s.value(u"din").isDouble()) {
                ++m_t.mqttWrong;
                std::fprintf(stderr, "rqsoak: MQTT unit %d: a state that is not one: %s\n", unit,
                             m.payload.constData());
                continue;
            }
            const qint64 sent = heldSince(m.at);
            judgeDigital(unit, quint32(s.value(u"din").toInteger()) ^ m_mask[unit], sent, m.at, true);
            for (int k = 0; k < 12; ++k)
                judgeAnalog(unit, k, ain.at(k).isNull() ? double(NAN) : ain.at(k).toDouble(), sent, m.at,
                            true);
            // No state of a silent module once its values are past --stale.
            for (const Silence &q : m_silent)
                if (unit == 3 && sent > q.from + StaleMs + SlackMs && (q.to < 0 || m.at < q.to)) {
                    ++m_t.mqttStalePast;
                    std::fprintf(stderr, "rqsoak: MQTT: a state of silent module 3 past --stale\n");
                }
        }
    }

    // The earliest moment a message that came at `at` may have been sent:
    // the start of a broker hold it came during or soon after.
    qint64 heldSince(qint64 at) const
    {
        qint64 since = at;
        for (const auto &[from, to] : m_held)
            if (at >= from && (to < 0 || at <= to + HoldSlackMs))
                since = std::min(since, from);
        return since;
    }

    // Every time module 3 was silent longer than --stale, MQTT called it
    // offline before it answered again (rqgw does after three failed cycles,
    // which on a slow bus take longer than --stale: the delay is printed).
    void judgeSilence()
    {
        if (!m_t.mqtt)
            return;
        const qint64 end = m_clock.elapsed();
        for (const Silence &q : m_silent) {
            const qint64 to = q.to < 0 ? end : q.to;
            if (to - q.from < StaleMs + OfflineSlackMs)
                continue;
            // A broker held up meanwhile delivers the availability late.
            if (std::any_of(m_held.begin(), m_held.end(), [&](const std::pair<qint64, qint64> &h) {
                    return h.first <= to && (h.second < 0 || h.second + HoldSlackMs >= q.from);
                }))
                continue;
            ++m_t.silentPeriods;
            // What the availability said last by the silence's end, and since when.
            qint64 since = -1;
            bool online = true;
            for (const auto &[at, on] : m_availability[3])
                if (at <= to && (since < 0 || on != online)) {
                    since = at;
                    online = on;
                }
            if (since >= 0 && !online) {
                ++m_t.mqttOffline;
                m_t.offlineDelayMs = std::max(m_t.offlineDelayMs, since - q.from);
            } else {
                ++m_t.offlineLate;
                std::fprintf(stderr,
                             "rqsoak: MQTT: module 3 silent from %lld ms to %lld ms, never called offline\n",
                             static_cast<long long>(q.from), static_cast<long long>(to));
            }
        }
    }

    // Starts rqtool on module 1 through the converter port; the clients go
    // on reading while it runs.
    void startTool(const QStringList &job)
    {
        // rqtool wants a settings file of the LAN converter; the options name the rest.
        const QString settings = m_dir.filePath(QStringLiteral("lan.ini"));
        if (!QFileInfo::exists(settings)) {
            TData d;
            SetDefaults(&d);
            d.adapterKind = 4;
            SaveSettings(&d, settings);
        }
        m_tool = std::make_unique<QProcess>();
        m_tool->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        m_tool->start(QStringLiteral(RQ_BIN_DIR "/rqtool"),
                      QStringList{QStringLiteral("--settings"), settings, QStringLiteral("--adapter"),
                                  QStringLiteral("lan"), QStringLiteral("--ip"), QStringLiteral("127.0.0.1"),
                                  QStringLiteral("--udp-port"), QString::number(m_converterPort),
                                  QStringLiteral("--udp-timeout"), QStringLiteral("500"),
                                  QStringLiteral("--address"), QStringLiteral("1")} +
                          job);
        m_toolStarted = m_clock.elapsed();
    }

    // Whether the rqtool run ended (done: it called the job done). A crash,
    // a hang or a failure without a word counts.
    bool toolEnded(bool &done)
    {
        done = false;
        if (m_tool->state() != QProcess::NotRunning && !m_tool->waitForFinished(0)) {
            if (m_clock.elapsed() - m_toolStarted < 120000)
                return false;
            ++m_t.hangs;
            std::fprintf(stderr, "rqsoak: rqtool through the gateway runs for two minutes\n");
            m_tool->kill();
            m_tool->waitForFinished();
            return true;
        }
        const QString err = QString::fromUtf8(m_tool->readAllStandardError()).trimmed();
        if (m_tool->exitStatus() != QProcess::NormalExit) {
            ++m_t.wrong;
            std::fprintf(stderr, "rqsoak: rqtool crashed: %s\n", qPrintable(err));
            return true;
        }
        if (m_tool->exitCode() != 0 && err.isEmpty()) {
            ++m_t.silent;
            std::fprintf(stderr, "rqsoak: rqtool failed without a message\n");
        }
        done = m_tool->exitCode() == 0;
        return true;
    }

    // True when the module's memory equals the file's 512 bytes.
    bool sameAsModule(const QString &file, const char *what)
    {
        QFile f(file);
        const QByteArray saved = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        const QByteArray truth = m_sim.memory(1);
        m_t.bytesChecked += saved.size();
        if (saved == truth && truth.size() == 512)
            return true;
        ++m_t.wrong;
        std::fprintf(stderr, "rqsoak: %s through the gateway: the module's memory differs from the file\n",
                     what);
        return false;
    }

    QString keeFile() const { return m_dir.filePath(QStringLiteral("m1.kee")); }

    // A backup, then (without faults) every byte of the module's own image
    // written again: the gateway sees writes to a module it polls. Returns
    // true while the job runs.
    bool stepTool(bool silent)
    {
        bool done = false;
        switch (m_job) {
        case Job::None:
            QFile::remove(keeFile());
            ++m_t.backups;
            startTool({QStringLiteral("backup"), keeFile()});
            m_job = Job::Backup;
            return true;
        case Job::Backup:
            if (!toolEnded(done))
                return true;
            if (done && sameAsModule(keeFile(), "backup"))
                ++m_t.backupsGood;
            m_job = Job::BackupDone;
            [[fallthrough]];
        case Job::BackupDone: {
            if (silent) // the restore clears the faults
                return true;
            ++m_t.restores;
            m_sim.clearFaults();
            QFile f(keeFile());
            if (!f.open(QIODevice::WriteOnly) || f.write(m_sim.memory(1)) != 512) {
                m_faultsOn();
                m_job = Job::None;
                return false;
            }
            f.close();
            startTool(
                {QStringLiteral("restore"), keeFile(), QStringLiteral("--all"), QStringLiteral("--yes")});
            m_job = Job::Restore;
            return true;
        }
        case Job::Restore:
            if (!toolEnded(done))
                return true;
            // Without faults this must succeed.
            if (done && sameAsModule(keeFile(), "restore"))
                ++m_t.restoresGood;
            else
                std::fprintf(stderr, "rqsoak: a restore through the gateway without faults failed\n");
            m_faultsOn();
            m_job = Job::None;
            return false;
        }
        return false;
    }

    void sample(qint64 &fds, qint64 &rssKb)
    {
        const QString proc = QStringLiteral("/proc/%1").arg(m_gw.processId());
        fds = QDir(proc + QStringLiteral("/fd"))
                  .entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System)
                  .size();
        QFile status(proc + QStringLiteral("/status"));
        if (status.open(QIODevice::ReadOnly))
            for (const QByteArray &line : status.readAll().split('\n'))
                if (line.startsWith("VmRSS:"))
                    rssKb = line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }

    SimProcess &m_sim;
    QRandomGenerator m_random;
    quint32 m_timeoutMs;
    std::function<bool()> m_faultsOn;
    QTemporaryDir m_dir;
    QElapsedTimer m_clock;
    Broker m_broker;
    SoakSubscriber m_subscriber{m_clock};
    QProcess m_gw;
    quint16 m_modbusPort = 0, m_converterPort = 0;
    std::vector<std::pair<qint64, qint64>> m_held; // broker holds: from, to (-1 while held)
    modbus_t *m_clients[2] = {nullptr, nullptr};
    quint32 m_mask[4] = {};
    std::vector<Held> m_history[4];
    std::array<std::vector<Held>, 12> m_ain[4];
    std::vector<Silence> m_silent; // module 3 dropping every request
    std::vector<std::pair<qint64, bool>>
        m_availability[4]; // when MQTT said a module is online (true) or offline
    enum class Job { None, Backup, BackupDone, Restore } m_job = Job::None;
    std::unique_ptr<QProcess> m_tool;
    qint64 m_toolStarted = 0;
    qint64 m_told = 0; // wrong values written out
    GatewayTally m_t;
};

#endif
