// Any text through the integer text rule, checked against a plain reading of
// the rule: blanks, sign, decimal digits or hexadecimal digits behind "$",
// "x", "X", "0x", "0X", nothing after them; decimal within a signed 32-bit
// number, hexadecimal within 32 bits.
#include "FuzzSupport.h"

#include "app/Dekl.h"
#include "core/Cp1250.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace {

std::optional<qint32> reference(const QString &text)
{
    qsizetype i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+'))
        negative = text[i++] == u'-';
    QString rest = text.mid(i);
    int base = 10;
    for (const char *prefix : {"0x", "0X", "$", "x", "X"}) {
        if (rest.startsWith(QLatin1String(prefix))) {
            base = 16;
            rest = rest.mid(qsizetype(qstrlen(prefix)));
            break;
        }
    }
    if (rest.isEmpty())
        return std::nullopt;
    for (QChar c : rest) {
        const bool dec = c >= u'0' && c <= u'9';
        const bool hex = (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
        if (!dec && !(base == 16 && hex))
            return std::nullopt;
    }
    // Leading zeros do not count against the width.
    while (rest.size() > 1 && rest[0] == u'0')
        rest = rest.mid(1);
    if (rest.size() > 10)
        return std::nullopt;
    bool ok = false;
    const qint64 magnitude = rest.toLongLong(&ok, base);
    if (!ok)
        return std::nullopt;
    if (base == 16) {
        if (magnitude > 0xFFFFFFFFll)
            return std::nullopt;
        const quint32 bits = static_cast<quint32>(magnitude);
        return static_cast<qint32>(negative ? 0u - bits : bits);
    }
    const qint64 value = negative ? -magnitude : magnitude;
    if (value < -2147483648ll || value > 2147483647ll)
        return std::nullopt;
    return static_cast<qint32>(value);
}

void check(const QString &text)
{
    const std::optional<qint32> got = ParseIntText(text);
    const std::optional<qint32> want = reference(text);
    FUZZ_CHECK(got.has_value() == want.has_value());
    if (got)
        FUZZ_CHECK(*got == *want);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    // As the settings file and the edit fields hand it over.
    check(FromCp1250(bytes));
    check(QString::fromUtf8(bytes));
    // Decimal text of every value read must give that value back.
    if (const auto v = ParseIntText(FromCp1250(bytes)))
        FUZZ_CHECK(ParseIntText(QString::number(*v)) == v);
    return 0;
}
