#include "config/NastavAIN3530.h"

TForm13b::TForm13b(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Nastavení analogových vstupů RQ-3530"));
}
