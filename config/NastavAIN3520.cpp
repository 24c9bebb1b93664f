#include "config/NastavAIN3520.h"

TForm13a::TForm13a(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Nastavení analogových vstupů RQ-3520"));
}
