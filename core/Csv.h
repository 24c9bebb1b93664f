#ifndef RQ_CORE_CSV_H
#define RQ_CORE_CSV_H

#include <QByteArray>
#include <QLocale>
#include <QString>
#include <QStringList>

// The one form of every CSV file the program writes, for a spreadsheet under
// the user's regional settings:
//
//   - ';' between fields: what a spreadsheet expects where the decimal
//     separator is a comma, and never mistaken for one where it is a point;
//   - numbers with the decimal separator of the regional settings and never
//     a group separator (a spreadsheet would take "1 000,5" for text);
//   - a field holding ';', '"' or a line break in quotes, quotes doubled;
//   - UTF-8 behind a byte order mark (so "Čas" and "°C" survive), CRLF line
//     ends.
//
//   QString text = QChar(0xFEFF); // the byte order mark, as UTF-8 writes it
//   text += rq::csv::line({rq::csv::field(name), rq::csv::number(1.25, 3)});
namespace rq::csv {

inline constexpr QChar Separator = u';';
inline constexpr QLatin1StringView LineEnd("\r\n");
inline constexpr char ByteOrderMark[] = "\xEF\xBB\xBF";

// Text as one field: quoted only where it has to be.
QString field(const QString &text);
// The value with exactly its decimals (0..15), the locale's decimal separator,
// no group separator.
QString number(double value, int decimals, const QLocale &locale = QLocale());
// Fields already made by field() or number(), joined, with the line end.
QString line(const QStringList &fields);
// 2026-12-07T14:03:12.345+01:00: local time of ms since 1970 (UTC) with its
// offset, to the millisecond; sorts as text and tells summer from winter time.
QString timestamp(qint64 ms);

} // namespace rq::csv

#endif
