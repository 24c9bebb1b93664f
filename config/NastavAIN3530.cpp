#include "config/NastavAIN3530.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>

TForm13b::TForm13b(QWidget *parent) : TNastavDialog(parent)
{
    setWindowTitle(QStringLiteral("Nastavení analogových vstupů RQ-3530"));
    setModel(QStringLiteral("RQ-3530"));
    const std::array<const QStringList *, 3> lists{&Sensors3530(), &Units3530(), &Wirings3530()};
    const std::array<QString, 3> heads{QStringLiteral("Rozsah"), QStringLiteral("Jednotka"),
                                       QStringLiteral("Připojení")};
    auto *grid = new QGridLayout;
    for (int column = 0; column < 3; ++column) {
        grid->addWidget(heading(heads[std::size_t(column)]), 0, column + 1);
        for (int input = 0; input < 6; ++input) {
            const int n = column * 6 + input;
            ComboBox[std::size_t(n)] = makeComboBox(n + 1, *lists[std::size_t(column)]);
            grid->addWidget(ComboBox[std::size_t(n)], input + 1, column + 1);
        }
    }
    for (int input = 0; input < 6; ++input) {
        auto *label = new QLabel(QStringLiteral("AIN") + QString::number(input), this);
        label->setObjectName(QStringLiteral("LabelAIN") + QString::number(input));
        label->setBuddy(sensor(input));
        grid->addWidget(label, input + 1, 0);
    }
    body()->addLayout(grid);
    // Tab goes along a row: an input's sensor, unit and wiring, then the next input.
    QWidget *previous = sensor(0);
    for (int input = 0; input < 6; ++input)
        for (QWidget *w : {static_cast<QWidget *>(sensor(input)), static_cast<QWidget *>(unit(input)),
                           static_cast<QWidget *>(wiring(input))}) {
            if (w != previous)
                setTabOrder(previous, w);
            previous = w;
        }
    // The buttons come first among the children; start on the settings instead.
    sensor(0)->setFocus();
}

void TForm13b::ZapisOkno(const TCFGRQ &image)
{
    for (int i = 0; i < 6; ++i) {
        const quint8 b = image.sensors3530[std::size_t(i)];
        showCode(sensor(i), b & 0x0F);
        showCode(unit(i), (b >> 4) & 3);
        showCode(wiring(i), b >> 6);
    }
}

Validation TForm13b::PrectiOkno(TCFGRQ &image)
{
    for (int i = 0; i < 6; ++i) {
        quint8 &b = image.sensors3530[std::size_t(i)];
        // A field with no item selected keeps the bits it had.
        b = PackSensor3530(takeCode(sensor(i), b & 0x0F), takeCode(unit(i), (b >> 4) & 3),
                           takeCode(wiring(i), b >> 6));
    }
    return showValidation({});
}

QList<TransferStep> TForm13b::steps(TCFGRQ &image)
{
    QList<TransferStep> list;
    for (quint8 i = 0; i < 6; ++i)
        list.append({0, quint8(CfgAddr::Ranges + i), &image.sensors3530[i]});
    return list;
}
