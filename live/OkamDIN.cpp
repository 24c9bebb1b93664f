#include "live/OkamDIN.h"

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

TForm11::TForm11(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Okamžité hodnoty digitálních vstupů"));

    auto *layout = new QVBoxLayout(this);
    auto *grid = new QGridLayout;
    grid->setVerticalSpacing(0);
    layout->addLayout(grid);
    for (int col = 0; col < 4; ++col) {
        ValueColumn c;
        c.grid = grid;
        c.column = 3 * col;
        for (int k = 0; k < 8; ++k)
            c.captions << QStringLiteral("DIN%1").arg(8 * col + k);
        c.namePrefix = QStringLiteral("Stav");
        c.firstIndex = 8 * col;
        c.initialText = QStringLiteral("0");
        c.alignment = Qt::AlignCenter;
        c.valueWidth = 36;
        const QList<QLabel *> labels = AddValueColumn(this, c);
        for (int k = 0; k < 8; ++k)
            Stav[static_cast<std::size_t>(8 * col + k)] = labels.at(k);
        if (col < 3)
            grid->setColumnMinimumWidth(3 * col + 2, 20);
    }

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    Button1 = new QPushButton(QStringLiteral("Cancel"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setAutoDefault(false);
    buttons->addWidget(Button1);
    layout->addLayout(buttons);
    connect(Button1, &QPushButton::clicked, this, &TForm11::Button1Click);

    StatusBar1 = new TStatusBar({0}, this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    layout->addWidget(StatusBar1);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(Period);
    connect(Timer1, &QTimer::timeout, this, &TForm11::Timer1Timer);
}

void TForm11::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous()) {
        FormShow();
        Timer1->start();
    }
}

void TForm11::hideEvent(QHideEvent *event)
{
    // A minimised window keeps polling; only closing stops it.
    if (!event->spontaneous())
        Timer1->stop();
    QDialog::hideEvent(event);
}

void TForm11::FormShow()
{
    if (Data)
        m_address = Data->moduleAddress;
}

void TForm11::Button1Click()
{
    reject();
}

void TForm11::Timer1Timer()
{
    if (!Data)
        return;
    if (!Data->ready()) {
        StatusBar1->setText(0, NotConnectedText);
        return;
    }
    ModuleBytes d{};
    const quint8 error = Transact(*Data, m_address, 0, 64, d);
    if (error != 0) {
        StatusBar1->setText(0, QStringLiteral(" ") + ErrorText(Data->adapterKind, error));
        return;
    }
    for (int n = 0; n < 32; ++n)
        Stav[static_cast<std::size_t>(n)]->setText(BitText(d[static_cast<std::size_t>(1 + n / 8)], n % 8));
    StatusBar1->setText(0, QStringLiteral(" ") + ErrorText(Data->adapterKind, 0));
}
