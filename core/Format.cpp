#include "core/Format.h"

#include <algorithm>
#include <cmath>

QString rq::fmt::decimal(double value, int decimals, const QLocale &locale)
{
    // Western digits and a plain minus whatever the locale writes; only the
    // decimal separator is its.
    QString text = QString::number(value, 'f', std::clamp(decimals, 0, 15));
    text.replace(u'.', locale.decimalPoint());
    return text;
}

QString rq::fmt::count(quint64 n)
{
    return QString::number(n);
}

QString rq::fmt::percent(double value, int decimals, const QLocale &locale)
{
    return decimal(value, decimals, locale) + QStringLiteral(" %");
}

QString rq::fmt::atLeastResolution(double value, int decimals, const QLocale &locale)
{
    const int d = std::clamp(decimals, 0, 15);
    const double step = std::pow(10.0, -d);
    // Below half a step the figure would read 0: say what is known instead.
    if (value > 0 && value < step / 2)
        return QStringLiteral("< ") + decimal(step, d, locale);
    return decimal(value, d, locale);
}

QString rq::fmt::date(const QDate &date)
{
    return date.toString(QStringLiteral("d. M. yyyy"));
}

QString rq::fmt::dateTime(const QDateTime &time)
{
    return time.toString(QStringLiteral("d. M. yyyy HH:mm:ss"));
}
