#ifndef RQ_LIVE_VALUEPANEL_H
#define RQ_LIVE_VALUEPANEL_H

#include <QList>
#include <QStringList>
#include <Qt>

#include <array>

class QGridLayout;
class QLabel;
class QWidget;

// One column of a live-value window: captions on the left beside a white,
// sunken panel that holds one value label per caption. Captions and values
// share grid rows so they always line up.
struct ValueColumn
{
    QGridLayout *grid = nullptr;
    int row = 0;    // first grid row of the column (the head, when given)
    int column = 0; // grid column of the captions; the panel takes the next one
    QString head;   // text above the panel, or empty for none
    QStringList captions;
    QString namePrefix; // value labels are named namePrefix + (firstIndex + k)
    int firstIndex = 0;
    QString initialText;
    Qt::Alignment alignment = Qt::AlignRight | Qt::AlignVCenter;
    int valueWidth = 0; // minimum width of the value labels, 0 for none
};

// "0" or "1" for bit `bit` of `byte`; a bit index outside 0..7 gives "0".
QString BitText(quint8 byte, int bit);

// Builds the column inside parent and returns its value labels, top to bottom.
QList<QLabel *> AddValueColumn(QWidget *parent, const ValueColumn &column);

// 32 states in four columns of eight, each beside its caption (32 of them):
// labels namePrefix0..namePrefix31, showing "0" until read.
std::array<QLabel *, 32> AddBitColumns(QWidget *parent, QGridLayout *grid, const QString &namePrefix,
                                       const QStringList &captions);

#endif
