/* rqbridge32.c compiled for Linux against the Windows shim beside this file,
 * so that fuzz_bridge_requests can feed it requests in process. The maker's
 * library is a stand-in that writes through every pointer it gets to the
 * full extent the protocol promises, so a short or stray buffer shows under
 * AddressSanitizer. */
#include <stdlib.h>
#include <string.h>

#define main rqbridge32_main
#include "bridge/rqbridge32.c"
#undef main

#include "bridge_host.h"

static const uint8_t *g_input;
static size_t g_inputSize, g_inputAt;
static uint8_t *g_output;
static size_t g_outputSize, g_outputCapacity;
static int g_fakeModule;

BOOL ReadFile(HANDLE file, void *buffer, DWORD size, DWORD *read, void *overlapped)
{
    (void)file;
    (void)overlapped;
    /* Like a pipe: at most what is there, a few bytes at a time. */
    size_t n = g_inputSize - g_inputAt;
    if (n > size)
        n = size;
    if (n > 7)
        n = 7 + n % 7;
    if (n > 0)
        memcpy(buffer, g_input + g_inputAt, n);
    g_inputAt += n;
    *read = (DWORD)n;
    return 1;
}

BOOL WriteFile(HANDLE file, const void *buffer, DWORD size, DWORD *written, void *overlapped)
{
    (void)file;
    (void)overlapped;
    if (g_outputSize + size > g_outputCapacity)
        return 0;
    memcpy(g_output + g_outputSize, buffer, size);
    g_outputSize += size;
    *written = size;
    return 1;
}

HANDLE GetStdHandle(DWORD which)
{
    (void)which;
    return &g_fakeModule;
}

HMODULE GetModuleHandleA(const char *name)
{
    (void)name;
    return &g_fakeModule;
}

/* A path holding "missing" is not there. */
HMODULE LoadLibraryA(const char *name)
{
    return strstr(name, "missing") ? NULL : &g_fakeModule;
}

HMODULE LoadLibraryW(const WCHAR *name)
{
    (void)name;
    return &g_fakeModule;
}

BOOL FreeLibrary(HMODULE module)
{
    return module == &g_fakeModule;
}

DWORD GetLastError(void)
{
    return 126;
}

HANDLE GetProcessHeap(void)
{
    return NULL;
}

BOOL HeapFree(HANDLE heap, DWORD flags, void *memory)
{
    (void)heap;
    (void)flags;
    free(memory);
    return 1;
}

BOOL QueryPerformanceCounter(LARGE_INTEGER *count)
{
    static int64_t now;
    count->QuadPart = now += 1000;
    return 1;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER *frequency)
{
    frequency->QuadPart = 10000000;
    return 1;
}

BOOL CreatePipe(HANDLE *read, HANDLE *write, void *attributes, DWORD size)
{
    (void)read;
    (void)write;
    (void)attributes;
    (void)size;
    return 0;
}

HANDLE CreateThread(void *attributes, size_t stack, DWORD (*start)(LPVOID), LPVOID parameter, DWORD flags,
                    DWORD *id)
{
    (void)attributes;
    (void)stack;
    (void)start;
    (void)parameter;
    (void)flags;
    (void)id;
    return NULL;
}

BOOL CloseHandle(HANDLE handle)
{
    (void)handle;
    return 1;
}

void Sleep(DWORD ms)
{
    (void)ms;
}

HANDLE GetCurrentProcess(void)
{
    return &g_fakeModule;
}

BOOL TerminateProcess(HANDLE process, UINT code)
{
    (void)process;
    (void)code;
    abort(); /* never reached: main() does not run here */
}

UINT SetErrorMode(UINT mode)
{
    return mode;
}

/* The stand-in maker's library. */
static void touch(uint32_t *p, int words)
{
    if (p)
        for (int i = 0; i < words; ++i)
            p[i] = p[i] * 3u + 1u;
}

static uint32_t StandVersion(void)
{
    return 0x0107;
}
/* One stand-in for the three forms of Init: the second argument is a
 * pointer only in the block form, which the request being served names. */
static uint32_t StandInit(uint32_t *handle, uint32_t *block)
{
    touch(handle, 1);
    /* Word 0 holds the copied text's address cut to 32 bits: words 1..15 are the block's own. */
    if (get32(g_payload) == RQB_INIT_BLOCK && block)
        touch(block + 1, RQB_BLOCK_WORDS - 1);
    return 0;
}
static uint32_t StandSetConfig(uint32_t h, uint32_t b, uint32_t t, uint32_t x)
{
    return (h ^ b ^ t ^ x) & 3;
}
static uint32_t StandGetConfig(uint32_t h, uint32_t *b, uint32_t *t, uint32_t *x)
{
    touch(b, 1);
    touch(t, 1);
    touch(x, 1);
    return h & 1;
}
static uint32_t StandSend(uint32_t h, uint32_t *request, uint32_t *response, uint32_t *status,
                          uint32_t *error)
{
    touch(request, RQB_RECORD_WORDS);
    touch(response, RQB_RECORD_WORDS);
    touch(status, 1);
    touch(error, 1);
    return h & 7;
}
static uint32_t StandDone(uint32_t *handle)
{
    touch(handle, 1);
    return 0;
}
static uint32_t StandError(uint32_t code, uint32_t *buffer)
{
    touch(buffer, RQB_ERROR_CELLS);
    return code & 1;
}

/* A prefix that starts with X lacks GetConfig. */
FARPROC GetProcAddress(HMODULE module, const char *name)
{
    if (module != &g_fakeModule)
        return NULL;
    const char *entry = strrchr(name, '_');
    if (!entry)
        return NULL;
    ++entry;
    if (strcmp(entry, "Version") == 0)
        return (FARPROC)StandVersion;
    if (strcmp(entry, "Init") == 0)
        return (FARPROC)StandInit;
    if (strcmp(entry, "SetConfig") == 0)
        return (FARPROC)StandSetConfig;
    if (strcmp(entry, "GetConfig") == 0)
        return name[0] == 'X' ? NULL : (FARPROC)StandGetConfig;
    if (strcmp(entry, "Send") == 0)
        return (FARPROC)StandSend;
    if (strcmp(entry, "Done") == 0)
        return (FARPROC)StandDone;
    if (strcmp(entry, "Error") == 0)
        return (FARPROC)StandError;
    return NULL;
}

size_t rqb_host_serve(const uint8_t *input, size_t inputSize, uint8_t *output, size_t outputCapacity)
{
    g_input = input;
    g_inputSize = inputSize;
    g_inputAt = 0;
    g_output = output;
    g_outputSize = 0;
    g_outputCapacity = outputCapacity;
    if (g_library)
        FreeLibrary(g_library);
    g_library = NULL;
    memset(g_entries, 0, sizeof g_entries);
    g_in = GetStdHandle(STD_INPUT_HANDLE);
    g_out = GetStdHandle(STD_OUTPUT_HANDLE);
    QueryPerformanceFrequency(&g_frequency);
    while (serve()) {
    }
    return g_outputSize;
}
