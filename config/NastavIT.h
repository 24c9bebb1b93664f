#ifndef RQ_CONFIG_NASTAVIT_H
#define RQ_CONFIG_NASTAVIT_H

#include "config/NastavDialog.h"

class QGroupBox;
class QRadioButton;

// The module's internal thermometer: measurement on or off (bit 7) and the
// unit it reports in, raw counts or °C (bit 0). Bits 1..6 are written as 0.
class TForm4 : public TNastavDialog
{
    Q_OBJECT
public:
    explicit TForm4(QWidget *parent = nullptr);

    QGroupBox *GroupBox1 = nullptr;       // " Měření teploty "
    QGroupBox *GroupBox2 = nullptr;       // " Jednotka "
    QRadioButton *RadioButton1 = nullptr; // "vypnuto"
    QRadioButton *RadioButton2 = nullptr; // "zapnuto"
    QRadioButton *RadioButton3 = nullptr; // "dílky"
    QRadioButton *RadioButton4 = nullptr; // "°C"

    void ZapisOkno(const TCFGRQ &image) override;
    Validation PrectiOkno(TCFGRQ &image) override;
    QList<TransferStep> steps(TCFGRQ &image) override;
};

#endif
