#include "live/OkamDIN.h"

#include "live/ValuePanel.h"

namespace {
constexpr quint8 CmdReadInputs = 0;
constexpr quint8 SubDigital = 64;
} // namespace

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
    readBits(CmdReadInputs, SubDigital, Stav);
}
