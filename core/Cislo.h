#ifndef RQ_CORE_CISLO_H
#define RQ_CORE_CISLO_H

#include <QLocale>
#include <QString>

#include <optional>

// A decimal number as the user types it: optional blanks around it, an
// optional sign, digits with the locale's decimal separator, optionally an
// exponent. Group separators are refused, whatever the locale: QLocale would
// take them, so that with a decimal point "0,045" became 45, and "1 000,5"
// would pass as a number. Infinities and NaN are not numbers either.
std::optional<double> ParseDecimalText(const QString &text, const QLocale &locale = QLocale());

// Integer text as typed by the user or found in the settings file: optional
// leading blanks, optional sign, decimal digits, or hexadecimal digits behind
// "$", "x", "X", "0x" or "0X". Anything else (trailing characters included)
// is not a number. Hexadecimal text gives the 32-bit pattern; decimal text
// must fit a signed 32-bit integer.
std::optional<qint32> ParseIntText(const QString &text);

// A count with its noun in the Czech nominative: "1 bajt", "2 bajty",
// "5 bajtů" (one, two to four, five and more and zero); negative counts
// take the form of their magnitude.
QString CzechCount(qint64 n, const QString &one, const QString &few, const QString &many);

#endif
