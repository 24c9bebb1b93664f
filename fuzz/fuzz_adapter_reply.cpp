// Any bytes as the reply to one request, through the real transports of our
// adapter libraries: the serial line (over a pseudo-terminal) and UDP to the
// LAN converter (over loopback). The bytes arrive in two parts split at any
// point. Whatever comes back, a transaction that reports success must carry
// exactly the bytes of a valid reply frame that answers the request.
//
// Input: flags, split point, reply bytes.
//   flags bit 0: UDP (else serial line)
//   flags bit 1: make the first frame's start byte, sequence number and CRC right
//   flags bit 2: make the first frame answer the request (address, command, sub-code)
//   flags bit 3: serial line only: echo the request first, as a half-duplex line does
#include "FuzzSupport.h"

#include "Driver.h"
#include "RqFrame.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::uint32_t TimeoutMs = 8;

const rqframe::Request &theRequest()
{
    static const rqframe::Request r = [] {
        rqframe::Request q;
        q.address = 1;
        q.command = 102;
        q.subcode = 1;
        q.d = {0, 7, 7, 0, 0};
        return q;
    }();
    return r;
}

bool waitReadable(int fd, int ms)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0 && (p.revents & POLLIN);
}

void writeAll(int fd, const std::uint8_t *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n > 0) {
            data += n;
            size -= static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
            return;
        }
    }
}

void patchCrc(std::vector<std::uint8_t> &bytes, std::size_t frameSize)
{
    const std::uint16_t crc = rqframe::crc16(bytes.data(), frameSize - 2);
    bytes[frameSize - 2] = static_cast<std::uint8_t>(crc & 0xFF);
    bytes[frameSize - 1] = static_cast<std::uint8_t>(crc >> 8);
}

struct Serial
{
    int master = -1;
    std::unique_ptr<rqdrv::Transport> transport;

    Serial()
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
            std::abort();
        if (rqdrv::openSerial(::ptsname(master), transport) != rqdrv::Ok)
            std::abort();
        transport->configure(115200, TimeoutMs);
    }
};

struct Udp
{
    int peer = -1;
    std::unique_ptr<rqdrv::Transport> transport;

    Udp()
    {
        peer = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(peer, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
            ::getsockname(peer, reinterpret_cast<sockaddr *>(&a), &len) != 0)
            std::abort();
        if (rqdrv::openUdp("127.0.0.1", ntohs(a.sin_port), TimeoutMs, transport) != rqdrv::Ok)
            std::abort();
    }
};

// Whether some valid reply frame that answers the request lies in the bytes
// and carries exactly the reply the transport returned.
bool carried(const std::vector<std::uint8_t> &bytes, bool udp, const rqframe::Reply &got)
{
    const std::size_t n = udp ? rqframe::kUdpReplySize : rqframe::kSerialReplySize;
    for (std::size_t at = 0; at + n <= bytes.size(); ++at) {
        rqframe::Reply r;
        std::uint16_t sequence = 0;
        const rqframe::Decode d = udp ? rqframe::decodeUdpReply(bytes.data() + at, n, r, sequence)
                                      : rqframe::decodeSerialReply(bytes.data() + at, n, r);
        if (d == rqframe::Decode::Ok && rqframe::answers(r, theRequest()) && r.error == got.error &&
            r.d == got.d)
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2 || size > 80)
        return 0;
    const std::uint8_t flags = data[0];
    const bool udp = flags & 1;
    std::vector<std::uint8_t> bytes(data + 2, data + size);
    const std::size_t split = std::min<std::size_t>(data[1], bytes.size());
    const std::size_t frameSize = udp ? rqframe::kUdpReplySize : rqframe::kSerialReplySize;
    const rqframe::Request &request = theRequest();

    static Serial serial;
    static Udp lan;
    rqframe::Reply reply;
    std::uint32_t result = 0;

    if (!udp) {
        // The module side: take the request off the line, then answer.
        std::thread module([&] {
            std::uint8_t sent[64];
            std::size_t got = 0;
            while (got < rqframe::kSerialRequestSize && waitReadable(serial.master, 200)) {
                const ssize_t n = ::read(serial.master, sent + got, sizeof sent - got);
                if (n <= 0)
                    break;
                got += static_cast<std::size_t>(n);
            }
            if (bytes.size() >= frameSize && (flags & 6)) {
                if (flags & 2)
                    bytes[0] = rqframe::kReplyStart;
                if (flags & 4) {
                    bytes[1] = request.address;
                    bytes[2] = request.command;
                    bytes[3] = request.subcode;
                }
                patchCrc(bytes, frameSize);
            }
            if (flags & 8)
                writeAll(serial.master, sent, got);
            writeAll(serial.master, bytes.data(), split);
            if (split < bytes.size()) {
                ::usleep(200);
                writeAll(serial.master, bytes.data() + split, bytes.size() - split);
            }
        });
        result = serial.transport->transact(request, reply);
        module.join();
    } else {
        std::thread converter([&] {
            std::uint8_t sent[64];
            sockaddr_in from{};
            socklen_t len = sizeof from;
            if (!waitReadable(lan.peer, 200))
                return;
            const ssize_t n =
                ::recvfrom(lan.peer, sent, sizeof sent, 0, reinterpret_cast<sockaddr *>(&from), &len);
            if (n != static_cast<ssize_t>(rqframe::kUdpRequestSize))
                return;
            if (bytes.size() >= frameSize && (flags & 6)) {
                if (flags & 2) {
                    bytes[0] = rqframe::kReplyStart;
                    bytes[1] = sent[1];
                    bytes[2] = sent[2];
                }
                if (flags & 4) {
                    bytes[3] = request.address;
                    bytes[4] = request.command;
                    bytes[5] = request.subcode;
                }
                patchCrc(bytes, frameSize);
            }
            auto datagram = [&](const std::uint8_t *p, std::size_t k) {
                ::sendto(lan.peer, p, k, 0, reinterpret_cast<sockaddr *>(&from), len);
            };
            datagram(bytes.data(), split);
            if (split < bytes.size())
                datagram(bytes.data() + split, bytes.size() - split);
        });
        result = lan.transport->transact(request, reply);
        converter.join();
    }

    if (result == rqdrv::Ok) {
        FUZZ_CHECK(rqframe::answers(reply, request));
        FUZZ_CHECK(carried(bytes, udp, reply));
    }
    return 0;
}
