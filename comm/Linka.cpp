#include "comm/Linka.h"

#include "app/Dekl.h"
#include "comm/Opakovani.h"
#include "drivers/ErrorCodes.h"

BusLink BusLink::of(const TData &data)
{
    BusLink link;
    link.kind = data.adapterKind;
    link.handle = data.handle;
    link.retries = data.retries;
    return link;
}

BusReply BusLink::once(const BusRequest &request, quint32 *response) const
{
    if (handle == 0)
        return {static_cast<quint8>(AdapterError::NotBound), request.d};
    Record words{};
    words[0] = request.address;
    words[1] = request.command;
    words[2] = request.subCode;
    for (std::size_t i = 0; i < 5; ++i)
        words[3 + i] = request.d[i];
    // Cleared first, so a library that leaves them untouched yields zeros
    // rather than bytes of an earlier reply.
    for (std::size_t i = 0; i < 4; ++i)
        response[i] = 0;
    quint32 status = 0;
    quint32 errorWord = 0;
    TransactionObserver *const observer = CurrentTransactionObserver();
    const qint64 started = observer ? observer->clock() : 0;
    const quint32 result = SendRequest(kind, handle, words.data(), response, &status, &errorWord);
    quint32 e = result != 0 ? result : errorWord;
    if (e > 255)
        e = 255; // its low byte could be 0 and read as success
    BusReply reply;
    reply.error = static_cast<quint8>(e);
    if (e == 0)
        reply.d = {static_cast<quint8>(status), static_cast<quint8>(response[0]),
                   static_cast<quint8>(response[1]), static_cast<quint8>(response[2]),
                   static_cast<quint8>(response[3])};
    if (observer)
        observer->record(kind, words.data(), reply.error, reply.d, started);
    return reply;
}

BusReply BusLink::transact(const BusRequest &request) const
{
    BusReply reply{static_cast<quint8>(AdapterError::NotBound), request.d};
    for (int attempt = 0;; ++attempt) {
        if (stopped && stopped())
            return {static_cast<quint8>(AdapterError::NotBound), reply.d};
        Record response{};
        reply = once(request, response.data());
        if (reply.error == 0 || attempt >= retries || !IsTransientError(reply.error) ||
            (stopped && stopped()))
            return reply;
        if (retrying)
            retrying();
    }
}

quint8 BusLink::transact(quint8 address, quint8 command, quint8 subCode, ModuleBytes &d) const
{
    const BusReply reply = transact(BusRequest{address, command, subCode, d});
    d = reply.d;
    return reply.error;
}
