// Arbitrary error text buffers, as a faulty library might fill them: reading
// never runs past the 100 cells, and what was read survives a round trip.
// Also every code of every adapter kind with nothing bound: the text of a
// failure is never empty, so a failure never looks like " " (all well).
#include "FuzzSupport.h"

#include "comm/Kxxx638.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    ErrorBuffer buffer{};
    std::memcpy(buffer.data(), data, std::min(size, sizeof buffer));

    const QString text = BufferToText(buffer);
    FUZZ_CHECK(text.size() <= 100);
    FUZZ_CHECK(!text.contains(QChar(u'\0')));
    const QString back = BufferToText(TextToBuffer(text));
    FUZZ_CHECK(back == text.left(99));

    if (size >= 5) {
        const quint8 kind = data[0];
        quint32 code = 0;
        std::memcpy(&code, data + 1, sizeof code);
        const QString message = ErrorText(kind, code);
        FUZZ_CHECK(message.size() <= 100);
        if (code != 0)
            FUZZ_CHECK(!message.trimmed().isEmpty());
    }
    return 0;
}
