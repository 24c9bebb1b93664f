#include "image/Rozsahy.h"

const QStringList &Ranges3510()
{
    static const QStringList items{
        QStringLiteral("+/- 20 mV"),  QStringLiteral("+/- 50 mV"),  QStringLiteral("+/- 100 mV"),
        QStringLiteral("+/- 200 mV"), QStringLiteral("+/- 500 mV"), QStringLiteral("+/- 1 V"),
        QStringLiteral("+/- 2 V"),    QStringLiteral("100 ohm"),    QStringLiteral("500 ohm"),
        QStringLiteral("1 kohm"),     QStringLiteral("5 kohm")};
    return items;
}

const QStringList &Ranges3520()
{
    static const QStringList items{
        QStringLiteral("+/- 20 mV"),  QStringLiteral("+/- 50 mV"),  QStringLiteral("+/- 100 mV"),
        QStringLiteral("+/- 200 mV"), QStringLiteral("+/- 500 mV"), QStringLiteral("TC typ M"),
        QStringLiteral("TC typ T"),   QStringLiteral("TC typ J"),   QStringLiteral("TC typ L"),
        QStringLiteral("TC typ E"),   QStringLiteral("TC typ K"),   QStringLiteral("TC typ S"),
        QStringLiteral("TC typ R"),   QStringLiteral("TC typ B"),   QStringLiteral("TC typ A")};
    return items;
}

const QStringList &Sensors3530()
{
    static const QStringList items{
        QStringLiteral("100 ohm"), QStringLiteral("500 ohm"),         QStringLiteral("1 kohm"),
        QStringLiteral("5 kohm"),  QStringLiteral("Pt100 (0.00385)"), QStringLiteral("Pt100 (0.00391)"),
        QStringLiteral("Ni100"),   QStringLiteral("Ni1000"),          QStringLiteral("KTY10")};
    return items;
}

const QStringList &Units3530()
{
    static const QStringList items{QStringLiteral("ohm"), QStringLiteral("Kelvin"), QStringLiteral("°C"),
                                   QStringLiteral("°F")};
    return items;
}

const QStringList &Wirings3530()
{
    static const QStringList items{QStringLiteral("2 vodiče"), QStringLiteral("3 vodiče"),
                                   QStringLiteral("4 vodiče")};
    return items;
}

quint8 PackSensor3530(int sensor, int unit, int wiring)
{
    return static_cast<quint8>(sensor + 16 * unit + 64 * wiring);
}
