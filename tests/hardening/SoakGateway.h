// The gateway path of the soak: rqgw polls modules 1-3 on an rqsim bus that
// damages a share of its replies, while two Modbus TCP clients read every
// module's 32 digital inputs (discrete inputs 0..31), which the soak changes
// on rqsim all the time. A value may be old, never wrong: every value read
// must be one rqsim held at some moment within --stale (and the gateway's
// cycle) before the read. Module 3 goes silent now and then for three times
// --stale: past --stale its unit must answer 0x0B, never its last value.
// rqtool backs up module 1 through the gateway's LAN converter port, then,
// with the faults off for a while, writes the module's image back whole
// (the gateway polls the module meanwhile and must start its cycle anew).
// A backup it calls good must equal rqsim's memory; a restore must be good. rqgw's descriptors and
// resident memory are compared between the first seconds and the end.
#ifndef RQ_TESTS_HARDENING_SOAKGATEWAY_H
#define RQ_TESTS_HARDENING_SOAKGATEWAY_H

#include "app/Dekl.h"
#include "support/SimProcess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <modbus.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <functional>
#include <sys/prctl.h>
#include <vector>

struct GatewayTally
{
    qint64 reads = 0, values = 0, offlineAnswers = 0, wrong = 0, stalePast = 0, silent = 0, hangs = 0;
    qint64 backups = 0, backupsGood = 0, restores = 0, restoresGood = 0, bytesChecked = 0;
    qint64 fdStart = 0, fdEnd = 0, rssStartKb = 0, rssEndKb = 0;
    bool started = false;
};

class GatewaySoak
{
public:
    static constexpr int StaleMs = 1000;
    static constexpr int SlackMs = 600; // a cycle of three transactions with retries, and the read itself

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

    // Starts rqgw on a configuration file and waits until it serves every module.
    bool start()
    {
        const QString ini = m_dir.filePath(QStringLiteral("soak.ini"));
        QFile f(ini);
        const QByteArray text = QStringLiteral("[gateway]\nname=soak\nstale=%1\noffline-retry=500\nretries=2\n"
                                               "[bus]\nadapter=lan\nip=127.0.0.1\nudp-port=%2\nudp-timeout=%3\n"
                                               "[module m1]\naddress=1\n[module m2]\naddress=2\n[module m3]\naddress=3\n")
                                    .arg(StaleMs)
                                    .arg(m_sim.udpPort())
                                    .arg(m_timeoutMs)
                                    .toUtf8();
        if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size())
            return false;
        f.close();
        m_gw.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        m_gw.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_gw.start(QStringLiteral(RQ_BIN_DIR "/rqgw"),
                   {QStringLiteral("--config"), ini, QStringLiteral("--modbus"), QStringLiteral("127.0.0.1:0"),
                    QStringLiteral("--converter"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--log-level"),
                    QStringLiteral("error")});
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
            m_sim.setDigitalInputs(unit, physical);
            m_history[unit].push_back({m_clock.elapsed(), physical});
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
        }
        return true;
    }

    void run(qint64 ms)
    {
        const qint64 begin = m_clock.elapsed();
        qint64 nextChange = 0, nextBackup = 3000, nextOffline = 4000, onlineAgain = -1, offlineSince = -1;
        int client = 0;
        while (m_clock.elapsed() - begin < ms) {
            const qint64 now = m_clock.elapsed() - begin;
            if (!m_t.started && now > 2000) {
                sample(m_t.fdStart, m_t.rssStartKb);
                m_t.started = true;
            }
            if (now >= nextChange) {
                set(1 + int(m_random.bounded(3)));
                nextChange = now + 50;
            }
            if (offlineSince < 0 && now >= nextOffline) {
                m_sim.addFault(QStringLiteral("module=3 drop p=1"));
                offlineSince = now;
                onlineAgain = now + 3 * StaleMs;
            } else if (offlineSince >= 0 && now >= onlineAgain) {
                m_sim.clearFaults();
                m_faultsOn();
                offlineSince = -1;
                nextOffline = now + 6000;
            }
            if (now >= nextBackup) {
                backup();
                m_sim.clearFaults();
                restore();
                m_faultsOn();
                if (offlineSince >= 0)
                    m_sim.addFault(QStringLiteral("module=3 drop p=1"));
                nextBackup = m_clock.elapsed() - begin + 4000;
            }
            const int unit = 1 + int(m_random.bounded(3));
            const qint64 start = m_clock.elapsed();
            quint32 v = 0;
            const int e = read(m_clients[client], unit, v);
            const qint64 end = m_clock.elapsed();
            ++m_t.reads;
            if (e == 0) {
                ++m_t.values;
                judge(unit, v ^ m_mask[unit], start, end);
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
        }
        if (offlineSince >= 0) {
            m_sim.clearFaults();
            m_faultsOn();
        }
        sample(m_t.fdEnd, m_t.rssEndKb);
    }

    // The lie for the self-check: module 1 answers half its digital input
    // reads with a well-formed reply holding another byte.
    static QString lie() { return QStringLiteral("module=1 cmd=0 sub=64 d3=0x39 p=0.5"); }

    const GatewayTally &tally() const { return m_t; }

private:
    struct Held
    {
        qint64 since;
        quint32 value;
    };

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

    void set(int unit)
    {
        const quint32 v = m_random.generate();
        if (m_sim.setDigitalInputs(unit, v))
            m_history[unit].push_back({m_clock.elapsed(), v});
    }

    // A value rqsim held at some moment of [start - stale - slack, end].
    void judge(int unit, quint32 v, qint64 start, qint64 end)
    {
        const std::vector<Held> &h = m_history[unit];
        bool held = false, heldEarlier = false;
        for (std::size_t k = 0; k < h.size(); ++k) {
            if (h[k].value != v || h[k].since > end)
                continue;
            const qint64 until = k + 1 < h.size() ? h[k + 1].since : end;
            (until >= start - StaleMs - SlackMs ? held : heldEarlier) = true;
        }
        if (held)
            return;
        if (heldEarlier) {
            ++m_t.stalePast;
            std::fprintf(stderr, "rqsoak: unit %d gave a value older than --stale\n", unit);
        } else {
            ++m_t.wrong;
            std::fprintf(stderr, "rqsoak: unit %d gave 0x%08X, never held\n", unit, v);
        }
    }

    // Runs rqtool on module 1 through the converter port; true when it
    // called the job done. A crash, a hang or a failure without a word counts.
    bool rqtool(const QStringList &job)
    {
        // rqtool wants a settings file of the LAN converter; the options name the rest.
        const QString settings = m_dir.filePath(QStringLiteral("lan.ini"));
        if (!QFileInfo::exists(settings)) {
            TData d;
            SetDefaults(&d);
            d.adapterKind = 4;
            SaveSettings(&d, settings);
        }
        QProcess p;
        p.start(QStringLiteral(RQ_BIN_DIR "/rqtool"),
                QStringList{QStringLiteral("--settings"), settings, QStringLiteral("--adapter"), QStringLiteral("lan"),
                            QStringLiteral("--ip"), QStringLiteral("127.0.0.1"), QStringLiteral("--udp-port"),
                            QString::number(m_converterPort), QStringLiteral("--udp-timeout"), QStringLiteral("1000"),
                            QStringLiteral("--address"), QStringLiteral("1")} +
                    job);
        if (!p.waitForFinished(120000)) {
            ++m_t.hangs;
            p.kill();
            p.waitForFinished();
            return false;
        }
        const QString err = QString::fromUtf8(p.readAllStandardError()).trimmed();
        if (p.exitStatus() != QProcess::NormalExit) {
            ++m_t.wrong;
            std::fprintf(stderr, "rqsoak: rqtool crashed: %s\n", qPrintable(err));
            return false;
        }
        if (p.exitCode() != 0 && err.isEmpty()) {
            ++m_t.silent;
            std::fprintf(stderr, "rqsoak: rqtool failed without a message\n");
        }
        return p.exitCode() == 0;
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
        std::fprintf(stderr, "rqsoak: %s through the gateway: the module's memory differs from the file\n", what);
        return false;
    }

    QString keeFile() const { return m_dir.filePath(QStringLiteral("m1.kee")); }

    void backup()
    {
        QFile::remove(keeFile());
        ++m_t.backups;
        if (rqtool({QStringLiteral("backup"), keeFile()}) && sameAsModule(keeFile(), "backup"))
            ++m_t.backupsGood;
    }

    // Every byte of the module's own image written again: the gateway sees
    // writes to a module it polls. Without faults this must succeed.
    void restore()
    {
        ++m_t.restores;
        QFile f(keeFile());
        if (!f.open(QIODevice::WriteOnly) || f.write(m_sim.memory(1)) != 512)
            return;
        f.close();
        if (rqtool({QStringLiteral("restore"), keeFile(), QStringLiteral("--all"), QStringLiteral("--yes")}) &&
            sameAsModule(keeFile(), "restore"))
            ++m_t.restoresGood;
        else
            std::fprintf(stderr, "rqsoak: a restore through the gateway without faults failed\n");
    }

    void sample(qint64 &fds, qint64 &rssKb)
    {
        const QString proc = QStringLiteral("/proc/%1").arg(m_gw.processId());
        fds = QDir(proc + QStringLiteral("/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size();
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
    QProcess m_gw;
    quint16 m_modbusPort = 0, m_converterPort = 0;
    modbus_t *m_clients[2] = {nullptr, nullptr};
    quint32 m_mask[4] = {};
    std::vector<Held> m_history[4];
    QElapsedTimer m_clock;
    GatewayTally m_t;
};

#endif
