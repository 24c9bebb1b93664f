// A mosquitto broker of a test's own: a free port, a generated
// configuration, optionally a password file and a TLS listener with a
// certificate made here; read with mosquitto_sub, written with mosquitto_pub.
#ifndef RQ_TESTS_GATEWAY_BROKER_H
#define RQ_TESTS_GATEWAY_BROKER_H

#include <QDir>
#include <QFile>
#include <QList>
#include <QPair>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <csignal>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

class Broker
{
public:
    static QString program()
    {
        const QString p = QStandardPaths::findExecutable(
            QStringLiteral("mosquitto"), {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin")});
        return p;
    }
    // What is missing for a broker test, empty when nothing.
    static QString missing()
    {
        if (program().isEmpty())
            return QStringLiteral("mosquitto is not installed (make deps)");
        for (const char *tool : {"mosquitto_sub", "mosquitto_pub", "mosquitto_passwd", "openssl"})
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                return QStringLiteral("%1 is not installed (make deps)").arg(QString::fromLatin1(tool));
        return {};
    }
    static quint16 freePort()
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
        ::close(fd);
        return ntohs(a.sin_port);
    }

    ~Broker() { stop(); }

    // Writes the configuration into dir (with user/password and a TLS
    // listener when asked) and starts the broker.
    bool start(const QString &dir, bool auth, bool tls)
    {
        m_dir = dir;
        port = freePort();
        QByteArray conf = "per_listener_settings false\npersistence false\nlog_dest stderr\n";
        // Run as root, mosquitto would become "mosquitto" and lose the files here.
        if (const passwd *pw = getpwuid(getuid()))
            conf += QByteArray("user ") + pw->pw_name + '\n';
        conf += "listener " + QByteArray::number(port) + " 127.0.0.1\n";
        if (auth) {
            const QString file = dir + QStringLiteral("/passwd");
            QFile::remove(file);
            if (QProcess::execute(QStringLiteral("mosquitto_passwd"),
                                  {QStringLiteral("-c"), QStringLiteral("-b"), file, user, password}) != 0)
                return false;
            conf += "allow_anonymous false\npassword_file " + file.toUtf8() + '\n';
            userArgs = {QStringLiteral("-u"), user, QStringLiteral("-P"), password};
        } else {
            conf += "allow_anonymous true\n";
        }
        if (tls) {
            cafile = dir + QStringLiteral("/broker.pem");
            const QString key = dir + QStringLiteral("/broker.key");
            if (QProcess::execute(
                    QStringLiteral("openssl"),
                    QStringLiteral("req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 "
                                   "-addext subjectAltName=IP:127.0.0.1 -keyout %1 -out %2")
                        .arg(key, cafile)
                        .split(QLatin1Char(' '))) != 0)
                return false;
            tlsPort = freePort();
            conf += "listener " + QByteArray::number(tlsPort) + " 127.0.0.1\ncertfile " + cafile.toUtf8() +
                    "\nkeyfile " + key.toUtf8() + "\n";
        }
        QFile f(dir + QStringLiteral("/mosquitto.conf"));
        if (!f.open(QIODevice::WriteOnly) || f.write(conf) != conf.size())
            return false;
        f.close();
        return restart();
    }
    // Starts it again as configured; true once it takes connections.
    bool restart()
    {
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        m_process.start(program(), {QStringLiteral("-c"), m_dir + QStringLiteral("/mosquitto.conf")});
        if (!m_process.waitForStarted(5000))
            return false;
        for (int i = 0; i < 100; ++i) {
            if (m_process.state() != QProcess::Running)
                return false;
            QProcess probe; // quiet: "connection refused" is expected here
            probe.start(QStringLiteral("mosquitto_pub"),
                        args({QStringLiteral("-t"), QStringLiteral("probe"), QStringLiteral("-n")}));
            if (probe.waitForFinished(5000) && probe.exitStatus() == QProcess::NormalExit &&
                probe.exitCode() == 0)
                return true;
            QThread::msleep(50);
        }
        return false;
    }
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(2000);
    }
    QString log() { return QString::fromUtf8(m_process.readAll()); }
    qint64 pid() const { return m_process.processId(); }

    QStringList args(const QStringList &more) const
    {
        return QStringList{QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                           QString::number(port)} +
               userArgs + more;
    }
    // The retained messages under filter, topic and payload.
    QList<QPair<QString, QByteArray>> retained(const QString &filter) const
    {
        return subscribe(filter, 1, QStringList{QStringLiteral("--retained-only")});
    }
    QByteArray retainedOne(const QString &topic) const { return retained(topic).value(0).second; }
    // Everything under filter for seconds (or count messages, when given).
    QList<QPair<QString, QByteArray>> subscribe(const QString &filter, int seconds, QStringList more = {},
                                                int count = 0) const
    {
        more << QStringLiteral("-t") << filter << QStringLiteral("-v") << QStringLiteral("-W")
             << QString::number(seconds);
        if (count)
            more << QStringLiteral("-C") << QString::number(count);
        QProcess p;
        p.start(QStringLiteral("mosquitto_sub"), args(more));
        p.waitForFinished(seconds * 1000 + 5000);
        QList<QPair<QString, QByteArray>> out;
        for (const QByteArray &line : p.readAllStandardOutput().split('\n')) {
            const qsizetype space = line.indexOf(' ');
            if (space > 0)
                out.append({QString::fromUtf8(line.left(space)), line.mid(space + 1)});
        }
        return out;
    }
    bool publish(const QString &topic, const QByteArray &payload, bool retain = false) const
    {
        return QProcess::execute(
                   QStringLiteral("mosquitto_pub"),
                   args(QStringList{QStringLiteral("-q"), QStringLiteral("1"), QStringLiteral("-t"), topic,
                                    QStringLiteral("-m"), QString::fromUtf8(payload)} +
                        (retain ? QStringList{QStringLiteral("-r")} : QStringList()))) == 0;
    }

    // A subscriber that keeps listening: started, and subscribed, before
    // the test publishes what it waits for. It subscribes to a retained
    // topic (anchor) together with filter: once that arrives, both are on.
    class Watch
    {
    public:
        Watch(const Broker &b, const QString &filter, const QString &anchor) : m_anchor(anchor)
        {
            m_p.start(QStringLiteral("mosquitto_sub"), b.args({QStringLiteral("-v"), QStringLiteral("-t"),
                                                               filter, QStringLiteral("-t"), anchor}));
            for (int i = 0; i < 100 && !subscribed(); ++i)
                if (m_p.waitForReadyRead(100))
                    m_out += m_p.readAllStandardOutput();
        }
        ~Watch()
        {
            m_p.kill();
            m_p.waitForFinished(2000);
        }
        bool subscribed() const
        {
            const QByteArray line = m_anchor.toUtf8() + ' ';
            return m_out.startsWith(line) || m_out.contains(QByteArray('\n' + line));
        }
        // Payloads of the messages on topic so far.
        QList<QByteArray> messages(const QString &topic)
        {
            m_p.waitForReadyRead(50);
            m_out += m_p.readAllStandardOutput();
            QList<QByteArray> out;
            const QByteArray prefix = topic.toUtf8() + ' ';
            for (const QByteArray &line : m_out.split('\n'))
                if (line.startsWith(prefix))
                    out << line.mid(prefix.size());
            return out;
        }

    private:
        QString m_anchor;
        QProcess m_p;
        QByteArray m_out;
    };

    quint16 port = 0;
    quint16 tlsPort = 0;
    QString cafile;
    QString user = QStringLiteral("rqgw");
    QString password = QStringLiteral("heslo-brány");
    QStringList userArgs;

private:
    QString m_dir;
    QProcess m_process;
};

#endif
