/* rqbridge32's request loop, run in process on a buffer (bridge_host.c). */
#ifndef RQ_FUZZ_BRIDGE_HOST_H
#define RQ_FUZZ_BRIDGE_HOST_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif
/* Serves the requests in input until its end or a request that does not
 * fit; returns the bytes of the answers written to output. */
size_t rqb_host_serve(const uint8_t *input, size_t inputSize, uint8_t *output, size_t outputCapacity);
#ifdef __cplusplus
}
#endif

#endif
