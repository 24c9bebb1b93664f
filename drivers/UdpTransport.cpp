// UDP transport of the LAN converter library.
#include "Driver.h"
#include "Posix.h"

#include <algorithm>
#include <sys/time.h>

#include <cstring>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

namespace rqdrv {

namespace {

class UdpTransport final : public Transport
{
public:
    UdpTransport(int fd, std::uint32_t initTimeoutMs) : m_fd(fd), m_initTimeoutMs(initTimeoutMs)
    {
        // Sequence numbers start somewhere new on every connection, so a
        // reply meant for an earlier connection is not taken either.
        m_sequence = static_cast<std::uint16_t>(Clock::now().time_since_epoch().count() ^ fd);
    }
    ~UdpTransport() override { ::close(m_fd); }

    std::uint32_t configure(std::uint32_t baud, std::uint32_t timeoutMs) override
    {
        if (baud == 0)
            return BadBaudRate;
        m_baud = baud;
        m_setConfigTimeoutMs = timeoutMs;
        return Ok;
    }

    std::uint32_t transact(const rqframe::Request &request, rqframe::Reply &reply) override
    {
        ++m_sequence;
        const auto frame = rqframe::encodeUdpRequest(request, m_sequence, m_baud);
        const std::uint32_t timeout = m_initTimeoutMs != 0 ? m_initTimeoutMs : m_setConfigTimeoutMs;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeout);

        // Whatever is queued before the request goes out cannot answer it: a
        // late or damaged reply to an earlier request. Dropped unread, so that
        // its damage is not reported as this request's (a search would take
        // it for a garbled answer at an address where no module is).
        dropQueued();
        std::uint32_t sent = sendFrame(frame.data(), frame.size());
        if (sent == ConnectionRefused) // an old ICMP error was pending; this one counts
            sent = sendFrame(frame.data(), frame.size());
        if (sent != Ok)
            return sent;

        // Most of the wait is one blocking receive with the socket's timeout,
        // so the usual path costs one system call as a bare round trip does.
        // That timeout counts in scheduler ticks and can end a tick or two
        // late; it therefore stops a guard before the deadline, and ppoll
        // waits out the rest to the microsecond (a module search's silent
        // probes last their timeout and not a tick more). Datagrams still
        // queued from earlier transactions (late or duplicated replies) carry
        // other sequence numbers and are dropped here; damaged ones are
        // remembered and reported if no valid reply follows.
        std::uint32_t damage = Ok;
        for (;;) {
            const int left = remainingMs(deadline);
            if (left <= 0)
                return damage != Ok ? damage : Timeout;
            std::uint8_t buffer[512];
            ssize_t n = 0;
            if (left > kTickGuardMs) {
                const auto blockMs = static_cast<std::uint32_t>(left - kTickGuardMs);
                if (blockMs != m_socketTimeoutMs)
                    setReceiveTimeout(blockMs);
                n = ::recv(m_fd, buffer, sizeof buffer, MSG_TRUNC);
            } else {
                const int ready = pollUntil(m_fd, POLLIN, deadline);
                if (ready < 0)
                    return ReceiveFailed;
                if (ready == 0)
                    return damage != Ok ? damage : Timeout;
                n = ::recv(m_fd, buffer, sizeof buffer, MSG_TRUNC | MSG_DONTWAIT);
            }
            if (n < 0) {
                if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
                    continue;
                if (errno == ECONNREFUSED)
                    return ConnectionRefused;
                return ReceiveFailed;
            }
            const auto size = static_cast<std::size_t>(n);
            const auto verdict =
                judgeUdpDatagram(buffer, std::min(size, sizeof buffer), m_sequence, request, reply);
            if (!verdict)
                continue;
            // A gateway's refusal is its own answer, never a module's error.
            if (*verdict == Ok && reply.error == rqframe::kGatewayRefusedWrite)
                return GatewayRefusedWrite;
            if (*verdict == Ok && reply.error == rqframe::kGatewayRefusedClient)
                return GatewayRefusedClient;
            if (*verdict == Ok)
                return Ok;
            keep(damage, *verdict);
        }
    }

private:
    static void keep(std::uint32_t &damage, std::uint32_t code)
    {
        if (damage == Ok)
            damage = code;
    }

    void dropQueued()
    {
        std::uint8_t buffer[512];
        for (;;) {
            if (::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT | MSG_TRUNC) >= 0)
                continue;
            // An old ICMP error is taken with them; an absent converter refuses the new request again.
            if (errno != EINTR && errno != ECONNREFUSED)
                return;
        }
    }

    std::uint32_t sendFrame(const std::uint8_t *data, std::size_t size)
    {
        for (;;) {
            const ssize_t n = ::send(m_fd, data, size, MSG_NOSIGNAL);
            if (n == static_cast<ssize_t>(size))
                return Ok;
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno == ECONNREFUSED)
                return ConnectionRefused;
            return SendFailed;
        }
    }

    void setReceiveTimeout(std::uint32_t ms)
    {
        timeval tv{};
        tv.tv_sec = static_cast<time_t>(ms / 1000);
        tv.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        m_socketTimeoutMs = ms;
    }

    // Covers a socket timeout that ends up to two 4 ms ticks late.
    static constexpr int kTickGuardMs = 12;

    int m_fd;
    std::uint32_t m_initTimeoutMs;
    std::uint32_t m_setConfigTimeoutMs = kDefaultTimeoutMs;
    std::uint32_t m_baud = kDefaultBaud;
    std::uint16_t m_sequence = 0;
    std::uint32_t m_socketTimeoutMs = 0; // SO_RCVTIMEO now set
};

} // namespace

std::optional<std::uint32_t> judgeUdpDatagram(const std::uint8_t *data, std::size_t size,
                                              std::uint16_t sequence, const rqframe::Request &request,
                                              rqframe::Reply &reply)
{
    std::uint16_t seen = 0;
    rqframe::Reply candidate;
    switch (rqframe::decodeUdpReply(data, size, candidate, seen)) {
    case rqframe::Decode::BadLength:
        return BadLength;
    case rqframe::Decode::BadStart:
        return NoiseBefore;
    case rqframe::Decode::BadCrc:
        return BadCrc;
    case rqframe::Decode::Ok:
        break;
    }
    if (seen != sequence)
        return std::nullopt;
    if (candidate.address != request.address)
        return WrongAddress;
    if (!rqframe::answers(candidate, request))
        return WrongCommand;
    reply = candidate;
    return Ok;
}

std::uint32_t openUdp(const char *host, std::uint32_t port, std::uint32_t timeoutMs,
                      std::unique_ptr<Transport> &out)
{
    if (!host || !*host)
        return BadIpAddress;
    if (port == 0 || port > 65535)
        return BadUdpPort;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo *list = nullptr;
    const std::string service = std::to_string(port);
    if (::getaddrinfo(host, service.c_str(), &hints, &list) != 0 || !list)
        return BadIpAddress;
    std::uint32_t result = SocketFailed;
    for (addrinfo *ai = list; ai; ai = ai->ai_next) {
        const int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
        if (fd < 0)
            continue;
        // Connected: the kernel drops datagrams from any other address or port,
        // and reports an absent converter as ECONNREFUSED.
        if (::connect(fd, ai->ai_addr, ai->ai_addrlen) != 0) {
            ::close(fd);
            continue;
        }
        out = std::make_unique<UdpTransport>(fd, timeoutMs);
        result = Ok;
        break;
    }
    ::freeaddrinfo(list);
    return result;
}

} // namespace rqdrv
