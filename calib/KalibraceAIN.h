#ifndef RQ_CALIB_KALIBRACEAIN_H
#define RQ_CALIB_KALIBRACEAIN_H

#include "calib/KalibraceDialog.h"

class QComboBox;

// Calibration of the analog measuring chain against a reference voltage on
// one input: "Kalibrace" sets the input to the +/- 50 mV range and the
// constants to neutral, the first "Potvrzení" reads the shorted input, the
// second reads the reference voltage and writes gain and offset (23..26).
class TForm6 : public TKalibraceDialog
{
    Q_OBJECT
public:
    explicit TForm6(QWidget *parent = nullptr);

    QComboBox *ComboBox2 = nullptr; // "Referenční vstup"
    QLineEdit *Edit3 = nullptr;     // "Okamžitá hodnota"

    static const QString ChooseInputText;
    static const QString ShortInputText;
    static const QString ApplyVoltageText;
    static const QString DoneText;
    static const QString OutOfBandText;
    static const QString NotANumberText;
    static const QString CancelledText;

public slots:
    void FormCreate();
    void Button1Click() override;
    void Button2Click() override;
    void Timer1Timer() override;

private:
    // The reading of the reference input; false when the procedure has been
    // cancelled (transaction error or a reading of exactly 0).
    bool readReference(double &value);
    void referenceStep();

    quint8 m_reference = 0;
    double m_zeroReading = 0;
};

#endif
