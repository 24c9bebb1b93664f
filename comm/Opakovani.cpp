#include "comm/Opakovani.h"

#include "drivers/ErrorCodes.h"

#include <atomic>

namespace {
std::atomic<int> g_retries{0};
} // namespace

void SetTransactionRetries(int retries)
{
    g_retries = retries < 0 ? 0 : retries;
}

int TransactionRetries()
{
    return g_retries;
}

bool IsTransientError(quint8 error)
{
    // A failed send or receive; timeout, bad CRC, bad length, wrong address,
    // wrong command, noise before and garbage after the reply; module busy.
    using namespace AdapterError;
    return error == SendFailed || error == ReceiveFailed || (error >= Timeout && error <= GarbageAfter) ||
           error == ModuleBusyError;
}

bool IsModuleError(quint8 error)
{
    return error > AdapterError::ModuleErrorBase && error <= AdapterError::ModuleUnknownError;
}

void RunModuleTransactionRetrying(quint8 kind, quint32 handle, quint8 address, quint8 command, quint8 subCode,
                                  ModuleBytes &d, quint8 &error, int retries)
{
    const ModuleBytes sent = d;
    for (int attempt = 0;; ++attempt) {
        d = sent;
        error = static_cast<quint8>(AdapterError::NotBound);
        Record response{};
        RunModuleTransaction(kind, handle, address, command, subCode, d[0], d[1], d[2], d[3], d[4], error,
                             response.data());
        if (error == 0 || attempt >= retries || !IsTransientError(error))
            return;
    }
}
