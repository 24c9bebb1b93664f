#ifndef RQ_CONFIG_NASTAVAIN3520_H
#define RQ_CONFIG_NASTAVAIN3520_H

#include "config/NastavDialog.h"
#include "image/Rozsahy.h"

#include <array>

class QComboBox;
class QLabel;
class QLineEdit;

// Range or thermocouple type of each of the twelve analog inputs of an
// RQ-3520, and the count of inputs it measures. The count's controls are
// shown only for firmware 1.07 and later; the count is transferred always.
class TForm13a : public TNastavDialog
{
    Q_OBJECT
public:
    explicit TForm13a(QWidget *parent = nullptr);

    std::array<QComboBox *, 12> ComboBox{}; // ComboBox1..ComboBox12: element i is AINi
    QLabel *Label15 = nullptr;
    QLineEdit *Edit1 = nullptr; // count of measured inputs

    void ZapisOkno(const TCFGRQ &image) override;
    Validation PrectiOkno(TCFGRQ &image) override;
    QList<TransferStep> steps(TCFGRQ &image) override;

public slots:
    void FormShow() override;
};

// Firmware version number of a module identity ("RQ-3520  v.1.07" -> 107):
// its characters 12, 14 and 15; empty when the text is shorter than 15
// characters or they form no integer.
std::optional<int> FirmwareNumber(const QString &identity);

#endif
