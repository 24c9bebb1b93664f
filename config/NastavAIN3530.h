#ifndef RQ_CONFIG_NASTAVAIN3530_H
#define RQ_CONFIG_NASTAVAIN3530_H

#include "config/NastavDialog.h"
#include "image/Rozsahy.h"

#include <array>

class QComboBox;

// Sensor type, unit and wiring of each of the six analog inputs of an
// RQ-3530, packed into one byte per input: sensor + 16 x unit + 64 x wiring.
class TForm13b : public TNastavDialog
{
    Q_OBJECT
public:
    explicit TForm13b(QWidget *parent = nullptr);

    // ComboBox1..ComboBox18: sensors of AIN0..AIN5, then units, then wirings.
    std::array<QComboBox *, 18> ComboBox{};
    QComboBox *sensor(int input) const { return ComboBox[std::size_t(input)]; }
    QComboBox *unit(int input) const { return ComboBox[std::size_t(6 + input)]; }
    QComboBox *wiring(int input) const { return ComboBox[std::size_t(12 + input)]; }

    void ZapisOkno(const TCFGRQ &image) override;
    Validation PrectiOkno(TCFGRQ &image) override;
    QList<TransferStep> steps(TCFGRQ &image) override;
};

#endif
