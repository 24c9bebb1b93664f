// Serial line transport of the serial port and USB converter libraries.
#include "Driver.h"
#include "Posix.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace rqdrv {

namespace {

speed_t speedOf(std::uint32_t baud)
{
    switch (baud) {
    case 600:
        return B600;
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    default:
        return B0;
    }
}

class SerialTransport final : public Transport
{
public:
    explicit SerialTransport(std::string path) : m_path(std::move(path)) {}
    ~SerialTransport() override { closeDevice(); }

    std::uint32_t open()
    {
        m_fd = ::open(m_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_fd < 0) return PortOpenFailed;
        // One master per line: a second program on the same port would steal replies.
        if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
            closeDevice();
            return PortBusy;
        }
        const std::uint32_t result = applySettings();
        if (result != Ok) closeDevice();
        return result;
    }

    std::uint32_t configure(std::uint32_t baud, std::uint32_t timeoutMs) override
    {
        if (speedOf(baud) == B0) return BadBaudRate;
        const std::uint32_t oldBaud = m_baud;
        m_baud = baud;
        m_timeoutMs = timeoutMs;
        if (m_fd >= 0 && applySettings() != Ok) {
            m_baud = oldBaud;
            return PortSetupFailed;
        }
        return Ok;
    }

    std::uint32_t transact(const rqframe::Request &request, rqframe::Reply &reply) override
    {
        // A device that went away (USB unplugged) is tried again on every request.
        if (m_fd < 0 && open() != Ok) return DeviceGone;
        const auto frame = rqframe::encodeSerialRequest(request);
        const auto deadline = Clock::now() + std::chrono::milliseconds(m_timeoutMs);

        // Whatever arrived since the last transaction (a late reply, noise) is not ours.
        ::tcflush(m_fd, TCIFLUSH);
        std::uint32_t result = writeAll(frame.data(), frame.size(), deadline);
        if (result != Ok) return result;
        while (::tcdrain(m_fd) != 0) {
            if (errno == EINTR) continue;
            return lost(errno);
        }
        return receive(frame.data(), request, reply, deadline);
    }

private:
    std::uint32_t applySettings()
    {
        termios tio{};
        if (::tcgetattr(m_fd, &tio) != 0) return PortSetupFailed;
        ::cfmakeraw(&tio);
        tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
        tio.c_cflag |= CS8 | CLOCAL | CREAD;
        tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        ::cfsetispeed(&tio, speedOf(m_baud));
        ::cfsetospeed(&tio, speedOf(m_baud));
        if (::tcsetattr(m_fd, TCSANOW, &tio) != 0) return PortSetupFailed;
        return Ok;
    }

    void closeDevice()
    {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
    }

    // EIO, ENXIO, ENODEV: the device is gone (USB unplugged, pty closed).
    std::uint32_t lost(int error)
    {
        if (error == EIO || error == ENXIO || error == ENODEV) {
            closeDevice();
            return DeviceGone;
        }
        return SendFailed;
    }

    std::uint32_t writeAll(const std::uint8_t *data, std::size_t size, Clock::time_point deadline)
    {
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = ::write(m_fd, data + done, size - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EAGAIN) {
                const int ev = pollUntil(m_fd, POLLOUT, deadline);
                if (ev == 0) return Timeout;
                if (ev < 0 || (ev & (POLLERR | POLLHUP))) return lost(ev < 0 ? errno : EIO);
                continue;
            }
            return lost(n < 0 ? errno : EIO);
        }
        return Ok;
    }

    // Reads what is there now. Returns Ok (maybe nothing read), or an error.
    std::uint32_t readSome(std::vector<std::uint8_t> &rx)
    {
        std::uint8_t buffer[256];
        for (;;) {
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n > 0) {
                rx.insert(rx.end(), buffer, buffer + n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n == 0 || errno == EAGAIN) return Ok;
            const int error = errno;
            closeDevice();
            return (error == EIO || error == ENXIO || error == ENODEV) ? DeviceGone : ReceiveFailed;
        }
    }

    // Time the line must stay quiet after a reply: 3.5 characters of 10 bits.
    std::chrono::microseconds quietTime() const
    {
        return std::chrono::microseconds((35'000'000ULL + m_baud - 1) / m_baud);
    }

    // Waits for input. Returns >0 when data may be read, 0 on timeout, or a
    // negative value after the device went away.
    int waitInput(Clock::time_point deadline)
    {
        const int ev = pollUntil(m_fd, POLLIN, deadline);
        if (ev < 0) return -1;
        if (ev & POLLIN) return 1;
        if (ev & (POLLERR | POLLHUP | POLLNVAL)) return -1;
        return 0;
    }

    std::uint32_t receive(const std::uint8_t *sent, const rqframe::Request &request, rqframe::Reply &reply,
                          Clock::time_point deadline)
    {
        std::vector<std::uint8_t> rx;
        rx.reserve(64);
        bool echoSeen = false;
        for (;;) {
            if (const auto verdict = judgeSerialReply(sent, request, rx, echoSeen, reply)) {
                if (*verdict != Ok) return *verdict;
                // The frame is complete; anything that follows at once is not
                // part of a clean reply (a second frame, line noise).
                const auto quiet = Clock::now() + quietTime();
                const int w = waitInput(quiet);
                if (w < 0) return lost(EIO);
                if (w > 0) {
                    const std::uint32_t r = readSome(rx);
                    if (r != Ok) return r;
                    if (rx.size() > rqframe::kSerialReplySize) return GarbageAfter;
                }
                return Ok;
            }
            const int w = waitInput(deadline);
            if (w < 0) return lost(EIO);
            if (w == 0) return rx.empty() ? Timeout : BadLength; // silence, or a frame cut short
            const std::uint32_t r = readSome(rx);
            if (r != Ok) return r;
        }
    }

    std::string m_path;
    int m_fd = -1;
    std::uint32_t m_baud = kDefaultBaud;
    std::uint32_t m_timeoutMs = kDefaultTimeoutMs;
};

} // namespace

std::optional<std::uint32_t> judgeSerialReply(const std::uint8_t *sent, const rqframe::Request &request,
                                              std::vector<std::uint8_t> &rx, bool &echoSeen,
                                              rqframe::Reply &reply)
{
    for (;;) {
        // Local echo of our own request (half-duplex line) comes first; skip it.
        if (!echoSeen && !rx.empty() && rx[0] == rqframe::kRequestStart) {
            const std::size_t n = std::min(rx.size(), rqframe::kSerialRequestSize);
            if (!std::equal(rx.begin(), rx.begin() + static_cast<std::ptrdiff_t>(n), sent)) return NoiseBefore;
            if (n < rqframe::kSerialRequestSize) return std::nullopt;
            rx.erase(rx.begin(), rx.begin() + static_cast<std::ptrdiff_t>(n));
            echoSeen = true;
            continue;
        }
        if (!rx.empty() && rx[0] != rqframe::kReplyStart) return NoiseBefore;
        if (rx.size() < rqframe::kSerialReplySize) return std::nullopt;
        const rqframe::Decode d = rqframe::decodeSerialReply(rx.data(), rqframe::kSerialReplySize, reply);
        if (d == rqframe::Decode::BadCrc) return BadCrc;
        if (reply.address != request.address) return WrongAddress;
        if (!rqframe::answers(reply, request)) return WrongCommand;
        if (rx.size() > rqframe::kSerialReplySize) return GarbageAfter;
        return Ok;
    }
}

std::uint32_t openSerial(const std::string &path, std::unique_ptr<Transport> &out)
{
    auto transport = std::make_unique<SerialTransport>(path);
    const std::uint32_t result = transport->open();
    if (result == Ok) out = std::move(transport);
    return result;
}

} // namespace rqdrv
