// The hostile network of the soak: the gateway path's honest clients go on
// checking every value while, in turns and then all together, clients send
// one byte every 80 ms, half a frame, never read, open bursts of
// connections or send garbage; commands flood in over MQTT, some of them
// retained; the broker drops the gateway's session, stops reading for a
// phase or restarts; a converter client asks one request after another and
// so holds the bus as long as the gateway lets it; rqgw gets SIGHUP every
// 300 ms. rqsim's outputs are watched: an
// output pattern no command asked for (a retained command obeyed, a command
// mixed up with another) counts. The lying run sends a command at each
// quiet phase's start without recording it, which the watch must see.
#ifndef RQ_TESTS_HARDENING_SOAKHOSTILE_H
#define RQ_TESTS_HARDENING_SOAKHOSTILE_H

#include "SoakGateway.h"
#include "support/HostileClients.h"

#include "RqFrame.h"

#include <QRegularExpression>

#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include <map>
#include <set>
#include <sys/resource.h>

struct HostileTally
{
    qint64 phases = 0, attempts = 0, closedByServer = 0, commands = 0, retained = 0, sighups = 0, kicks = 0;
    qint64 brokerHolds = 0, brokerRestarts = 0, brokerLost = 0, hogRequests = 0, hogReplies = 0;
    qint64 outputSamples = 0, unasked = 0;
};

class HostileSoak
{
public:
    HostileSoak(GatewaySoak &gateway, SimProcess &sim, quint32 seed, int seconds, bool lying)
        : m_gw(gateway), m_sim(sim), m_random(seed + 1000), m_lying(lying)
    {
        // A burst of up to 5000 connections needs the descriptors.
        rlimit r{};
        if (::getrlimit(RLIMIT_NOFILE, &r) == 0 && r.rlim_cur < r.rlim_max) {
            r.rlim_cur = r.rlim_max;
            ::setrlimit(RLIMIT_NOFILE, &r);
        }
        m_burst = seconds >= 60 ? 5000 : 1000;
        if (::getrlimit(RLIMIT_NOFILE, &r) == 0 && r.rlim_cur != RLIM_INFINITY)
            m_burst = std::min<int>(m_burst, int(r.rlim_cur) - 300);
        // The first seconds of the run are the quiet reference of descriptors and memory.
        m_phaseMs = std::clamp<qint64>((qint64(seconds) * 1000 - 2500) / (2 * Kinds), 600, 4000);
        // RQSOAK_HOSTILE="3 6": only those phases, to find which one hurts.
        for (const QByteArray &k : qgetenv("RQSOAK_HOSTILE").split(' '))
            if (!k.isEmpty())
                m_kinds.push_back(k.toInt() % Kinds);
        if (m_kinds.empty())
            for (int k = 0; k < Kinds; ++k)
                m_kinds.push_back(k);
    }

    // Called by the gateway soak between its honest requests (now: ms into the run).
    void tick(qint64 now)
    {
        if (m_outputs.empty())
            for (int unit = 1; unit <= 3; ++unit)
                m_outputs[unit].insert(latched(unit)); // the state before any command
        if (now >= m_nextSample) {
            watchOutputs();
            m_nextSample = now + 100;
        }
        if (now < 2500)
            return;
        const int phase = int((now - 2500) / m_phaseMs);
        if (phase != m_phase) {
            m_phase = phase;
            ++m_t.phases;
            stopClients();
            startPhase(m_kinds[std::size_t(phase) % m_kinds.size()]);
        }
        const int kind = m_kinds[std::size_t(m_phase) % m_kinds.size()];
        if ((kind == 5 || kind == All) && now >= m_nextFlood) {
            flood();
            m_nextFlood = now + 200;
        }
        if ((kind == 5 || kind == All) && now >= m_nextRetained) {
            // A retained command that arrives while the gateway is subscribed
            // comes as a live one (MQTT clears the flag): it is a command.
            const int unit = 1 + int(m_random.bounded(3));
            const quint32 value = m_random.bounded(0x80000000u);
            if (m_gw.publish("rq/soak/" + QByteArray::number(unit) + "/dout/set", QByteArray::number(value),
                             true)) {
                ++m_t.retained;
                m_outputs[unit].insert(value);
            }
            m_nextRetained = now + 500;
        }
        if ((kind == 5 || kind == All) && now >= m_nextKick) {
            kick();
            m_nextKick = now + 2500;
        }
        if ((kind == 6 || kind == All) && now >= m_nextHup) {
            ::kill(pid_t(m_gw.gatewayPid()), SIGHUP);
            ++m_t.sighups;
            m_nextHup = now + 300;
        }
    }

    // Everything hostile gone before the end's descriptors and memory.
    void calm()
    {
        stopClients();
        QThread::msleep(300);
        watchOutputs();
    }

    const HostileTally &tally() const { return m_t; }
    qint64 phaseMs() const { return m_phaseMs; }
    const char *phaseName() const
    {
        static const char *names[Kinds] = {"slow senders",     "half frames",
                                           "non-readers",      "a burst of connections",
                                           "garbage",          "MQTT floods",
                                           "SIGHUPs",          "a broker that stops reading",
                                           "a broker restart", "a converter client holding the bus",
                                           "all together"};
        return m_phase < 0 ? "the quiet start" : names[m_kinds[std::size_t(m_phase) % m_kinds.size()]];
    }

private:
    // The phases, in their order; the last is all the clients together
    // (the broker's phases stay apart: they hold up MQTT for everyone).
    static constexpr int Kinds = 11, BrokerHold = 7, BrokerRestart = 8, ConverterHog = 9, All = 10;

    void startPhase(int kind)
    {
        using K = HostileClients::Kind;
        const quint16 port = m_gw.modbusPort();
        const auto add = [&](K k, int count, const char *source) {
            m_clients.push_back(std::make_unique<HostileClients>(k, count, port, source));
        };
        const bool all = kind == All;
        if (kind == BrokerHold) {
            m_gw.holdBroker(true);
            ++m_t.brokerHolds;
        }
        if (kind == BrokerRestart) {
            ++m_t.brokerRestarts;
            if (!m_gw.restartBroker()) {
                ++m_t.brokerLost;
                std::fprintf(stderr, "rqsoak: the broker did not come back after its restart\n");
            }
        }
        if (all || kind == ConverterHog)
            startHog();
        if (all || kind == 0)
            add(K::SlowSender, 20, "127.0.0.2");
        if (all || kind == 1)
            add(K::HalfFrame, 50, "127.0.0.3");
        if (all || kind == 2)
            add(K::NonReader, 8, "127.0.0.4");
        if (all || kind == 3) {
            static const char *sources[] = {"127.0.0.10", "127.0.0.11", "127.0.0.12", "127.0.0.13",
                                            "127.0.0.14", "127.0.0.15", "127.0.0.16", "127.0.0.17",
                                            "127.0.0.18", "127.0.0.19"};
            for (int n = 0; n < m_burst / 500 && n < 10; ++n)
                add(K::Connections, 500, sources[n]);
        }
        if (all || kind == 4) {
            add(K::Garbage, 20, "127.0.0.5");
            add(K::WrongProtocol, 10, "127.0.0.6");
            add(K::BadByteCount, 10, "127.0.0.7");
        }
        for (auto &c : m_clients)
            c->start();
        // The self-check: a command the soak forgets, sent where no flood
        // follows soon, so that the outputs keep it for a while.
        if (m_lying && kind != 5 && kind != All)
            m_gw.publish("rq/soak/1/dout/set", QByteArray::number(m_random.bounded(0x80000000u)), false);
    }

    void stopClients()
    {
        m_gw.holdBroker(false);
        stopHog();
        for (auto &c : m_clients) {
            c->stop();
            m_t.attempts += c->attempts();
            m_t.closedByServer += c->closed();
        }
        m_clients.clear();
    }

    // Fifty commands of all 32 outputs for one module at once; the gateway
    // queues some and refuses the rest, each refusal said on dout/result.
    void flood()
    {
        const int unit = 1 + int(m_random.bounded(2));
        for (int n = 0; n < 50; ++n) {
            const quint32 value = m_random.bounded(0x80000000u);
            if (!m_gw.publish("rq/soak/" + QByteArray::number(unit) + "/dout/set", QByteArray::number(value),
                              false))
                continue;
            ++m_t.commands;
            m_outputs[unit].insert(value);
        }
    }

    // The broker drops the gateway's session: a client of the soak connects
    // with the gateway's client id, leaves a retained command with a pattern
    // no command asks for (top bit set) and goes. The gateway reconnects a
    // second later and, subscribing again, gets the command with the retain
    // flag: it must refuse it.
    void kick()
    {
        QByteArray machine;
        QFile f(QStringLiteral("/etc/machine-id"));
        if (f.open(QIODevice::ReadOnly))
            machine = f.readLine(64).trimmed().left(12);
        if (machine.isEmpty()) {
            char host[256] = {};
            gethostname(host, sizeof host - 1);
            machine = host;
        }
        const QByteArray id = "rqgw-soak-" + machine + '-' + QByteArray::number(m_gw.gatewayPid());
        mosquitto *k = mosquitto_new(id.constData(), true, nullptr);
        if (!k)
            return;
        bool published = false;
        mosquitto_user_data_set(k, &published);
        mosquitto_publish_callback_set(
            k, [](mosquitto *, void *done, int) { *static_cast<bool *>(done) = true; });
        const QByteArray topic = "rq/soak/" + QByteArray::number(1 + m_random.bounded(3)) + "/dout/set";
        const QByteArray value = QByteArray::number(0x80000000u | m_random.bounded(0x80000000u));
        if (mosquitto_connect(k, "127.0.0.1", m_gw.brokerPort(), 10) == MOSQ_ERR_SUCCESS &&
            mosquitto_publish(k, nullptr, topic.constData(), int(value.size()), value.constData(), 1, true) ==
                MOSQ_ERR_SUCCESS) {
            for (int i = 0; i < 100 && !published; ++i)
                mosquitto_loop(k, 10, 1);
            if (published)
                ++m_t.kicks;
        }
        mosquitto_disconnect(k);
        mosquitto_loop(k, 10, 1);
        mosquitto_destroy(k);
    }

    // One converter request after another to module 1, each sent as soon as
    // the last one's answer came (or 1 s passed without one).
    void startHog()
    {
        m_hogStop = false;
        m_hog = std::thread([this, port = m_gw.converterPort()] {
            const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            if (s < 0)
                return;
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_port = htons(port);
            to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            rqframe::Request r;
            r.address = 1;
            r.command = 102; // a byte of the module's memory
            for (std::uint16_t seq = 1; !m_hogStop; ++seq) {
                r.d[0] = std::uint8_t(seq % 64);
                const auto frame = rqframe::encodeUdpRequest(r, seq, 9600);
                if (::sendto(s, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to) <
                    0)
                    break;
                ++m_hogRequests;
                pollfd p{s, POLLIN, 0};
                if (::poll(&p, 1, 1000) > 0) {
                    std::uint8_t buf[64];
                    if (::recv(s, buf, sizeof buf, 0) > 0)
                        ++m_hogReplies;
                }
            }
            ::close(s);
        });
    }
    void stopHog()
    {
        if (!m_hog.joinable())
            return;
        m_hogStop = true;
        m_hog.join();
        m_t.hogRequests = m_hogRequests;
        m_t.hogReplies = m_hogReplies;
    }

    quint32 latched(int unit)
    {
        const QString reply = m_sim.command(QStringLiteral("dout %1").arg(unit));
        static const QRegularExpression re(QStringLiteral("latched=0x([0-9a-fA-F]+)"));
        return re.match(reply).captured(1).toUInt(nullptr, 16);
    }

    void watchOutputs()
    {
        for (int unit = 1; unit <= 3; ++unit) {
            const quint32 v = latched(unit);
            ++m_t.outputSamples;
            if (m_outputs[unit].count(v) || v == m_lastUnasked[unit])
                continue;
            m_lastUnasked[unit] = v; // counted once, not at every sample
            ++m_t.unasked;
            if (m_t.unasked <= 20)
                std::fprintf(stderr, "rqsoak: unit %d outputs 0x%08x, which no command asked for\n", unit, v);
        }
    }

    GatewaySoak &m_gw;
    SimProcess &m_sim;
    QRandomGenerator m_random;
    bool m_lying;
    int m_burst;
    qint64 m_phaseMs;
    int m_phase = -1;
    std::vector<int> m_kinds;
    qint64 m_nextSample = 0, m_nextFlood = 0, m_nextRetained = 0, m_nextHup = 0, m_nextKick = 0;
    std::map<int, std::set<quint32>> m_outputs; // per unit: every pattern commanded, and the first
    quint32 m_lastUnasked[4] = {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};
    std::vector<std::unique_ptr<HostileClients>> m_clients;
    std::thread m_hog;
    std::atomic<bool> m_hogStop{false};
    std::atomic<qint64> m_hogRequests{0}, m_hogReplies{0};
    HostileTally m_t;
};

#endif
