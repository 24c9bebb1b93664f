#include "calib/KalibraceAIN.h"

#include "app/Dekl.h"
#include "calib/KalibraceVypocet.h"
#include "live/FixedPoint.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLineEdit>

const QString TForm6::ChooseInputText =
    QStringLiteral("Vyber referenční vstup a stiskni tlačítko Kalibrace.");
const QString TForm6::ShortInputText = QStringLiteral("Zkratuj vstup a stiskni tlačítko Potvrzení.");
const QString TForm6::ApplyVoltageText = QStringLiteral(
    "Připoj na vstup napětí v rozsahu 0,04-0,05V, zadej hodnotu napětí a stiskni tlačítko Potvrzení.");
const QString TForm6::DoneText = QStringLiteral("Vstup zkalibrován.");
const QString TForm6::OutOfBandText = QStringLiteral("Hodnota napětí musí být v rozsahu 0,04-0,05V.");
const QString TForm6::NotANumberText = QStringLiteral(
    "Hodnota napětí musí být v rozsahu 0,04-0,05V. Pozor na desetinnou čárku resp. tečku (nastaveno v systému).");
const QString TForm6::CancelledText =
    QStringLiteral("Kalibrace modulu zrušena !  Je NUTNÉ provést novou kalibraci !!!");

namespace {
constexpr int MeasuringWaitMs = 3500;
constexpr quint8 CalibrationRange = 1; // +/- 50 mV
constexpr quint8 GainLow = 23, GainHigh = 24, OffsetLow = 25, OffsetHigh = 26;
} // namespace

TForm6::TForm6(QWidget *parent)
    : TKalibraceDialog({QStringLiteral("Kalibrace analogových vstupů"), ChooseInputText, ApplyVoltageText,
                        NotANumberText, DoneText, CancelledText, MeasuringWaitMs},
                       parent)
{
    ComboBox2 = new QComboBox(this);
    ComboBox2->setObjectName(QStringLiteral("ComboBox2"));
    for (int i = 0; i < 12; ++i)
        ComboBox2->addItem(QStringLiteral("vstup %1").arg(i));
    ComboBox2->setCurrentIndex(1);
    fields()->addRow(QStringLiteral("Referenční vstup"), ComboBox2);
    fields()->addRow(QStringLiteral("Zadaná hodnota [V]"), Edit2);
    Edit3 = new QLineEdit(this);
    Edit3->setObjectName(QStringLiteral("Edit3"));
    Edit3->setReadOnly(true);
    Edit3->setMaximumWidth(120);
    Edit3->setAlignment(Qt::AlignRight);
    fields()->addRow(QStringLiteral("Okamžitá hodnota"), Edit3);
    FormCreate();
}

void TForm6::FormCreate()
{
    Edit2->setText(QStringLiteral("0,05"));
    Edit3->clear();
    resetMemo();
}

void TForm6::Button1Click()
{
    const auto reference = static_cast<quint8>(ComboBox2->currentIndex());
    if (!beginCalibration(reference))
        return;
    // The reference input on the calibration range, the constants neutral.
    if (!writeBytes(ByteWrites{{reference, CalibrationRange}} + uncalibratedWrites()))
        return;
    awaitZeroReading(SeparatorLine + QStringLiteral("Referenční vstup ") + QString::number(reference),
                     ShortInputText);
}

TKalibraceDialog::ByteWrites TForm6::uncalibratedWrites() const
{
    return {{GainLow, kalibrace::NeutralGain & 0xFF},
            {GainHigh, kalibrace::NeutralGain >> 8},
            {OffsetLow, 0},
            {OffsetHigh, 0}};
}

double TForm6::reading(const ModuleBytes &d) const
{
    return DecodeMeasuredValue(d[1], d[2], d[3], d[4]);
}

bool TForm6::acceptEntered(double volts)
{
    if (kalibrace::VoltageInBand(volts))
        return true;
    cancelCalibration(OutOfBandText);
    return false;
}

bool TForm6::writeCalibration(double volts, double zeroReading, double referenceReading)
{
    const kalibrace::AinConstants c = kalibrace::ComputeAin(volts, zeroReading, referenceReading);
    if (c.outcome != kalibrace::Outcome::Ok) {
        cancelCalibration(BadMeasurementText);
        return false;
    }
    return writeConstants(GainLow, c.gain, OffsetLow, c.offset);
}

void TForm6::Timer1Timer()
{
    if (!checkConnection())
        return;
    ModuleBytes d{};
    const quint8 error = transactLive(0, static_cast<quint8>(ComboBox2->currentIndex()), d);
    if (error != 0) {
        Edit3->clear();
        showError(error);
        return;
    }
    Edit3->setText(FormatFixed(DecodeMeasuredValue(d[1], d[2], d[3], d[4]), d[4] & 0x7F));
}
