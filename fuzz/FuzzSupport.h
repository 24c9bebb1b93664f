// Small helpers shared by the fuzz targets.
#ifndef RQ_FUZZ_SUPPORT_H
#define RQ_FUZZ_SUPPORT_H

#include <cstdio>
#include <cstdlib>

// A broken property is a finding like a crash: say which, then abort so that
// libFuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                                                \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "property broken: %s (%s:%d)\n", #condition, __FILE__, __LINE__);           \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (false)

#endif
