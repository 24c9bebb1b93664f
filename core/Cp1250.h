#ifndef RQ_CORE_CP1250_H
#define RQ_CORE_CP1250_H

#include <QByteArray>
#include <QString>

// Windows-1250, the code page of the settings file and of the 8-bit character
// codes that libraries and modules hand over. Converted at those edges only.
// Bytes the code page leaves undefined map to the same code point, so any
// byte sequence survives a round trip; characters it cannot hold become '?'.
QString FromCp1250(const QByteArray &bytes);
QString FromCp1250(const char *bytes, qsizetype size);
QChar FromCp1250(unsigned char byte);
QByteArray ToCp1250(const QString &text);
unsigned char ToCp1250(QChar ch);
// Whether the code page holds ch (ToCp1250 gives no stand-in '?').
bool Cp1250Holds(QChar ch);

#endif
