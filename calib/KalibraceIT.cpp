#include "calib/KalibraceIT.h"

#include "app/Dekl.h"
#include "calib/KalibraceVypocet.h"
#include "comm/Prikazy.h"

#include <QFormLayout>
#include <QLineEdit>

const QString TFormIT::StartText = QStringLiteral("Pro zahájení kalibrování stiskni tlačítko Kalibrace.");
const QString TFormIT::ShortJumperText =
    QStringLiteral("Zkratuj propojku interního teploměru a stiskni tlačítko Potvrzení.");
const QString TFormIT::RemoveShortText = QStringLiteral(
    "Odstraň zkrat propojky interního teploměru, zadej hodnotu teploty a stiskni tlačítko Potvrzení.");
const QString TFormIT::DoneText = QStringLiteral("Vypni a zapni modul, interní teploměr zkalibrován.");
const QString TFormIT::NotANumberText = QStringLiteral(
    "Chybně zadaná hodnota teploty. Pozor na desetinnou čárku resp. tečku (nastaveno v systému).");
const QString TFormIT::CancelledText =
    QStringLiteral("Kalibrace modulu zrušena ! Je NUTNÉ provést novou kalibraci !!!");

namespace {
constexpr int MeasuringWaitMs = 4000;
constexpr quint8 SettingAddress = 31;
constexpr quint8 SettingRawCounts = 0x80;      // measurement on, unit raw counts
constexpr quint8 SettingCelsius = 0x81;        // measurement on, unit °C
constexpr quint8 GainLow = 27, OffsetLow = 29; // high bytes at 28 and 30
} // namespace

TFormIT::TFormIT(QWidget *parent)
    : TKalibraceDialog({QStringLiteral("Kalibrace interního teploměru"), StartText, RemoveShortText,
                        NotANumberText, DoneText, CancelledText, MeasuringWaitMs},
                       parent)
{
    fields()->addRow(QStringLiteral("Zadaná hodnota [°C]"), Edit2);
    FormCreate();
}

void TFormIT::FormCreate()
{
    Edit2->setText(QStringLiteral("20,0"));
    resetMemo();
}

void TFormIT::Button1Click()
{
    if (!beginCalibration(SubTemperature))
        return;
    if (!writeBytes(uncalibratedWrites()))
        return;
    awaitZeroReading(SeparatorLine, ShortJumperText);
}

// Raw counts while calibrating: the old constants then do not matter.
TKalibraceDialog::ByteWrites TFormIT::uncalibratedWrites() const
{
    return {{SettingAddress, SettingRawCounts}};
}

double TFormIT::reading(const ModuleBytes &d) const
{
    return d[2] * 256 + d[1];
}

// The entered temperature has no range check of its own: any number is
// taken as typed, and an implausible one fails the gain check.
bool TFormIT::writeCalibration(double celsius, double zeroReading, double referenceReading)
{
    // The readings are raw counts, whole numbers of 1..65535.
    const kalibrace::ItConstants c = kalibrace::ComputeIt(celsius, static_cast<quint16>(zeroReading),
                                                          static_cast<quint16>(referenceReading));
    if (c.outcome != kalibrace::Outcome::Ok) {
        cancelCalibration(BadMeasurementText);
        return false;
    }
    // A failed switch to °C after the constants only shows in the panel: the
    // constants are in place and another "Potvrzení" repeats the step.
    return writeConstants(GainLow, c.gain, OffsetLow, c.offset) &&
           writeBytes({{SettingAddress, SettingCelsius}});
}

void TFormIT::Timer1Timer()
{
    // A connection watch: only a failure is shown.
    if (!checkConnection())
        return;
    ModuleBytes d{};
    const quint8 error = transactLive(0, SubTemperature, d);
    if (error != 0)
        showError(error);
}
