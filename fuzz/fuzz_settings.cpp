// Any bytes as the settings file W_rq3510.ini: reading must never crash, and
// what was loaded must survive a save into the same file and a second load.
#include "FuzzSupport.h"

#include "app/Dekl.h"

#include "core/SafeSave.h"
#include <QByteArray>

#include <cstddef>
#include <cstdint>

namespace {

// Saves and loads in memory: the same code up to the file system calls,
// without a synced file per input.
rq::MemoryFiles &files()
{
    static rq::MemoryFiles memory;
    static const bool set = (rq::setMemoryFiles(&memory), true);
    (void)set;
    return memory;
}

QString oneLine(QString text)
{
    // A line break inside a value cannot be stored; a save writes a blank instead.
    return text.replace(QLatin1Char('\r'), QLatin1Char(' '));
}

bool sameSettings(const TData &a, const TData &b)
{
    return a.adapterKind == b.adapterKind && a.moduleAddress == b.moduleAddress && a.baudRate == b.baudRate &&
           a.isaBase == b.isaBase && a.comPort == b.comPort && oneLine(a.ipAddress) == oneLine(b.ipAddress) &&
           a.udpPort == b.udpPort && a.udpTimeout == b.udpTimeout;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString path = QStringLiteral("/rqfuzz/W_rq3510.ini");
    // The only file there is: the save below replaces it under the same name.
    files().put(path, QByteArray(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size)));

    // LoadSettings reads the raw file through every reader of IniFile
    // (readString, readInt), and SaveSettings writes it out (toBytes).
    TData loaded;
    SetDefaults(&loaded);
    const bool found = LoadSettings(&loaded, path);
    FUZZ_CHECK(loaded.adapterKind <= 4);

    // Save into the same file (every foreign line kept) and load again: the
    // settings must come back as they were.
    FUZZ_CHECK(SaveSettings(&loaded, path));
    TData again;
    SetDefaults(&again);
    FUZZ_CHECK(LoadSettings(&again, path));
    if (found) {
        FUZZ_CHECK(sameSettings(loaded, again));
    } else {
        // Nothing was loaded, so the save wrote the defaults of the kind.
        FUZZ_CHECK(again.adapterKind == loaded.adapterKind);
        FUZZ_CHECK(again.moduleAddress == loaded.moduleAddress && again.baudRate == loaded.baudRate);
    }
    return 0;
}
