#include "live/OkamDOUT.h"

#include "app/Dekl.h"
#include "app/StatusBar.h"
#include "live/AnalogCycle.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

TForm9::TForm9(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Zápis na digitální výstupy"));

    auto *layout = new QVBoxLayout(this);
    auto *grid = new QGridLayout;
    grid->setHorizontalSpacing(24);
    layout->addLayout(grid);
    for (int n = 0; n < 32; ++n) {
        auto *box = new QCheckBox(QStringLiteral("DOUT%1").arg(n), this);
        box->setObjectName(QStringLiteral("CheckBox%1").arg(n + 1));
        grid->addWidget(box, n % 8, n / 8);
        CheckBox[static_cast<std::size_t>(n)] = box;
    }

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    Button1 = new QPushButton(QStringLiteral("Zapsat"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setAutoDefault(false);
    buttons->addWidget(Button1);
    Button2 = new QPushButton(QStringLiteral("Cancel"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setAutoDefault(false);
    buttons->addWidget(Button2);
    layout->addLayout(buttons);
    connect(Button1, &QPushButton::clicked, this, &TForm9::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm9::Button2Click);

    StatusBar1 = new TStatusBar({0}, this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    layout->addWidget(StatusBar1);

    FormCreate();
}

void TForm9::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TForm9::FormCreate()
{
    m_address = 0;
}

void TForm9::FormShow()
{
    if (Data)
        m_address = Data->moduleAddress;
}

ModuleBytes TForm9::outputBytes() const
{
    ModuleBytes d{};
    for (int n = 0; n < 32; ++n) {
        if (CheckBox[static_cast<std::size_t>(n)]->isChecked())
            d[static_cast<std::size_t>(1 + n / 8)] |= static_cast<quint8>(1u << (n % 8));
    }
    return d;
}

void TForm9::Button1Click()
{
    if (!Data)
        return;
    if (!Data->ready()) {
        StatusBar1->setText(0, NotConnectedText);
        return;
    }
    const quint8 error = WriteDigitalOutputs(*Data, m_address, BytesToBits(outputBytes()));
    StatusBar1->setText(0, error != 0 ? QStringLiteral(" ") + ErrorText(Data->adapterKind, error)
                                      : QStringLiteral(" Data zapsána"));
}

void TForm9::Button2Click()
{
    reject();
}
