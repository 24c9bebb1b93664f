#ifndef RQ_COMM_KXXX638_H
#define RQ_COMM_KXXX638_H

#include "drivers/ErrorCodes.h"

#include <QString>

#include <array>
#include <cstdint>

// Adapter driver binding: one adapter library bound at a time, for the whole
// program. Error codes: 0 success; 1..99 from the library and the module;
// 10 nothing bound or adapter kind above 4; 100 + kind the library cannot be
// loaded; 110 + kind the library lacks an entry point.

using ErrorBuffer = std::array<quint32, 100>;
using InitBlock = std::array<std::uintptr_t, 16>;
using Record = std::array<quint32, 100>;

// The binding's own codes beside the libraries' (drivers/ErrorCodes.h).
namespace AdapterError {
constexpr quint32 LoadFailed = 100; // + adapter kind
constexpr quint32 Incomplete = 110; // + adapter kind
} // namespace AdapterError

// The library file of an adapter kind as the platform names it
// ("libKCOM638.so" on Linux, "KCOM638.DLL" on Windows); empty above 4.
QString AdapterLibraryName(quint8 kind);

// Loads the kind's library, binds its seven entry points (all or nothing) and
// calls its Init in the form of the kind with the handle variable and a copy
// of the block. Returns Init's result unchanged.
quint32 OpenAdapter(quint8 kind, quint32 *handle, const InitBlock &block);
// SetConfig(handle, baud, timeout, third).
quint32 ConfigureAdapter(quint8 kind, quint32 handle, quint32 baud, quint32 timeout, quint32 third);
// Send(handle, request, response, status, error).
quint32 SendRequest(quint8 kind, quint32 handle, quint32 *request, quint32 *response, quint32 *status,
                    quint32 *error);
// Done(&handle), then unloads the library. Returns Done's result.
quint32 CloseAdapter(quint8 kind, quint32 *handle);
// Fills the buffer with the text of the code. For codes below 100 with nothing
// bound (or kind above 4) returns 10 and leaves the buffer as it was.
quint32 ErrorCodeText(quint8 kind, quint32 code, ErrorBuffer &buffer);

// Cells 1..99 get the text's characters (Windows-1250 codes); cell 0 stays 0.
ErrorBuffer TextToBuffer(const QString &text);
// Reads a text that starts in cell 0 or in cell 1.
QString BufferToText(const ErrorBuffer &buffer);
// Error code text and buffer to text in one: the text the dialogs show. A
// nonzero code never gives an empty text: without a text from the library it
// gives "chyba <code> (bez popisu)".
QString ErrorText(quint8 kind, quint32 code);

// Whether a library is loaded and bound; for diagnostics and tests.
bool AdapterBound();

// One module transaction, a single try through BusLink (comm/Linka). With
// handle 0 nothing is sent and no variable changes. Otherwise D0..D4 are sent
// and replaced by the reply; on an error they become 0. An error that does
// not fit 8 bits is reported as 255, never as 0.
void RunModuleTransaction(quint8 kind, quint32 handle, quint8 address, quint8 command, quint8 subCode,
                          quint8 &D0, quint8 &D1, quint8 &D2, quint8 &D3, quint8 &D4, quint8 &error,
                          quint32 *response);

// Who watches the bus: told when an adapter opens and of every module
// transaction as it went over the binding. The binding knows no more of its
// watcher than this, so diagnostics stand on the binding and not around it.
class TransactionObserver
{
public:
    virtual ~TransactionObserver() = default;
    virtual void connectionOpened() = 0;
    // Monotonic µs, read when a transaction starts.
    virtual qint64 clock() const = 0;
    virtual void record(quint8 kind, const quint32 *request, quint8 error,
                        const std::array<quint8, 5> &received, qint64 startedUs) = 0;
};
// One watcher at a time; nullptr for none.
void SetTransactionObserver(TransactionObserver *observer);
TransactionObserver *CurrentTransactionObserver();

struct TData;
using ModuleBytes = std::array<quint8, 5>; // D0..D4

// The transaction with the record's adapter kind, connection handle and
// retries (BusLink::of). Returns the error code; when nothing could be sent
// because the handle is 0 it returns 10 and leaves the bytes as they were.
quint8 Transact(const TData &data, quint8 address, quint8 command, quint8 subCode, ModuleBytes &d);

// Measured value from the reply bytes D1 (low), D2 (middle), D3 (high, bit 7
// the sign) and D4 (decimal places in bits 6..0).
double DecodeMeasuredValue(quint8 low, quint8 middle, quint8 high, quint8 decimals);

#endif
