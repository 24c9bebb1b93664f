#include "comm/Spojeni.h"
#include "comm/Prikazy.h"

#include "app/Dekl.h"
#include "core/Cp1250.h"

#include <optional>

namespace {
// A UDP port or timeout: a number whose 32-bit pattern is at most 65535
// (so every negative number fails).
std::optional<quint32> udpValue(const QString &text)
{
    const std::optional<qint32> v = ParseIntText(text);
    if (!v || static_cast<quint32>(*v) > 65535u)
        return std::nullopt;
    return static_cast<quint32>(*v);
}
} // namespace

AdapterSettings AdapterSettingsOf(const TData &data)
{
    AdapterSettings s;
    s.kind = data.adapterKind;
    s.comPort = data.comPort;
    s.isaBase = data.isaBase;
    s.ipAddress = data.ipAddress;
    s.udpPort = data.udpPort;
    s.udpTimeout = data.udpTimeout;
    return s;
}

void StoreAdapterSettings(TData &data, const AdapterSettings &settings)
{
    data.adapterKind = settings.kind;
    data.comPort = static_cast<quint8>(settings.comPort);
    data.isaBase = settings.isaBase;
    data.ipAddress = settings.ipAddress;
    data.udpPort = settings.udpPort;
    data.udpTimeout = settings.udpTimeout;
}

QStringList AdapterItems()
{
    return {QStringLiteral("Standardní COMx"), QStringLiteral("ISA karta PCI-638"),
            QStringLiteral("PCI karta PCI-4638"), QStringLiteral("USB konvertor USB-4638"),
            QStringLiteral("LAN konvertor RQ-4638")};
}

QString AdapterFieldCaption(int kind)
{
    switch (kind) {
    case 0:
        return QStringLiteral("Číslo portu COMx");
    case 1:
        return QStringLiteral("Bázová adresa PCI-638");
    case 4:
        return QStringLiteral("IP adresa");
    default:
        return {};
    }
}

QString AdapterFieldText(const AdapterSettings &settings, int kind)
{
    switch (kind) {
    case 0:
        return QString::number(settings.comPort);
    case 1:
        return QStringLiteral("%1").arg(settings.isaBase, 3, 16, QLatin1Char('0')).toUpper() +
               QLatin1Char('h');
    case 4:
        return settings.ipAddress;
    default:
        return {};
    }
}

QString ReadAdapterFields(int kind, QString &field, const QString &udpPort, const QString &udpTimeout,
                          AdapterSettings &settings)
{
    // The record only ever holds a kind the list offers.
    if (kind >= 0 && kind <= 4)
        settings.kind = static_cast<quint8>(kind);
    switch (kind) {
    case 0:
        settings.comPort = static_cast<quint16>(ParseIntText(field).value_or(1));
        field = QString::number(settings.comPort);
        return {};
    case 1: {
        // Four characters such as "2A0h" are the digits and the "h"; anything
        // else falls back to the factory address.
        const QString hex = field.size() == 4 ? QLatin1Char('$') + field.left(3) : QStringLiteral("$300");
        settings.isaBase = static_cast<quint16>(ParseIntText(hex).value_or(0x300));
        field = AdapterFieldText(settings, 1);
        return {};
    }
    case 2:
    case 3:
        return {};
    case 4: {
        if (field.isEmpty())
            return ConnectText::BadIp;
        settings.ipAddress = field;
        const std::optional<quint32> port = udpValue(udpPort);
        if (!port)
            return ConnectText::BadUdpPort;
        settings.udpPort = *port;
        const std::optional<quint32> timeout = udpValue(udpTimeout);
        if (!timeout)
            return ConnectText::BadUdpTimeout;
        settings.udpTimeout = *timeout;
        return {};
    }
    default:
        return ConnectText::UnknownAdapter;
    }
}

InitBlock MakeInitBlock(const AdapterSettings &settings, QByteArray &ip8bit)
{
    InitBlock block{};
    switch (settings.kind) {
    case 0:
        block[0] = settings.comPort;
        break;
    case 1:
        block[0] = settings.isaBase;
        break;
    case 4:
        // QByteArray keeps its data zero-terminated; the library reads it
        // through word 0 while Init runs.
        ip8bit = ToCp1250(settings.ipAddress);
        block[0] = reinterpret_cast<std::uintptr_t>(ip8bit.constData());
        block[1] = settings.udpPort;
        block[2] = settings.udpTimeout;
        break;
    default:
        break;
    }
    return block;
}

quint32 SetupTimeoutMs(const AdapterSettings &settings, quint32 baud)
{
    // The LAN converter library waits its Init timeout whatever SetConfig says.
    if (settings.kind == 4 && settings.udpTimeout != 0)
        return settings.udpTimeout;
    return ReplyTimeoutOfRate(baud);
}

namespace {
quint8 identifyPart(const BusLink &link, quint8 address, quint8 subCode, quint8 &d0, IdentReply &reply)
{
    // A library that hands out handle 0 sends nothing; that counts as
    // "nothing bound" rather than as an empty identity.
    ModuleBytes d{d0, 0, 0, 0, 0};
    const quint8 error = link.transact(address, CmdIdentify, subCode, d);
    d0 = d[0];
    reply = {d[1], d[2], d[3], d[4]};
    return error;
}
} // namespace

// A single try: the module search asks again in its own way.
quint8 IdentifyPart(quint8 kind, quint32 handle, quint8 address, quint8 subCode, quint8 &d0,
                    IdentReply &reply)
{
    BusLink link;
    link.kind = kind;
    link.handle = handle;
    return identifyPart(link, address, subCode, d0, reply);
}

QString IdentityText(const std::array<IdentReply, 3> &replies)
{
    QString identity;
    const auto append = [&identity](const IdentReply &bytes) {
        for (quint8 b : bytes)
            identity.append(FromCp1250(b));
    };
    append(replies[0]);
    append(replies[1]);
    identity.append(QStringLiteral(" v."));
    append(replies[2]);
    return identity;
}

void CloseConnection(TData &data)
{
    quint32 handle = data.handle;
    if (data.connected && handle != 0) {
        CloseAdapter(data.adapterKind, &handle);
        data.handle = handle;
        data.connected = false;
        data.notifyConnection();
    }
}

bool OpenConfigured(TData &d, quint32 &handle, quint32 baud, const StatusSink &show)
{
    quint32 result = OpenAdapter(d.adapterKind, &handle, d.initBlock);
    QString text = ErrorText(d.adapterKind, result);
    if (result != 0) {
        // A library whose Init failed stays bound; the next open replaces it.
        show(ConnectText::InitFailed + text);
        d.connected = false;
        d.notifyConnection();
        return false;
    }
    d.connected = true;

    result = ConfigureAdapter(d.adapterKind, handle, baud, ReplyTimeoutOfRate(baud), SetConfigThird);
    text = ErrorText(d.adapterKind, result);
    if (result != 0) {
        show(ConnectText::InitFailed + text);
        CloseAdapter(d.adapterKind, &handle);
        d.handle = handle;
        d.connected = false;
        d.notifyConnection();
        return false;
    }
    return true;
}

quint8 IdentifyModule(const BusLink &link, quint8 address, QString &identity, QString &errorText)
{
    std::array<IdentReply, 3> replies{};
    quint8 d0 = 0;
    for (quint8 sub = 0; sub < 3; ++sub) {
        const quint8 error = identifyPart(link, address, sub, d0, replies[sub]);
        // Every result's text is asked for, success included.
        errorText = ErrorText(link.kind, error);
        if (error != 0)
            return error;
    }
    identity = IdentityText(replies);
    return 0;
}

bool ConnectRecord(TData &d, quint8 address, int baudIndex, const StatusSink &show)
{
    quint32 handle = d.handle;
    const quint32 baud = BaudRateOfIndex(baudIndex);
    if (!OpenConfigured(d, handle, baud, show))
        return false;

    QString identity, text;
    BusLink link = BusLink::of(d);
    link.handle = handle;
    if (IdentifyModule(link, address, identity, text) != 0) {
        show(text);
        // Closes what this setup opened and leaves the record not connected.
        CloseAdapter(d.adapterKind, &handle);
        d.handle = handle;
        d.connected = false;
        d.notifyConnection();
        return false;
    }

    d.identity = identity;
    show(ConnectText::Connected + d.identity);
    d.moduleAddress = address;
    d.baudRate = baud;
    d.statusText = StatusOkText;
    d.handle = handle;
    d.notifyConnection();
    return true;
}

bool ConnectWith(TData &data, const AdapterSettings &settings, quint8 address, int baudIndex,
                 const StatusSink &show)
{
    CloseConnection(data);
    show(ConnectText::InProgress);
    StoreAdapterSettings(data, settings);
    data.initBlock = MakeInitBlock(settings, data.ipAddress8bit);
    return ConnectRecord(data, address, baudIndex, show);
}
