#ifndef RQ_COMM_LINKA_H
#define RQ_COMM_LINKA_H

#include "comm/Kxxx638.h"

#include <functional>

struct TData;

// One module transaction to send: the module's address, the command, its
// sub-code and D0..D4.
struct BusRequest
{
    quint8 address = 0;
    quint8 command = 0;
    quint8 subCode = 0;
    ModuleBytes d{};
};

// How it went: the reply's D0..D4, or the error that ended it.
struct BusReply
{
    // 0, or the adapter's, the binding's or the module's code (AdapterError).
    quint8 error = 0;
    // The reply; zeros after an error, the bytes sent when nothing could be
    // sent (no handle, or the stop check said so before the first try).
    ModuleBytes d{};
    bool ok() const { return error == 0; }
};

// The one way an engine reaches the bus: the bound adapter's kind and
// connection handle, how often a transaction that timed out or came back
// damaged is sent again, and a stop check. Every transaction is told to the
// watcher the binding has (SetTransactionObserver).
struct BusLink
{
    quint8 kind = 0;
    quint32 handle = 0; // 0: nothing is sent
    int retries = 0;    // 0: a single try
    // Asked before every try and after a failed one: true ends at once,
    // with AdapterError::NotBound when nothing was sent.
    std::function<bool()> stopped;
    // Told before a failed transaction is sent again.
    std::function<void()> retrying;

    // The record's adapter kind, connection handle and retries.
    static BusLink of(const TData &data);

    // The transaction, repeated while its error is transient
    // (IsTransientError) and retries are left; every try sends the bytes
    // given. The last try's result.
    BusReply transact(const BusRequest &request) const;
    // The same with D0..D4 in and out; the error code.
    quint8 transact(quint8 address, quint8 command, quint8 subCode, ModuleBytes &d) const;
    // One try, nothing repeated; response gets the library's four reply
    // words (cleared first) when a handle is there.
    BusReply once(const BusRequest &request, quint32 *response) const;
};

#endif
