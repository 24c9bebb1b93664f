#include "gateway/ModbusServer.h"

#include "gateway/ClientNetwork.h"
#include "gateway/Log.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace {
// The client's address without its port; an IPv4 client of an IPv6 socket
// counts as the IPv4 address it is.
QByteArray peerKey(const sockaddr_storage &a)
{
    if (a.ss_family == AF_INET) {
        const auto *in = reinterpret_cast<const sockaddr_in *>(&a);
        return QByteArray(reinterpret_cast<const char *>(&in->sin_addr), 4);
    }
    if (a.ss_family == AF_INET6) {
        const auto *in6 = reinterpret_cast<const sockaddr_in6 *>(&a);
        if (IN6_IS_ADDR_V4MAPPED(&in6->sin6_addr))
            return QByteArray(reinterpret_cast<const char *>(&in6->sin6_addr) + 12, 4);
        return QByteArray(reinterpret_cast<const char *>(&in6->sin6_addr), 16);
    }
    return {};
}
} // namespace

ModbusServer::ModbusServer(SnapshotStore &store, Poller &poller, const ServerLimits &limits)
    : m_store(store), m_poller(poller), m_limits(limits)
{
    m_wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_epoll = epoll_create1(EPOLL_CLOEXEC);
}

ModbusServer::~ModbusServer()
{
    stop();
    for (const auto &[fd, c] : m_clients)
        ::close(fd);
    if (m_listen >= 0)
        ::close(m_listen);
    if (m_epoll >= 0)
        ::close(m_epoll);
    if (m_wake >= 0)
        ::close(m_wake);
}

bool ModbusServer::listen(const Endpoint &at, QString &error)
{
    const QByteArray host = at.host.toUtf8();
    const QByteArray port = QByteArray::number(at.port);
    addrinfo hints{};
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    const bool any = host.isEmpty() || host == "*";
    const int rc = getaddrinfo(any ? nullptr : host.constData(), port.constData(), &hints, &found);
    if (rc != 0) {
        error = QStringLiteral("%1:%2: %3")
                    .arg(at.host)
                    .arg(at.port)
                    .arg(QString::fromLocal8Bit(gai_strerror(rc)));
        return false;
    }
    int lastErrno = 0;
    for (addrinfo *ai = found; ai && m_listen < 0; ai = ai->ai_next) {
        const int fd =
            ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
        if (fd < 0) {
            lastErrno = errno;
            continue;
        }
        const int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        // A deep queue: after a network blip every SCADA client reconnects
        // at once, and a handshake dropped from a full queue lingers for
        // seconds.
        if (::bind(fd, ai->ai_addr, ai->ai_addrlen) == 0 && ::listen(fd, SOMAXCONN) == 0) {
            m_listen = fd;
        } else {
            lastErrno = errno;
            ::close(fd);
        }
    }
    freeaddrinfo(found);
    if (m_listen < 0) {
        error = QStringLiteral("%1:%2: %3")
                    .arg(at.host)
                    .arg(at.port)
                    .arg(QString::fromLocal8Bit(std::strerror(lastErrno)));
        return false;
    }
    m_port = BoundPort(m_listen);
    return true;
}

void ModbusServer::start()
{
    m_stop = false;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = m_wake;
    epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_wake, &ev);
    ev.data.fd = m_listen;
    epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_listen, &ev);
    m_thread = std::thread([this] { run(); });
}

void ModbusServer::stop()
{
    m_stop = true;
    wake();
    if (m_thread.joinable())
        m_thread.join();
}

void ModbusServer::wake()
{
    const quint64 one = 1;
    if (m_wake >= 0)
        (void)!::write(m_wake, &one, sizeof one);
}

void ModbusServer::run()
{
    std::vector<epoll_event> events(256);
    qint64 lastSweep = MonotonicMs();
    // A short idle timeout (a test's) is kept to a quarter of itself.
    const int tick = m_limits.idleTimeoutS > 0 ? std::clamp(m_limits.idleTimeoutS * 250, 50, 1000) : 1000;
    while (!m_stop) {
        const int n = epoll_wait(m_epoll, events.data(), int(events.size()), tick);
        if (n < 0 && errno != EINTR)
            break;
        for (int k = 0; k < n; ++k) {
            const int fd = events[std::size_t(k)].data.fd;
            const quint32 ev = events[std::size_t(k)].events;
            if (fd == m_wake) {
                quint64 v;
                (void)!::read(m_wake, &v, sizeof v);
                finishWrites();
            } else if (fd == m_listen) {
                acceptClients();
            } else if (auto it = m_clients.find(fd); it != m_clients.end()) {
                Client &c = it->second;
                if (ev & EPOLLOUT)
                    flush(c);
                if (c.fd >= 0 && (ev & (EPOLLIN | EPOLLHUP | EPOLLERR)))
                    receive(c);
                if (c.fd < 0)
                    close(fd);
            }
        }
        const qint64 now = MonotonicMs();
        if (m_acceptPausedUntil > 0 && now >= m_acceptPausedUntil) {
            m_acceptPausedUntil = 0;
            epoll_event ev{};
            ev.events = EPOLLIN;
            ev.data.fd = m_listen;
            epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_listen, &ev);
        }
        if (now - lastSweep >= tick) {
            lastSweep = now;
            closeIdle(now);
        }
    }
}

void ModbusServer::refused(const char *why)
{
    ++m_refusedSince;
    const qint64 now = MonotonicMs();
    if (m_lastRefusalLog >= 0 && now - m_lastRefusalLog < 10000)
        return;
    m_lastRefusalLog = now;
    Log(LogLevel::Warning, QStringLiteral("Modbus TCP: odmítnuto spojení (%1), celkem %2 od minulého záznamu")
                               .arg(QString::fromUtf8(why))
                               .arg(m_refusedSince));
    m_refusedSince = 0;
}

void ModbusServer::acceptClients()
{
    // A burst of connections takes turns with the clients' requests.
    for (int k = 0; k < 64; ++k) {
        sockaddr_storage from{};
        socklen_t len = sizeof from;
        const int fd =
            ::accept4(m_listen, reinterpret_cast<sockaddr *>(&from), &len, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // Out of descriptors: wait for clients to go instead of spinning.
                epoll_ctl(m_epoll, EPOLL_CTL_DEL, m_listen, nullptr);
                m_acceptPausedUntil = MonotonicMs() + 100;
                refused("nejsou volné deskriptory");
            }
            return;
        }
        const QByteArray peer = peerKey(from);
        const char *why = nullptr;
        if (int(m_clients.size()) >= m_limits.maxConnections)
            why = "max-connections";
        else if (m_perPeer.value(peer) >= m_limits.maxPerAddress)
            why = "max-connections-per-address";
        if (why) {
            // Reset at once: the client learns it now, not after a timeout.
            const linger hard{1, 0};
            setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            ::close(fd);
            refused(why);
            continue;
        }
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        // Answers are small. Left to itself the kernel grows the buffer of a
        // client that does not read to megabytes before the limit on
        // unsent answers is ever reached.
        const int buffer = 16384;
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
        Client c;
        c.fd = fd;
        c.peer = peer;
        c.lastActive = MonotonicMs();
        c.events = EPOLLIN;
        epoll_event ev{};
        ev.events = c.events;
        ev.data.fd = fd;
        if (epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &ev) != 0) {
            ::close(fd);
            continue;
        }
        ++m_perPeer[peer];
        m_clients.emplace(fd, std::move(c));
    }
}

void ModbusServer::close(int fd)
{
    const auto it = m_clients.find(fd);
    if (it == m_clients.end())
        return;
    if (--m_perPeer[it->second.peer] <= 0)
        m_perPeer.remove(it->second.peer);
    // A write the polling thread still carries out is answered to nobody.
    epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
    ::close(fd);
    m_clients.erase(it);
}

void ModbusServer::closeIdle(qint64 now)
{
    if (m_limits.idleTimeoutS <= 0)
        return;
    const qint64 limit = qint64(m_limits.idleTimeoutS) * 1000;
    std::vector<int> idle;
    for (const auto &[fd, c] : m_clients)
        if (!c.pendingWrite && now - c.lastActive > limit)
            idle.push_back(fd);
    for (int fd : idle)
        close(fd);
}

void ModbusServer::watch(Client &c)
{
    // Requests are not read while a write waits for the bus: they are
    // answered in order.
    const quint32 want =
        (c.pendingWrite ? 0u : quint32(EPOLLIN)) | (c.out.isEmpty() ? 0u : quint32(EPOLLOUT));
    if (want == c.events)
        return;
    c.events = want;
    epoll_event ev{};
    ev.events = want;
    ev.data.fd = c.fd;
    epoll_ctl(m_epoll, EPOLL_CTL_MOD, c.fd, &ev);
}

void ModbusServer::receive(Client &c)
{
    // One read a turn: a client that sends fast does not hold the others.
    char buffer[4096];
    const ssize_t got = ::recv(c.fd, buffer, sizeof buffer, 0);
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        c.fd = -1;
        return;
    }
    if (got < 0)
        return;
    c.in.feed(buffer, got);
    handleRequests(c);
}

void ModbusServer::handleRequests(Client &c)
{
    while (!c.pendingWrite) {
        std::optional<ModbusRequest> q = c.in.next();
        if (!q)
            break;
        c.lastActive = MonotonicMs();
        ++requests;
        const std::optional<ModuleSnapshot> m = m_store.byUnit(q->unit);
        RequestDecision d = DecideRequest(*q, m ? &*m : nullptr, m_store.allowWrites, MonotonicMs(),
                                          m_store.staleMs, m_store.lowWordFirst);
        if (d.write) {
            CoilWrite w = *d.write;
            w.id = m_nextWrite++;
            c.pendingWrite = w.id;
            c.waiting = std::move(*q);
            m_poller.submitWrite(w);
            break;
        }
        c.out.append(d.answer);
        if (c.out.size() > MaxUnsent / 2) {
            flush(c);
            if (c.fd < 0)
                return;
        }
    }
    if (c.in.broken()) {
        // Not Modbus TCP: nothing after this can be read as a frame.
        c.fd = -1;
        return;
    }
    flush(c);
}

void ModbusServer::flush(Client &c)
{
    while (!c.out.isEmpty()) {
        const ssize_t sent =
            ::send(c.fd, c.out.constData(), size_t(c.out.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                c.fd = -1;
            break;
        }
        c.out.remove(0, sent);
    }
    if (c.fd >= 0 && c.out.size() > MaxUnsent)
        c.fd = -1; // it does not read its answers
    if (c.fd >= 0)
        watch(c);
}

void ModbusServer::finishWrites()
{
    for (const CoilWriteResult &r : m_poller.takeWriteResults()) {
        for (auto &[fd, c] : m_clients) {
            if (c.pendingWrite != r.id)
                continue;
            c.pendingWrite = 0;
            c.lastActive = MonotonicMs();
            c.out.append(WriteAnswer(c.waiting, r.exception));
            c.waiting = {};
            // Requests that came behind the write.
            handleRequests(c);
            if (c.fd < 0)
                close(fd);
            break;
        }
    }
}
