#include "SimProcess.h"

#include <QDeadlineTimer>
#include <QHostAddress>

namespace {
constexpr int kCommandTimeoutMs = 5000;
}

SimProcess::~SimProcess()
{
    stop();
}

QString SimProcess::program()
{
    return QStringLiteral(RQ_BIN_DIR "/rqsim");
}

bool SimProcess::start(const QStringList &arguments, int timeoutMs)
{
    stop();
    QStringList args = arguments;
    if (!args.contains(QStringLiteral("--udp")) && !args.contains(QStringLiteral("-u")) &&
        !args.contains(QStringLiteral("--pty")) && !args.contains(QStringLiteral("-p")))
        args << QStringLiteral("--udp") << QStringLiteral("0");
    if (!args.contains(QStringLiteral("--control")) && !args.contains(QStringLiteral("-c")))
        args << QStringLiteral("--control") << QStringLiteral("0");
    args << QStringLiteral("--exit-with-parent");
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.setReadChannel(QProcess::StandardOutput);
    m_process.start(program(), args);
    if (!m_process.waitForStarted(timeoutMs)) {
        m_error = QStringLiteral("rqsim did not start: ") + m_process.errorString();
        return false;
    }
    if (!readStartLines(timeoutMs)) {
        stop();
        return false;
    }
    m_control.connectToHost(QHostAddress::LocalHost, m_controlPort);
    if (!m_control.waitForConnected(timeoutMs)) {
        m_error = QStringLiteral("control channel: ") + m_control.errorString();
        stop();
        return false;
    }
    return true;
}

bool SimProcess::readStartLines(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        while (m_process.canReadLine()) {
            const QString line = QString::fromLocal8Bit(m_process.readLine()).trimmed();
            const QString key = line.section(QLatin1Char(' '), 0, 0);
            const QString rest = line.section(QLatin1Char(' '), 1);
            if (key == u"udp")
                m_udpPort = static_cast<quint16>(rest.toUInt());
            else if (key == u"pty")
                m_ptyPath = rest;
            else if (key == u"control")
                m_controlPort = static_cast<quint16>(rest.toUInt());
            else if (key == u"ready")
                return true;
        }
        if (m_process.state() != QProcess::Running || deadline.hasExpired() ||
            !m_process.waitForReadyRead(static_cast<int>(qMax<qint64>(1, deadline.remainingTime())))) {
            if (m_process.canReadLine())
                continue;
            m_error = QStringLiteral("rqsim did not get ready: ") +
                      QString::fromLocal8Bit(m_process.readAllStandardError()).trimmed();
            return false;
        }
    }
}

void SimProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    if (m_control.state() == QAbstractSocket::ConnectedState) {
        m_control.write("quit\n");
        m_control.waitForBytesWritten(1000);
    } else {
        m_process.terminate();
    }
    if (!m_process.waitForFinished(3000)) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
    m_control.abort();
}

bool SimProcess::isRunning() const
{
    return m_process.state() == QProcess::Running;
}

QString SimProcess::command(const QString &line)
{
    if (m_control.state() != QAbstractSocket::ConnectedState)
        return {};
    m_control.write(line.toUtf8() + '\n');
    if (!m_control.waitForBytesWritten(kCommandTimeoutMs))
        return {};
    const QDeadlineTimer deadline(kCommandTimeoutMs);
    while (!m_control.canReadLine()) {
        if (deadline.hasExpired() ||
            !m_control.waitForReadyRead(static_cast<int>(qMax<qint64>(1, deadline.remainingTime()))))
            return {};
    }
    return QString::fromUtf8(m_control.readLine()).trimmed();
}

bool SimProcess::ok(const QString &line)
{
    const QString reply = command(line);
    if (reply == u"OK" || reply.startsWith(u"OK "))
        return true;
    m_error = line + QStringLiteral(" -> ") + reply;
    return false;
}

QString SimProcess::value(const QString &reply, const QString &key) const
{
    const QStringList words = reply.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString &w : words)
        if (w.startsWith(key + QLatin1Char('=')))
            return w.mid(key.size() + 1);
    return {};
}

QByteArray SimProcess::memory(int module)
{
    const QString reply = command(QStringLiteral("dump %1").arg(module));
    if (!reply.startsWith(u"OK "))
        return {};
    return QByteArray::fromHex(reply.mid(3).toLatin1());
}

int SimProcess::memoryByte(int module, int address)
{
    const QString reply =
        command(QStringLiteral("mem %1 %2 %3").arg(module).arg(address / 256).arg(address % 256));
    bool good = false;
    const int v = reply.startsWith(u"OK ") ? reply.mid(3).toInt(&good) : -1;
    return good ? v : -1;
}

bool SimProcess::setMemoryByte(int module, int address, int value)
{
    return ok(QStringLiteral("mem %1 %2 %3 %4").arg(module).arg(address / 256).arg(address % 256).arg(value));
}

bool SimProcess::setInput(int module, int input, double value, const QString &unit)
{
    return ok(
        QStringLiteral("ain %1 %2 %3 %4").arg(module).arg(input).arg(value, 0, 'g', 17).arg(unit).trimmed());
}

bool SimProcess::setAnalogErrors(int module, double gain, double offsetVolts)
{
    return ok(QStringLiteral("aerr %1 %2 %3").arg(module).arg(gain, 0, 'g', 17).arg(offsetVolts, 0, 'g', 17));
}

bool SimProcess::setTemperature(int module, double celsius)
{
    return ok(QStringLiteral("temp %1 %2").arg(module).arg(celsius, 0, 'g', 17));
}

bool SimProcess::setDigitalInputs(int module, quint32 physical)
{
    return ok(QStringLiteral("din %1 %2").arg(module).arg(physical, 0, 16));
}

quint32 SimProcess::outputs(int module)
{
    bool good = false;
    const quint32 v =
        value(command(QStringLiteral("dout %1").arg(module)), QStringLiteral("latched")).toUInt(&good, 0);
    return good ? v : ~0u;
}

quint32 SimProcess::status(int module)
{
    const QString reply = command(QStringLiteral("status %1").arg(module));
    bool good = false;
    const quint32 v = reply.startsWith(u"OK ") ? reply.mid(3).toUInt(&good, 0) : 0;
    return good ? v : ~0u;
}

bool SimProcess::addFault(const QString &rule)
{
    return ok(QStringLiteral("fault ") + rule);
}

bool SimProcess::clearFaults()
{
    return ok(QStringLiteral("clear"));
}

QMap<QString, qint64> SimProcess::counters()
{
    QMap<QString, qint64> result;
    const QString reply = command(QStringLiteral("counters"));
    if (!reply.startsWith(u"OK "))
        return result;
    const QStringList words = reply.mid(3).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString &w : words)
        result.insert(w.section(QLatin1Char('='), 0, 0), w.section(QLatin1Char('='), 1).toLongLong());
    return result;
}
