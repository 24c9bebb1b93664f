#include "config/NastavAIN3510.h"

#include <QComboBox>
#include <QGridLayout>

TForm13::TForm13(QWidget *parent) : TNastavDialog(parent)
{
    setWindowTitle(QStringLiteral("Nastavení analogových vstupů RQ-3510"));
    setModel(QStringLiteral("RQ-3510"));
    QList<QComboBox *> boxes;
    for (int i = 0; i < 12; ++i) {
        const QStringList items = i % 2 == 0 ? Ranges3510() : Ranges3510().mid(0, VoltageRanges3510);
        ComboBox[std::size_t(i)] = makeComboBox(i + 1, items);
        boxes << ComboBox[std::size_t(i)];
    }
    body()->addLayout(twoColumnInputs(boxes));
    // The buttons come first among the children; start on the settings instead.
    ComboBox[0]->setFocus();
}

void TForm13::ZapisOkno(const TCFGRQ &image)
{
    for (std::size_t i = 0; i < 12; ++i)
        showCode(ComboBox[i], image.ranges3510[i]);
}

Validation TForm13::PrectiOkno(TCFGRQ &image)
{
    // A selector showing no item keeps the element's code (the one the module
    // reported), so the byte is written back unchanged.
    for (std::size_t i = 0; i < 12; ++i)
        image.ranges3510[i] = takeCode(ComboBox[i], image.ranges3510[i]);
    return showValidation({});
}

QList<TransferStep> TForm13::steps(TCFGRQ &image)
{
    QList<TransferStep> list;
    for (quint8 i = 0; i < 12; ++i)
        list.append({0, quint8(CfgAddr::Ranges + i), &image.ranges3510[i]});
    return list;
}
