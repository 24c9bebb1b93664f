#include "gateway/ConverterDatagram.h"

#include "comm/Prikazy.h"

DatagramVerdict JudgeDatagram(const std::uint8_t *data, std::size_t size,
                              const std::function<bool()> &clientAllowed, bool allowWrites,
                              bool converterWrites)
{
    DatagramVerdict v;
    std::uint16_t seq = 0;
    if (rqframe::decodeConverterFrame(data, size, rqframe::kConverterQueryStart, seq) ==
        rqframe::Decode::Ok) {
        const auto frame = rqframe::encodeConverterFrame(rqframe::kConverterReplyStart, seq);
        v.action = DatagramVerdict::Action::Answer;
        v.answer.assign(frame.begin(), frame.end());
        v.sequence = seq;
        return v;
    }
    rqframe::Request req;
    std::uint32_t baud = 0;
    if (rqframe::decodeUdpRequest(data, size, req, seq, baud) != rqframe::Decode::Ok)
        return v; // as a converter does: damaged requests get no answer
    v.request = req;
    v.sequence = seq;
    v.baud = baud;
    std::uint8_t refusal = 0;
    if (!clientAllowed()) {
        refusal = rqframe::kGatewayRefusedClient;
        v.why = QStringLiteral("adresa klienta není v converter-allow");
    } else if (req.command == CmdWriteOutputs && !allowWrites) {
        refusal = rqframe::kGatewayRefusedWrite;
        v.why = QStringLiteral("zápis výstupů bez --allow-writes");
    } else if (req.command == CmdWriteMemory && !converterWrites) {
        refusal = rqframe::kGatewayRefusedWrite;
        v.why = QStringLiteral("zápis konfigurační paměti bez converter-writes=yes");
    }
    if (!refusal) {
        v.action = DatagramVerdict::Action::Forward;
        return v;
    }
    // Told at once, so that the client does not wait out a timeout.
    rqframe::Reply r;
    r.address = req.address;
    r.command = req.command;
    r.subcode = req.subcode;
    r.error = refusal;
    r.d = req.d;
    const auto frame = rqframe::encodeUdpReply(r, seq);
    v.action = DatagramVerdict::Action::Answer;
    v.answer.assign(frame.begin(), frame.end());
    v.refused = true;
    return v;
}
