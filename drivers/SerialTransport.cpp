// Serial line transport of the serial port and USB converter libraries.
#include "Driver.h"
#include "Posix.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
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
        if (m_fd < 0)
            return openError(errno);
        // One master per line: a second program on the same port would steal
        // replies. flock keeps out programs that lock (and our own other
        // connections); TIOCEXCL refuses every later open, also of programs
        // that do not lock.
        if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
            closeDevice();
            return PortBusy;
        }
        if (::ioctl(m_fd, TIOCEXCL) != 0) {
            closeDevice();
            return PortSetupFailed;
        }
        m_exclusive = true;
        const std::uint32_t result = applySettings();
        if (result != Ok)
            closeDevice();
        return result;
    }

    std::uint32_t configure(std::uint32_t baud, std::uint32_t timeoutMs) override
    {
        if (speedOf(baud) == B0)
            return BadBaudRate;
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
        // A device that went away (USB unplugged) is tried again on every
        // request; a refusal that the user can mend says what it is.
        if (m_fd < 0) {
            const std::uint32_t opened = open();
            if (opened == NoPermission || opened == DeviceBusy || opened == PortBusy)
                return opened;
            if (opened != Ok)
                return DeviceGone;
        }
        const auto frame = rqframe::encodeSerialRequest(request);
        const auto deadline = Clock::now() + std::chrono::milliseconds(m_timeoutMs);

        // Bytes that came after the last complete reply (an echo, a duplicate,
        // noise) are not ours: counted and thrown away before the request, so
        // they can never become part of its reply.
        // A quiet line (the usual case) needs no flush: one call less per
        // transaction.
        int pending = 0;
        const bool counted = ::ioctl(m_fd, FIONREAD, &pending) == 0;
        if (!counted && hungUp(errno))
            return lost(errno);
        if (counted && pending > 0)
            m_strayBytes += static_cast<std::uint64_t>(pending);
        if (!counted || pending > 0)
            ::tcflush(m_fd, TCIFLUSH);
        std::uint32_t result = writeAll(frame.data(), frame.size(), deadline);
        if (result == Ok)
            result = drain(deadline);
        if (result != Ok)
            return result;
        return receive(frame.data(), request, reply, deadline);
    }

    std::uint64_t strayBytes() const override { return m_strayBytes; }

private:
    std::uint32_t applySettings()
    {
        termios tio{};
        if (::tcgetattr(m_fd, &tio) != 0)
            return PortSetupFailed;
        ::cfmakeraw(&tio);
        tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
        tio.c_cflag |= CS8 | CLOCAL | CREAD;
        tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        ::cfsetispeed(&tio, speedOf(m_baud));
        ::cfsetospeed(&tio, speedOf(m_baud));
        if (::tcsetattr(m_fd, TCSANOW, &tio) != 0)
            return PortSetupFailed;
        return Ok;
    }

    void closeDevice()
    {
        if (m_fd < 0)
            return;
        // The exclusive mark stays on a line someone else still holds open
        // (a pseudo-terminal's other end): take it off again.
        if (m_exclusive)
            ::ioctl(m_fd, TIOCNXCL);
        m_exclusive = false;
        ::close(m_fd);
        m_fd = -1;
    }

    // A device that exists but may not be opened: the user can mend these.
    std::uint32_t openError(int error)
    {
        if (error == EACCES || error == EPERM) {
            struct stat st
            {
            };
            if (::stat(m_path.c_str(), &st) == 0) {
                if (const group *g = ::getgrgid(st.st_gid))
                    setDeniedGroup(g->gr_name);
            }
            return NoPermission;
        }
        if (error == EBUSY)
            return DeviceBusy;
        return PortOpenFailed;
    }

    // Waits until the kernel has handed the request to the adapter, at most
    // until the reply deadline: a stalled USB converter must not block the
    // program (tcdrain has no timeout). Sleeps about the wire time of what is
    // still queued instead of spinning.
    std::uint32_t drain(Clock::time_point deadline)
    {
        for (;;) {
            int queued = 0;
            if (::ioctl(m_fd, TIOCOUTQ, &queued) != 0)
                return lost(errno);
            if (queued <= 0)
                return Ok;
            const auto now = Clock::now();
            if (now >= deadline) {
                ::tcflush(m_fd, TCOFLUSH); // what is stuck must not go out later
                return SendFailed;
            }
            const auto wire =
                std::chrono::microseconds(static_cast<std::uint64_t>(queued) * 10'000'000ULL / m_baud);
            const auto wait = std::min<Clock::duration>(
                std::max<Clock::duration>(wire, std::chrono::microseconds(100)), deadline - now);
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
            timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
            ::nanosleep(&ts, nullptr);
        }
    }

    // EIO, ENXIO, ENODEV: the device is gone (USB unplugged, pty closed).
    static bool hungUp(int error) { return error == EIO || error == ENXIO || error == ENODEV; }

    std::uint32_t lost(int error)
    {
        if (hungUp(error)) {
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
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno == EAGAIN) {
                const int ev = pollUntil(m_fd, POLLOUT, deadline);
                if (ev == 0)
                    return Timeout;
                if (ev < 0 || (ev & (POLLERR | POLLHUP)))
                    return lost(ev < 0 ? errno : EIO);
                continue;
            }
            return lost(n < 0 ? errno : EIO);
        }
        return Ok;
    }

    // Reads what is there now. Returns Ok (maybe nothing read), or an error.
    // A read that did not fill the buffer took all the line had: no second
    // read just to hear EAGAIN (what comes later is judged after it).
    std::uint32_t readSome(std::vector<std::uint8_t> &rx)
    {
        std::uint8_t buffer[256];
        for (;;) {
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n > 0) {
                rx.insert(rx.end(), buffer, buffer + n);
                if (static_cast<std::size_t>(n) < sizeof buffer)
                    return Ok;
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno == EAGAIN)
                return Ok;
            if (n == 0) {
                // A raw line (VMIN = VTIME = 0) reads 0 when nothing is
                // there, and so does a line that hung up: only a question
                // the driver answers tells them apart.
                int pending = 0;
                if (::ioctl(m_fd, FIONREAD, &pending) != 0 && hungUp(errno))
                    return lost(errno);
                return Ok;
            }
            const int error = errno;
            closeDevice();
            return hungUp(error) ? DeviceGone : ReceiveFailed;
        }
    }

    // Waits for input. Returns >0 when data may be read, 0 on timeout, or a
    // negative value after the device went away. A hang-up comes with POLLIN
    // (reads return 0 from then on), so it is looked at first.
    int waitInput(Clock::time_point deadline)
    {
        const int ev = pollUntil(m_fd, POLLIN, deadline);
        if (ev < 0 || (ev & (POLLERR | POLLHUP | POLLNVAL)))
            return -1;
        if (ev & POLLIN)
            return 1;
        return 0;
    }

    std::uint32_t receive(const std::uint8_t *sent, const rqframe::Request &request, rqframe::Reply &reply,
                          Clock::time_point deadline)
    {
        std::vector<std::uint8_t> &rx = m_rx; // kept: no allocation per transaction
        rx.clear();
        bool echoSeen = false;
        for (;;) {
            const int w = waitInput(deadline);
            if (w < 0)
                return lost(EIO);
            if (w > 0) {
                const std::uint32_t r = readSome(rx);
                if (r != Ok)
                    return r;
                // Bytes that came together with the frame make it suspect (a
                // second frame, line noise). The frame has a fixed length and a
                // checksum, so once it is whole and nothing came with it, it is
                // the answer: no waiting for a quiet line. Anything later is
                // dealt with before the next request.
                if (const auto verdict = judgeSerialReply(sent, request, rx, echoSeen, reply))
                    return *verdict;
            }
            // The deadline holds also for a line that keeps saying "readable"
            // and gives nothing: poll past the deadline still reports it.
            if (w == 0 || Clock::now() >= deadline)
                return rx.empty() ? Timeout : BadLength; // silence, or a frame cut short
        }
    }

    std::string m_path;
    int m_fd = -1;
    bool m_exclusive = false;
    std::uint64_t m_strayBytes = 0;
    std::vector<std::uint8_t> m_rx;
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
            if (!std::equal(rx.begin(), rx.begin() + static_cast<std::ptrdiff_t>(n), sent))
                return NoiseBefore;
            if (n < rqframe::kSerialRequestSize)
                return std::nullopt;
            rx.erase(rx.begin(), rx.begin() + static_cast<std::ptrdiff_t>(n));
            echoSeen = true;
            continue;
        }
        if (!rx.empty() && rx[0] != rqframe::kReplyStart)
            return NoiseBefore;
        if (rx.size() < rqframe::kSerialReplySize)
            return std::nullopt;
        const rqframe::Decode d = rqframe::decodeSerialReply(rx.data(), rqframe::kSerialReplySize, reply);
        if (d == rqframe::Decode::BadCrc)
            return BadCrc;
        if (reply.address != request.address)
            return WrongAddress;
        if (!rqframe::answers(reply, request))
            return WrongCommand;
        if (rx.size() > rqframe::kSerialReplySize)
            return GarbageAfter;
        return Ok;
    }
}

std::uint32_t openSerial(const std::string &path, std::unique_ptr<Transport> &out)
{
    auto transport = std::make_unique<SerialTransport>(path);
    const std::uint32_t result = transport->open();
    if (result == Ok)
        out = std::move(transport);
    return result;
}

} // namespace rqdrv
