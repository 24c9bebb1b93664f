#include "config/NastavIT.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {
constexpr quint8 MeasurementOn = 0x80;
constexpr quint8 UnitCelsius = 0x01;
} // namespace

TForm4::TForm4(QWidget *parent) : TNastavDialog(parent)
{
    setWindowTitle(QStringLiteral(" Nastavení interního teploměru"));
    const auto group = [this](const char *name, const QString &title, QRadioButton *&a, const char *nameA,
                              const QString &textA, QRadioButton *&b, const char *nameB,
                              const QString &textB) {
        auto *box = new QGroupBox(title, this);
        box->setObjectName(QLatin1String(name));
        a = new QRadioButton(textA, box);
        a->setObjectName(QLatin1String(nameA));
        b = new QRadioButton(textB, box);
        b->setObjectName(QLatin1String(nameB));
        auto *layout = new QVBoxLayout(box);
        layout->addWidget(a);
        layout->addWidget(b);
        return box;
    };
    GroupBox1 = group("GroupBox1", QStringLiteral(" Měření teploty "), RadioButton1, "RadioButton1",
                      QStringLiteral("vypnuto"), RadioButton2, "RadioButton2", QStringLiteral("zapnuto"));
    GroupBox2 = group("GroupBox2", QStringLiteral(" Jednotka "), RadioButton3, "RadioButton3",
                      QStringLiteral("dílky"), RadioButton4, "RadioButton4", QStringLiteral("°C"));
    auto *row = new QHBoxLayout;
    row->addWidget(GroupBox1);
    row->addWidget(GroupBox2);
    body()->addLayout(row);
    // Before the first showing the default setting: on, °C.
    RadioButton2->setChecked(true);
    RadioButton4->setChecked(true);
    // The buttons come first among the children; start on the settings instead.
    RadioButton2->setFocus();
}

void TForm4::ZapisOkno(const TCFGRQ &image)
{
    (image.thermometer & MeasurementOn ? RadioButton2 : RadioButton1)->setChecked(true);
    (image.thermometer & UnitCelsius ? RadioButton4 : RadioButton3)->setChecked(true);
}

Validation TForm4::PrectiOkno(TCFGRQ &image)
{
    quint8 setting = 0;
    if (!RadioButton1->isChecked())
        setting = MeasurementOn;
    if (!RadioButton3->isChecked())
        setting |= UnitCelsius;
    image.thermometer = setting;
    return showValidation({});
}

QList<TransferStep> TForm4::steps(TCFGRQ &image)
{
    return {{0, CfgAddr::Thermometer, &image.thermometer}};
}
