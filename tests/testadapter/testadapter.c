/* The recording test adapter library. Built once per prefix; every entry
 * point forwards its arguments to rq_test_adapter_call(), which the test
 * program exports (tests/support/TestAdapter.cpp). There the calls are
 * recorded and answered from the test's script. Without that function the
 * library answers every call with error 1. */
#include "drivers/AdapterAbi.h"

#include <dlfcn.h>
#include <stddef.h>

#ifndef TA_PREFIX
#error TA_PREFIX must name the entry point prefix
#endif

#define TA_STR2(x) #x
#define TA_STR(x) TA_STR2(x)
#define TA_CAT2(a, b) a##_##b
#define TA_CAT(a, b) TA_CAT2(a, b)
#define TA_NAME(entry) TA_CAT(TA_PREFIX, entry)

typedef uint32_t (*CallFn)(const char *prefix, const char *entry, uintptr_t a0, uintptr_t a1, uintptr_t a2,
                           uintptr_t a3, uintptr_t a4);

static uint32_t forward(const char *entry, uintptr_t a0, uintptr_t a1, uintptr_t a2, uintptr_t a3,
                        uintptr_t a4)
{
    CallFn fn = (CallFn)dlsym(RTLD_DEFAULT, "rq_test_adapter_call");
    if (!fn)
        return 1;
    return fn(TA_STR(TA_PREFIX), entry, a0, a1, a2, a3, a4);
}

RQ_EXPORT uint32_t RQ_CALL TA_NAME(Version)(void)
{
    return forward("Version", 0, 0, 0, 0, 0);
}

#if defined(TA_INIT_WORD)
RQ_EXPORT uint32_t RQ_CALL TA_NAME(Init)(uint32_t *handle, uint32_t word0)
{
    return forward("Init", (uintptr_t)handle, word0, 0, 0, 0);
}
#elif defined(TA_INIT_BLOCK)
RQ_EXPORT uint32_t RQ_CALL TA_NAME(Init)(uint32_t *handle, uintptr_t *block)
{
    return forward("Init", (uintptr_t)handle, (uintptr_t)block, 0, 0, 0);
}
#else
RQ_EXPORT uint32_t RQ_CALL TA_NAME(Init)(uint32_t *handle)
{
    return forward("Init", (uintptr_t)handle, 0, 0, 0, 0);
}
#endif

RQ_EXPORT uint32_t RQ_CALL TA_NAME(SetConfig)(uint32_t handle, uint32_t baud, uint32_t timeout,
                                              uint32_t third)
{
    return forward("SetConfig", handle, baud, timeout, third, 0);
}

#ifndef TA_NO_GETCONFIG
RQ_EXPORT uint32_t RQ_CALL TA_NAME(GetConfig)(uint32_t handle, uint32_t *baud, uint32_t *timeout,
                                              uint32_t *third)
{
    return forward("GetConfig", handle, (uintptr_t)baud, (uintptr_t)timeout, (uintptr_t)third, 0);
}
#endif

RQ_EXPORT uint32_t RQ_CALL TA_NAME(Send)(uint32_t handle, uint32_t *request, uint32_t *response,
                                         uint32_t *status, uint32_t *error)
{
    return forward("Send", handle, (uintptr_t)request, (uintptr_t)response, (uintptr_t)status,
                   (uintptr_t)error);
}

RQ_EXPORT uint32_t RQ_CALL TA_NAME(Done)(uint32_t *handle)
{
    return forward("Done", (uintptr_t)handle, 0, 0, 0, 0);
}

RQ_EXPORT uint32_t RQ_CALL TA_NAME(Error)(uint32_t code, uint32_t *buffer)
{
    return forward("Error", code, (uintptr_t)buffer, 0, 0, 0);
}
