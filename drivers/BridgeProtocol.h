/* Messages between our Linux adapter libraries and rqbridge32.exe, the 32-bit
 * Windows helper that hosts an adapter maker's library under Wine.
 * docs/bridge.md describes every message; this header is the one copy of the
 * numbers, shared by both sides (C, so MinGW and the host compiler agree).
 *
 * Every message is a 12-byte header followed by its payload; all fields are
 * 32-bit little-endian words unless said otherwise. Each operation has a
 * fixed payload length, or a fixed part plus one counted text, so a receiver
 * checks the length before it reads a single field.
 */
#ifndef RQ_BRIDGE_PROTOCOL_H
#define RQ_BRIDGE_PROTOCOL_H

#include <stdint.h>

enum {
    RQB_VERSION = 1,
    RQB_HEADER_SIZE = 12,
    RQB_MAX_PAYLOAD = 4096,
    RQB_MAX_TEXT = 260, /* a library path is longer than any other text */
    RQB_RECORD_WORDS = 100,
    RQB_BLOCK_WORDS = 16,
    RQB_ERROR_CELLS = 100
};

/* "RQBQ" on a request, "RQBA" on an answer (read as little-endian words). */
#define RQB_MAGIC_REQUEST 0x51425152u
#define RQB_MAGIC_ANSWER 0x41425152u

enum RqbOperation {
    RQB_LOAD = 1, /* prefix and library path -> status, Windows error, text */
    RQB_VERSION_OP = 2,
    RQB_INIT = 3,
    RQB_SETCONFIG = 4,
    RQB_GETCONFIG = 5,
    RQB_SEND = 6,
    RQB_DONE = 7,
    RQB_ERROR = 8,
    RQB_FAULT = 0x7F00 /* answer only: the request did not fit; the bridge then ends */
};

/* Answer of RQB_LOAD. */
enum RqbLoadStatus { RQB_LOADED = 0, RQB_LOAD_FAILED = 1, RQB_ENTRY_MISSING = 2 };

/* Init forms: (handle, word 0), (handle), (handle, init block). */
enum RqbInitForm { RQB_INIT_WORD = 0, RQB_INIT_PLAIN = 1, RQB_INIT_BLOCK = 2 };

/* Which pointer arguments the caller passed (a null pointer stays null). */
enum {
    RQB_ARG1 = 1, /* first pointer argument */
    RQB_ARG2 = 2,
    RQB_ARG3 = 4,
    RQB_ARG4 = 8,
    RQB_WORD0_TEXT = 16 /* Init block: word 0 is the address of the text that follows */
};

/* Fixed payload sizes in bytes. */
enum {
    RQB_LOAD_ANSWER_FIXED = 12, /* status, Windows error, text length; then the text */
    RQB_VERSION_REQUEST = 0,
    RQB_VERSION_ANSWER = 4,      /* result */
    RQB_INIT_REQUEST_FIXED = 80, /* form, flags, handle in, 16 words, text length; then the text */
    RQB_INIT_ANSWER = 8,         /* result, handle out */
    RQB_SETCONFIG_REQUEST = 16,  /* handle, baud, timeout, third */
    RQB_SETCONFIG_ANSWER = 4,    /* result */
    RQB_GETCONFIG_REQUEST = 20,  /* handle, flags, baud, timeout, third */
    RQB_GETCONFIG_ANSWER = 16,   /* result, baud, timeout, third */
    RQB_SEND_REQUEST = 816,      /* handle, flags, request[100], response[100], status, error */
    RQB_SEND_ANSWER = 820,   /* result, request[100], response[100], status, error, call time (ns, 64 bits) */
    RQB_DONE_REQUEST = 8,    /* flags, handle in */
    RQB_DONE_ANSWER = 8,     /* result, handle out */
    RQB_ERROR_REQUEST = 408, /* code, flags, buffer[100] */
    RQB_ERROR_ANSWER = 404   /* result, buffer[100] */
};

#endif
