// Stand-in for an adapter maker's 32-bit Windows driver library: the seven
// entry points of one prefix, stdcall, exported by their undecorated names.
// It reaches rqsim over UDP with our own frames, so a test can run the whole
// road: program -> binding -> libK*.so -> rqbridge32.exe under Wine -> here
// -> rqsim.
//
// Built in variants (STANDIN_PREFIX plus one of):
//   STANDIN_LAN       Init(&handle, block): block words 0..2 = IP text, UDP port, timeout
//   STANDIN_WORD      Init(&handle, port):  the UDP port of rqsim on 127.0.0.1
//   STANDIN_PLAIN     Init(&handle):        the port from RQ_STANDIN_PORT
//   STANDIN_NO_GETCONFIG  lacks GetConfig
//   STANDIN_INIT_FAILS    Init fails with code 77 and a text of its own
//
// Commands a real module never gets make it misbehave, for the failure tests:
//   250 the process ends inside Send; 251 Send never returns;
//   252 stray bytes on standard output (where the bridge answers) before the answer.
#include "RqFrame.h"
#include "drivers/AdapterAbi.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>
#include <cstring>

#define STANDIN_JOIN2(prefix, name) prefix##_##name
#define STANDIN_JOIN(prefix, name) STANDIN_JOIN2(prefix, name)
#define STANDIN_ENTRY(name) STANDIN_JOIN(STANDIN_PREFIX, name)

namespace {

enum : uint32_t {
    Ok = 0,
    BadHandle = 1,
    BadArgument = 2,
    SocketFailed = 8,
    Timeout = 20,
    ModuleError = 30,
    OwnInitFailure = 77,
};

struct Connection
{
    SOCKET socket = INVALID_SOCKET;
    uint32_t baud = 9600;
    uint32_t timeoutMs = 200;
    uint32_t third = 0;
    uint16_t sequence = 0;
};

// One connection is all the tests need; handle 0x4638 names it.
constexpr uint32_t kHandle = 0x4638;
Connection g_connection;
bool g_open = false;

uint32_t openUdp(const char *ip, uint32_t port, uint32_t timeoutMs, uint32_t *handle)
{
#if defined(STANDIN_INIT_FAILS)
    (void)ip, (void)port, (void)timeoutMs, (void)handle;
    return OwnInitFailure;
#else
    if (!handle || !ip)
        return BadArgument;
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0)
        return SocketFailed;
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET)
        return SocketFailed;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<u_short>(port));
    if (inet_pton(AF_INET, ip, &to.sin_addr) != 1 ||
        connect(s, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0) {
        closesocket(s);
        return SocketFailed;
    }
    g_connection = Connection{};
    g_connection.socket = s;
    if (timeoutMs)
        g_connection.timeoutMs = timeoutMs;
    g_connection.sequence = static_cast<uint16_t>(GetTickCount());
    g_open = true;
    *handle = kHandle;
    return Ok;
#endif
}

void misbehave(uint32_t command)
{
    if (command == 250)
        ExitProcess(3);
    if (command == 251)
        Sleep(INFINITE);
    if (command == 252) {
        const char stray[] = "debug: sending\r\n";
        DWORD n = 0;
        WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), stray, sizeof stray - 1, &n, nullptr);
    }
}

uint32_t transact(const uint32_t *request, uint32_t *response, uint32_t *status)
{
    rqframe::Request frame;
    frame.address = static_cast<uint8_t>(request[0]);
    frame.command = static_cast<uint8_t>(request[1]);
    frame.subcode = static_cast<uint8_t>(request[2]);
    for (std::size_t i = 0; i < 5; ++i)
        frame.d[i] = static_cast<uint8_t>(request[3 + i]);
    Connection &c = g_connection;
    ++c.sequence;
    const auto bytes = rqframe::encodeUdpRequest(frame, c.sequence, c.baud);
    if (send(c.socket, reinterpret_cast<const char *>(bytes.data()), static_cast<int>(bytes.size()), 0) < 0)
        return SocketFailed;
    const DWORD deadline = GetTickCount() + c.timeoutMs;
    for (;;) {
        // A blocking receive with the time left: one call on the usual path.
        const DWORD now = GetTickCount();
        if (static_cast<int32_t>(deadline - now) <= 0)
            return Timeout;
        const DWORD left = deadline - now;
        setsockopt(c.socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char *>(&left), sizeof left);
        uint8_t buffer[64];
        const int n = recv(c.socket, reinterpret_cast<char *>(buffer), sizeof buffer, 0);
        if (n <= 0) {
            if (WSAGetLastError() == WSAETIMEDOUT)
                return Timeout;
            continue; // a refused earlier datagram: keep waiting
        }
        rqframe::Reply reply;
        uint16_t sequence = 0;
        if (rqframe::decodeUdpReply(buffer, static_cast<std::size_t>(n), reply, sequence) !=
                rqframe::Decode::Ok ||
            sequence != c.sequence || !rqframe::answers(reply, frame))
            continue;
        if (reply.error != 0)
            return ModuleError + reply.error;
        for (std::size_t i = 0; i < 4; ++i)
            response[i] = reply.d[i + 1];
        *status = reply.d[0];
        return Ok;
    }
}

// Texts in Windows-1250, as a maker's library gives them.
const char *textOf(uint32_t code)
{
    switch (code) {
    case Ok:
        return "OK";
    case BadHandle:
        return "N\xE1hradn\xED knihovna: neplatn\xFD identifik\xE1tor";
    case Timeout:
        return "N\xE1hradn\xED knihovna: modul neodpov\xED"
               "d\xE1";
    case OwnInitFailure:
        return "N\xE1hradn\xED knihovna: adapt\xE9r nenalezen";
    default:
        return "N\xE1hradn\xED knihovna: chyba";
    }
}

} // namespace

extern "C" {

RQ_EXPORT uint32_t RQ_CALL STANDIN_ENTRY(Version)(void)
{
    return 0x0207;
}

#if defined(STANDIN_LAN)
RQ_EXPORT uint32_t RQ_CALL STANDIN_ENTRY(Init)(uint32_t *handle, uintptr_t *block)
{
    if (!block)
        return BadArgument;
    return openUdp(reinterpret_cast<const char *>(block[0]), static_cast<uint32_t>(block[1]),
                   static_cast<uint32_t>(block[2]), handle);
}
#elif defined(STANDIN_WORD)
RQ_EXPORT uint32_t RQ_CALL STANDIN_ENTRY(Init)(uint32_t *handle, uint32_t port)
{
    return openUdp("127.0.0.1", port, 0, handle);
}
#elif defined(STANDIN_PLAIN)
RQ_EXPORT uint32_t RQ_CALL STANDIN_ENTRY(Init)(uint32_t *handle)
{
    const char *port = std::getenv("RQ_STANDIN_PORT");
    return openUdp("127.0.0.1", port ? static_cast<uint32_t>(std::atoi(port)) : 0, 0, handle);
}
#else
#error "STANDIN_LAN, STANDIN_WORD or STANDIN_PLAIN"
#endif

RQ_EXPORT uint32_t RQ_CALL STANDIN_ENTRY(SetConfig)(uint32_t handle, uint32_t baud, uint32_t timeout,
                                                    uint32_t third)
{
    if (!g_open || handle != kHandle)
        return BadHandle;
    g_connection.baud = baud;
    if (timeout)
        g_connection.timeoutMs = timeout;
    g_connection.third = third;
    return Ok;
}

#if !defined(STANDIN_NO_GETCONFIG)
RQ_EXPORT uint32_t RQ_CALL STANDIN_ENTRY(GetConfig)(uint32_t handle, uint32_t *baud, uint32_t *timeout,
                                                    uint32_t *third)
{
    if (!g_open || handle != kHandle)
        return BadHandle;
    if (baud)
        *baud = g_connection.baud;
    if (timeout)
        *timeout = g_connection.timeoutMs;
    if (third)
        *third = g_connection.third;
    return Ok;
}
#endif

RQ_EXPORT uint32_t RQ_CALL STANDIN_ENTRY(Send)(uint32_t handle, uint32_t *request, uint32_t *response,
                                               uint32_t *status, uint32_t *error)
{
    uint32_t result = Ok;
    if (!g_open || handle != kHandle)
        result = BadHandle;
    else if (!request || !response || !status)
        result = BadArgument;
    else {
        misbehave(request[1]);
        result = transact(request, response, status);
    }
    if (result != Ok && response)
        std::memset(response, 0, 4 * sizeof *response);
    if (error)
        *error = result;
    return result;
}

RQ_EXPORT uint32_t RQ_CALL STANDIN_ENTRY(Done)(uint32_t *handle)
{
    if (!handle || !g_open || *handle != kHandle)
        return BadHandle;
    closesocket(g_connection.socket);
    g_open = false;
    *handle = 0;
    return Ok;
}

RQ_EXPORT uint32_t RQ_CALL STANDIN_ENTRY(Error)(uint32_t code, uint32_t *buffer)
{
    if (!buffer)
        return BadArgument;
    const char *text = textOf(code);
    // The text from cell 0, as some makers' libraries do; the program reads both.
    for (int i = 0; i < RQ_ERROR_CELLS; ++i)
        buffer[i] = 0;
    for (int i = 0; text[i] && i < RQ_ERROR_CELLS - 1; ++i)
        buffer[i] = static_cast<unsigned char>(text[i]);
    return Ok;
}

} // extern "C"
