#include "live/OkamDIN.h"

TForm11::TForm11(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Okamžité hodnoty digitálních vstupů"));
}
