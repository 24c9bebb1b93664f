#include "calib/KalibraceIT.h"

TFormIT::TFormIT(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Kalibrace interního teploměru"));
}
