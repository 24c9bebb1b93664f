// Runs rqgw for a test: free ports, its start lines read, SIGTERM at the end.
#ifndef RQ_TESTS_GATEWAY_GATEWAYPROCESS_H
#define RQ_TESTS_GATEWAY_GATEWAYPROCESS_H

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QtGlobal>

#include <csignal>
#include <sys/prctl.h>

class GatewayProcess
{
public:
    static QString program() { return QStringLiteral(RQ_BIN_DIR "/rqgw"); }

    ~GatewayProcess() { stop(); }

    // Starts rqgw with the arguments and ports 0 (unless given) and waits for "ready".
    bool start(QStringList args, int timeoutMs = 15000)
    {
        if (!args.contains(QStringLiteral("--modbus")))
            args << QStringLiteral("--modbus") << QStringLiteral("127.0.0.1:0");
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        // A crashed test leaves no gateway behind.
        m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        m_process.start(program(), args);
        if (!m_process.waitForStarted(timeoutMs))
            return false;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeoutMs) {
            while (m_process.canReadLine()) {
                const QByteArray line = m_process.readLine().trimmed();
                if (line.startsWith("modbus "))
                    modbusPort = line.mid(7).toUShort();
                else if (line.startsWith("converter "))
                    converterPort = line.mid(10).toUShort();
                else if (line.startsWith("metrics "))
                    metricsPort = line.mid(8).toUShort();
                else if (line == "ready")
                    return true;
            }
            if (m_process.state() != QProcess::Running || !m_process.waitForReadyRead(200))
                if (m_process.state() != QProcess::Running)
                    return false;
        }
        return false;
    }
    // SIGTERM; true when it ended cleanly (exit code 0) within timeoutMs.
    // Generous: under a sanitizer on a loaded machine the exit's own checks
    // (LeakSanitizer's included) take seconds; the 2-s promise has its own test.
    bool stop(int timeoutMs = 15000)
    {
        if (m_process.state() == QProcess::NotRunning)
            return true;
        ::kill(static_cast<pid_t>(m_process.processId()), SIGTERM);
        const bool clean = m_process.waitForFinished(timeoutMs) &&
                           m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(2000);
        }
        // A gateway that died under a test says why (a sanitizer's report included).
        if (!clean)
            qWarning("rqgw ended with status %d, code %d: %s", int(m_process.exitStatus()),
                     m_process.exitCode(), m_process.readAllStandardError().constData());
        return clean;
    }
    qint64 pid() const { return m_process.processId(); }
    int exitCode() const { return m_process.exitCode(); }
    // Dies at once, without a word to anyone (its broker included).
    void kill()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    // Resident memory in kB, 0 when not running.
    qint64 rssKb() const
    {
        QFile f(QStringLiteral("/proc/%1/status").arg(pid()));
        if (!f.open(QIODevice::ReadOnly))
            return 0;
        for (const QByteArray &line : f.readAll().split('\n'))
            if (line.startsWith("VmRSS:"))
                return line.mid(6).trimmed().split(' ').value(0).toLongLong();
        return 0;
    }
    QString log() { return QString::fromUtf8(m_process.readAllStandardError()); }
    int openFds() const
    {
        return static_cast<int>(QDir(QStringLiteral("/proc/%1/fd").arg(pid())).count()) - 2;
    }

    quint16 modbusPort = 0;
    quint16 converterPort = 0;
    quint16 metricsPort = 0;

private:
    QProcess m_process;
};

// Runs a program to its end; its standard output, "" when it could not run.
inline QString RunTool(const QString &program, const QStringList &args, int *exitCode = nullptr,
                       int timeoutMs = 60000)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return {};
    }
    if (exitCode)
        *exitCode = p.exitCode();
    return QString::fromUtf8(p.readAllStandardOutput()) + QString::fromUtf8(p.readAllStandardError());
}

#endif
