#include "core/Cislo.h"

#include <cmath>

std::optional<double> ParseDecimalText(const QString &text, const QLocale &locale)
{
    const QString trimmed = text.trimmed();
    // A blank inside is a group separator in many locales, typed as a plain
    // blank for the no-break space they use.
    for (const QChar c : trimmed)
        if (c.isSpace())
            return std::nullopt;
    QLocale strict(locale);
    strict.setNumberOptions(locale.numberOptions() | QLocale::RejectGroupSeparator);
    bool ok = false;
    const double value = strict.toDouble(trimmed, &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<qint32> ParseIntText(const QString &text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && (text.at(i) == QLatin1Char(' ') || text.at(i) == QLatin1Char('\t')))
        ++i;
    bool negative = false;
    if (i < n && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-'))) {
        negative = text.at(i) == QLatin1Char('-');
        ++i;
    }
    int base = 10;
    if (i < n && text.at(i) == QLatin1Char('$')) {
        base = 16;
        ++i;
    } else if (i < n && (text.at(i) == QLatin1Char('x') || text.at(i) == QLatin1Char('X'))) {
        base = 16;
        ++i;
    } else if (i + 1 < n && text.at(i) == QLatin1Char('0') &&
               (text.at(i + 1) == QLatin1Char('x') || text.at(i + 1) == QLatin1Char('X'))) {
        base = 16;
        i += 2;
    }
    if (i >= n)
        return std::nullopt;
    // Hexadecimal text may use all 32 bits; decimal text must fit a signed
    // 32-bit number (its magnitude up to 2^31 for the negative end).
    const quint64 limit = base == 16 ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
    quint64 value = 0;
    for (; i < n; ++i) {
        const char16_t c = text.at(i).unicode();
        int d = -1;
        if (c >= u'0' && c <= u'9')
            d = c - u'0';
        else if (base == 16 && c >= u'a' && c <= u'f')
            d = c - u'a' + 10;
        else if (base == 16 && c >= u'A' && c <= u'F')
            d = c - u'A' + 10;
        if (d < 0)
            return std::nullopt;
        value = value * static_cast<quint64>(base) + static_cast<quint64>(d);
        if (value > limit)
            return std::nullopt;
    }
    const quint32 bits = static_cast<quint32>(negative ? (0ull - value) : value);
    return static_cast<qint32>(bits);
}

QString CzechCount(qint64 n, const QString &one, const QString &few, const QString &many)
{
    const qint64 m = n < 0 ? -n : n;
    const QString &noun = m == 1 ? one : (m >= 2 && m <= 4) ? few : many;
    return QString::number(n) + QLatin1Char(' ') + noun;
}
