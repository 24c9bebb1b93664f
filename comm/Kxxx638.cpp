#include "comm/Kxxx638.h"

#include "app/Dekl.h"
#include "comm/Linka.h"
#include "core/Cp1250.h"
#include "drivers/AdapterAbi.h"

#include <QByteArray>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

const char *const Prefixes[5] = {"KCOM638", "KPCI638", "KPCI4638", "KUSB4638", "KRQ4638"};
const char *const EntryNames[7] = {"Version", "Init", "SetConfig", "GetConfig", "Send", "Done", "Error"};
enum Entry { Version, Init, SetConfig, GetConfig, Send, Done, Error, EntryCount };

// The platform's dynamic loading behind three calls.
#if defined(_WIN32)
using LibHandle = HMODULE;
LibHandle loadLibrary(const QByteArray &name)
{
    return LoadLibraryA(name.constData());
}
void *symbol(LibHandle lib, const QByteArray &name)
{
    return reinterpret_cast<void *>(GetProcAddress(lib, name.constData()));
}
void unloadLibrary(LibHandle lib)
{
    FreeLibrary(lib);
}
#else
using LibHandle = void *;
LibHandle loadLibrary(const QByteArray &name)
{
    return dlopen(name.constData(), RTLD_NOW | RTLD_LOCAL);
}
void *symbol(LibHandle lib, const QByteArray &name)
{
    return dlsym(lib, name.constData());
}
void unloadLibrary(LibHandle lib)
{
    dlclose(lib);
}
#endif

struct Binding
{
    LibHandle library = nullptr;
    void *entries[EntryCount] = {};

    void unbind()
    {
        for (void *&e : entries)
            e = nullptr;
    }
    void unload()
    {
        unbind();
        if (library)
            unloadLibrary(library);
        library = nullptr;
    }
    template <typename Fn> Fn entry(Entry e) const { return reinterpret_cast<Fn>(entries[e]); }
};

Binding g_binding;
TransactionObserver *g_observer = nullptr;

bool bound(quint8 kind, Entry e)
{
    return kind <= 4 && g_binding.entries[e] != nullptr;
}

} // namespace

void SetTransactionObserver(TransactionObserver *observer)
{
    g_observer = observer;
}

TransactionObserver *CurrentTransactionObserver()
{
    return g_observer;
}

QString AdapterLibraryName(quint8 kind)
{
    if (kind > 4)
        return {};
#if defined(_WIN32)
    return QLatin1String(Prefixes[kind]) + QStringLiteral(".DLL");
#else
    return QStringLiteral("lib") + QLatin1String(Prefixes[kind]) + QStringLiteral(".so");
#endif
}

quint32 OpenAdapter(quint8 kind, quint32 *handle, const InitBlock &block)
{
    InitBlock copy = block;
    // A library left bound by an earlier open whose Init failed holds no
    // connection; let it go before binding anew.
    g_binding.unload();
    if (kind > 4)
        return AdapterError::NotBound;
    LibHandle lib = loadLibrary(AdapterLibraryName(kind).toLocal8Bit());
    if (!lib)
        return AdapterError::LoadFailed + kind;
    g_binding.library = lib;
    for (int e = 0; e < EntryCount; ++e) {
        const QByteArray name = QByteArray(Prefixes[kind]) + '_' + EntryNames[e];
        g_binding.entries[e] = symbol(lib, name);
        if (!g_binding.entries[e]) {
            g_binding.unload();
            return AdapterError::Incomplete + kind;
        }
    }
    static_assert(sizeof(InitBlock) == sizeof(RqInitBlock));
    const quint32 result = kind <= 1
                               ? g_binding.entry<RqInitWordFn>(Init)(handle, static_cast<quint32>(copy[0]))
                           : kind <= 3 ? g_binding.entry<RqInitPlainFn>(Init)(handle)
                                       : g_binding.entry<RqInitBlockFn>(Init)(handle, copy.data());
    if (result == 0 && g_observer)
        g_observer->connectionOpened(); // the diagnostics count per connection
    return result;
}

quint32 ConfigureAdapter(quint8 kind, quint32 handle, quint32 baud, quint32 timeout, quint32 third)
{
    if (!bound(kind, SetConfig))
        return AdapterError::NotBound;
    return g_binding.entry<RqSetConfigFn>(SetConfig)(handle, baud, timeout, third);
}

quint32 SendRequest(quint8 kind, quint32 handle, quint32 *request, quint32 *response, quint32 *status,
                    quint32 *error)
{
    if (!bound(kind, Send))
        return AdapterError::NotBound;
    return g_binding.entry<RqSendFn>(Send)(handle, request, response, status, error);
}

quint32 CloseAdapter(quint8 kind, quint32 *handle)
{
    if (!bound(kind, Done))
        return AdapterError::NotBound;
    const quint32 result = g_binding.entry<RqDoneFn>(Done)(handle);
    g_binding.unload();
    return result;
}

bool AdapterBound()
{
    return g_binding.library != nullptr;
}

quint32 ErrorCodeText(quint8 kind, quint32 code, ErrorBuffer &buffer)
{
    if (code < 100) {
        if (!bound(kind, Error))
            return AdapterError::NotBound;
        return g_binding.entry<RqErrorFn>(Error)(code, buffer.data());
    }
    if (code <= 104)
        buffer = TextToBuffer(QStringLiteral("chyba inicializace knihovny ") +
                              QLatin1String(Prefixes[code - 100]) + QStringLiteral(".DLL"));
    else if (code >= 110 && code <= 114)
        buffer = TextToBuffer(QStringLiteral("chybná knihovna ") + QLatin1String(Prefixes[code - 110]) +
                              QStringLiteral(".DLL"));
    else
        buffer = TextToBuffer(QStringLiteral("neznámý chybový kód"));
    return 0;
}

ErrorBuffer TextToBuffer(const QString &text)
{
    ErrorBuffer buffer{};
    const QByteArray bytes = ToCp1250(text.left(99));
    for (qsizetype i = 0; i < bytes.size() && i < 99; ++i)
        buffer[static_cast<std::size_t>(i) + 1] = static_cast<unsigned char>(bytes.at(i));
    return buffer;
}

QString BufferToText(const ErrorBuffer &buffer)
{
    QString text;
    for (std::size_t i = 0; i < buffer.size(); ++i) {
        const quint32 cell = buffer[i];
        if (cell == 0) {
            if (i == 0)
                continue;
            break;
        }
        // A cell holds one 8-bit code; a library that puts more into it gets
        // a visible mark rather than a silently shortened text.
        const unsigned char code = static_cast<unsigned char>(cell & 0xFF);
        text.append(code ? FromCp1250(code) : QLatin1Char('?'));
    }
    return text;
}

QString ErrorText(quint8 kind, quint32 code)
{
    ErrorBuffer buffer{};
    ErrorCodeText(kind, code, buffer);
    const QString text = BufferToText(buffer);
    // A failure shown as " " alone would read as "all well": when nothing is
    // bound or the library gives no text, the code itself is the message.
    if (code != 0 && text.trimmed().isEmpty())
        return QStringLiteral("chyba %1 (bez popisu)").arg(code);
    return text;
}

void RunModuleTransaction(quint8 kind, quint32 handle, quint8 address, quint8 command, quint8 subCode,
                          quint8 &D0, quint8 &D1, quint8 &D2, quint8 &D3, quint8 &D4, quint8 &error,
                          quint32 *response)
{
    if (handle == 0)
        return;
    BusLink link;
    link.kind = kind;
    link.handle = handle;
    const BusReply reply = link.once({address, command, subCode, {D0, D1, D2, D3, D4}}, response);
    error = reply.error;
    D0 = reply.d[0];
    D1 = reply.d[1];
    D2 = reply.d[2];
    D3 = reply.d[3];
    D4 = reply.d[4];
}

quint8 Transact(const TData &data, quint8 address, quint8 command, quint8 subCode, ModuleBytes &d)
{
    return BusLink::of(data).transact(address, command, subCode, d);
}

double DecodeMeasuredValue(quint8 low, quint8 middle, quint8 high, quint8 decimals)
{
    double m = ((high & 0x7F) * 256.0 + middle) * 256.0 + low;
    if (high > 0x7F)
        m = -m;
    for (int i = 0; i < (decimals & 0x7F); ++i)
        m = m / 10;
    return m;
}
