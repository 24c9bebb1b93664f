#include "gateway/ConverterServer.h"

#include "comm/Opakovani.h"
#include "drivers/ErrorCodes.h"
#include "gateway/ClientNetwork.h"
#include "gateway/ConverterDatagram.h"
#include "gateway/Log.h"
#include "gateway/Poller.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

ConverterServer::~ConverterServer()
{
    if (m_udp >= 0)
        ::close(m_udp);
}

bool ConverterServer::open(QString &error)
{
    const GatewayConfig &cfg = m_host.config();
    if (!cfg.converter)
        return true;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo *res = nullptr;
    const QByteArray host = cfg.converter->host.toUtf8();
    const QByteArray port = QByteArray::number(cfg.converter->port);
    if (getaddrinfo(host.constData(), port.constData(), &hints, &res) != 0 || !res) {
        error = QStringLiteral("adresu %1 nelze přeložit").arg(cfg.converter->host);
        return false;
    }
    m_udp = ::socket(res->ai_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int one = 1;
    if (m_udp >= 0)
        setsockopt(m_udp, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (m_udp < 0 || ::bind(m_udp, res->ai_addr, res->ai_addrlen) != 0) {
        error = QStringLiteral("UDP port %1 nelze otevřít: %2")
                    .arg(cfg.converter->port)
                    .arg(QString::fromLocal8Bit(strerror(errno)));
        freeaddrinfo(res);
        return false;
    }
    freeaddrinfo(res);
    m_port = BoundPort(m_udp);
    return true;
}

int ConverterServer::serve(int most)
{
    if (m_udp < 0)
        return 0;
    // One request that takes the bus a turn: a client that keeps requests
    // queued takes turns with the polls instead of holding the bus.
    int served = 0;
    for (int k = 0; k < most && !served && !m_host.stopping(); ++k) {
        quint8 buf[64];
        sockaddr_storage from{};
        socklen_t fromLen = sizeof from;
        const ssize_t n =
            ::recvfrom(m_udp, buf, sizeof buf, MSG_DONTWAIT, reinterpret_cast<sockaddr *>(&from), &fromLen);
        if (n < 0)
            break;
        served += handleDatagram(buf, static_cast<int>(n), &from, fromLen) ? 1 : 0;
    }
    return served;
}

bool ConverterServer::handleDatagram(const quint8 *buf, int len, const void *from, unsigned fromLen)
{
    const auto reply = [&](const auto &frame) {
        ::sendto(m_udp, frame.data(), frame.size(), 0, static_cast<const sockaddr *>(from), fromLen);
    };
    const GatewayConfig &cfg = m_host.config();
    const DatagramVerdict v = JudgeDatagram(
        buf, static_cast<std::size_t>(len), [&] { return clientAllowed(from); }, cfg.allowWrites,
        cfg.converterWrites);
    if (v.refused)
        logRefusal(v, from);
    if (v.action == DatagramVerdict::Action::Answer)
        reply(v.answer);
    if (v.action != DatagramVerdict::Action::Forward)
        return false;
    const rqframe::Request &req = v.request;
    const std::uint16_t seq = v.sequence;
    const std::uint32_t baud = v.baud;
    if (!m_host.beforeClient(req, baud))
        return false;

    ModuleBytes d{req.d[0], req.d[1], req.d[2], req.d[3], req.d[4]};
    const quint8 error = m_host.transactForClient(req, d);
    rqframe::Reply r;
    r.address = req.address;
    r.command = req.command;
    r.subcode = req.subcode;
    if (error == 0)
        r.error = 0;
    else if (IsModuleError(error))
        r.error = error == AdapterError::ModuleUnknownError
                      ? 6
                      : static_cast<quint8>(error - AdapterError::ModuleErrorBase);
    else
        return true; // nothing (or nothing sound) came from the module: the client times out as on the bus
    r.d = {d[0], d[1], d[2], d[3], d[4]};
    reply(rqframe::encodeUdpReply(r, seq));

    if (error == 0)
        m_host.afterClient(req, baud, d);
    return true;
}

bool ConverterServer::clientAllowed(const void *from)
{
    const auto *sa = static_cast<const sockaddr *>(from);
    const GatewayConfig &cfg = m_host.config();
    if (!cfg.converterAllow.isEmpty())
        return ClientAllowed(cfg.converterAllow, sa);
    // This machine only; its addresses looked up again now and then (DHCP).
    const qint64 now = MonotonicMs();
    if (m_localAt < 0 || now - m_localAt > 10000) {
        m_local = ThisMachine();
        m_localAt = now;
    }
    return ClientAllowed(m_local, sa);
}

void ConverterServer::logRefusal(const DatagramVerdict &v, const void *from)
{
    // Said at most every 10 s: a flood of forged datagrams must not flood the log.
    const qint64 now = MonotonicMs();
    if (m_refusalLogAt >= 0 && now - m_refusalLogAt <= 10000)
        return;
    m_refusalLogAt = now;
    const auto *sa = static_cast<const sockaddr *>(from);
    char host[INET6_ADDRSTRLEN] = "?";
    if (sa->sa_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(sa)->sin_addr, host, sizeof host);
    else if (sa->sa_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6 *>(sa)->sin6_addr, host, sizeof host);
    Log(LogLevel::Warning, QStringLiteral("LAN konvertor: dotaz z %1 (modul %2, příkaz %3) odmítnut: %4")
                               .arg(QString::fromLatin1(host))
                               .arg(v.request.address)
                               .arg(v.request.command)
                               .arg(v.why));
}
