#include "config/NastavIT.h"

TForm4::TForm4(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral(" Nastavení interního teploměru"));
}
