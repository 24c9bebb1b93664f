#include "comm/Pripojeni.h"

TForm2::TForm2(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Připojení modulu"));
}
