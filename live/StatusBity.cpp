#include "live/StatusBity.h"

QString StatusBitCaption(int n)
{
    // Names of the bits of the first status byte; the other bytes carry none yet.
    switch (n) {
    case 1:
        return QStringLiteral("FN");
    case 2:
        return QStringLiteral("PRF");
    case 4:
        return QStringLiteral("PWR");
    case 5:
        return QStringLiteral("RST");
    case 6:
        return QStringLiteral("ERR24");
    default:
        return QStringLiteral("---");
    }
}
