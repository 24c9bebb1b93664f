#include "dio/NastavDIO.h"

TForm14::TForm14(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Nastavení digitálních vstupů/výstupů"));
}
