#include "config/NastavAdr.h"

TForm12::TForm12(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Nastavení komunikační adresy a rychlosti"));
}
