/* Entry points of an adapter driver library, as the program calls them.
 *
 * Shared by the program's binding, our own adapter libraries and the test
 * adapter library, so the three can never disagree on an argument order.
 * Plain C: the libraries are C-linkage exports. Every argument and result is
 * 32 bits wide except addresses, which are pointer-sized; on 32-bit Windows
 * that is the classic stdcall interface.
 */
#ifndef RQ_ADAPTER_ABI_H
#define RQ_ADAPTER_ABI_H

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define RQ_CALL __stdcall
#else
#define RQ_CALL
#endif

#if defined(_WIN32)
#define RQ_EXPORT __declspec(dllexport)
#else
#define RQ_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The init block handed to Init of the LAN converter: 16 pointer-sized words.
 * Word 0 holds the address of the zero-terminated 8-bit IP address text, word 1
 * the UDP port, word 2 the UDP timeout in milliseconds. */
enum { RQ_INIT_BLOCK_WORDS = 16 };
typedef uintptr_t RqInitBlock[RQ_INIT_BLOCK_WORDS];

/* Request and response records: 100 words each. Request: 0 address,
 * 1 command, 2 sub-code, 3..7 D0..D4. Response: words 0..3 give D1..D4; the
 * status word gives D0. */
enum { RQ_RECORD_WORDS = 100 };

/* Error text buffer: 100 cells, one 8-bit (Windows-1250) character each. */
enum { RQ_ERROR_CELLS = 100 };

typedef uint32_t(RQ_CALL *RqVersionFn)(void);
/* Init of the serial port (word0 = COM port number) and the ISA card
 * (word0 = base address). */
typedef uint32_t(RQ_CALL *RqInitWordFn)(uint32_t *handle, uint32_t word0);
/* Init of the PCI card and the USB converter. */
typedef uint32_t(RQ_CALL *RqInitPlainFn)(uint32_t *handle);
/* Init of the LAN converter: a copy of the init block, valid during the call only. */
typedef uint32_t(RQ_CALL *RqInitBlockFn)(uint32_t *handle, uintptr_t *block);
typedef uint32_t(RQ_CALL *RqSetConfigFn)(uint32_t handle, uint32_t baud, uint32_t timeout, uint32_t third);
typedef uint32_t(RQ_CALL *RqGetConfigFn)(uint32_t handle, uint32_t *baud, uint32_t *timeout, uint32_t *third);
typedef uint32_t(RQ_CALL *RqSendFn)(uint32_t handle, uint32_t *request, uint32_t *response, uint32_t *status,
                                    uint32_t *error);
typedef uint32_t(RQ_CALL *RqDoneFn)(uint32_t *handle);
typedef uint32_t(RQ_CALL *RqErrorFn)(uint32_t code, uint32_t *buffer);

#ifdef __cplusplus
}
#endif

#endif
