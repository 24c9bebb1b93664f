// What both bridge fuzzers need to read the protocol's messages.
#ifndef RQ_FUZZ_BRIDGEFUZZ_H
#define RQ_FUZZ_BRIDGEFUZZ_H

#include "drivers/BridgeProtocol.h"

#include <cstddef>
#include <cstdint>

inline std::uint32_t bridgeWord(const std::uint8_t *p)
{
    return p[0] | static_cast<std::uint32_t>(p[1]) << 8 | static_cast<std::uint32_t>(p[2]) << 16 |
           static_cast<std::uint32_t>(p[3]) << 24;
}

// Payload length of the answer to each operation; 0 for LOAD (a fixed part and a counted text).
inline std::size_t bridgeAnswerSize(std::uint16_t op)
{
    switch (op) {
    case RQB_VERSION_OP:
        return RQB_VERSION_ANSWER;
    case RQB_INIT:
        return RQB_INIT_ANSWER;
    case RQB_SETCONFIG:
        return RQB_SETCONFIG_ANSWER;
    case RQB_GETCONFIG:
        return RQB_GETCONFIG_ANSWER;
    case RQB_SEND:
        return RQB_SEND_ANSWER;
    case RQB_DONE:
        return RQB_DONE_ANSWER;
    case RQB_ERROR:
        return RQB_ERROR_ANSWER;
    default:
        return 0;
    }
}

#endif
