// Shared implementation of our five adapter driver libraries. Each library is
// this code plus a thin export file that names the entry points with its own
// prefix and picks its transport. Nothing here is exported.
#ifndef RQ_DRIVERS_DRIVER_H
#define RQ_DRIVERS_DRIVER_H

#include "RqFrame.h"
#include "drivers/AdapterAbi.h"
#include "drivers/ErrorCodes.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rqdrv {

// The codes of the adapter interface, by name.
using namespace AdapterError;

constexpr std::uint32_t kVersion = 0x0100; // 1.00
constexpr std::uint32_t kDefaultBaud = 9600;
constexpr std::uint32_t kDefaultTimeoutMs = 200;

// Maps a module's nonzero error byte to a library code.
std::uint32_t moduleErrorCode(std::uint8_t moduleError);

// Fills the 100-cell error text buffer with the Windows-1250 text of a code.
void errorText(std::uint32_t code, std::uint32_t *buffer);
// Fills the buffer with a UTF-8 text of ours, in Windows-1250 codes.
void textToBuffer(std::string_view text, std::uint32_t *buffer);
// Group that owns the device an open was last refused for (NoPermission's
// text names it; "dialout" until a refusal tells otherwise).
void setDeniedGroup(const std::string &group);

// One way to a module: a serial line or UDP to the LAN converter.
class Transport
{
public:
    virtual ~Transport() = default;
    // baud: bus baud rate; timeoutMs: reply timeout; third: reserved, stored.
    virtual std::uint32_t configure(std::uint32_t baud, std::uint32_t timeoutMs) = 0;
    // One request, one reply. Returns a library code; on Ok the reply answers the request.
    virtual std::uint32_t transact(const rqframe::Request &request, rqframe::Reply &reply) = 0;
    // Bytes that came after a complete reply and were thrown away before a
    // later request (serial line only).
    virtual std::uint64_t strayBytes() const { return 0; }
};

// Opens a serial device (raw 8N1, 9600 Bd, 200 ms until SetConfig).
std::uint32_t openSerial(const std::string &path, std::unique_ptr<Transport> &out);
// Opens a UDP socket connected to host:port; timeoutMs 0 means "take SetConfig's".
std::uint32_t openUdp(const char *host, std::uint32_t port, std::uint32_t timeoutMs,
                      std::unique_ptr<Transport> &out);

// The reply rules of the two transports on bytes already received, apart
// from the line and the socket, so that a fuzzer can drive them in process.
//
// Serial line: rx holds what arrived since the request `sent` went out;
// echoSeen carries from call to call (a half-duplex line's echo of the
// request is skipped once). Nothing while more bytes may complete a reply;
// else a library code, Ok when rx is exactly one valid reply to the request
// (which is then in reply).
std::optional<std::uint32_t> judgeSerialReply(const std::uint8_t *sent, const rqframe::Request &request,
                                              std::vector<std::uint8_t> &rx, bool &echoSeen,
                                              rqframe::Reply &reply);
// UDP: one datagram, while the request with this sequence number waits.
// Nothing when it belongs to another transaction (to be dropped); Ok with the
// reply; else the damage it shows.
std::optional<std::uint32_t> judgeUdpDatagram(const std::uint8_t *data, std::size_t size,
                                              std::uint16_t sequence, const rqframe::Request &request,
                                              rqframe::Reply &reply);

// Connection table: handles count up from a start taken from the clock at
// load, are never 0 and never reused while the library stays loaded, so a
// stale handle is recognised.
std::uint32_t addConnection(std::unique_ptr<Transport> transport, std::uint32_t *handle);
std::uint32_t setConfig(std::uint32_t handle, std::uint32_t baud, std::uint32_t timeoutMs,
                        std::uint32_t third);
std::uint32_t getConfig(std::uint32_t handle, std::uint32_t *baud, std::uint32_t *timeoutMs,
                        std::uint32_t *third);
std::uint32_t send(std::uint32_t handle, std::uint32_t *request, std::uint32_t *response,
                   std::uint32_t *status, std::uint32_t *error);
std::uint32_t done(std::uint32_t *handle);
// Tests only: called between a handle's lookup and taking its connection's
// lock, to widen the window a racing Done must not crash in.
void setAfterLookupHook(void (*hook)());

// Device path of COM port n: environment variable RQ_COM<n>, else the user's
// port map (PortMap.h), else /dev/ttyS<n-1>.
std::string comPortPath(std::uint32_t port);
// Device path of the USB converter: environment variable RQ_USB, else the
// user's port map, else /dev/ttyUSB0.
std::string usbPath();

} // namespace rqdrv

#endif
