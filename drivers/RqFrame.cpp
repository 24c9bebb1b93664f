#include "RqFrame.h"

namespace rqframe {

namespace {

constexpr std::array<std::uint16_t, 256> makeCrcTable()
{
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        std::uint16_t crc = static_cast<std::uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1u) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001u)
                             : static_cast<std::uint16_t>(crc >> 1);
        table[i] = crc;
    }
    return table;
}

constexpr auto kCrcTable = makeCrcTable();

template <std::size_t N> void appendCrc(std::array<std::uint8_t, N> &frame)
{
    const std::uint16_t crc = crc16(frame.data(), N - 2);
    frame[N - 2] = static_cast<std::uint8_t>(crc & 0xFF);
    frame[N - 1] = static_cast<std::uint8_t>(crc >> 8);
}

Decode check(const std::uint8_t *data, std::size_t size, std::size_t expected, std::uint8_t start)
{
    if (size != expected)
        return Decode::BadLength;
    if (data[0] != start)
        return Decode::BadStart;
    const std::uint16_t crc = crc16(data, size - 2);
    if (data[size - 2] != (crc & 0xFF) || data[size - 1] != (crc >> 8))
        return Decode::BadCrc;
    return Decode::Ok;
}

} // namespace

std::uint16_t crc16(const std::uint8_t *data, std::size_t size)
{
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < size; ++i)
        crc = static_cast<std::uint16_t>((crc >> 8) ^ kCrcTable[(crc ^ data[i]) & 0xFF]);
    return crc;
}

std::array<std::uint8_t, kSerialRequestSize> encodeSerialRequest(const Request &request)
{
    std::array<std::uint8_t, kSerialRequestSize> f{};
    f[0] = kRequestStart;
    f[1] = request.address;
    f[2] = request.command;
    f[3] = request.subcode;
    for (std::size_t i = 0; i < 5; ++i)
        f[4 + i] = request.d[i];
    appendCrc(f);
    return f;
}

std::array<std::uint8_t, kSerialReplySize> encodeSerialReply(const Reply &reply)
{
    std::array<std::uint8_t, kSerialReplySize> f{};
    f[0] = kReplyStart;
    f[1] = reply.address;
    f[2] = reply.command;
    f[3] = reply.subcode;
    f[4] = reply.error;
    for (std::size_t i = 0; i < 5; ++i)
        f[5 + i] = reply.d[i];
    appendCrc(f);
    return f;
}

std::array<std::uint8_t, kUdpRequestSize> encodeUdpRequest(const Request &request, std::uint16_t sequence,
                                                           std::uint32_t baud)
{
    std::array<std::uint8_t, kUdpRequestSize> f{};
    f[0] = kRequestStart;
    f[1] = static_cast<std::uint8_t>(sequence & 0xFF);
    f[2] = static_cast<std::uint8_t>(sequence >> 8);
    for (int i = 0; i < 4; ++i)
        f[3 + i] = static_cast<std::uint8_t>((baud >> (8 * i)) & 0xFF);
    f[7] = request.address;
    f[8] = request.command;
    f[9] = request.subcode;
    for (std::size_t i = 0; i < 5; ++i)
        f[10 + i] = request.d[i];
    appendCrc(f);
    return f;
}

std::array<std::uint8_t, kUdpReplySize> encodeUdpReply(const Reply &reply, std::uint16_t sequence)
{
    std::array<std::uint8_t, kUdpReplySize> f{};
    f[0] = kReplyStart;
    f[1] = static_cast<std::uint8_t>(sequence & 0xFF);
    f[2] = static_cast<std::uint8_t>(sequence >> 8);
    f[3] = reply.address;
    f[4] = reply.command;
    f[5] = reply.subcode;
    f[6] = reply.error;
    for (std::size_t i = 0; i < 5; ++i)
        f[7 + i] = reply.d[i];
    appendCrc(f);
    return f;
}

Decode decodeSerialRequest(const std::uint8_t *data, std::size_t size, Request &request)
{
    const Decode result = check(data, size, kSerialRequestSize, kRequestStart);
    if (result != Decode::Ok)
        return result;
    request.address = data[1];
    request.command = data[2];
    request.subcode = data[3];
    for (std::size_t i = 0; i < 5; ++i)
        request.d[i] = data[4 + i];
    return Decode::Ok;
}

Decode decodeSerialReply(const std::uint8_t *data, std::size_t size, Reply &reply)
{
    const Decode result = check(data, size, kSerialReplySize, kReplyStart);
    if (result != Decode::Ok)
        return result;
    reply.address = data[1];
    reply.command = data[2];
    reply.subcode = data[3];
    reply.error = data[4];
    for (std::size_t i = 0; i < 5; ++i)
        reply.d[i] = data[5 + i];
    return Decode::Ok;
}

Decode decodeUdpRequest(const std::uint8_t *data, std::size_t size, Request &request, std::uint16_t &sequence,
                        std::uint32_t &baud)
{
    const Decode result = check(data, size, kUdpRequestSize, kRequestStart);
    if (result != Decode::Ok)
        return result;
    sequence = static_cast<std::uint16_t>(data[1] | (data[2] << 8));
    baud = 0;
    for (int i = 0; i < 4; ++i)
        baud |= static_cast<std::uint32_t>(data[3 + i]) << (8 * i);
    request.address = data[7];
    request.command = data[8];
    request.subcode = data[9];
    for (std::size_t i = 0; i < 5; ++i)
        request.d[i] = data[10 + i];
    return Decode::Ok;
}

Decode decodeUdpReply(const std::uint8_t *data, std::size_t size, Reply &reply, std::uint16_t &sequence)
{
    const Decode result = check(data, size, kUdpReplySize, kReplyStart);
    if (result != Decode::Ok)
        return result;
    sequence = static_cast<std::uint16_t>(data[1] | (data[2] << 8));
    reply.address = data[3];
    reply.command = data[4];
    reply.subcode = data[5];
    reply.error = data[6];
    for (std::size_t i = 0; i < 5; ++i)
        reply.d[i] = data[7 + i];
    return Decode::Ok;
}

std::array<std::uint8_t, kConverterFrameSize> encodeConverterFrame(std::uint8_t start, std::uint16_t sequence)
{
    std::array<std::uint8_t, kConverterFrameSize> f{};
    f[0] = start;
    f[1] = static_cast<std::uint8_t>(sequence & 0xFF);
    f[2] = static_cast<std::uint8_t>(sequence >> 8);
    appendCrc(f);
    return f;
}

Decode decodeConverterFrame(const std::uint8_t *data, std::size_t size, std::uint8_t start,
                            std::uint16_t &sequence)
{
    const Decode result = check(data, size, kConverterFrameSize, start);
    if (result != Decode::Ok)
        return result;
    sequence = static_cast<std::uint16_t>(data[1] | (data[2] << 8));
    return Decode::Ok;
}

} // namespace rqframe
