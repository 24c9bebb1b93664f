#include "live/StatReg.h"

#include "app/Dekl.h"
#include "app/StatusBar.h"
#include "comm/Kxxx638.h"
#include "live/ValuePanel.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

namespace {
constexpr quint8 CmdReadStatus = 100;
constexpr quint8 CmdClearStatus = 101;

// Names of the bits of the first status byte; the other bytes carry none yet.
QString BitCaption(int n)
{
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
} // namespace

TForm15::TForm15(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Status registr"));

    auto *layout = new QVBoxLayout(this);
    auto *grid = new QGridLayout;
    grid->setVerticalSpacing(0);
    layout->addLayout(grid);
    for (int col = 0; col < 4; ++col) {
        ValueColumn c;
        c.grid = grid;
        c.column = 3 * col;
        for (int k = 0; k < 8; ++k)
            c.captions << BitCaption(8 * col + k);
        c.namePrefix = QStringLiteral("Bit");
        c.firstIndex = 8 * col;
        c.initialText = QStringLiteral("0");
        c.alignment = Qt::AlignCenter;
        c.valueWidth = 36;
        const QList<QLabel *> labels = AddValueColumn(this, c);
        for (int k = 0; k < 8; ++k)
            Bit[static_cast<std::size_t>(8 * col + k)] = labels.at(k);
        if (col < 3)
            grid->setColumnMinimumWidth(3 * col + 2, 20);
    }

    auto *buttons = new QHBoxLayout;
    Button2 = new QPushButton(QStringLiteral("Vynulovat"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setAutoDefault(false);
    buttons->addWidget(Button2);
    buttons->addStretch();
    Button1 = new QPushButton(QStringLiteral("Cancel"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setAutoDefault(false);
    buttons->addWidget(Button1);
    layout->addLayout(buttons);
    connect(Button1, &QPushButton::clicked, this, &TForm15::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm15::Button2Click);

    StatusBar1 = new TStatusBar({0}, this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    layout->addWidget(StatusBar1);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(Period);
    connect(Timer1, &QTimer::timeout, this, &TForm15::Timer1Timer);
}

void TForm15::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous()) {
        FormShow();
        Timer1->start();
    }
}

void TForm15::hideEvent(QHideEvent *event)
{
    // A minimised window keeps polling; only closing stops it.
    if (!event->spontaneous())
        Timer1->stop();
    QDialog::hideEvent(event);
}

void TForm15::FormShow()
{
    if (Data)
        m_address = Data->moduleAddress;
}

void TForm15::Button1Click()
{
    reject();
}

void TForm15::Timer1Timer()
{
    if (!Data)
        return;
    if (!Data->ready()) {
        StatusBar1->setText(0, NotConnectedText);
        return;
    }
    ModuleBytes d{};
    const quint8 error = Transact(*Data, m_address, CmdReadStatus, 0, d);
    if (error != 0) {
        StatusBar1->setText(0, QStringLiteral(" ") + ErrorText(Data->adapterKind, error));
        return;
    }
    for (int n = 0; n < 32; ++n)
        Bit[static_cast<std::size_t>(n)]->setText(BitText(d[static_cast<std::size_t>(1 + n / 8)], n % 8));
    StatusBar1->setText(0, QStringLiteral(" ") + ErrorText(Data->adapterKind, 0));
}

void TForm15::Button2Click()
{
    if (!Data)
        return;
    if (!Data->ready()) {
        StatusBar1->setText(0, NotConnectedText);
        return;
    }
    ModuleBytes d{};
    const quint8 error = Transact(*Data, m_address, CmdClearStatus, 0, d);
    // A success shows nothing: the next read shows the cleared register.
    if (error != 0)
        StatusBar1->setText(0, QStringLiteral(" ") + ErrorText(Data->adapterKind, error));
}
