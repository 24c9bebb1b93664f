#include "live/StatReg.h"

#include "comm/Prikazy.h"

#include "live/StatusBity.h"
#include "live/ValuePanel.h"

#include <QPushButton>

TForm15::TForm15(QWidget *parent) : TLiveDialog(parent)
{
    setWindowTitle(QStringLiteral("Status registr"));
    QStringList captions;
    for (int n = 0; n < 32; ++n)
        captions << StatusBitCaption(n);
    Bit = AddBitColumns(this, grid(), QStringLiteral("Bit"), captions);

    Button2 = new QPushButton(QStringLiteral("Vynulovat"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setAutoDefault(false);
    connect(Button2, &QPushButton::clicked, this, &TForm15::Button2Click);
    addFooter(Period, Button2);
}

void TForm15::Timer1Timer()
{
    readBits(CmdReadStatus, 0, Bit);
}

void TForm15::Button2Click()
{
    if (!canSend())
        return;
    ModuleBytes d{};
    const quint8 error = transact(CmdClearStatus, 0, d);
    // A success shows nothing: the next read shows the cleared register.
    if (error != 0)
        showResult(error);
}
