// Frames of our RQ bus protocol, shared by the adapter libraries and rqsim so
// that master and module can never disagree on a byte. docs/protocol.md
// describes the layout; every frame has a fixed length, so a receiver finds the
// end of a frame by counting bytes.
#ifndef RQ_DRIVERS_RQFRAME_H
#define RQ_DRIVERS_RQFRAME_H

#include <array>
#include <cstddef>
#include <cstdint>

namespace rqframe {

constexpr std::uint8_t kRequestStart = 0xA5;
constexpr std::uint8_t kReplyStart = 0x5A;

// Serial line (serial port, USB converter): no sequence number.
constexpr std::size_t kSerialRequestSize = 11; // start, addr, cmd, sub, D0..D4, CRC
constexpr std::size_t kSerialReplySize = 12;   // start, addr, cmd, sub, err, D0..D4, CRC
// UDP to the LAN converter: sequence number, and the bus baud rate the
// converter is to use on the module side.
constexpr std::size_t kUdpRequestSize = 17; // start, seq(2), baud(4), addr, cmd, sub, D0..D4, CRC
constexpr std::size_t kUdpReplySize = 14;   // start, seq(2), addr, cmd, sub, err, D0..D4, CRC

// Error bytes a module puts into its reply.
enum ModuleError : std::uint8_t {
    ModuleOk = 0,
    ModuleUnknownCommand = 1,
    ModuleBadSubcode = 2,
    ModuleBadData = 3,
    ModuleWriteFailed = 4,
    ModuleBusy = 5,
};

// Error bytes no module sends: a gateway that shares its bus through the
// LAN converter protocol refuses a request with them (UDP only), so that
// the client learns why at once instead of waiting out a timeout.
constexpr std::uint8_t kGatewayRefusedWrite = 0xF0;  // a write the gateway does not allow
constexpr std::uint8_t kGatewayRefusedClient = 0xF1; // the client's address is not allowed

struct Request
{
    std::uint8_t address = 0;
    std::uint8_t command = 0;
    std::uint8_t subcode = 0;
    std::array<std::uint8_t, 5> d{};
};

struct Reply
{
    std::uint8_t address = 0;
    std::uint8_t command = 0;
    std::uint8_t subcode = 0;
    std::uint8_t error = 0;
    std::array<std::uint8_t, 5> d{};
};

enum class Decode {
    Ok,
    BadLength, // not the frame's fixed length
    BadStart,  // first byte is not the frame's start byte
    BadCrc,
};

// CRC-16 with polynomial 0xA001 (reflected 0x8005), initial value 0xFFFF,
// sent low byte first.
std::uint16_t crc16(const std::uint8_t *data, std::size_t size);

std::array<std::uint8_t, kSerialRequestSize> encodeSerialRequest(const Request &request);
std::array<std::uint8_t, kSerialReplySize> encodeSerialReply(const Reply &reply);
std::array<std::uint8_t, kUdpRequestSize> encodeUdpRequest(const Request &request, std::uint16_t sequence,
                                                           std::uint32_t baud);
std::array<std::uint8_t, kUdpReplySize> encodeUdpReply(const Reply &reply, std::uint16_t sequence);

Decode decodeSerialRequest(const std::uint8_t *data, std::size_t size, Request &request);
Decode decodeSerialReply(const std::uint8_t *data, std::size_t size, Reply &reply);
Decode decodeUdpRequest(const std::uint8_t *data, std::size_t size, Request &request, std::uint16_t &sequence,
                        std::uint32_t &baud);
Decode decodeUdpReply(const std::uint8_t *data, std::size_t size, Reply &reply, std::uint16_t &sequence);

// Converter query (UDP only): a request to the LAN converter itself, which
// answers it without touching the bus, so that a silent module can be told
// apart from a converter that is not there. Query: 0xA6, sequence number,
// CRC; the converter repeats it with 0x6A in front.
constexpr std::uint8_t kConverterQueryStart = 0xA6;
constexpr std::uint8_t kConverterReplyStart = 0x6A;
constexpr std::size_t kConverterFrameSize = 5;
std::array<std::uint8_t, kConverterFrameSize> encodeConverterFrame(std::uint8_t start,
                                                                   std::uint16_t sequence);
Decode decodeConverterFrame(const std::uint8_t *data, std::size_t size, std::uint8_t start,
                            std::uint16_t &sequence);

// Whether a reply answers the request: same module, command and sub-code,
// and for the memory commands (102, 103) the same memory address in D1, so
// that a late reply about another byte is recognised even without a
// sequence number.
inline bool answers(const Reply &reply, const Request &request)
{
    if (reply.address != request.address || reply.command != request.command ||
        reply.subcode != request.subcode)
        return false;
    if ((request.command == 102 || request.command == 103) && reply.d[1] != request.d[1])
        return false;
    return true;
}

} // namespace rqframe

#endif
