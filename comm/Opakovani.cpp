#include "comm/Opakovani.h"

#include "drivers/ErrorCodes.h"

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
