#include "live/StatReg.h"

TForm15::TForm15(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Status registr"));
}
