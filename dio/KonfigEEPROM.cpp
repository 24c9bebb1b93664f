#include "dio/KonfigEEPROM.h"

TForm5::TForm5(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral(" Konfigurační EEPROM"));
}
