#ifndef RQ_CALIB_KALIBRACEIT_H
#define RQ_CALIB_KALIBRACEIT_H

#include "calib/KalibraceDialog.h"

// Calibration of the internal thermometer on raw counts: "Kalibrace" switches
// it to raw counts, the first "Potvrzení" reads it with the jumper shorted,
// the second with the jumper open at the entered temperature, then gain and
// offset (27..30) are written and the thermometer switched to °C.
class TFormIT : public TKalibraceDialog
{
    Q_OBJECT
public:
    explicit TFormIT(QWidget *parent = nullptr);

    static const QString StartText;
    static const QString ShortJumperText;
    static const QString RemoveShortText;
    static const QString DoneText;
    static const QString NotANumberText;
    static const QString CancelledText;

public slots:
    void FormCreate();
    void Button1Click() override;
    void Timer1Timer() override;

protected:
    ByteWrites uncalibratedWrites() const override;
    double reading(const ModuleBytes &d) const override;
    bool writeCalibration(double celsius, double zeroReading, double referenceReading) override;
};

#endif
