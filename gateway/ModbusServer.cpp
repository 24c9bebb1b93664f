#include "gateway/ModbusServer.h"

#include "gateway/Log.h"

#include <modbus.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {
int header(modbus_t *ctx)
{
    return modbus_get_header_length(ctx);
}
int word(const quint8 *q, int at)
{
    return q[at] << 8 | q[at + 1];
}
} // namespace

ModbusServer::ModbusServer(SnapshotStore &store, Poller &poller) : m_store(store), m_poller(poller)
{
    m_wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_map = NewRegisterMapping();
}

ModbusServer::~ModbusServer()
{
    stop();
    for (Client &c : m_clients)
        ::close(c.fd);
    if (m_listen >= 0)
        ::close(m_listen);
    if (m_ctx)
        modbus_free(m_ctx);
    modbus_mapping_free(m_map);
    if (m_wake >= 0)
        ::close(m_wake);
}

bool ModbusServer::listen(const Endpoint &at, QString &error)
{
    const QByteArray host = at.host.toUtf8();
    const QByteArray port = QByteArray::number(at.port);
    m_ctx = modbus_new_tcp_pi(host.constData(), port.constData());
    if (!m_ctx) {
        error = QString::fromLocal8Bit(modbus_strerror(errno));
        return false;
    }
    ConfigureServerContext(m_ctx);
    // A deep queue: after a network blip every SCADA client reconnects at
    // once, and a handshake dropped from a full queue lingers for seconds.
    m_listen = modbus_tcp_pi_listen(m_ctx, SOMAXCONN);
    if (m_listen < 0) {
        error = QStringLiteral("%1:%2: %3")
                    .arg(at.host)
                    .arg(at.port)
                    .arg(QString::fromLocal8Bit(modbus_strerror(errno)));
        return false;
    }
    ::fcntl(m_listen, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_listen, F_SETFL, ::fcntl(m_listen, F_GETFL) | O_NONBLOCK); // accepts until none waits
    sockaddr_storage bound{};
    socklen_t len = sizeof bound;
    getsockname(m_listen, reinterpret_cast<sockaddr *>(&bound), &len);
    m_port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6 *>(&bound)->sin6_port
                                               : reinterpret_cast<sockaddr_in *>(&bound)->sin_port);
    return true;
}

void ModbusServer::start()
{
    m_stop = false;
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
    std::vector<pollfd> fds;
    while (!m_stop) {
        const qint64 now = MonotonicMs();
        fds.clear();
        fds.push_back({m_wake, POLLIN, 0});
        fds.push_back({now >= m_acceptPausedUntil ? m_listen : -1, POLLIN, 0});
        for (const Client &c : m_clients)
            fds.push_back({c.pendingWrite ? -1 : c.fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), 1000) < 0 && errno != EINTR)
            break;
        if (fds[0].revents) {
            quint64 v;
            (void)!::read(m_wake, &v, sizeof v);
            finishWrites();
        }
        std::vector<int> drop;
        for (std::size_t k = 0; k < m_clients.size(); ++k) {
            Client &c = m_clients[k];
            const short ev = fds[k + 2].revents;
            if (ev && !serve(c))
                drop.push_back(c.fd);
            else if (!ev && !c.pendingWrite && now - c.lastActive > IdleCloseMs)
                drop.push_back(c.fd);
        }
        if (!drop.empty()) {
            std::erase_if(m_clients, [&](const Client &c) {
                if (std::find(drop.begin(), drop.end(), c.fd) == drop.end())
                    return false;
                ::close(c.fd);
                return true;
            });
        }
        if (fds[1].revents)
            acceptClients();
    }
}

void ModbusServer::acceptClients()
{
    for (;;) {
        const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE) {
                // Out of descriptors: wait for clients to go instead of spinning.
                m_acceptPausedUntil = MonotonicMs() + 100;
                Log(LogLevel::Warning,
                    QStringLiteral("příliš mnoho spojení Modbus: nová se chvíli nepřijímají"));
            }
            return;
        }
        if (static_cast<int>(m_clients.size()) >= MaxClients) {
            ::close(fd);
            continue;
        }
        // libmodbus reads and writes whole frames with its own timeouts.
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        timeval tv{1, 0}; // a client that does not read its answers cannot stall the others longer
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        m_clients.push_back({fd, MonotonicMs(), 0, {}});
    }
}

void ConfigureServerContext(modbus_t *ctx)
{
    // A client that sends half a frame holds the others at most this long.
    modbus_set_indication_timeout(ctx, 0, 200000);
    modbus_set_byte_timeout(ctx, 0, 200000);
    // libmodbus sleeps the response timeout before it answers a malformed
    // quantity (a read of 0 registers) and flushes that client's socket: at
    // its default of 0.5 s one such request stalled every client.
    modbus_set_response_timeout(ctx, 0, 1000);
}

modbus_mapping_t *NewRegisterMapping()
{
    return modbus_mapping_new_start_address(0, RegisterMap::Coils, 0, RegisterMap::DiscreteInputs, 0, 0, 0,
                                            RegisterMap::InputRegisterEnd);
}

void FillMapping(modbus_mapping_t *map, const ModuleSnapshot &m, int function, qint64 nowMs)
{
    // Only the table the request reads: the rest costs time on every request.
    if (function == 4) {
        const auto regs = InputRegisters(m, nowMs);
        std::copy(regs.begin(), regs.end(), map->tab_input_registers);
    } else if (function == 2) {
        for (int n = 0; n < 32; ++n)
            map->tab_input_bits[n] = (m.din >> n) & 1;
    } else {
        for (int n = 0; n < 32; ++n)
            map->tab_bits[n] = (m.dout >> n) & 1;
    }
}

RequestDecision DecideRequest(const quint8 *q, int len, int off, const ModuleSnapshot *m, bool allowWrites,
                              qint64 nowMs, qint64 staleMs)
{
    RequestDecision d;
    RequestView r;
    r.function = q[off];
    if (len >= off + 5) {
        r.address = word(q, off + 1);
        r.count = r.function == 5 ? 1 : word(q, off + 3);
    }
    d.exception = RequestException(m, r, allowWrites, nowMs, staleMs);
    if (d.exception || (r.function != 5 && r.function != 15))
        return d;
    // A coil write is carried out by the polling thread or refused here:
    // libmodbus would answer it as done from the map (a byte count larger
    // than the coils need, for one), with nothing written to the module.
    d.exception = ModbusException::IllegalValue;
    if (len < off + 5)
        return d;
    CoilWrite w;
    w.unit = q[off - 1];
    w.address = r.address;
    w.count = r.count;
    if (r.function == 5) {
        const int v = word(q, off + 3);
        if (v != 0xFF00 && v != 0)
            return d;
        w.values = v ? 1 : 0;
    } else {
        // A quantity out of range must not reach the outputs before the
        // client hears the refusal.
        if (r.count < 1 || r.count > 1968 || r.address + r.count > RegisterMap::Coils)
            return d;
        const int bytes = len > off + 5 ? q[off + 5] : -1;
        if (bytes != (r.count + 7) / 8 || len < off + 6 + bytes)
            return d;
        for (int n = 0; n < r.count; ++n)
            w.values |= quint32((q[off + 6 + n / 8] >> (n % 8)) & 1) << n;
    }
    d.exception.reset();
    d.write = w;
    return d;
}

bool ModbusServer::serve(Client &c)
{
    quint8 q[MODBUS_TCP_MAX_ADU_LENGTH];
    modbus_set_socket(m_ctx, c.fd);
    const int len = modbus_receive(m_ctx, q);
    if (len < 0)
        return false; // closed, or a frame libmodbus cannot take: that client goes
    if (len == 0)
        return true;
    c.lastActive = MonotonicMs();
    ++requests;
    const int off = header(m_ctx);
    const std::optional<ModuleSnapshot> m = m_store.byUnit(q[off - 1]);
    const RequestDecision d =
        DecideRequest(q, len, off, m ? &*m : nullptr, m_store.allowWrites, MonotonicMs(), m_store.staleMs);
    if (d.exception)
        return modbus_reply_exception(m_ctx, q, *d.exception) >= 0;
    if (d.write) {
        CoilWrite w = *d.write;
        w.id = m_nextWrite++;
        c.pendingWrite = w.id;
        c.query.assign(q, q + len);
        m_poller.submitWrite(w);
        return true;
    }
    FillMapping(m_map, m ? *m : ModuleSnapshot{}, q[off], MonotonicMs());
    return modbus_reply(m_ctx, q, len, m_map) >= 0;
}

void ModbusServer::finishWrites()
{
    for (const CoilWriteResult &r : m_poller.takeWriteResults()) {
        for (Client &c : m_clients) {
            if (c.pendingWrite != r.id)
                continue;
            c.pendingWrite = 0;
            modbus_set_socket(m_ctx, c.fd);
            const int off = header(m_ctx);
            if (r.exception) {
                modbus_reply_exception(m_ctx, c.query.data(), r.exception);
            } else {
                const std::optional<ModuleSnapshot> m =
                    m_store.byUnit(c.query[static_cast<std::size_t>(off - 1)]);
                FillMapping(m_map, m ? *m : ModuleSnapshot{}, c.query[static_cast<std::size_t>(off)],
                            MonotonicMs());
                modbus_reply(m_ctx, c.query.data(), static_cast<int>(c.query.size()), m_map);
            }
            c.query.clear();
        }
    }
}
