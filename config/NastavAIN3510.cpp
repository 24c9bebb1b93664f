#include "config/NastavAIN3510.h"

TForm13::TForm13(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Nastavení analogových vstupů RQ-3510"));
}
