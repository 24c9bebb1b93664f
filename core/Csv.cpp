#include "core/Csv.h"

#include "core/Format.h"

#include <QDateTime>

#include <cstdlib>

QString rq::csv::field(const QString &text)
{
    if (!text.contains(Separator) && !text.contains(u'"') && !text.contains(u'\n') && !text.contains(u'\r'))
        return text;
    QString quoted = text;
    quoted.replace(u'"', QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

QString rq::csv::number(double value, int decimals, const QLocale &locale)
{
    return rq::fmt::decimal(value, decimals, locale);
}

QString rq::csv::line(const QStringList &fields)
{
    return fields.join(Separator) + LineEnd;
}

QString rq::csv::timestamp(qint64 ms)
{
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms);
    const int offset = local.offsetFromUtc(); // seconds east of UTC
    const int minutes = std::abs(offset) / 60;
    return local.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) + (offset < 0 ? u'-' : u'+') +
           QStringLiteral("%1:%2")
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}
