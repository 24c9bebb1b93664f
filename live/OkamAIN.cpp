#include "live/OkamAIN.h"

TForm3::TForm3(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Okamžité hodnoty analogových vstupů"));
}
