#ifndef RQ_TESTS_CALIB_CALIBTESTUTIL_H
#define RQ_TESTS_CALIB_CALIBTESTUTIL_H

#include "support/TestAdapter.h"

#include <QList>
#include <QPlainTextEdit>
#include <QStringList>

#include <utility>

using ByteWrites = QList<std::pair<int, int>>; // memory address, value

// The requests of verified byte writes to page 0 of module 5.
inline QList<TaRequest> verifiedWrites(const ByteWrites &writes, quint8 module = 5)
{
    QList<TaRequest> list;
    for (const auto &[address, value] : writes) {
        const auto a = quint8(address), v = quint8(value);
        list.append({module, 103, 0, {0, a, a, v, v}});
        list.append({module, 102, 0, {0, a, a, 0, 0}});
    }
    return list;
}

inline TaRequest measurement(quint8 sub, quint8 module = 5)
{
    return {module, 0, sub, {0, 0, 0, 0, 0}};
}

inline QStringList memoLines(const QPlainTextEdit *memo)
{
    return memo->toPlainText().split(QLatin1Char('\n'));
}

inline const QString Separator = QString(66, QLatin1Char('_')) + QLatin1Char(' ');

#endif
