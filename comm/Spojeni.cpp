#include "comm/Spojeni.h"

#include "app/Cp1250.h"
#include "app/Dekl.h"
#include "comm/Kxxx638.h"

#include <array>

namespace {
const QString InitFailedText = QStringLiteral("Chyba inicializace připojení - ");
const QString BadIpText = QStringLiteral("Neplatná IP adresa");
const QString UnknownAdapterText = QStringLiteral("Neznámý typ rozhraní");

// Parameter passed as the third value of SetConfig by every setup.
constexpr quint32 SetConfigThird = 2;
constexpr quint8 IdentifyCommand = 200;

void abandon(TData &d, quint32 &handle)
{
    CloseAdapter(d.adapterKind, &handle);
    d.handle = handle;
    d.connected = false;
}
} // namespace

bool BuildInitBlock(TData &d)
{
    d.initBlock.fill(0);
    switch (d.adapterKind) {
    case 0:
        d.initBlock[0] = d.comPort;
        return true;
    case 1:
        d.initBlock[0] = d.isaBase;
        return true;
    case 2:
    case 3:
        return true;
    case 4:
        if (d.ipAddress.isEmpty()) return false;
        // QByteArray keeps its data zero-terminated; the library reads it
        // through init block word 0 while Init runs.
        d.ipAddress8bit = ToCp1250(d.ipAddress);
        d.initBlock[0] = reinterpret_cast<std::uintptr_t>(d.ipAddress8bit.constData());
        d.initBlock[1] = d.udpPort;
        d.initBlock[2] = d.udpTimeout;
        return true;
    default:
        return false;
    }
}

void CloseConnection(TData &d)
{
    quint32 handle = d.handle;
    if (d.connected && handle != 0) {
        CloseAdapter(d.adapterKind, &handle);
        d.handle = handle;
    }
    d.connected = false;
}

quint8 IdentifyModule(quint8 kind, quint32 handle, quint8 address, QString &identity, QString *errorText)
{
    std::array<std::array<quint8, 4>, 3> replies{};
    quint8 d0 = 0;
    for (quint8 sub = 0; sub < 3; ++sub) {
        quint8 d1 = 0, d2 = 0, d3 = 0, d4 = 0;
        // A library that hands out handle 0 sends nothing; that counts as
        // "nothing bound" rather than as an empty identity.
        quint8 error = static_cast<quint8>(AdapterError::NotBound);
        Record response{};
        RunModuleTransaction(kind, handle, address, IdentifyCommand, sub, d0, d1, d2, d3, d4, error, response.data());
        // Every result's text is asked for, success included.
        const QString text = ErrorText(kind, error);
        if (error != 0) {
            if (errorText) *errorText = text;
            return error;
        }
        replies[sub] = {d1, d2, d3, d4};
    }
    QString text;
    const auto append = [&text](const std::array<quint8, 4> &bytes) {
        for (quint8 b : bytes)
            text.append(FromCp1250(b));
    };
    append(replies[0]);
    append(replies[1]);
    text.append(QStringLiteral(" v."));
    append(replies[2]);
    identity = text;
    return 0;
}

QString ModelOfIdentity(const QString &identity)
{
    return identity.left(8).trimmed();
}

ConnectOutcome OpenConfigured(TData &d, quint32 &handle, quint32 baud)
{
    quint32 result = OpenAdapter(d.adapterKind, &handle, d.initBlock);
    QString text = ErrorText(d.adapterKind, result);
    if (result != 0) {
        // A library whose Init failed stays bound; the next open replaces it.
        d.connected = false;
        return {false, InitFailedText + text};
    }
    d.connected = true;

    result = ConfigureAdapter(d.adapterKind, handle, baud, ReplyTimeoutOfRate(baud), SetConfigThird);
    text = ErrorText(d.adapterKind, result);
    if (result != 0) {
        abandon(d, handle);
        return {false, InitFailedText + text};
    }
    d.handle = handle;
    return {true, QString()};
}

ConnectOutcome OpenAndIdentify(TData &d, quint32 &handle, quint8 address, quint32 baud)
{
    // The record's handle changes only when the whole setup succeeds.
    const quint32 before = d.handle;
    ConnectOutcome opened = OpenConfigured(d, handle, baud);
    if (!opened.ok) return opened;
    d.handle = before;

    QString text;
    QString identity;
    if (IdentifyModule(d.adapterKind, handle, address, identity, &text) != 0) {
        abandon(d, handle);
        return {false, text};
    }
    d.identity = identity;
    d.moduleAddress = address;
    d.baudRate = baud;
    d.statusText = StatusOkText;
    d.handle = handle;
    return {true, ConnectedText + identity};
}

ConnectOutcome ConnectRecord(TData &d, quint8 address, quint32 baud)
{
    CloseConnection(d);
    if (!BuildInitBlock(d)) return {false, d.adapterKind == 4 ? BadIpText : UnknownAdapterText};
    quint32 handle = d.handle;
    return OpenAndIdentify(d, handle, address, baud);
}
