// Any bytes through the four frame decoders of the bus protocol. A frame
// that decodes must encode back to the very same bytes, and a frame whose
// CRC is made right must decode.
#include "FuzzSupport.h"

#include "RqFrame.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

template <typename Frame> bool same(const Frame &frame, const std::uint8_t *data, std::size_t size)
{
    return size == frame.size() && std::equal(frame.begin(), frame.end(), data);
}

void decodeAll(const std::uint8_t *data, std::size_t size)
{
    using namespace rqframe;
    Request request;
    Reply reply;
    std::uint16_t sequence = 0;
    std::uint32_t baud = 0;
    if (decodeSerialRequest(data, size, request) == Decode::Ok)
        FUZZ_CHECK(same(encodeSerialRequest(request), data, size));
    if (decodeSerialReply(data, size, reply) == Decode::Ok)
        FUZZ_CHECK(same(encodeSerialReply(reply), data, size));
    if (decodeUdpRequest(data, size, request, sequence, baud) == Decode::Ok)
        FUZZ_CHECK(same(encodeUdpRequest(request, sequence, baud), data, size));
    if (decodeUdpReply(data, size, reply, sequence) == Decode::Ok)
        FUZZ_CHECK(same(encodeUdpReply(reply, sequence), data, size));
}

// The same bytes with the start byte and CRC of a frame of that size made right.
std::vector<std::uint8_t> repaired(const std::uint8_t *data, std::size_t size, std::uint8_t start)
{
    std::vector<std::uint8_t> frame(data, data + size);
    frame[0] = start;
    const std::uint16_t crc = rqframe::crc16(frame.data(), size - 2);
    frame[size - 2] = static_cast<std::uint8_t>(crc & 0xFF);
    frame[size - 1] = static_cast<std::uint8_t>(crc >> 8);
    return frame;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace rqframe;
    decodeAll(data, size);
    if (size == 0)
        return 0;
    // Deeper: bytes with a valid frame head and CRC for each frame size.
    const std::size_t sizes[4] = {kSerialRequestSize, kSerialReplySize, kUdpRequestSize, kUdpReplySize};
    const std::uint8_t starts[4] = {kRequestStart, kReplyStart, kRequestStart, kReplyStart};
    for (int i = 0; i < 4; ++i) {
        if (size != sizes[i])
            continue;
        const std::vector<std::uint8_t> frame = repaired(data, size, starts[i]);
        Request request;
        Reply reply;
        std::uint16_t sequence = 0;
        std::uint32_t baud = 0;
        const Decode d = i == 0   ? decodeSerialRequest(frame.data(), size, request)
                         : i == 1 ? decodeSerialReply(frame.data(), size, reply)
                         : i == 2 ? decodeUdpRequest(frame.data(), size, request, sequence, baud)
                                  : decodeUdpReply(frame.data(), size, reply, sequence);
        FUZZ_CHECK(d == Decode::Ok);
        decodeAll(frame.data(), size);
    }
    return 0;
}
