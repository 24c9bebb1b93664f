// Any byte stream as one Modbus TCP connection to rqgw, through the server's
// frame assembly: the stream fed whole, and fed again in pieces whose
// lengths the first bytes choose (from single bytes to whole frames), with
// the requests taken after every piece or only now and then, as the server
// does while a coil write waits for the bus.
// Properties: the pieces give the same requests, in the same order, and the
// same verdict on a stream that is not Modbus TCP, as the whole; every
// request is as long as its header said and no longer than a frame may be;
// the bytes held never pass what no request took.
#include "FuzzSupport.h"

#include "gateway/ModbusFrames.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

struct Seen
{
    std::vector<ModbusRequest> requests;
    bool broken = false;
    qsizetype pending = 0;
};

void drain(FrameAssembler &a, Seen &s)
{
    while (std::optional<ModbusRequest> q = a.next()) {
        FUZZ_CHECK(q->pdu.size() >= 1 && q->pdu.size() <= FrameAssembler::MaxFrame - 7);
        s.requests.push_back(std::move(*q));
    }
}

bool same(const ModbusRequest &a, const ModbusRequest &b)
{
    return a.transaction == b.transaction && a.unit == b.unit && a.pdu == b.pdu;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 4)
        return 0;
    // The cuts: a small generator seeded by the first bytes, so that every
    // stream meets many different cuts without the fuzzer spelling each one.
    std::uint32_t state = std::uint32_t(data[0]) << 16 | data[1] << 8 | data[2] | 1;
    const std::uint8_t style = data[3];
    const char *stream = reinterpret_cast<const char *>(data + 4);
    const auto length = qsizetype(size - 4);

    Seen whole;
    {
        FrameAssembler a;
        a.feed(stream, length);
        drain(a, whole);
        whole.broken = a.broken();
        whole.pending = a.pending();
    }

    Seen pieces;
    FrameAssembler a;
    qsizetype at = 0;
    while (at < length) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        // Mostly short pieces (a slow sender), now and then long ones.
        const qsizetype most = (style & 1) && (state & 7) == 0 ? 300 : (style & 2) ? 8 : 3;
        const qsizetype piece = std::min<qsizetype>(length - at, qsizetype(state >> 8) % (most + 1));
        a.feed(stream + at, piece);
        at += piece;
        // Not taking the requests now and then: they wait in the buffer.
        if (!(style & 4) || (state & 3) != 0)
            drain(a, pieces);
        FUZZ_CHECK(a.pending() >= 0 && a.pending() <= at);
    }
    drain(a, pieces);
    pieces.broken = a.broken();
    pieces.pending = a.pending();

    FUZZ_CHECK(pieces.requests.size() == whole.requests.size());
    for (std::size_t k = 0; k < whole.requests.size(); ++k)
        FUZZ_CHECK(same(pieces.requests[k], whole.requests[k]));
    FUZZ_CHECK(pieces.broken == whole.broken);
    // A broken stream takes nothing more: only an intact one holds the same rest.
    FUZZ_CHECK(whole.broken || pieces.pending == whole.pending);
    // What is left is less than a frame, unless the stream broke.
    FUZZ_CHECK(whole.broken || whole.pending < FrameAssembler::MaxFrame);
    return 0;
}
