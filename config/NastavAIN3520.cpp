#include "config/NastavAIN3520.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

namespace {
const QString CountMessage = QStringLiteral(" Chyba Počet měřených vstupů");
constexpr int CountFirmware = 107; // first firmware that measures fewer inputs
} // namespace

std::optional<int> FirmwareNumber(const QString &identity)
{
    if (identity.size() < 15)
        return std::nullopt;
    const QString digits = QString(identity.at(11)) + identity.at(13) + identity.at(14);
    const std::optional<qint32> v = ParseIntText(digits);
    if (!v)
        return std::nullopt;
    return *v;
}

TForm13a::TForm13a(QWidget *parent) : TNastavDialog(parent)
{
    setWindowTitle(QStringLiteral("Nastavení analogových vstupů RQ-3520"));
    setModel(QStringLiteral("RQ-3520"));
    QList<QComboBox *> boxes;
    for (int i = 0; i < 12; ++i) {
        ComboBox[std::size_t(i)] = makeComboBox(i + 1, Ranges3520());
        boxes << ComboBox[std::size_t(i)];
    }
    body()->addLayout(twoColumnInputs(boxes));

    Label15 = new QLabel(QStringLiteral("Počet měřených vstupů (1-12)"), this);
    Label15->setObjectName(QStringLiteral("Label15"));
    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setMaximumWidth(QFontMetrics(Edit1->font()).horizontalAdvance(QStringLiteral("0000000")));
    Label15->setBuddy(Edit1);
    auto *row = new QHBoxLayout;
    row->addWidget(Label15);
    row->addWidget(Edit1);
    row->addStretch();
    body()->addSpacing(6);
    body()->addLayout(row);
    // The buttons come first among the children; start on the settings instead.
    ComboBox[0]->setFocus();
}

void TForm13a::FormShow()
{
    const std::optional<int> firmware = Data ? FirmwareNumber(Data->identity) : std::nullopt;
    const bool shown = firmware && *firmware >= CountFirmware;
    const bool changed = Edit1->isHidden() == shown;
    Label15->setVisible(shown);
    Edit1->setVisible(shown);
    if (changed) {
        // Decided while the window opens: fit it to the rows it shows.
        layout()->activate();
        adjustSize();
    }
    TNastavDialog::FormShow();
}

void TForm13a::ZapisOkno(const TCFGRQ &image)
{
    for (std::size_t i = 0; i < 12; ++i)
        showCode(ComboBox[i], image.ranges3520[i]);
    Edit1->setText(QString::number(image.inputCount));
}

Validation TForm13a::PrectiOkno(TCFGRQ &image)
{
    // A selector showing no item keeps the element's code (the one the module
    // reported), so the byte is written back unchanged.
    for (std::size_t i = 0; i < 12; ++i)
        image.ranges3520[i] = takeCode(ComboBox[i], image.ranges3520[i]);
    const std::optional<qint32> count = ParseIntText(Edit1->text());
    if (!count || *count < 1 || *count > 12)
        return showValidation(Validation::invalid(CountMessage));
    image.inputCount = static_cast<quint8>(*count);
    return showValidation({});
}

QList<TransferStep> TForm13a::steps(TCFGRQ &image)
{
    QList<TransferStep> list;
    for (quint8 i = 0; i < 12; ++i)
        list.append({0, quint8(CfgAddr::Ranges + i), &image.ranges3520[i]});
    list.append({0, CfgAddr::InputCount, &image.inputCount});
    return list;
}
