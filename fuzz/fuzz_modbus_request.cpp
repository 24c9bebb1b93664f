// Any bytes as a Modbus TCP request to rqgw, through the server's own path:
// the frame assembler takes the stream cut where the fuzzer says, the
// gateway decides (exception, coil write, or an answer from the register
// map). The first bytes choose the module's state (none, online, offline,
// stale), whether writes are allowed, its values and where the stream is
// cut; the rest is the request after a right header, so every function code
// and length meets the map.
// Properties: the cut changes nothing; no read outside the map
// (AddressSanitizer); every answer names the request's transaction and
// unit; a normal answer to a read holds exactly the module's values from the
// map, and only for a module that may be read; a coil write reaches the
// polling thread only when allowed, fresh, inside the 32 coils and well
// formed, and no write is ever answered as done without it.
#include "FuzzSupport.h"

#include "gateway/GatewayState.h"
#include "gateway/ModbusFrames.h"
#include "gateway/Poller.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

int word(const std::uint8_t *p)
{
    return p[0] << 8 | p[1];
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 6 || size > 300)
        return 0;
    const std::uint8_t state = data[0];
    const bool present = state & 1, online = state & 2, stale = state & 4, allowWrites = state & 8;
    constexpr qint64 staleMs = 2000;
    const qint64 now = 1000000;
    ModuleSnapshot m;
    m.name = QStringLiteral("m");
    m.address = 1;
    m.unit = 1;
    m.online = online;
    if (state & 16) { // identified: the device identification has something to say
        m.model = QStringLiteral("RQ-3510");
        m.firmware = QStringLiteral("1.08");
    }
    const bool lowWordFirst = state & 32;
    m.lastCompleteMs = stale ? now - staleMs - 1 : now - (data[1] % 100);
    m.din = quint32(data[1]) * 0x01010101u ^ 0x5A5A5A5A;
    m.dout = quint32(data[2]) * 0x00FF00FFu;
    for (int k = 0; k < ModuleSnapshot::Inputs; ++k) {
        m.ain[std::size_t(k)] = float(data[3]) * 0.25f - float(k);
        m.ainUnit[std::size_t(k)] = quint16(k % 7);
    }
    m.temperature = float(data[4]) - 40.0f;
    m.temperatureUnit = 3;
    const bool fresh = present && online && !stale;

    // The request: a right MBAP header (transaction, protocol 0, length, unit 1)
    // and the fuzzer's PDU.
    const std::uint8_t *pdu = data + 5;
    const std::size_t pduSize = size - 5;
    std::uint8_t frame[512];
    frame[0] = 0x12;
    frame[1] = data[4];
    frame[2] = frame[3] = 0;
    frame[4] = std::uint8_t((pduSize + 1) >> 8);
    frame[5] = std::uint8_t(pduSize + 1);
    frame[6] = 1;
    std::memcpy(frame + 7, pdu, pduSize);
    const std::size_t frameSize = 7 + pduSize;
    const std::size_t cut = data[3] % (frameSize + 1);
    FrameAssembler assembler;
    assembler.feed(reinterpret_cast<const char *>(frame), qsizetype(cut));
    std::optional<ModbusRequest> request = assembler.next();
    FUZZ_CHECK(!request || cut == frameSize);
    assembler.feed(reinterpret_cast<const char *>(frame + cut), qsizetype(frameSize - cut));
    if (!request)
        request = assembler.next();
    if (!request) {
        // Only a length the header cannot have is refused as a frame.
        FUZZ_CHECK(assembler.broken() && (pduSize + 1 > 254));
        return 0; // the real server closes that client
    }
    FUZZ_CHECK(!assembler.next() && assembler.pending() == 0);
    FUZZ_CHECK(request->transaction == (0x12 << 8 | data[4]) && request->unit == 1 &&
               request->pdu == QByteArray(reinterpret_cast<const char *>(pdu), qsizetype(pduSize)));
    const std::uint8_t *q = frame;
    const int len = int(frameSize);
    const int off = 7;
    const RequestDecision d =
        DecideRequest(*request, present ? &m : nullptr, allowWrites, now, staleMs, lowWordFirst);
    const int function = q[off];
    const int address = len >= off + 5 ? word(q + off + 1) : 0;
    const int count = len >= off + 5 ? word(q + off + 3) : 0;

    if (d.write) {
        FUZZ_CHECK(!d.exception && allowWrites && fresh && (function == 5 || function == 15));
        FUZZ_CHECK(d.write->count >= 1 && d.write->address >= 0 &&
                   d.write->address + d.write->count <= RegisterMap::Coils);
        FUZZ_CHECK(d.write->count == 32 || d.write->values < (quint32(1) << d.write->count));
        return 0; // answered when the polling thread has written
    }
    FUZZ_CHECK(!d.answer.isEmpty());
    const auto *a = reinterpret_cast<const std::uint8_t *>(d.answer.constData());
    const qsizetype got = d.answer.size();
    FUZZ_CHECK(got >= 9);
    FUZZ_CHECK(a[0] == 0x12 && a[1] == data[4] && a[6] == 1 && word(a + 4) == got - 6);
    // A normal answer names the function; an exception sets its top bit
    // (a function code of 0x80 or more can only get an exception).
    FUZZ_CHECK(a[7] == function || a[7] == std::uint8_t(function + 0x80));
    if (a[7] != function || function >= 0x80) {
        FUZZ_CHECK(got == 9);
        if (d.exception)
            FUZZ_CHECK(a[8] == *d.exception);
        // A module's own failure is told only for a module that is not
        // fresh, or asked who it is before it said so.
        if (a[8] == ModbusException::TargetFailed)
            FUZZ_CHECK(present && (!fresh || (function == 43 && m.model.isEmpty())));
        if (a[8] == ModbusException::PathUnavailable)
            FUZZ_CHECK(!present);
        return 0;
    }
    // A normal answer.
    FUZZ_CHECK(function != 5 &&
               function != 15); // a write is never answered as done without the polling thread
    FUZZ_CHECK(function != 6 && function != 16 && function != 22 && function != 23);
    if (function == 43) {
        // Device identification: only of a module that said who it is.
        FUZZ_CHECK(present && !m.model.isEmpty() && got >= 14 && a[8] == 0x0E && a[10] == 0x82);
        const auto text = [&](int id) {
            return QByteArray(id == 0 ? "RQ" : id == 1 ? "RQ-3510" : id == 2 ? "1.08" : "1");
        };
        int at = 14;
        for (int k = 0; k < a[13]; ++k) {
            FUZZ_CHECK(at + 2 <= got && at + 2 + a[at + 1] <= got);
            FUZZ_CHECK(a[at] <= 2 || a[at] == 6);
            FUZZ_CHECK(QByteArray(reinterpret_cast<const char *>(a + at + 2), a[at + 1]) == text(a[at]));
            at += 2 + a[at + 1];
        }
        FUZZ_CHECK(at == got);
    }
    if (function == 1 || function == 2 || function == 3 || function == 4) {
        FUZZ_CHECK(present);
        if (function == 3 || function == 4) {
            FUZZ_CHECK(address + count <= RegisterMap::InputRegisterEnd);
            FUZZ_CHECK(fresh || address >= RegisterMap::StateFirst);
            FUZZ_CHECK(a[8] == 2 * count && got == 9 + 2 * count);
            const auto regs = InputRegisters(m, now, lowWordFirst);
            for (int k = 0; k < count; ++k)
                FUZZ_CHECK(word(a + 9 + 2 * k) == regs[std::size_t(address + k)]);
        } else {
            FUZZ_CHECK(fresh && address + count <= 32);
            FUZZ_CHECK(a[8] == (count + 7) / 8 && got == 9 + (count + 7) / 8);
            const quint32 bits = function == 1 ? m.dout : m.din;
            for (int k = 0; k < count; ++k)
                FUZZ_CHECK(((a[9 + k / 8] >> (k % 8)) & 1) == ((bits >> (address + k)) & 1));
        }
    }
    return 0;
}
