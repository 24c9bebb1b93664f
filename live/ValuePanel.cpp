#include "live/ValuePanel.h"

#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QPalette>

QList<QLabel *> AddValueColumn(QWidget *parent, const ValueColumn &c)
{
    QList<QLabel *> values;
    const int n = static_cast<int>(c.captions.size());
    int first = c.row;
    if (!c.head.isEmpty()) {
        auto *head = new QLabel(c.head, parent);
        head->setAlignment(Qt::AlignCenter);
        c.grid->addWidget(head, c.row, c.column + 1);
        ++first;
    }
    // The panel is created before the labels so that they are painted above it.
    auto *panel = new QFrame(parent);
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Sunken);
    panel->setAutoFillBackground(true);
    QPalette palette = panel->palette();
    palette.setColor(QPalette::Window, Qt::white);
    panel->setPalette(palette);
    c.grid->addWidget(panel, first, c.column + 1, n, 1);
    for (int k = 0; k < n; ++k) {
        auto *caption = new QLabel(c.captions.at(k), parent);
        c.grid->addWidget(caption, first + k, c.column);
        auto *value = new QLabel(c.initialText, parent);
        value->setObjectName(c.namePrefix + QString::number(c.firstIndex + k));
        value->setAlignment(c.alignment);
        value->setContentsMargins(8, 2, 8, 2);
        if (c.valueWidth > 0)
            value->setMinimumWidth(c.valueWidth);
        c.grid->addWidget(value, first + k, c.column + 1);
        values.append(value);
    }
    return values;
}

std::array<QLabel *, 32> AddBitColumns(QWidget *parent, QGridLayout *grid, const QString &namePrefix,
                                       const QStringList &captions)
{
    std::array<QLabel *, 32> labels{};
    for (int col = 0; col < 4; ++col) {
        ValueColumn c;
        c.grid = grid;
        c.column = 3 * col;
        c.captions = captions.mid(8 * col, 8);
        c.namePrefix = namePrefix;
        c.firstIndex = 8 * col;
        c.initialText = QStringLiteral("0");
        c.alignment = Qt::AlignCenter;
        c.valueWidth = 36;
        const QList<QLabel *> column = AddValueColumn(parent, c);
        for (int k = 0; k < 8; ++k)
            labels[static_cast<std::size_t>(8 * col + k)] = column.at(k);
        if (col < 3)
            grid->setColumnMinimumWidth(3 * col + 2, 20);
    }
    return labels;
}

QString BitText(quint8 byte, int bit)
{
    if (bit < 0 || bit > 7)
        return QStringLiteral("0");
    return (byte >> bit) & 1 ? QStringLiteral("1") : QStringLiteral("0");
}
