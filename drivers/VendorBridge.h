// An adapter maker's own 32-bit Windows library behind our entry points.
//
// When <prefix>.DLL (any letter case) lies beside our libK<prefix>.so or in
// the folder named by RQ_VENDOR_DLL_DIR, every entry point forwards to it
// through rqbridge32.exe, started under Wine for the connection's lifetime
// (docs/bridge.md). Without such a file nothing changes.
#ifndef RQ_DRIVERS_VENDORBRIDGE_H
#define RQ_DRIVERS_VENDORBRIDGE_H

#include <cstdint>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

namespace rqdrv {

// Codes of the bridge itself; a maker's library keeps all the others.
enum BridgeCode : std::uint32_t {
    WineMissing = 90,
    BridgeMissing = 91,
    BridgeStartFailed = 92,
    VendorLoadFailed = 93,
    VendorIncomplete = 94,
    BridgeGone = 95,
    BridgeProtocol = 96,
};

// The maker's library file for a prefix: RQ_VENDOR_DLL_DIR first, then the
// folder of the library holding this code. Empty when there is none.
std::string findVendorLibrary(const std::string &prefix);

// The library's end of the protocol on bytes already read, so that a fuzzer
// can drive it in process. An answer's 12-byte header fits the request it
// answers when magic, version and operation are right and the payload is
// expectedSize long (a LOAD answer, expectedSize 0: its fixed part at least);
// size is then the payload length. A whole payload fits when a LOAD answer's
// counted text ends exactly at its end.
bool answerHeaderFits(const std::uint8_t *header, std::uint16_t operation, std::size_t expectedSize,
                      std::uint32_t &size);
bool answerPayloadFits(const std::vector<std::uint8_t> &payload, std::size_t expectedSize);

// One rqbridge32.exe process and the pipes to it. Every call waits against
// a deadline and gives a code; a dead, silent or confused bridge is killed,
// reaped and reported, never waited for without end.
class BridgeProcess
{
public:
    BridgeProcess() = default;
    ~BridgeProcess() { stop(); }
    BridgeProcess(const BridgeProcess &) = delete;
    BridgeProcess &operator=(const BridgeProcess &) = delete;

    // Starts "wine <bridgeExe>" and loads the library with the prefix's seven
    // entry points. On failure detail holds what to tell the user.
    std::uint32_t start(const std::string &bridgeExe, const std::string &library, const std::string &prefix,
                        std::string &detail);
    bool running() const { return m_pid > 0; }
    // One request and its answer; the answer's payload must be expectedSize
    // long (or at least minSize when expectedSize is 0).
    std::uint32_t call(std::uint16_t operation, const std::vector<std::uint8_t> &payload,
                       std::vector<std::uint8_t> &answer, std::size_t expectedSize, int timeoutMs);
    // Closes its input (the bridge unloads the library and ends), waits a
    // little, then kills; always reaps.
    void stop();
    void kill();

private:
    std::uint32_t writeAll(const std::uint8_t *data, std::size_t size, int timeoutMs);
    std::uint32_t readAll(std::uint8_t *data, std::size_t size, long long deadlineNs);
    bool exited();

    pid_t m_pid = -1;
    int m_to = -1;   // its standard input
    int m_from = -1; // its standard output
};

// The forwarding state of one adapter library (one prefix).
class VendorLibrary
{
public:
    enum InitForm { Word, Plain, Block };

    explicit VendorLibrary(std::string prefix) : m_prefix(std::move(prefix)) {}

    // Whether the maker's library is present. Looked up on the first call,
    // and again on lookAgain (Init) when no connection through it is open.
    bool present(bool lookAgain);

    std::uint32_t version();
    std::uint32_t init(InitForm form, std::uint32_t *handle, const std::uintptr_t *block,
                       std::uint32_t word0);
    std::uint32_t setConfig(std::uint32_t handle, std::uint32_t baud, std::uint32_t timeout,
                            std::uint32_t third);
    std::uint32_t getConfig(std::uint32_t handle, std::uint32_t *baud, std::uint32_t *timeout,
                            std::uint32_t *third);
    std::uint32_t send(std::uint32_t handle, std::uint32_t *request, std::uint32_t *response,
                       std::uint32_t *status, std::uint32_t *error);
    std::uint32_t done(std::uint32_t *handle);
    std::uint32_t error(std::uint32_t code, std::uint32_t *buffer);

    // The bridge program; by default rqbridge32.exe beside our library.
    void setBridgeProgram(std::string path) { m_bridgeExe = std::move(path); }

    // Time the maker's library itself spent in the last Send, as the bridge
    // measured it (nanoseconds); for the benchmark.
    std::uint64_t lastSendNs() const { return m_lastSendNs; }

private:
    // One connection opened through the bridge: the handle its caller got,
    // the handle of the bridge running now, and how it was set up, so that a
    // new bridge can open it again when the old one is lost.
    struct Connection
    {
        std::uint32_t own = 0;
        std::uint32_t bridge = 0;
        std::vector<std::uint8_t> init; // the INIT request
        bool configured = false;
        std::uint32_t baud = 0, timeout = 0, third = 0;
    };

    std::string bridgeProgram() const;
    std::uint32_t ensureBridge();
    std::uint32_t fail(std::uint32_t code, std::string text);
    std::string goneText() const;
    std::uint32_t goneFailure();
    // A call that finds the bridge lost with connections open starts one new
    // bridge and opens them again (unless mayRestart is false); the call
    // itself fails either way, its text saying whether the connections came
    // back.
    std::uint32_t callBridge(std::uint16_t operation, const std::vector<std::uint8_t> &payload,
                             std::vector<std::uint8_t> &answer, std::size_t expectedSize, int timeoutMs,
                             bool mayRestart = true);
    bool restart();
    Connection *connection(std::uint32_t handle);
    std::uint32_t bridgeHandle(std::uint32_t handle);
    int sendTimeoutMs() const;

    std::mutex m_mutex;
    std::string m_prefix;
    std::string m_library; // path of the maker's library; empty when absent
    std::string m_bridgeExe;
    bool m_looked = false;
    BridgeProcess m_bridge;
    bool m_gone = false; // the bridge died with connections open and no new one took them: they are lost
    std::vector<Connection> m_connections;
    std::uint32_t m_timeoutMs = 200;
    std::uint32_t m_lastOwnCode = 0;
    std::string m_lastOwnText;
    std::uint64_t m_lastSendNs = 0;
};

// The forwarding state of this library's prefix, or null when no maker's
// library is present. Init passes lookAgain, so a library dropped in or taken
// away counts from the next connection on; other calls keep the last answer.
VendorLibrary *vendorLibrary(const char *prefix, bool lookAgain = false);

// Path of the file holding this code (our adapter library), for finding its
// neighbours.
std::string ownLibraryPath();

} // namespace rqdrv

#endif
