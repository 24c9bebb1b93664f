/* Just enough of the Windows API for rqbridge32.c to run inside a Linux
 * fuzzer: standard input and output are the fuzzer's buffers, and the
 * maker's library is a stand-in in bridge_host.c. Used by fuzz_bridge_requests only. */
#ifndef RQ_FUZZ_WINDOWS_SHIM_H
#define RQ_FUZZ_WINDOWS_SHIM_H

#include <stddef.h>
#include <stdint.h>

#define __stdcall
#define CDECL
#define WINAPI
typedef int BOOL;
typedef uint32_t DWORD;
typedef uint32_t UINT;
typedef uint16_t WCHAR;
typedef void *HANDLE;
typedef void *LPVOID;
typedef void *HMODULE;
typedef void (*FARPROC)(void);
typedef union {
    int64_t QuadPart;
} LARGE_INTEGER;

#define STD_INPUT_HANDLE ((DWORD)-10)
#define STD_OUTPUT_HANDLE ((DWORD)-11)
#define SEM_FAILCRITICALERRORS 0x0001
#define SEM_NOGPFAULTERRORBOX 0x0002
#define SEM_NOOPENFILEERRORBOX 0x8000

BOOL ReadFile(HANDLE file, void *buffer, DWORD size, DWORD *read, void *overlapped);
BOOL WriteFile(HANDLE file, const void *buffer, DWORD size, DWORD *written, void *overlapped);
HANDLE GetStdHandle(DWORD which);
HMODULE GetModuleHandleA(const char *name);
HMODULE LoadLibraryA(const char *name);
HMODULE LoadLibraryW(const WCHAR *name);
BOOL FreeLibrary(HMODULE module);
FARPROC GetProcAddress(HMODULE module, const char *name);
DWORD GetLastError(void);
HANDLE GetProcessHeap(void);
BOOL HeapFree(HANDLE heap, DWORD flags, void *memory);
BOOL QueryPerformanceCounter(LARGE_INTEGER *count);
BOOL QueryPerformanceFrequency(LARGE_INTEGER *frequency);
UINT SetErrorMode(UINT mode);
/* The input relay thread of main(), which the fuzzer does not run. */
BOOL CreatePipe(HANDLE *read, HANDLE *write, void *attributes, DWORD size);
HANDLE CreateThread(void *attributes, size_t stack, DWORD (*start)(LPVOID), LPVOID parameter, DWORD flags,
                    DWORD *id);
BOOL CloseHandle(HANDLE handle);
void Sleep(DWORD ms);
HANDLE GetCurrentProcess(void);
BOOL TerminateProcess(HANDLE process, UINT code);

#endif
