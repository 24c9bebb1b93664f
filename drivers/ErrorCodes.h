// The codes every entry point of an adapter library returns, named once for
// the libraries, the binding and every program above it (1..99; the binding
// adds its own from 100). docs/protocol.md gives their texts.
#ifndef RQ_DRIVERS_ERRORCODES_H
#define RQ_DRIVERS_ERRORCODES_H

#include <cstdint>

namespace AdapterError {

enum Code : std::uint32_t {
    Ok = 0,
    BadHandle = 1,
    BadArgument = 2,
    TooManyConnections = 3,
    PortOpenFailed = 4,
    PortSetupFailed = 5,
    BadBaudRate = 6,
    BadIpAddress = 7,
    SocketFailed = 8,
    IsaCardMissing = 9,
    NotBound = 10, // the binding's own code; our text explains it
    PciCardMissing = 11,
    SendFailed = 12,
    ReceiveFailed = 13,
    DeviceGone = 14,
    ConnectionRefused = 15,
    PortBusy = 16,
    BadUdpPort = 17,
    NoPermission = 18, // the device exists, the user may not open it
    DeviceBusy = 19,   // another program holds the device exclusively
    Timeout = 20,
    BadCrc = 21,
    BadLength = 22,
    WrongAddress = 23,
    WrongCommand = 24,
    NoiseBefore = 25,
    GarbageAfter = 26,
    BadRequest = 27,
    GatewayRefusedWrite = 28,  // LAN converter protocol of rqgw: a write it does not allow
    GatewayRefusedClient = 29, // ... a client address it does not serve
    ModuleErrorBase = 30,      // module error byte e (1..5) -> 30 + e
    ModuleUnknownCommandError = 31,
    ModuleBadSubcodeError = 32,
    ModuleBadDataError = 33,
    ModuleWriteFailedError = 34,
    ModuleBusyError = 35,
    ModuleUnknownError = 39,
};

} // namespace AdapterError

#endif
