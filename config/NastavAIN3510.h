#ifndef RQ_CONFIG_NASTAVAIN3510_H
#define RQ_CONFIG_NASTAVAIN3510_H

#include "config/NastavDialog.h"
#include "image/Rozsahy.h"

#include <array>

class QComboBox;

// Measuring range of each of the twelve analog inputs of an RQ-3510. The odd
// inputs measure voltage only and offer the first seven ranges.
class TForm13 : public TNastavDialog
{
    Q_OBJECT
public:
    explicit TForm13(QWidget *parent = nullptr);

    std::array<QComboBox *, 12> ComboBox{}; // ComboBox1..ComboBox12: element i is AINi

    void ZapisOkno(const TCFGRQ &image) override;
    Validation PrectiOkno(TCFGRQ &image) override;
    QList<TransferStep> steps(TCFGRQ &image) override;
};

#endif
