#ifndef RQ_GATEWAY_MODBUSFRAMES_H
#define RQ_GATEWAY_MODBUSFRAMES_H

#include "gateway/GatewayState.h"
#include "gateway/Poller.h"

#include <QByteArray>

#include <optional>

// Modbus TCP as the gateway's server speaks it, without a socket: bytes in,
// whole requests out, and the answer to each as bytes. Nothing here waits
// or sends, so a stream can be cut anywhere and fed again.

// One request: the MBAP header's transaction and unit, and the PDU
// (function code and data), exactly as long as the header said.
struct ModbusRequest
{
    quint16 transaction = 0;
    quint8 unit = 0;
    QByteArray pdu;
};

// Assembles one connection's requests from the bytes as they come. A frame
// leaves only when the MBAP length says it is whole. A stream that cannot be
// Modbus TCP (protocol id not 0, a length outside 2..254) breaks for good:
// nothing after it can be found again, and the connection goes.
class FrameAssembler
{
public:
    static constexpr int MaxFrame = 260; // MBAP header 7 + PDU 253

    void feed(const char *data, qsizetype size);
    // The next whole request, taken out; nothing when none is whole yet
    // or the stream broke.
    std::optional<ModbusRequest> next();
    bool broken() const { return m_broken; }
    // Bytes held that no request has taken yet.
    qsizetype pending() const { return m_buffer.size() - m_start; }

private:
    QByteArray m_buffer;
    qsizetype m_start = 0;
    bool m_broken = false;
};

// What the server does with one request for the module m serves under its
// unit id (null: none).
struct RequestDecision
{
    std::optional<quint8> exception; // the answer is this exception
    std::optional<CoilWrite> write;  // for the polling thread: answered by WriteAnswer when done
    QByteArray answer;               // the whole answer frame; empty while a write waits
};
RequestDecision DecideRequest(const ModbusRequest &q, const ModuleSnapshot *m, bool allowWrites, qint64 nowMs,
                              qint64 staleMs, bool lowWordFirst = false);
// Read Device Identification (43/14): the objects a module has, by id.
namespace DeviceId {
constexpr quint8 VendorName = 0x00, ProductCode = 0x01, Revision = 0x02, UserApplicationName = 0x06;
// Regular identification, stream and single object access.
constexpr quint8 Conformity = 0x82;
} // namespace DeviceId
// The answer to a coil write the polling thread carried out (exception 0)
// or refused.
QByteArray WriteAnswer(const ModbusRequest &q, quint8 exception);
// An exception answer to q.
QByteArray ExceptionAnswer(const ModbusRequest &q, quint8 exception);

#endif
