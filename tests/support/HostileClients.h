// Modbus TCP clients that try to hold a server up or knock it down, for the
// gateway's tests, its benchmark and the soak. Each group runs on a thread
// of its own from its own source address (127.0.0.x reaches a server on
// 127.0.0.1), so that a limit per address meets it alone; a connection the
// server closes or refuses is counted and, where the kind keeps at it,
// opened again.
#ifndef RQ_TESTS_SUPPORT_HOSTILECLIENTS_H
#define RQ_TESTS_SUPPORT_HOSTILECLIENTS_H

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class HostileClients
{
public:
    enum class Kind {
        SlowSender,    // a 259-byte frame, one byte every 80 ms, again and again
        HalfFrame,     // 8 bytes of a 12-byte read, then silence
        NonReader,     // reads sent without pause, answers never read
        WrongProtocol, // a read with protocol id 1
        BadByteCount,  // function 15 whose byte count is more than its frame holds
        Connections,   // connections opened and held, nothing sent
        Garbage,       // bytes at random, 64 every 20 ms
    };

    HostileClients(Kind kind, int count, std::uint16_t port, const char *source = "127.0.0.2")
        : m_kind(kind), m_count(count), m_port(port), m_source(source)
    {
    }
    ~HostileClients() { stop(); }
    HostileClients(const HostileClients &) = delete;
    HostileClients &operator=(const HostileClients &) = delete;

    void start()
    {
        m_stop = false;
        m_thread = std::thread([this] { run(); });
    }
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }

    // Connections open now (connected, not closed by the server).
    int open() const { return m_open; }
    // Connections the server closed or refused.
    int closed() const { return m_closed; }
    // Connections attempted.
    int attempts() const { return m_attempts; }
    // Exception codes of the answers read (BadByteCount), in order.
    std::vector<int> exceptions() const
    {
        std::lock_guard lock(m_mutex);
        return m_exceptions;
    }

private:
    struct Conn
    {
        int fd = -1;
        bool connected = false;
        std::size_t sent = 0; // of the frame in progress
        std::chrono::steady_clock::time_point next{};
    };

    static std::string frame(Kind kind)
    {
        if (kind == Kind::SlowSender) {
            // Function 15, 1968 coils: 7 + 252 bytes.
            std::string f("\x00\x01\x00\x00\x00\xfd\x01\x0f\x00\x00\x07\xb0\xf6", 13);
            return f + std::string(246, '\0');
        }
        if (kind == Kind::BadByteCount) // ten coils: two bytes said, one sent
            return std::string("\x00\x01\x00\x00\x00\x08\x01\x0f\x00\x00\x00\x0a\x02\xff", 14);
        std::string read("\x00\x01\x00\x00\x00\x06\x01\x04\x00\x00\x00\x1a", 12);
        if (kind == Kind::WrongProtocol)
            read[3] = 1;
        return read;
    }

    int connectOne()
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return -1;
        if (m_kind == Kind::NonReader) {
            // Small buffers fill soon: the server meets a client that does not read.
            const int small = 4096;
            setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        }
        sockaddr_in from{};
        from.sin_family = AF_INET;
        inet_pton(AF_INET, m_source.c_str(), &from.sin_addr);
        ::bind(fd, reinterpret_cast<sockaddr *>(&from), sizeof from);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(m_port);
        inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
        ++m_attempts;
        if (::connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0 && errno != EINPROGRESS) {
            ::close(fd);
            return -1;
        }
        return fd;
    }

    void lost(Conn &c)
    {
        if (c.connected) {
            --m_open;
            ++m_closed;
        } else {
            ++m_closed;
        }
        ::close(c.fd);
        c = Conn{};
        c.next = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
    }

    // Whether the server closed the connection; answers read and, for a bad
    // byte count, their exception codes kept.
    bool serverClosed(Conn &c)
    {
        char buffer[512];
        for (;;) {
            const ssize_t got = ::recv(c.fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (got == 0)
                return true;
            if (got < 0)
                return errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
            if (m_kind == Kind::BadByteCount && got >= 9 && (buffer[7] & 0x80)) {
                std::lock_guard lock(m_mutex);
                m_exceptions.push_back(static_cast<std::uint8_t>(buffer[8]));
            }
        }
    }

    void run()
    {
        using namespace std::chrono;
        const std::string f = frame(m_kind);
        const bool again = m_kind != Kind::Connections; // the others come back when closed
        std::vector<Conn> conns(static_cast<std::size_t>(m_count));
        std::vector<pollfd> fds;
        bool opened = false;
        while (!m_stop) {
            const auto now = steady_clock::now();
            for (Conn &c : conns) {
                if (c.fd < 0 && (again || !opened) && now >= c.next) {
                    c.fd = connectOne();
                    if (c.fd < 0)
                        c.next = now + milliseconds(100);
                }
            }
            opened = true;
            fds.clear();
            for (const Conn &c : conns)
                fds.push_back(
                    {c.fd, short(c.connected ? (m_kind == Kind::NonReader ? 0 : POLLIN) : POLLOUT), 0});
            ::poll(fds.data(), fds.size(), 10);
            const auto t = steady_clock::now();
            for (std::size_t k = 0; k < conns.size(); ++k) {
                Conn &c = conns[k];
                if (c.fd < 0)
                    continue;
                const short ev = fds[k].revents;
                if (!c.connected) {
                    if (!ev)
                        continue;
                    int err = 0;
                    socklen_t len = sizeof err;
                    getsockopt(c.fd, SOL_SOCKET, SO_ERROR, &err, &len);
                    if (err != 0 || (ev & (POLLERR | POLLHUP))) {
                        lost(c);
                        continue;
                    }
                    c.connected = true;
                    ++m_open;
                    c.next = t;
                }
                if ((ev & (POLLIN | POLLHUP | POLLERR)) && serverClosed(c)) {
                    lost(c);
                    continue;
                }
                if (m_kind == Kind::NonReader && (ev & (POLLHUP | POLLERR))) {
                    lost(c);
                    continue;
                }
                if (t < c.next || m_kind == Kind::Connections)
                    continue;
                switch (m_kind) {
                case Kind::SlowSender:
                    if (!sendSome(c, f.data() + c.sent, 1))
                        continue;
                    c.sent = (c.sent + 1) % f.size();
                    c.next = t + milliseconds(80);
                    break;
                case Kind::HalfFrame:
                case Kind::WrongProtocol:
                    if (c.sent == 0 && sendSome(c, f.data(), m_kind == Kind::HalfFrame ? 8 : f.size()))
                        c.sent = 1;
                    c.next = t + hours(1);
                    break;
                case Kind::NonReader:
                    for (int n = 0; n < 64 && c.fd >= 0; ++n)
                        if (!sendSome(c, f.data(), f.size()))
                            break;
                    c.next = t + milliseconds(5);
                    break;
                case Kind::BadByteCount:
                    sendSome(c, f.data(), f.size());
                    c.next = t + milliseconds(50);
                    break;
                case Kind::Garbage: {
                    char junk[64];
                    for (char &b : junk) {
                        m_seed = m_seed * 1103515245u + 12345u;
                        b = static_cast<char>(m_seed >> 16);
                    }
                    sendSome(c, junk, sizeof junk);
                    c.next = t + milliseconds(20);
                    break;
                }
                case Kind::Connections:
                    break;
                }
            }
        }
        for (Conn &c : conns)
            if (c.fd >= 0)
                ::close(c.fd);
        m_open = 0;
    }

    // Sends what the socket takes now; false when nothing went (full, or
    // the connection is gone, which is then counted).
    bool sendSome(Conn &c, const char *data, std::size_t size)
    {
        const ssize_t sent = ::send(c.fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0)
            return true;
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            lost(c);
        return false;
    }

    Kind m_kind;
    int m_count;
    std::uint16_t m_port;
    std::string m_source;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_open{0}, m_closed{0}, m_attempts{0};
    mutable std::mutex m_mutex;
    std::vector<int> m_exceptions;
    std::uint32_t m_seed = 1; // of the garbage
};

#endif
