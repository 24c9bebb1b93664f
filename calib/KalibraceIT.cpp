#include "calib/KalibraceIT.h"

#include "app/Dekl.h"
#include "calib/KalibraceVypocet.h"

#include <QFormLayout>
#include <QLineEdit>
#include <QPlainTextEdit>

const QString TFormIT::StartText = QStringLiteral("Pro zahájení kalibrování stiskni tlačítko Kalibrace.");
const QString TFormIT::ShortJumperText =
    QStringLiteral("Zkratuj propojku interního teploměru a stiskni tlačítko Potvrzení.");
const QString TFormIT::RemoveShortText = QStringLiteral(
    "Odstraň zkrat propojky interního teploměru, zadej hodnotu teploty a stiskni tlačítko Potvrzení.");
const QString TFormIT::DoneText = QStringLiteral("Vypni a zapni modul, interní teploměr zkalibrován.");
const QString TFormIT::NotANumberText =
    QStringLiteral("Chybně zadaná hodnota teploty. Pozor na desetinnou čárku resp. tečku (nastaveno v systému).");
const QString TFormIT::CancelledText = QStringLiteral("Kalibrace modulu zrušena ! Je NUTNÉ provést novou kalibraci !!!");

namespace {
constexpr int MeasuringWaitMs = 4000;
constexpr quint8 ThermometerSub = 16;
constexpr quint8 SettingAddress = 31;
constexpr quint8 SettingRawCounts = 0x80; // measurement on, unit raw counts
constexpr quint8 SettingCelsius = 0x81;   // measurement on, unit °C
constexpr quint8 GainLow = 27, GainHigh = 28, OffsetLow = 29, OffsetHigh = 30;
} // namespace

TFormIT::TFormIT(QWidget *parent)
    : TKalibraceDialog(QStringLiteral("Kalibrace interního teploměru"), CancelledText, StartText, parent)
{
    fields()->addRow(QStringLiteral("Zadaná hodnota [°C]"), Edit2);
    FormCreate();
}

void TFormIT::FormCreate()
{
    Edit2->setText(QStringLiteral("20,0"));
    Memo1->clear();
    appendLine(StartText);
    m_state = 0;
}

void TFormIT::Button1Click()
{
    if (!Data || !checkConnection() || m_state != 0)
        return;
    takeConnection();
    m_sub = ThermometerSub;
    // Raw counts while calibrating: the old constants then do not matter.
    quint8 error = 0;
    switch (writeVerified(SettingAddress, SettingRawCounts, error)) {
    case WriteResult::Ok:
        break;
    case WriteResult::TransactionError:
        setStatus(QLatin1Char(' ') + errorText(error));
        return;
    case WriteResult::Mismatch:
        setStatus(WriteMismatchStatus);
        return;
    }
    appendLines({QString(), SeparatorLine, QString(), ShortJumperText});
    m_state = 1;
    setStatus(QStringLiteral(" "));
}

bool TFormIT::readThermometer(quint16 &raw)
{
    ModuleBytes d{};
    if (!measure(MeasuringWaitMs, m_sub, d))
        return false;
    raw = static_cast<quint16>(d[2] * 256 + d[1]);
    if (raw == 0) {
        appendLine(BadMeasurementText);
        VypisKalibraceUkoncena();
        return false;
    }
    return true;
}

void TFormIT::Button2Click()
{
    if (!Data || !checkConnection())
        return;
    if (m_state == 1) {
        quint16 zero = 0;
        if (!readThermometer(zero))
            return;
        m_zeroReading = zero;
        appendLine(RemoveShortText);
        setStatus(QStringLiteral(" "));
        m_state = 2;
    } else if (m_state == 2) {
        referenceStep();
    }
}

void TFormIT::referenceStep()
{
    // Any number is taken as typed; an implausible one fails the gain check.
    double celsius = 0;
    if (!parseNumber(Edit2->text(), celsius)) {
        appendLine(NotANumberText);
        VypisKalibraceUkoncena();
        return;
    }
    quint16 reference = 0;
    if (!readThermometer(reference))
        return;
    const kalibrace::ItConstants c = kalibrace::ComputeIt(celsius, m_zeroReading, reference);
    if (c.outcome != kalibrace::Outcome::Ok) {
        appendLine(BadMeasurementText);
        VypisKalibraceUkoncena();
        return;
    }

    setStatus(WritingStatus);
    const std::array<std::pair<quint8, quint8>, 5> writes{{{OffsetLow, quint8(c.offset & 0xFF)},
                                                           {OffsetHigh, quint8(c.offset >> 8)},
                                                           {GainLow, quint8(c.gain & 0xFF)},
                                                           {GainHigh, quint8(c.gain >> 8)},
                                                           {SettingAddress, SettingCelsius}}};
    for (const auto &[address, value] : writes) {
        quint8 error = 0;
        switch (writeVerified(address, value, error)) {
        case WriteResult::Ok:
            continue;
        case WriteResult::TransactionError:
            // Stays in state 2: another "Potvrzení" reads the reference again.
            setStatus(QLatin1Char(' ') + errorText(error));
            return;
        case WriteResult::Mismatch:
            if (address == SettingAddress) {
                // The constants are in place; only the switch to °C failed.
                setStatus(WriteMismatchStatus);
                return;
            }
            appendLine(WriteMismatchText);
            VypisKalibraceUkoncena();
            return;
        }
    }
    appendLines({QString(), DoneText, QString(), SeparatorLine, QString(), StartText});
    setStatus(QStringLiteral(" "));
    m_state = 0;
}

void TFormIT::Timer1Timer()
{
    // A connection watch: only a failure is shown.
    if (!Data || !checkConnection())
        return;
    ModuleBytes d{};
    const quint8 error = transactLive(0, ThermometerSub, d);
    if (error != 0)
        setStatus(QLatin1Char(' ') + errorText(error));
}
