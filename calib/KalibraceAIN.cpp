#include "calib/KalibraceAIN.h"

TForm6::TForm6(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Kalibrace analogových vstupů"));
}
