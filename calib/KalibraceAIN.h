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
    void Timer1Timer() override;

protected:
    ByteWrites uncalibratedWrites() const override;
    double reading(const ModuleBytes &d) const override;
    bool acceptEntered(double volts) override;
    bool writeCalibration(double volts, double zeroReading, double referenceReading) override;
};

#endif
