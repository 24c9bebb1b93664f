/* rqbridge32.exe: hosts an adapter maker's 32-bit Windows driver library and
 * serves its seven entry points over standard input and output
 * (docs/bridge.md). Runs under Wine, started by our Linux adapter library for
 * the lifetime of one connection.
 *
 * Every pointer the maker's library sees belongs to this process: arguments
 * are copied in from the request, results copied out into the answer. A
 * request that does not fit the protocol ends the bridge after one RQB_FAULT
 * answer; the end of standard input ends it quietly.
 *
 * The bridge never outlives the program that started it: that program holds
 * the only writing end of the bridge's input, so the input ends when it
 * ends, however it ends. Between calls the main loop sees that and unloads
 * the library; a call that hangs inside the library is cut short by the
 * thread that reads the input (relayInput), which then ends the process.
 */
#include "BridgeProtocol.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

typedef uint32_t(__stdcall *VersionFn)(void);
typedef uint32_t(__stdcall *InitWordFn)(uint32_t *, uint32_t);
typedef uint32_t(__stdcall *InitPlainFn)(uint32_t *);
typedef uint32_t(__stdcall *InitBlockFn)(uint32_t *, uint32_t *);
typedef uint32_t(__stdcall *SetConfigFn)(uint32_t, uint32_t, uint32_t, uint32_t);
typedef uint32_t(__stdcall *GetConfigFn)(uint32_t, uint32_t *, uint32_t *, uint32_t *);
typedef uint32_t(__stdcall *SendFn)(uint32_t, uint32_t *, uint32_t *, uint32_t *, uint32_t *);
typedef uint32_t(__stdcall *DoneFn)(uint32_t *);
typedef uint32_t(__stdcall *ErrorFn)(uint32_t, uint32_t *);

static const char *const EntryNames[7] = {"Version", "Init", "SetConfig", "GetConfig",
                                          "Send",    "Done", "Error"};
enum { E_VERSION, E_INIT, E_SETCONFIG, E_GETCONFIG, E_SEND, E_DONE, E_ERROR, E_COUNT };

static HMODULE g_library;
static FARPROC g_entries[E_COUNT];
static HANDLE g_in, g_out;
static LARGE_INTEGER g_frequency;

static uint8_t g_payload[RQB_MAX_PAYLOAD];
static uint8_t g_answer[RQB_MAX_PAYLOAD];

static uint32_t get32(const uint8_t *p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

static void put32(uint8_t *p, uint32_t v)
{
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
    p[2] = (uint8_t)(v >> 16);
    p[3] = (uint8_t)(v >> 24);
}

static void getWords(const uint8_t *p, uint32_t *words, int count)
{
    for (int i = 0; i < count; ++i)
        words[i] = get32(p + 4 * i);
}

static void putWords(uint8_t *p, const uint32_t *words, int count)
{
    for (int i = 0; i < count; ++i)
        put32(p + 4 * i, words[i]);
}

/* Reads exactly size bytes; 0 at the end of input or on an error. */
static int readAll(void *data, DWORD size)
{
    uint8_t *p = data;
    while (size > 0) {
        DWORD n = 0;
        if (!ReadFile(g_in, p, size, &n, NULL) || n == 0)
            return 0;
        p += n;
        size -= n;
    }
    return 1;
}

static int writeAll(const void *data, DWORD size)
{
    const uint8_t *p = data;
    while (size > 0) {
        DWORD n = 0;
        if (!WriteFile(g_out, p, size, &n, NULL) || n == 0)
            return 0;
        p += n;
        size -= n;
    }
    return 1;
}

/* Header and payload in one write, so the reader never waits on half a message. */
static int answer(uint32_t operation, uint32_t size)
{
    static uint8_t message[RQB_HEADER_SIZE + RQB_MAX_PAYLOAD];
    put32(message, RQB_MAGIC_ANSWER);
    message[4] = (uint8_t)RQB_VERSION;
    message[5] = 0;
    message[6] = (uint8_t)operation;
    message[7] = (uint8_t)(operation >> 8);
    put32(message + 8, size);
    memcpy(message + RQB_HEADER_SIZE, g_answer, size);
    return writeAll(message, RQB_HEADER_SIZE + size);
}

static int fault(const char *text)
{
    const uint32_t length = (uint32_t)strlen(text);
    put32(g_answer, length);
    memcpy(g_answer + 4, text, length);
    answer(RQB_FAULT, 4 + length);
    return 0;
}

/* A counted text inside a payload: length word at offset, bytes behind it,
 * the whole payload exactly that long. Copies it zero-terminated. */
static int countedText(uint32_t size, uint32_t offset, char *text)
{
    if (size < offset + 4)
        return 0;
    const uint32_t length = get32(g_payload + offset);
    if (length > RQB_MAX_TEXT || size != offset + 4 + length)
        return 0;
    memcpy(text, g_payload + offset + 4, length);
    text[length] = 0;
    return 1;
}

/* The library path arrives as a Linux path: Wine names it for Windows. */
static HMODULE loadByUnixPath(const char *path)
{
    typedef WCHAR *(CDECL * DosNameFn)(const char *);
    DosNameFn dosName =
        (DosNameFn)(void (*)(void))GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_dos_file_name");
    if (dosName) {
        WCHAR *name = dosName(path);
        if (name) {
            HMODULE module = LoadLibraryW(name);
            HeapFree(GetProcessHeap(), 0, name);
            return module;
        }
    }
    /* Not under Wine, or an older one: drive Z: is the Linux root. */
    char windows[RQB_MAX_TEXT + 3];
    snprintf(windows, sizeof windows, "Z:%s", path);
    for (char *c = windows; *c; ++c)
        if (*c == '/')
            *c = '\\';
    return LoadLibraryA(path[0] == '/' ? windows : path);
}

static int doLoad(uint32_t size)
{
    char prefix[RQB_MAX_TEXT + 1], path[RQB_MAX_TEXT + 1];
    if (size < 4)
        return fault("LOAD: payload too short");
    const uint32_t prefixLength = get32(g_payload);
    if (prefixLength > 32 || size < 8 + prefixLength)
        return fault("LOAD: bad prefix length");
    memcpy(prefix, g_payload + 4, prefixLength);
    prefix[prefixLength] = 0;
    if (!countedText(size, 4 + prefixLength, path))
        return fault("LOAD: bad path length");

    uint32_t status = RQB_LOADED, winError = 0;
    char missing[64] = "";
    if (g_library) {
        FreeLibrary(g_library);
        g_library = NULL;
    }
    memset(g_entries, 0, sizeof g_entries);
    g_library = loadByUnixPath(path);
    if (!g_library) {
        status = RQB_LOAD_FAILED;
        winError = GetLastError();
    } else {
        for (int e = 0; e < E_COUNT; ++e) {
            char name[64];
            snprintf(name, sizeof name, "%s_%s", prefix, EntryNames[e]);
            g_entries[e] = GetProcAddress(g_library, name);
            if (!g_entries[e]) {
                status = RQB_ENTRY_MISSING;
                strcpy(missing, name);
                FreeLibrary(g_library);
                g_library = NULL;
                memset(g_entries, 0, sizeof g_entries);
                break;
            }
        }
    }
    const uint32_t length = (uint32_t)strlen(missing);
    put32(g_answer, status);
    put32(g_answer + 4, winError);
    put32(g_answer + 8, length);
    memcpy(g_answer + 12, missing, length);
    return answer(RQB_LOAD, RQB_LOAD_ANSWER_FIXED + length);
}

static int doInit(uint32_t size)
{
    char text[RQB_MAX_TEXT + 1];
    if (!countedText(size, RQB_INIT_REQUEST_FIXED - 4, text))
        return fault("INIT: bad length");
    const uint32_t form = get32(g_payload);
    const uint32_t flags = get32(g_payload + 4);
    uint32_t handle = get32(g_payload + 8);
    uint32_t block[RQB_BLOCK_WORDS];
    getWords(g_payload + 12, block, RQB_BLOCK_WORDS);
    uint32_t *handleArg = (flags & RQB_ARG1) ? &handle : NULL;
    uint32_t result;
    switch (form) {
    case RQB_INIT_WORD:
        result = ((InitWordFn)g_entries[E_INIT])(handleArg, block[0]);
        break;
    case RQB_INIT_PLAIN:
        result = ((InitPlainFn)g_entries[E_INIT])(handleArg);
        break;
    case RQB_INIT_BLOCK:
        /* The library sees this process's copy of the text at a 32-bit address. */
        if (flags & RQB_WORD0_TEXT)
            block[0] = (uint32_t)(uintptr_t)text;
        result = ((InitBlockFn)g_entries[E_INIT])(handleArg, (flags & RQB_ARG2) ? block : NULL);
        break;
    default:
        return fault("INIT: unknown form");
    }
    put32(g_answer, result);
    put32(g_answer + 4, handle);
    return answer(RQB_INIT, RQB_INIT_ANSWER);
}

static int doSend(void)
{
    uint32_t request[RQB_RECORD_WORDS], response[RQB_RECORD_WORDS];
    const uint32_t handle = get32(g_payload);
    const uint32_t flags = get32(g_payload + 4);
    getWords(g_payload + 8, request, RQB_RECORD_WORDS);
    getWords(g_payload + 408, response, RQB_RECORD_WORDS);
    uint32_t status = get32(g_payload + 808);
    uint32_t error = get32(g_payload + 812);
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    const uint32_t result = ((SendFn)g_entries[E_SEND])(
        handle, (flags & RQB_ARG1) ? request : NULL, (flags & RQB_ARG2) ? response : NULL,
        (flags & RQB_ARG3) ? &status : NULL, (flags & RQB_ARG4) ? &error : NULL);
    QueryPerformanceCounter(&end);
    const uint64_t ns =
        (uint64_t)((double)(end.QuadPart - start.QuadPart) * 1e9 / (double)g_frequency.QuadPart);
    put32(g_answer, result);
    putWords(g_answer + 4, request, RQB_RECORD_WORDS);
    putWords(g_answer + 404, response, RQB_RECORD_WORDS);
    put32(g_answer + 804, status);
    put32(g_answer + 808, error);
    put32(g_answer + 812, (uint32_t)ns);
    put32(g_answer + 816, (uint32_t)(ns >> 32));
    return answer(RQB_SEND, RQB_SEND_ANSWER);
}

/* The program's end of the input is read by this thread alone and passed on
 * to the main loop through a pipe of our own (Wine cannot peek at a Linux
 * pipe to see it break). At its end the main loop gets the end of its input;
 * when the loop has not ended the process within a grace time, it is stuck
 * in the library and the process ends here. */
static HANDLE g_program;
static HANDLE g_relay;

static DWORD WINAPI relayInput(LPVOID unused)
{
    static uint8_t chunk[4096];
    (void)unused;
    DWORD n = 0;
    while (ReadFile(g_program, chunk, sizeof chunk, &n, NULL) && n > 0) {
        const uint8_t *p = chunk;
        DWORD written = 0;
        while (n > 0 && WriteFile(g_relay, p, n, &written, NULL) && written > 0) {
            p += written;
            n -= written;
        }
        if (n > 0)
            break;
    }
    CloseHandle(g_relay);
    Sleep(2000);
    TerminateProcess(GetCurrentProcess(), 4);
    return 0;
}

/* One request; 0 ends the bridge. */
static int serve(void)
{
    uint8_t header[RQB_HEADER_SIZE];
    if (!readAll(header, RQB_HEADER_SIZE))
        return 0;
    const uint32_t version = header[4] | ((uint32_t)header[5] << 8);
    const uint32_t operation = header[6] | ((uint32_t)header[7] << 8);
    const uint32_t size = get32(header + 8);
    if (get32(header) != RQB_MAGIC_REQUEST)
        return fault("bad magic");
    if (version != RQB_VERSION)
        return fault("unsupported protocol version");
    if (size > RQB_MAX_PAYLOAD)
        return fault("payload too long");
    if (!readAll(g_payload, size))
        return 0;
    if (operation != RQB_LOAD && !g_library)
        return fault("no library loaded");

    switch (operation) {
    case RQB_LOAD:
        return doLoad(size);
    case RQB_VERSION_OP:
        if (size != RQB_VERSION_REQUEST)
            return fault("VERSION: bad length");
        put32(g_answer, ((VersionFn)g_entries[E_VERSION])());
        return answer(operation, RQB_VERSION_ANSWER);
    case RQB_INIT:
        return doInit(size);
    case RQB_SETCONFIG:
        if (size != RQB_SETCONFIG_REQUEST)
            return fault("SETCONFIG: bad length");
        put32(g_answer, ((SetConfigFn)g_entries[E_SETCONFIG])(get32(g_payload), get32(g_payload + 4),
                                                              get32(g_payload + 8), get32(g_payload + 12)));
        return answer(operation, RQB_SETCONFIG_ANSWER);
    case RQB_GETCONFIG: {
        if (size != RQB_GETCONFIG_REQUEST)
            return fault("GETCONFIG: bad length");
        const uint32_t flags = get32(g_payload + 4);
        uint32_t values[3];
        getWords(g_payload + 8, values, 3);
        put32(g_answer, ((GetConfigFn)g_entries[E_GETCONFIG])(
                            get32(g_payload), (flags & RQB_ARG1) ? &values[0] : NULL,
                            (flags & RQB_ARG2) ? &values[1] : NULL, (flags & RQB_ARG3) ? &values[2] : NULL));
        putWords(g_answer + 4, values, 3);
        return answer(operation, RQB_GETCONFIG_ANSWER);
    }
    case RQB_SEND:
        if (size != RQB_SEND_REQUEST)
            return fault("SEND: bad length");
        return doSend();
    case RQB_DONE: {
        if (size != RQB_DONE_REQUEST)
            return fault("DONE: bad length");
        uint32_t handle = get32(g_payload + 4);
        put32(g_answer, ((DoneFn)g_entries[E_DONE])((get32(g_payload) & RQB_ARG1) ? &handle : NULL));
        put32(g_answer + 4, handle);
        return answer(operation, RQB_DONE_ANSWER);
    }
    case RQB_ERROR: {
        if (size != RQB_ERROR_REQUEST)
            return fault("ERROR: bad length");
        uint32_t buffer[RQB_ERROR_CELLS];
        getWords(g_payload + 8, buffer, RQB_ERROR_CELLS);
        put32(g_answer, ((ErrorFn)g_entries[E_ERROR])(get32(g_payload),
                                                      (get32(g_payload + 4) & RQB_ARG1) ? buffer : NULL));
        putWords(g_answer + 4, buffer, RQB_ERROR_CELLS);
        return answer(operation, RQB_ERROR_ANSWER);
    }
    default:
        return fault("unknown operation");
    }
}

int main(int argc, char **argv)
{
    /* "--version" starts nothing: used to create a Wine prefix ahead of time. */
    if (argc > 1 && strcmp(argv[1], "--version") == 0) {
        printf("rqbridge32 protocol %d\n", RQB_VERSION);
        return 0;
    }
    g_in = GetStdHandle(STD_INPUT_HANDLE);
    HANDLE relayOut = NULL;
    if (CreatePipe(&relayOut, &g_relay, NULL, 1 << 16)) {
        g_program = g_in;
        HANDLE relay = CreateThread(NULL, 0, relayInput, NULL, 0, NULL);
        if (relay) {
            CloseHandle(relay);
            g_in = relayOut;
        }
    }
    g_out = GetStdHandle(STD_OUTPUT_HANDLE);
    QueryPerformanceFrequency(&g_frequency);
    /* A library that crashes must not leave a Windows error box behind. */
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    while (serve()) {
    }
    if (g_library)
        FreeLibrary(g_library);
    return 0;
}
