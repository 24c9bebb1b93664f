#ifndef RQ_DIO_NASTAVDIO_H
#define RQ_DIO_NASTAVDIO_H

#include "config/NastavDialog.h"

#include <array>

class QCheckBox;

// Digital I/O settings: negation of the 32 inputs and of the 32 outputs and
// the outputs' initial states, one check box per bit.
//
// Box 32g + 8k + j + 1 (CheckBox1..CheckBox96) is bit j of element k of field
// g: 0 DIN negation, 1 DOUT negation, 2 DOUT initial state. A checked box is
// a 1 bit.
class TForm14 : public TNastavDialog
{
    Q_OBJECT
public:
    explicit TForm14(QWidget *parent = nullptr);

    static constexpr int BoxCount = 96;
    std::array<QCheckBox *, BoxCount> CheckBoxes{}; // CheckBoxes[0] is CheckBox1

    void ZapisOkno(const TCFGRQ &image) override;
    Validation PrectiOkno(TCFGRQ &image) override;
    // Page 0: DOUT initial states at 32, 35, 38, 41, then DIN negation at
    // 33, 36, 39, 42, then DOUT negation at 34, 37, 40, 43.
    QList<TransferStep> steps(TCFGRQ &image) override;

    // Field g of the image (the order of the boxes).
    static std::array<quint8, 4> &field(TCFGRQ &image, int g);
    static const std::array<quint8, 4> &field(const TCFGRQ &image, int g);
};

#endif
