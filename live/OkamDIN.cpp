#include "live/OkamDIN.h"

#include "comm/Prikazy.h"

#include "live/ValuePanel.h"

TForm11::TForm11(QWidget *parent) : TLiveDialog(parent)
{
    setWindowTitle(QStringLiteral("Okamžité hodnoty digitálních vstupů"));
    QStringList captions;
    for (int n = 0; n < 32; ++n)
        captions << QStringLiteral("DIN%1").arg(n);
    Stav = AddBitColumns(this, grid(), QStringLiteral("Stav"), captions);
    addFooter(Period);
}

void TForm11::Timer1Timer()
{
    readBits(CmdMeasure, SubDigitalInputs, Stav);
}
