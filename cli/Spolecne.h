#ifndef RQ_CLI_SPOLECNE_H
#define RQ_CLI_SPOLECNE_H

#include "comm/Kxxx638.h"
#include "image/Obraz.h"

#include <QJsonObject>
#include <QString>

// Small helpers several commands share.

// D1..D4 as one 32-bit word, D1 the low byte.
inline quint32 BytesToWord(const ModuleBytes &d)
{
    return quint32(d[1]) | quint32(d[2]) << 8 | quint32(d[3]) << 16 | quint32(d[4]) << 24;
}

inline QString Hex32(quint32 v)
{
    return QStringLiteral("0x") + QStringLiteral("%1").arg(v, 8, 16, QLatin1Char('0')).toUpper();
}

inline QJsonObject FieldJson(const ImageField &f)
{
    return {{QStringLiteral("caption"), f.caption},
            {QStringLiteral("text"), f.text},
            {QStringLiteral("value"), f.value},
            {QStringLiteral("valid"), f.valid}};
}

#endif
