#include "VendorBridge.h"

#include "Driver.h"
#include "Posix.h"
#include "drivers/BridgeProtocol.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace rqdrv {

namespace {

constexpr const char *kBridgeName = "rqbridge32.exe";
// The first start in a new Wine prefix creates it: tens of seconds on a busy
// machine. A connection must not fail for that.
constexpr int kStartTimeoutMs = 120000;
// A maker's Init may probe hardware.
constexpr int kInitTimeoutMs = 30000;
constexpr int kCallTimeoutMs = 10000;

long long nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

void put32(std::vector<std::uint8_t> &out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void putText(std::vector<std::uint8_t> &out, const std::string &text)
{
    put32(out, static_cast<std::uint32_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

std::uint32_t get32(const std::vector<std::uint8_t> &in, std::size_t offset)
{
    return static_cast<std::uint32_t>(in[offset]) | static_cast<std::uint32_t>(in[offset + 1]) << 8 |
           static_cast<std::uint32_t>(in[offset + 2]) << 16 |
           static_cast<std::uint32_t>(in[offset + 3]) << 24;
}

std::string directoryOf(const std::string &path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// <prefix>.dll in any letter case.
std::string findInDirectory(const std::string &directory, const std::string &prefix)
{
    DIR *dir = ::opendir(directory.c_str());
    if (!dir)
        return {};
    const std::string wanted = prefix + ".dll";
    std::string found;
    while (const dirent *entry = ::readdir(dir)) {
        if (::strcasecmp(entry->d_name, wanted.c_str()) == 0) {
            found = directory + '/' + entry->d_name;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

std::string findWine()
{
    const char *path = std::getenv("PATH");
    std::string list = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t end = std::min(list.find(':', start), list.size());
        const std::string candidate =
            (end > start ? list.substr(start, end - start) : std::string(".")) + "/wine";
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

// The bridge's environment: the caller's, with Wine's log silenced and its
// first-start offers to install .NET and a web engine turned off, unless the
// user set these.
std::vector<std::string> bridgeEnvironment()
{
    std::vector<std::string> env;
    bool debug = false, overrides = false;
    for (char **e = environ; e && *e; ++e) {
        env.emplace_back(*e);
        debug = debug || std::strncmp(*e, "WINEDEBUG=", 10) == 0;
        overrides = overrides || std::strncmp(*e, "WINEDLLOVERRIDES=", 17) == 0;
    }
    if (!debug)
        env.emplace_back("WINEDEBUG=-all");
    if (!overrides)
        env.emplace_back("WINEDLLOVERRIDES=mscoree,mshtml=");
    return env;
}

// A write to a bridge that has ended must give an error, not SIGPIPE for the
// whole program: the signal is blocked on this thread for the write and a
// pending one is taken away again.
class NoSigpipe
{
public:
    NoSigpipe()
    {
        sigemptyset(&m_pipe);
        sigaddset(&m_pipe, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        m_wasPending = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &m_pipe, &m_old);
    }
    ~NoSigpipe()
    {
        if (!m_wasPending) {
            const timespec zero{0, 0};
            while (sigtimedwait(&m_pipe, nullptr, &zero) > 0) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &m_old, nullptr);
    }
    NoSigpipe(const NoSigpipe &) = delete;
    NoSigpipe &operator=(const NoSigpipe &) = delete;

private:
    sigset_t m_pipe, m_old;
    bool m_wasPending = false;
};

std::string generalText(std::uint32_t code)
{
    switch (code) {
    case WineMissing:
        return "Chybí Wine: nainstalujte balíčky wine a wine32";
    case BridgeMissing:
        return "Chybí pomocný program rqbridge32.exe";
    case BridgeStartFailed:
        return "Program rqbridge32.exe se pod Wine nespustil (chybí balíček wine32?)";
    case VendorLoadFailed:
        return "Knihovnu výrobce nelze pod Wine načíst";
    case VendorIncomplete:
        return "Knihovně výrobce chybí vstupní bod";
    case BridgeGone:
        return "Program rqbridge32.exe skončil nebo neodpovídá; připojte se znovu";
    case BridgeProtocol:
        return "Chybná odpověď programu rqbridge32.exe (neodpovídá protokolu)";
    default:
        return {};
    }
}

} // namespace

std::string ownLibraryPath()
{
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void *>(&ownLibraryPath), &info) == 0 || !info.dli_fname)
        return {};
    return info.dli_fname;
}

std::string findVendorLibrary(const std::string &prefix)
{
    if (const char *dir = std::getenv("RQ_VENDOR_DLL_DIR"); dir && *dir) {
        std::string found = findInDirectory(dir, prefix);
        if (!found.empty())
            return found;
    }
    const std::string own = ownLibraryPath();
    return own.empty() ? std::string() : findInDirectory(directoryOf(own), prefix);
}

// --- BridgeProcess ---------------------------------------------------------

bool answerHeaderFits(const std::uint8_t *header, std::uint16_t operation, std::size_t expectedSize,
                      std::uint32_t &size)
{
    const std::vector<std::uint8_t> h(header, header + RQB_HEADER_SIZE);
    const std::uint32_t version = header[4] | header[5] << 8;
    const std::uint32_t op = header[6] | header[7] << 8;
    size = get32(h, 8);
    return get32(h, 0) == RQB_MAGIC_ANSWER && version == RQB_VERSION && op == operation &&
           size <= RQB_MAX_PAYLOAD &&
           (expectedSize != 0 ? size == expectedSize : size >= RQB_LOAD_ANSWER_FIXED);
}

bool answerPayloadFits(const std::vector<std::uint8_t> &payload, std::size_t expectedSize)
{
    // A variable answer (LOAD) counts its text: it must end exactly there.
    if (expectedSize != 0)
        return payload.size() == expectedSize;
    return payload.size() >= RQB_LOAD_ANSWER_FIXED &&
           get32(payload, 8) == payload.size() - RQB_LOAD_ANSWER_FIXED;
}

std::uint32_t BridgeProcess::start(const std::string &bridgeExe, const std::string &library,
                                   const std::string &prefix, std::string &detail)
{
    stop();
    const std::string wine = findWine();
    if (wine.empty()) {
        detail = "Chybí Wine pro " + prefix + ".DLL: nainstalujte balíčky wine a wine32";
        return WineMissing;
    }
    if (::access(bridgeExe.c_str(), R_OK) != 0) {
        detail = "Chybí pomocný program " + bridgeExe.substr(bridgeExe.rfind('/') + 1) +
                 " vedle knihovny lib" + prefix + ".so";
        return BridgeMissing;
    }
    int toChild[2], fromChild[2];
    if (::pipe2(toChild, O_CLOEXEC) != 0)
        return BridgeStartFailed;
    if (::pipe2(fromChild, O_CLOEXEC) != 0) {
        ::close(toChild[0]);
        ::close(toChild[1]);
        return BridgeStartFailed;
    }
    std::vector<std::string> env = bridgeEnvironment();
    std::vector<char *> envp;
    for (std::string &e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string arg0 = wine, arg1 = bridgeExe;
    char *argv[] = {arg0.data(), arg1.data(), nullptr};
    // The kernel ends the bridge with this program. The signal comes when the
    // starting thread ends, so only a start on the main thread asks for it;
    // from any thread, the bridge ends itself when its input breaks.
    const pid_t parent = ::getpid();
    const bool mainThread = static_cast<pid_t>(::syscall(SYS_gettid)) == parent;
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only calls that are safe between fork and exec.
        if (mainThread && (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent))
            ::_exit(127);
        if (::dup2(toChild[0], 0) < 0 || ::dup2(fromChild[1], 1) < 0)
            ::_exit(127);
        ::execve(wine.c_str(), argv, envp.data());
        ::_exit(127);
    }
    ::close(toChild[0]);
    ::close(fromChild[1]);
    if (pid < 0) {
        ::close(toChild[1]);
        ::close(fromChild[0]);
        detail = generalText(BridgeStartFailed);
        return BridgeStartFailed;
    }
    m_pid = pid;
    m_to = toChild[1];
    m_from = fromChild[0];
    ::fcntl(m_to, F_SETFL, O_NONBLOCK);
    ::fcntl(m_from, F_SETFL, O_NONBLOCK);

    std::vector<std::uint8_t> payload, answer;
    put32(payload, static_cast<std::uint32_t>(prefix.size()));
    payload.insert(payload.end(), prefix.begin(), prefix.end());
    putText(payload, library);
    const std::uint32_t called = call(RQB_LOAD, payload, answer, 0, kStartTimeoutMs);
    if (called != Ok) {
        // Nothing came back at all: Wine could not run a 32-bit program.
        detail = called == BridgeGone ? generalText(BridgeStartFailed) : generalText(called);
        return called == BridgeGone ? BridgeStartFailed : called;
    }
    const std::uint32_t status = get32(answer, 0);
    const std::string dll = library.substr(library.rfind('/') + 1);
    if (status == RQB_LOAD_FAILED) {
        detail = "Knihovnu " + dll + " nelze pod Wine načíst (chyba Windows " +
                 std::to_string(get32(answer, 4)) + ")";
        stop();
        return VendorLoadFailed;
    }
    if (status == RQB_ENTRY_MISSING) {
        detail = "Knihovně " + dll + " chybí vstupní bod " +
                 std::string(answer.begin() + RQB_LOAD_ANSWER_FIXED, answer.end());
        stop();
        return VendorIncomplete;
    }
    if (status != RQB_LOADED) {
        kill();
        detail = generalText(BridgeProtocol);
        return BridgeProtocol;
    }
    return Ok;
}

std::uint32_t BridgeProcess::call(std::uint16_t operation, const std::vector<std::uint8_t> &payload,
                                  std::vector<std::uint8_t> &answer, std::size_t expectedSize, int timeoutMs)
{
    if (!running())
        return BridgeGone;
    std::vector<std::uint8_t> message;
    message.reserve(RQB_HEADER_SIZE + payload.size());
    put32(message, RQB_MAGIC_REQUEST);
    message.push_back(RQB_VERSION);
    message.push_back(0);
    message.push_back(static_cast<std::uint8_t>(operation));
    message.push_back(static_cast<std::uint8_t>(operation >> 8));
    put32(message, static_cast<std::uint32_t>(payload.size()));
    message.insert(message.end(), payload.begin(), payload.end());
    const long long deadline = nowNs() + static_cast<long long>(timeoutMs) * 1000000;

    std::uint32_t result = writeAll(message.data(), message.size(), timeoutMs);
    std::uint8_t header[RQB_HEADER_SIZE];
    if (result == Ok)
        result = readAll(header, sizeof header, deadline);
    if (result == Ok) {
        std::uint32_t size = 0;
        if (!answerHeaderFits(header, operation, expectedSize, size)) {
            result = BridgeProtocol;
        } else {
            answer.assign(size, 0);
            result = readAll(answer.data(), size, deadline);
            if (result == Ok && !answerPayloadFits(answer, expectedSize))
                result = BridgeProtocol;
        }
    }
    if (result != Ok)
        kill();
    return result;
}

std::uint32_t BridgeProcess::writeAll(const std::uint8_t *data, std::size_t size, int timeoutMs)
{
    NoSigpipe guard;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (size > 0) {
        const ssize_t n = ::write(m_to, data, size);
        if (n > 0) {
            data += n;
            size -= static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return BridgeGone; // EPIPE: it has ended
        const int events = pollUntil(m_to, POLLOUT, deadline);
        if (events <= 0 || (events & (POLLERR | POLLHUP)))
            return BridgeGone;
    }
    return Ok;
}

std::uint32_t BridgeProcess::readAll(std::uint8_t *data, std::size_t size, long long deadlineNs)
{
    while (size > 0) {
        const ssize_t n = ::read(m_from, data, size);
        if (n > 0) {
            data += n;
            size -= static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0)
            return BridgeGone; // end of its output: it has ended
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN)
            return BridgeGone;
        // Wake up now and then to see whether it died: its output may stay
        // open a while in Wine's server after the process is gone.
        const long long left = deadlineNs - nowNs();
        if (left <= 0)
            return BridgeGone;
        const auto slice = std::chrono::nanoseconds(std::min<long long>(left, 100000000));
        const int events = pollUntil(m_from, POLLIN, Clock::now() + slice);
        if (events < 0)
            return BridgeGone;
        if (events == 0 && exited())
            return BridgeGone;
    }
    return Ok;
}

bool BridgeProcess::exited()
{
    int status = 0;
    const pid_t r = ::waitpid(m_pid, &status, WNOHANG);
    if (r == m_pid || (r < 0 && errno == ECHILD)) {
        m_pid = -1;
        return true;
    }
    return false;
}

void BridgeProcess::kill()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    m_pid = -1;
    if (m_to >= 0)
        ::close(m_to);
    if (m_from >= 0)
        ::close(m_from);
    m_to = m_from = -1;
}

void BridgeProcess::stop()
{
    if (m_to >= 0)
        ::close(m_to);
    m_to = -1;
    // Told to end by the end of its input; a bridge that does not end soon is killed.
    for (int i = 0; i < 200 && m_pid > 0; ++i) {
        if (exited())
            break;
        ::usleep(5000);
    }
    kill();
}

// --- VendorLibrary ---------------------------------------------------------

bool VendorLibrary::present(bool lookAgain)
{
    std::lock_guard lock(m_mutex);
    if (!m_looked || (lookAgain && m_connections.empty() && !m_bridge.running())) {
        m_library = findVendorLibrary(m_prefix);
        m_looked = true;
    }
    return !m_library.empty();
}

std::uint32_t VendorLibrary::fail(std::uint32_t code, std::string text)
{
    m_lastOwnCode = code;
    m_lastOwnText = text.empty() ? generalText(code) : std::move(text);
    return code;
}

std::string VendorLibrary::bridgeProgram() const
{
    return m_bridgeExe.empty() ? directoryOf(ownLibraryPath()) + '/' + kBridgeName : m_bridgeExe;
}

std::uint32_t VendorLibrary::ensureBridge()
{
    if (m_bridge.running())
        return Ok;
    std::string detail;
    const std::uint32_t result = m_bridge.start(bridgeProgram(), m_library, m_prefix, detail);
    if (result != Ok)
        return fail(result, detail);
    m_gone = false;
    return Ok;
}

std::uint32_t VendorLibrary::callBridge(std::uint16_t operation, const std::vector<std::uint8_t> &payload,
                                        std::vector<std::uint8_t> &answer, std::size_t expectedSize,
                                        int timeoutMs, bool mayRestart)
{
    if (m_gone)
        return goneFailure();
    const std::uint32_t result = m_bridge.call(operation, payload, answer, expectedSize, timeoutMs);
    if (result == Ok)
        return Ok;
    const std::string lost = result == BridgeGone ? goneText() : generalText(result);
    if (m_connections.empty())
        return fail(result, lost);
    // The request that met the end is lost, but the connections need not
    // be: one new bridge opens them again as they were set up.
    // (The texts fit the 99 characters of an error text.)
    if (mayRestart && restart())
        return fail(result, lost + "; spojení obnoveno");
    // They stay lost until the next Init, whose own text says why a bridge
    // cannot start.
    m_gone = true;
    m_connections.clear();
    return fail(result, mayRestart ? lost + "; nový se nespustil" : lost);
}

bool VendorLibrary::restart()
{
    m_bridge.kill();
    std::string detail;
    if (m_bridge.start(bridgeProgram(), m_library, m_prefix, detail) != Ok)
        return false;
    for (Connection &c : m_connections) {
        std::vector<std::uint8_t> answer;
        bool opened = m_bridge.call(RQB_INIT, c.init, answer, RQB_INIT_ANSWER, kInitTimeoutMs) == Ok &&
                      get32(answer, 0) == Ok;
        if (opened)
            c.bridge = get32(answer, 4);
        if (opened && c.configured) {
            std::vector<std::uint8_t> payload;
            for (std::uint32_t w : {c.bridge, c.baud, c.timeout, c.third})
                put32(payload, w);
            opened =
                m_bridge.call(RQB_SETCONFIG, payload, answer, RQB_SETCONFIG_ANSWER, kCallTimeoutMs) == Ok &&
                get32(answer, 0) == Ok;
        }
        if (!opened) {
            m_bridge.kill();
            return false;
        }
    }
    return true;
}

VendorLibrary::Connection *VendorLibrary::connection(std::uint32_t handle)
{
    for (Connection &c : m_connections)
        if (c.own == handle)
            return &c;
    return nullptr;
}

std::uint32_t VendorLibrary::bridgeHandle(std::uint32_t handle)
{
    const Connection *c = connection(handle);
    return c ? c->bridge : handle;
}

std::string VendorLibrary::goneText() const
{
    const std::string dll = m_library.substr(m_library.rfind('/') + 1);
    return "Program rqbridge32.exe s knihovnou " + dll + " skončil nebo neodpovídá";
}

std::uint32_t VendorLibrary::goneFailure()
{
    return fail(BridgeGone, goneText());
}

int VendorLibrary::sendTimeoutMs() const
{
    // Twice the library's own reply timeout and time for Wine to schedule:
    // a library that gives up on time is never cut short.
    return static_cast<int>(std::min<std::uint32_t>(m_timeoutMs, 60000) * 2 + 1500);
}

std::uint32_t VendorLibrary::version()
{
    std::lock_guard lock(m_mutex);
    if (const std::uint32_t started = ensureBridge(); started != Ok)
        return started;
    std::vector<std::uint8_t> answer;
    if (callBridge(RQB_VERSION_OP, {}, answer, RQB_VERSION_ANSWER, kCallTimeoutMs) != Ok)
        return 0;
    return get32(answer, 0);
}

std::uint32_t VendorLibrary::init(InitForm form, std::uint32_t *handle, const std::uintptr_t *block,
                                  std::uint32_t word0)
{
    std::lock_guard lock(m_mutex);
    if (m_connections.empty() && m_gone) {
        m_bridge.kill();
        m_gone = false;
    }
    if (const std::uint32_t started = ensureBridge(); started != Ok)
        return started;
    std::vector<std::uint8_t> payload;
    const std::uint32_t wireForm = form == Word    ? RQB_INIT_WORD
                                   : form == Plain ? RQB_INIT_PLAIN
                                                   : RQB_INIT_BLOCK;
    std::uint32_t flags = handle ? RQB_ARG1 : 0;
    std::string text;
    std::uint32_t words[RQB_BLOCK_WORDS] = {};
    if (form == Word)
        words[0] = word0;
    if (form == Block && block) {
        flags |= RQB_ARG2;
        for (int i = 0; i < RQB_BLOCK_WORDS; ++i)
            words[i] = static_cast<std::uint32_t>(block[i]);
        // Word 0 addresses the converter's IP text in this process; the
        // bridge gets the text and puts its own copy's address there.
        if (block[0] != 0) {
            flags |= RQB_WORD0_TEXT;
            const char *ip = reinterpret_cast<const char *>(block[0]);
            text.assign(ip, ::strnlen(ip, RQB_MAX_TEXT));
        }
        if (block[2] != 0)
            m_timeoutMs = static_cast<std::uint32_t>(block[2]);
    }
    put32(payload, wireForm);
    put32(payload, flags);
    put32(payload, handle ? *handle : 0);
    for (std::uint32_t w : words)
        put32(payload, w);
    putText(payload, text);
    std::vector<std::uint8_t> answer;
    if (const std::uint32_t r = callBridge(RQB_INIT, payload, answer, RQB_INIT_ANSWER, kInitTimeoutMs);
        r != Ok)
        return r;
    const std::uint32_t result = get32(answer, 0);
    if (handle)
        *handle = get32(answer, 4);
    // The caller keeps the first bridge's handle for good; a later bridge's
    // handle is looked up behind it.
    if (result == Ok && handle)
        m_connections.push_back({*handle, *handle, payload});
    return result;
}

std::uint32_t VendorLibrary::setConfig(std::uint32_t handle, std::uint32_t baud, std::uint32_t timeout,
                                       std::uint32_t third)
{
    std::lock_guard lock(m_mutex);
    if (const std::uint32_t started = ensureBridge(); started != Ok)
        return started;
    std::vector<std::uint8_t> payload, answer;
    for (std::uint32_t w : {bridgeHandle(handle), baud, timeout, third})
        put32(payload, w);
    if (const std::uint32_t r =
            callBridge(RQB_SETCONFIG, payload, answer, RQB_SETCONFIG_ANSWER, kCallTimeoutMs);
        r != Ok)
        return r;
    const std::uint32_t result = get32(answer, 0);
    if (result == Ok && timeout != 0)
        m_timeoutMs = std::max(m_timeoutMs, timeout);
    if (Connection *c = connection(handle); c && result == Ok) {
        c->configured = true;
        c->baud = baud;
        c->timeout = timeout;
        c->third = third;
    }
    return result;
}

std::uint32_t VendorLibrary::getConfig(std::uint32_t handle, std::uint32_t *baud, std::uint32_t *timeout,
                                       std::uint32_t *third)
{
    std::lock_guard lock(m_mutex);
    if (const std::uint32_t started = ensureBridge(); started != Ok)
        return started;
    std::vector<std::uint8_t> payload, answer;
    put32(payload, bridgeHandle(handle));
    put32(payload, (baud ? RQB_ARG1 : 0) | (timeout ? RQB_ARG2 : 0) | (third ? RQB_ARG3 : 0));
    for (std::uint32_t *p : {baud, timeout, third})
        put32(payload, p ? *p : 0);
    if (const std::uint32_t r =
            callBridge(RQB_GETCONFIG, payload, answer, RQB_GETCONFIG_ANSWER, kCallTimeoutMs);
        r != Ok)
        return r;
    if (baud)
        *baud = get32(answer, 4);
    if (timeout)
        *timeout = get32(answer, 8);
    if (third)
        *third = get32(answer, 12);
    return get32(answer, 0);
}

std::uint32_t VendorLibrary::send(std::uint32_t handle, std::uint32_t *request, std::uint32_t *response,
                                  std::uint32_t *status, std::uint32_t *error)
{
    std::lock_guard lock(m_mutex);
    std::uint32_t result = m_gone ? goneFailure() : ensureBridge();
    if (result == Ok) {
        std::vector<std::uint8_t> payload, answer;
        payload.reserve(RQB_SEND_REQUEST);
        put32(payload, bridgeHandle(handle));
        put32(payload, (request ? RQB_ARG1 : 0) | (response ? RQB_ARG2 : 0) | (status ? RQB_ARG3 : 0) |
                           (error ? RQB_ARG4 : 0));
        for (std::uint32_t *record : {request, response})
            for (int i = 0; i < RQB_RECORD_WORDS; ++i)
                put32(payload, record ? record[i] : 0);
        put32(payload, status ? *status : 0);
        put32(payload, error ? *error : 0);
        result = callBridge(RQB_SEND, payload, answer, RQB_SEND_ANSWER, sendTimeoutMs());
        if (result == Ok) {
            for (int i = 0; i < RQB_RECORD_WORDS; ++i) {
                if (request)
                    request[i] = get32(answer, 4 + 4 * static_cast<std::size_t>(i));
                if (response)
                    response[i] = get32(answer, 404 + 4 * static_cast<std::size_t>(i));
            }
            if (status)
                *status = get32(answer, 804);
            if (error)
                *error = get32(answer, 808);
            m_lastSendNs = get32(answer, 812) | static_cast<std::uint64_t>(get32(answer, 816)) << 32;
            return get32(answer, 0);
        }
    }
    // The transaction failed on our side: as our own libraries report failures.
    if (response)
        for (int i = 0; i < 4; ++i)
            response[i] = 0;
    if (status)
        *status = 0;
    if (error)
        *error = result;
    return result;
}

std::uint32_t VendorLibrary::done(std::uint32_t *handle)
{
    std::lock_guard lock(m_mutex);
    if (!m_bridge.running() || m_gone) {
        // The connection ended with the bridge.
        if (handle)
            *handle = 0;
        m_gone = false;
        return m_bridge.running() ? Ok : goneFailure();
    }
    std::vector<std::uint8_t> payload, answer;
    const std::uint32_t closed = handle ? *handle : 0;
    put32(payload, handle ? RQB_ARG1 : 0);
    put32(payload, handle ? bridgeHandle(*handle) : 0);
    // A connection being closed is not worth a new bridge.
    if (const std::uint32_t r = callBridge(RQB_DONE, payload, answer, RQB_DONE_ANSWER, kCallTimeoutMs, false);
        r != Ok) {
        if (handle)
            *handle = 0;
        return r;
    }
    const std::uint32_t result = get32(answer, 0);
    if (handle)
        *handle = get32(answer, 4);
    if (result == Ok) {
        m_connections.erase(std::remove_if(m_connections.begin(), m_connections.end(),
                                           [closed](const Connection &c) { return c.own == closed; }),
                            m_connections.end());
        // The last connection is closed: the bridge goes with it.
        if (m_connections.empty())
            m_bridge.stop();
    }
    return result;
}

std::uint32_t VendorLibrary::error(std::uint32_t code, std::uint32_t *buffer)
{
    std::lock_guard lock(m_mutex);
    if (!buffer)
        return BadArgument;
    // A failure of the bridge itself: our own text, with what we know.
    if (code != 0 && code == m_lastOwnCode) {
        textToBuffer(m_lastOwnText, buffer);
        return Ok;
    }
    if (!m_bridge.running() && !generalText(code).empty()) {
        textToBuffer(generalText(code), buffer);
        return Ok;
    }
    if (ensureBridge() == Ok) {
        std::vector<std::uint8_t> payload, answer;
        put32(payload, code);
        put32(payload, RQB_ARG1);
        for (int i = 0; i < RQB_ERROR_CELLS; ++i)
            put32(payload, buffer[i]);
        if (callBridge(RQB_ERROR, payload, answer, RQB_ERROR_ANSWER, kCallTimeoutMs) == Ok) {
            for (int i = 0; i < RQB_ERROR_CELLS; ++i)
                buffer[i] = get32(answer, 4 + 4 * static_cast<std::size_t>(i));
            return get32(answer, 0);
        }
    }
    textToBuffer(m_lastOwnText, buffer);
    return Ok;
}

VendorLibrary *vendorLibrary(const char *prefix, bool lookAgain)
{
    static VendorLibrary library(prefix);
    return library.present(lookAgain) ? &library : nullptr;
}

} // namespace rqdrv
