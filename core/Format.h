#ifndef RQ_CORE_FORMAT_H
#define RQ_CORE_FORMAT_H

#include <QDateTime>
#include <QLocale>
#include <QString>

// Figures as the windows show them. The windows speak Czech whatever the
// system's language; only the decimal separator is the regional settings'
// (as everywhere in the program, where the user also types it). Never a group
// separator: "10,000" under English settings reads as ten to a Czech eye.
namespace rq::fmt {

// 1234.5 with 1 decimal: "1234,5" (Czech settings), "1234.5" (English).
QString decimal(double value, int decimals, const QLocale &locale = QLocale());
// A count: digits only, "10000".
QString count(quint64 n);
// 12.5 with 1 decimal: "12,5 %".
QString percent(double value, int decimals, const QLocale &locale = QLocale());
// A figure that would round to zero although something was measured: "< 0,1"
// for 0.04 with 1 decimal; else as decimal(). Negative values as decimal().
QString atLeastResolution(double value, int decimals, const QLocale &locale = QLocale());
// "7. 12. 2026" and "7. 12. 2026 14:03:12", local time.
QString date(const QDate &date);
QString dateTime(const QDateTime &time);

} // namespace rq::fmt

#endif
