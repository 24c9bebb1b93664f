#include "live/OkamDOUT.h"

TForm9::TForm9(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Zápis na digitální výstupy"));
}
