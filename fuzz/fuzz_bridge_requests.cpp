// The bridge's end of its protocol: any bytes as the requests rqbridge32
// reads on its standard input, served in process by rqbridge32.c itself
// (compiled for Linux against a small Windows shim, bridgehost/) with a
// stand-in maker's library that writes through every pointer to the full
// extent the protocol promises. Nothing may crash or overrun, and what the
// bridge writes back must be whole answers our adapter library accepts: one
// per request at most, each fitting its operation, a fault answer only last.
//
// Input: flags, then
//   flags bit 0 set: the rest is the raw byte stream
//   else records [operation, size mode, payload bytes...] wrapped in right
//   headers: operation 0..8 (0: an unknown one), payload of the operation's
//   length (LOAD and INIT with their counted texts made right), unless size
//   mode bit 0 puts it off by -2..+2 bytes.
#include "FuzzSupport.h"

#include "BridgeFuzz.h"
#include "VendorBridge.h"
#include "bridgehost/bridge_host.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

void put32(std::vector<std::uint8_t> &out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// Payload length of each request (LOAD and INIT: built with their texts).
std::size_t requestSize(std::uint16_t op)
{
    switch (op) {
    case RQB_VERSION_OP:
        return RQB_VERSION_REQUEST;
    case RQB_SETCONFIG:
        return RQB_SETCONFIG_REQUEST;
    case RQB_GETCONFIG:
        return RQB_GETCONFIG_REQUEST;
    case RQB_SEND:
        return RQB_SEND_REQUEST;
    case RQB_DONE:
        return RQB_DONE_REQUEST;
    case RQB_ERROR:
        return RQB_ERROR_REQUEST;
    default:
        return 8;
    }
}

// Takes bytes from the input, zeros when it runs out.
struct Source
{
    const std::uint8_t *data;
    std::size_t size;
    std::size_t at = 0;
    bool more() const { return at < size; }
    std::uint8_t next() { return at < size ? data[at++] : 0; }
};

std::vector<std::uint8_t> structured(Source &in, std::vector<std::uint16_t> &ops)
{
    std::vector<std::uint8_t> stream;
    while (in.more()) {
        const std::uint8_t pick = in.next() % 9;
        const std::uint16_t op = pick == 0 ? 0x55 : pick;
        const std::uint8_t mode = in.next();
        std::vector<std::uint8_t> payload;
        payload.reserve(RQB_SEND_REQUEST + 4);
        if (op == RQB_LOAD) {
            const std::uint32_t prefix = in.next() % 12;
            put32(payload, prefix);
            for (std::uint32_t i = 0; i < prefix; ++i)
                payload.push_back(in.next());
            const std::uint32_t path = in.next() % 48;
            put32(payload, path);
            for (std::uint32_t i = 0; i < path; ++i)
                payload.push_back(in.next());
        } else if (op == RQB_INIT) {
            payload.resize(RQB_INIT_REQUEST_FIXED - 4);
            for (std::uint8_t &b : payload)
                b = in.next();
            payload[0] %= 4; // forms 0..2, and one unknown
            const std::uint32_t text = in.next() % 24;
            put32(payload, text);
            for (std::uint32_t i = 0; i < text; ++i)
                payload.push_back(in.next());
        } else {
            const std::size_t n = requestSize(op);
            // Send and Error are long: the input fills their start, zeros the rest.
            payload.resize(n, 0);
            for (std::size_t i = 0; i < n && i < 24; ++i)
                payload[i] = in.next();
        }
        if (mode & 1) {
            const int off = static_cast<int>((mode >> 1) % 5) - 2;
            if (off < 0 && payload.size() >= 2)
                payload.resize(payload.size() - static_cast<std::size_t>(-off));
            else if (off > 0)
                payload.resize(payload.size() + static_cast<std::size_t>(off), 0xEE);
        }
        put32(stream, RQB_MAGIC_REQUEST);
        stream.push_back(RQB_VERSION);
        stream.push_back(0);
        stream.push_back(static_cast<std::uint8_t>(op));
        stream.push_back(static_cast<std::uint8_t>(op >> 8));
        put32(stream, static_cast<std::uint32_t>(payload.size()));
        stream.insert(stream.end(), payload.begin(), payload.end());
        ops.push_back(op);
    }
    return stream;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1 || size > 4096)
        return 0;
    std::vector<std::uint16_t> ops; // the requests, when the harness wrapped them
    std::vector<std::uint8_t> stream;
    const bool raw = data[0] & 1;
    if (raw) {
        stream.assign(data + 1, data + size);
    } else {
        Source in{data + 1, size - 1};
        stream = structured(in, ops);
    }
    static std::vector<std::uint8_t> output(1 << 20);
    const std::size_t written = rqb_host_serve(stream.data(), stream.size(), output.data(), output.size());

    // Every answer as our adapter library reads it.
    std::size_t at = 0, answers = 0;
    bool faulted = false;
    while (at < written) {
        FUZZ_CHECK(!faulted); // nothing after a fault answer
        FUZZ_CHECK(written - at >= RQB_HEADER_SIZE);
        const std::uint8_t *header = output.data() + at;
        const std::uint16_t op = static_cast<std::uint16_t>(header[6] | header[7] << 8);
        const std::uint32_t payloadSize = bridgeWord(header + 8);
        FUZZ_CHECK(written - at - RQB_HEADER_SIZE >= payloadSize);
        const std::vector<std::uint8_t> payload(header + RQB_HEADER_SIZE,
                                                header + RQB_HEADER_SIZE + payloadSize);
        if (op == RQB_FAULT) {
            faulted = true;
            FUZZ_CHECK(bridgeWord(header) == RQB_MAGIC_ANSWER && payloadSize >= 4 &&
                       bridgeWord(payload.data()) == payloadSize - 4);
        } else {
            if (!raw) {
                FUZZ_CHECK(answers < ops.size());
                FUZZ_CHECK(op == ops[answers]);
            }
            std::uint32_t announced = 0;
            FUZZ_CHECK(rqdrv::answerHeaderFits(header, op, bridgeAnswerSize(op), announced));
            FUZZ_CHECK(rqdrv::answerPayloadFits(payload, bridgeAnswerSize(op)));
        }
        at += RQB_HEADER_SIZE + payloadSize;
        ++answers;
    }
    if (!raw)
        FUZZ_CHECK(answers <= ops.size());
    return 0;
}
