#include "config/NastavAdr.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

namespace {
const QString AddressMessage = QStringLiteral(" Adresa modulu musí být v rozsahu 0-255.");
const QString BaudMessage = QStringLiteral(" Komunikační rychlost musí být v rozsahu 600Bd-115200Bd.");
} // namespace

std::optional<quint8> ParseNumberInRange(const QString &text, int low, int high)
{
    const std::optional<qint32> v = ParseIntText(text);
    if (!v || *v < low || *v > high)
        return std::nullopt;
    return static_cast<quint8>(*v);
}

TForm12::TForm12(QWidget *parent) : TNastavDialog(parent)
{
    setWindowTitle(QStringLiteral("Nastavení komunikační adresy a rychlosti"));
    Label1 = new QLabel(QStringLiteral("Adresa modulu  (0-255)"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Label2 = new QLabel(QStringLiteral("Komunikační rychlost"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    ComboBox1 = makeComboBox(1, BaudItems);
    Label1->setBuddy(Edit1);
    Label2->setBuddy(ComboBox1);

    auto *grid = new QGridLayout;
    grid->addWidget(Label1, 0, 0);
    grid->addWidget(Edit1, 0, 1);
    grid->addWidget(Label2, 1, 0);
    grid->addWidget(ComboBox1, 1, 1);
    grid->setColumnStretch(1, 1);
    body()->addLayout(grid);
    reserveStatusWidth({AddressMessage, BaudMessage});
    // The buttons come first among the children; start on the settings instead.
    Edit1->setFocus();
}

void TForm12::ZapisOkno(const TCFGRQ &image)
{
    Edit1->setText(QString::number(image.configuredAddress));
    showCode(ComboBox1, image.configuredBaudIndex);
}

Validation TForm12::PrectiOkno(TCFGRQ &image)
{
    const std::optional<quint8> address = ParseNumberInRange(Edit1->text(), 0, 255);
    if (!address)
        return showValidation(Validation::invalid(AddressMessage));
    image.configuredAddress = *address;
    const int baud = ComboBox1->currentIndex();
    if (baud < 0 || baud > 8)
        return showValidation(Validation::invalid(BaudMessage));
    image.configuredBaudIndex = static_cast<quint8>(baud);
    return showValidation({});
}

QList<TransferStep> TForm12::steps(TCFGRQ &image)
{
    return {{0, CfgAddr::Address, &image.configuredAddress},
            {0, CfgAddr::BaudIndex, &image.configuredBaudIndex}};
}
