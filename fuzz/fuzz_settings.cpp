// Any bytes as the settings file W_rq3510.ini: reading must never crash, and
// what was loaded must survive a save into the same file and a second load.
#include "FuzzSupport.h"

#include "app/Dekl.h"
#include "core/IniFile.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

namespace {

QString folder()
{
    // In memory where the machine has it: a save syncs the file to disk,
    // which would cost most of the time of a run.
    static QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists()
                                 ? QStringLiteral("/dev/shm/rqfuzz-XXXXXX")
                                 : QDir::tempPath() + QStringLiteral("/rqfuzz-XXXXXX"));
    return dir.path();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
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
    const QString path = folder() + QStringLiteral("/W_rq3510.ini");
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    if (!writeFile(path, bytes))
        return 0;

    // Every read of the raw file.
    const IniFile ini(path);
    (void)ini.readString(QStringLiteral("Připojení"), QStringLiteral("Rozhraní"), QStringLiteral("jkl"));
    (void)ini.readInt(QStringLiteral("RQ-4638"), QStringLiteral("UDP port"), 5000);
    (void)ini.toBytes();

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
