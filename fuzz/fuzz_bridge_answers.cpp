// Our adapter library's end of the bridge protocol: any bytes as what
// rqbridge32 writes back, a run of answers to a run of requests, through the
// checks the library makes before it reads a single field
// (answerHeaderFits, answerPayloadFits), then read as the library reads them.
// An answer taken must be exactly the answer to its request: right magic,
// version and operation, the operation's length, a LOAD text counted right.
//
// Input: flags, operations byte, then the answer bytes.
//   flags bit 0: make each header's magic, version and operation right
//   flags bit 1: make each header's length the expected one
#include "FuzzSupport.h"

#include "BridgeFuzz.h"
#include "VendorBridge.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2 || size > 8192)
        return 0;
    const std::uint8_t flags = data[0];
    // The first call is LOAD as after a start; then the operations byte picks the rest.
    std::uint8_t pick = data[1];
    std::vector<std::uint8_t> bytes(data + 2, data + size);
    std::size_t at = 0;
    for (int call = 0; at < bytes.size(); ++call) {
        const std::uint16_t op =
            call == 0 ? RQB_LOAD : static_cast<std::uint16_t>(2 + (pick >> (call % 4 * 2)) % 7);
        const std::size_t expected = bridgeAnswerSize(op);
        if (bytes.size() - at < RQB_HEADER_SIZE)
            break; // the bridge ended mid-header: gone, nothing taken
        std::uint8_t *header = bytes.data() + at;
        if (flags & 1) {
            header[0] = 'R';
            header[1] = 'Q';
            header[2] = 'B';
            header[3] = 'A';
            header[4] = RQB_VERSION;
            header[5] = 0;
            header[6] = static_cast<std::uint8_t>(op);
            header[7] = static_cast<std::uint8_t>(op >> 8);
        }
        if ((flags & 2) && expected != 0) {
            for (int i = 0; i < 4; ++i)
                header[8 + i] = static_cast<std::uint8_t>(expected >> (8 * i));
        }
        std::uint32_t announced = 0;
        if (!rqdrv::answerHeaderFits(header, op, expected, announced))
            break; // the library kills the bridge: code 96
        FUZZ_CHECK(bridgeWord(header) == RQB_MAGIC_ANSWER && header[4] == RQB_VERSION && header[5] == 0);
        FUZZ_CHECK((header[6] | header[7] << 8) == op);
        FUZZ_CHECK(announced <= RQB_MAX_PAYLOAD);
        FUZZ_CHECK(expected != 0 ? announced == expected : announced >= RQB_LOAD_ANSWER_FIXED);
        at += RQB_HEADER_SIZE;
        if (bytes.size() - at < announced)
            break; // cut short: gone
        const std::vector<std::uint8_t> payload(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                                bytes.begin() + static_cast<std::ptrdiff_t>(at + announced));
        at += announced;
        if (!rqdrv::answerPayloadFits(payload, expected))
            break;
        if (op == RQB_LOAD) {
            // The missing entry point's name, as the library puts it into its text.
            FUZZ_CHECK(bridgeWord(payload.data() + 8) == payload.size() - RQB_LOAD_ANSWER_FIXED);
            const std::string name(payload.begin() + RQB_LOAD_ANSWER_FIXED, payload.end());
            FUZZ_CHECK(name.size() + RQB_LOAD_ANSWER_FIXED == payload.size());
        } else {
            // The fields the library reads lie within the payload.
            FUZZ_CHECK(payload.size() >= 4 && payload.size() % 4 == 0);
        }
        pick = static_cast<std::uint8_t>(pick * 5 + 3);
    }
    return 0;
}
