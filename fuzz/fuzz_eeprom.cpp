// Any bytes as an EEPROM file (".kee"): loading never crashes, takes exactly
// the first 512 bytes of a long enough file, and reports a short one as a
// failure with the bytes it had stored and the rest of the block untouched.
// What was loaded saves and loads back byte for byte.
#include "FuzzSupport.h"

#include "dio/EepromFile.h"

#include "core/SafeSave.h"

#include <algorithm>
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
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString path = QStringLiteral("/rqfuzz/Rq3510.kee");
    files().clear();
    files().put(path, QByteArray(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size)));
    EepromBlock block;
    block.fill(0xA5);
    QString error;
    const bool loaded = LoadEepromFile(path, block, &error);
    FUZZ_CHECK(loaded == (size >= EepromFileSize));
    const std::size_t taken = std::min<std::size_t>(size, EepromFileSize);
    FUZZ_CHECK(std::equal(data, data + taken, block.begin()));
    FUZZ_CHECK(std::all_of(block.begin() + static_cast<std::ptrdiff_t>(taken), block.end(),
                           [](quint8 b) { return b == 0xA5; }));
    FUZZ_CHECK(loaded == error.isEmpty());

    const QString copy = QStringLiteral("/rqfuzz/copy.kee");
    FUZZ_CHECK(SaveEepromFile(copy, block));
    EepromBlock again{};
    FUZZ_CHECK(LoadEepromFile(copy, again));
    FUZZ_CHECK(again == block);
    return 0;
}
