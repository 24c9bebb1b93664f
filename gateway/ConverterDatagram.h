#ifndef RQ_GATEWAY_CONVERTERDATAGRAM_H
#define RQ_GATEWAY_CONVERTERDATAGRAM_H

#include "drivers/RqFrame.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// What the gateway's converter port does with one datagram before anything
// reaches the bus, without a socket: answered at once (a converter query, a
// refused request), forwarded to the bus, or dropped as a converter drops a
// damaged frame.
struct DatagramVerdict
{
    enum class Action { Drop, Answer, Forward };
    Action action = Action::Drop;
    std::vector<std::uint8_t> answer; // Answer: the datagram that goes back
    rqframe::Request request;         // Forward; for a refusal the request refused
    std::uint16_t sequence = 0;
    std::uint32_t baud = 0;
    bool refused = false; // the answer refuses a request
    QString why;          // why it was refused, for the log
};

// clientAllowed is asked only for a well-formed request; the switches are
// allow-writes (output commands) and converter-writes (configuration memory).
DatagramVerdict JudgeDatagram(const std::uint8_t *data, std::size_t size,
                              const std::function<bool()> &clientAllowed, bool allowWrites,
                              bool converterWrites);

#endif
