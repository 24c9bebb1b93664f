// Any bytes as the reply to one request, through the reply rules of the real
// transports of our adapter libraries: the serial line and UDP to the LAN
// converter. They are fed in process (judgeSerialReply, judgeUdpDatagram),
// as the transports feed them after each read, so an input costs
// microseconds instead of a reply timeout. The bytes arrive in two parts
// split at any point. Whatever comes back, a transaction that reports success
// must carry exactly the bytes of a valid reply frame that answers the request.
//
// Input: flags, split point, reply bytes.
//   flags bit 0: UDP (else serial line)
//   flags bit 1: make the first frame's start byte, sequence number and CRC right
//   flags bit 2: make the first frame answer the request (address, command, sub-code)
//   flags bit 3: serial line only: echo the request first, as a half-duplex line does
#include "FuzzSupport.h"

#include "Driver.h"
#include "RqFrame.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

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

void patchCrc(std::vector<std::uint8_t> &bytes, std::size_t frameSize)
{
    const std::uint16_t crc = rqframe::crc16(bytes.data(), frameSize - 2);
    bytes[frameSize - 2] = static_cast<std::uint8_t>(crc & 0xFF);
    bytes[frameSize - 1] = static_cast<std::uint8_t>(crc >> 8);
}

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

// The serial transport's receive loop without the line: the echo and the
// first part arrive, then the second part. A whole reply is the answer at
// once; what comes after it belongs to no transaction (thrown away before
// the next request).
std::uint32_t serialTransaction(const std::vector<std::uint8_t> &sent, const std::vector<std::uint8_t> &bytes,
                                std::size_t split, bool echo, rqframe::Reply &reply)
{
    std::vector<std::uint8_t> rx;
    if (echo)
        rx = sent;
    rx.insert(rx.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(split));
    bool echoSeen = false;
    if (const auto verdict = rqdrv::judgeSerialReply(sent.data(), theRequest(), rx, echoSeen, reply))
        return *verdict;
    if (split == bytes.size())
        return rx.empty() ? rqdrv::Timeout : rqdrv::BadLength;
    rx.insert(rx.end(), bytes.begin() + static_cast<std::ptrdiff_t>(split), bytes.end());
    if (const auto verdict = rqdrv::judgeSerialReply(sent.data(), theRequest(), rx, echoSeen, reply))
        return *verdict;
    return rx.empty() ? rqdrv::Timeout : rqdrv::BadLength;
}

// The UDP transport's receive loop without the socket: two datagrams.
std::uint32_t udpTransaction(const std::vector<std::uint8_t> &bytes, std::size_t split,
                             std::uint16_t sequence, rqframe::Reply &reply)
{
    std::uint32_t damage = rqdrv::Ok;
    auto datagram = [&](const std::uint8_t *p, std::size_t k) {
        const auto verdict = rqdrv::judgeUdpDatagram(p, k, sequence, theRequest(), reply);
        if (verdict && *verdict != rqdrv::Ok && damage == rqdrv::Ok)
            damage = *verdict;
        return verdict && *verdict == rqdrv::Ok;
    };
    if (datagram(bytes.data(), split))
        return rqdrv::Ok;
    if (split < bytes.size() && datagram(bytes.data() + split, bytes.size() - split))
        return rqdrv::Ok;
    return damage != rqdrv::Ok ? damage : rqdrv::Timeout;
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
    static std::uint16_t sequence = 0;
    ++sequence;

    if (bytes.size() >= frameSize && (flags & 6)) {
        if (flags & 2) {
            bytes[0] = rqframe::kReplyStart;
            if (udp) {
                bytes[1] = static_cast<std::uint8_t>(sequence & 0xFF);
                bytes[2] = static_cast<std::uint8_t>(sequence >> 8);
            }
        }
        if (flags & 4) {
            const std::size_t at = udp ? 3 : 1;
            bytes[at] = request.address;
            bytes[at + 1] = request.command;
            bytes[at + 2] = request.subcode;
        }
        patchCrc(bytes, frameSize);
    }

    rqframe::Reply reply;
    std::uint32_t result = 0;
    if (udp) {
        result = udpTransaction(bytes, split, sequence, reply);
    } else {
        const auto frame = rqframe::encodeSerialRequest(request);
        const std::vector<std::uint8_t> sent(frame.begin(), frame.end());
        result = serialTransaction(sent, bytes, split, flags & 8, reply);
    }
    if (result == rqdrv::Ok) {
        FUZZ_CHECK(rqframe::answers(reply, request));
        FUZZ_CHECK(carried(bytes, udp, reply));
    }
    return 0;
}
