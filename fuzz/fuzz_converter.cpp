// Any datagram at rqgw's converter port, through the handler's own verdict:
// the first byte chooses the client's standing and the two switches
// (allow-writes, converter-writes) and whether the rest is taken as it is or
// as the fields of a request with a sound checksum (then one byte of it may
// be damaged), so that both damaged frames and every command reach the
// verdict.
// Properties: a datagram is dropped exactly when it is neither a converter
// query nor a request; a query is answered with its own sequence number; a
// request is forwarded to the bus only for an allowed client, an output
// command only with allow-writes and a memory write only with
// converter-writes; any other request is refused at once with the reserved
// error byte that says why, in a reply that names the request; the client's
// address is looked at only for a request.
#include "FuzzSupport.h"

#include "comm/Prikazy.h"
#include "gateway/ConverterDatagram.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1 || size > 64)
        return 0;
    const std::uint8_t flags = data[0];
    const bool allowed = flags & 1, allowWrites = flags & 2, converterWrites = flags & 4;
    std::vector<std::uint8_t> datagram(data + 1, data + size);
    if ((flags & 8) && datagram.size() >= 16) {
        // A sound request from the fuzzer's fields, damaged where data[16] says.
        const std::uint8_t *f = datagram.data();
        rqframe::Request r;
        r.address = f[0];
        r.command = (flags & 16) ? f[1] : (f[1] % 2 ? CmdWriteOutputs : CmdWriteMemory);
        r.subcode = f[2];
        std::memcpy(r.d.data(), f + 3, 5);
        const auto seq = std::uint16_t(f[8] << 8 | f[9]);
        const std::uint32_t baud = std::uint32_t(f[10]) << 24 | f[11] << 16 | f[12] << 8 | f[13];
        const auto frame = rqframe::encodeUdpRequest(r, seq, baud);
        std::vector<std::uint8_t> built(frame.begin(), frame.end());
        if (flags & 32)
            built[f[14] % built.size()] ^= std::uint8_t(f[15] | 1);
        datagram = built;
    }
    int asked = 0;
    const DatagramVerdict v = JudgeDatagram(
        datagram.data(), datagram.size(),
        [&] {
            ++asked;
            return allowed;
        },
        allowWrites, converterWrites);

    std::uint16_t seq = 0;
    const bool query =
        rqframe::decodeConverterFrame(datagram.data(), datagram.size(), rqframe::kConverterQueryStart, seq) ==
        rqframe::Decode::Ok;
    rqframe::Request req;
    std::uint16_t reqSeq = 0;
    std::uint32_t baud = 0;
    const bool request = !query && rqframe::decodeUdpRequest(datagram.data(), datagram.size(), req, reqSeq,
                                                             baud) == rqframe::Decode::Ok;
    FUZZ_CHECK(asked == (request ? 1 : 0));
    switch (v.action) {
    case DatagramVerdict::Action::Drop:
        FUZZ_CHECK(!query && !request && v.answer.empty() && !v.refused);
        return 0;
    case DatagramVerdict::Action::Answer:
        FUZZ_CHECK(query || request);
        if (query) {
            std::uint16_t back = 0;
            FUZZ_CHECK(!v.refused);
            FUZZ_CHECK(rqframe::decodeConverterFrame(v.answer.data(), v.answer.size(),
                                                     rqframe::kConverterReplyStart,
                                                     back) == rqframe::Decode::Ok &&
                       back == seq);
        } else {
            FUZZ_CHECK(v.refused && !v.why.isEmpty());
            rqframe::Reply r;
            std::uint16_t back = 0;
            FUZZ_CHECK(rqframe::decodeUdpReply(v.answer.data(), v.answer.size(), r, back) ==
                       rqframe::Decode::Ok);
            FUZZ_CHECK(back == reqSeq && r.address == req.address && r.command == req.command &&
                       r.subcode == req.subcode && r.d == req.d);
            if (!allowed)
                FUZZ_CHECK(r.error == rqframe::kGatewayRefusedClient);
            else
                FUZZ_CHECK(r.error == rqframe::kGatewayRefusedWrite &&
                           ((req.command == CmdWriteOutputs && !allowWrites) ||
                            (req.command == CmdWriteMemory && !converterWrites)));
        }
        return 0;
    case DatagramVerdict::Action::Forward:
        FUZZ_CHECK(request && allowed && v.answer.empty() && !v.refused);
        FUZZ_CHECK(req.command != CmdWriteOutputs || allowWrites);
        FUZZ_CHECK(req.command != CmdWriteMemory || converterWrites);
        FUZZ_CHECK(v.request.address == req.address && v.request.command == req.command &&
                   v.request.subcode == req.subcode && v.request.d == req.d && v.sequence == reqSeq &&
                   v.baud == baud);
        return 0;
    }
    FUZZ_CHECK(false);
    return 0;
}
