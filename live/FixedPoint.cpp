#include "live/FixedPoint.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace {
constexpr int Precision = 5;

// Decimal exponent of the value once rounded to five significant digits.
int exponentAtPrecision(double value)
{
    const QString e = QString::number(value, 'e', Precision - 1);
    return e.mid(e.indexOf(QLatin1Char('e')) + 1).toInt();
}

QString localised(QString text)
{
    text.replace(QLatin1Char('.'), QLocale().decimalPoint());
    return text;
}

bool allZeroDigits(const QString &text)
{
    return std::all_of(text.cbegin(), text.cend(),
                       [](QChar c) { return !c.isDigit() || c == QLatin1Char('0'); });
}
} // namespace

QString FormatFixed(double value, int decimals)
{
    if (!std::isfinite(value))
        return QString::number(value);
    decimals = std::clamp(decimals, 0, 127);
    const int exponent = exponentAtPrecision(value);
    if (exponent >= Precision)
        return localised(QString::number(value, 'E', Precision - 1));
    // Round once, to whichever of the two limits keeps fewer digits.
    const int kept = std::min(decimals, Precision - 1 - exponent);
    QString text = QString::number(value, 'f', kept);
    const qsizetype point = text.indexOf(QLatin1Char('.'));
    const qsizetype intDigits =
        (point < 0 ? text.size() : point) - (text.startsWith(QLatin1Char('-')) ? 1 : 0);
    if (intDigits > Precision)
        return localised(QString::number(value, 'E', Precision - 1));
    if (decimals > kept) {
        if (kept == 0)
            text.append(QLatin1Char('.'));
        text.append(QString(decimals - kept, QLatin1Char('0')));
    }
    if (text.startsWith(QLatin1Char('-')) && allZeroDigits(text))
        text.remove(0, 1); // no "-0,00"
    return localised(text);
}
