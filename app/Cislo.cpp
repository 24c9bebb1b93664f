#include "app/Cislo.h"

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
