#include "calib/KalibraceAIN.h"

#include "app/Dekl.h"
#include "calib/KalibraceVypocet.h"
#include "live/FixedPoint.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPlainTextEdit>

const QString TForm6::ChooseInputText = QStringLiteral("Vyber referenční vstup a stiskni tlačítko Kalibrace.");
const QString TForm6::ShortInputText = QStringLiteral("Zkratuj vstup a stiskni tlačítko Potvrzení.");
const QString TForm6::ApplyVoltageText = QStringLiteral(
    "Připoj na vstup napětí v rozsahu 0,04-0,05V, zadej hodnotu napětí a stiskni tlačítko Potvrzení.");
const QString TForm6::DoneText = QStringLiteral("Vstup zkalibrován.");
const QString TForm6::OutOfBandText = QStringLiteral("Hodnota napětí musí být v rozsahu 0,04-0,05V.");
const QString TForm6::NotANumberText = QStringLiteral(
    "Hodnota napětí musí být v rozsahu 0,04-0,05V. Pozor na desetinnou čárku resp. tečku (nastaveno v systému).");
const QString TForm6::CancelledText = QStringLiteral("Kalibrace modulu zrušena !  Je NUTNÉ provést novou kalibraci !!!");

namespace {
constexpr int MeasuringWaitMs = 3500;
constexpr quint8 CalibrationRange = 1; // +/- 50 mV
constexpr quint8 GainLow = 23, GainHigh = 24, OffsetLow = 25, OffsetHigh = 26;
} // namespace

TForm6::TForm6(QWidget *parent)
    : TKalibraceDialog(QStringLiteral("Kalibrace analogových vstupů"), CancelledText, ChooseInputText, parent)
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
    Memo1->clear();
    appendLine(ChooseInputText);
    m_state = 0;
}

void TForm6::Button1Click()
{
    if (!Data || !checkConnection() || m_state != 0)
        return;
    takeConnection();
    m_reference = static_cast<quint8>(ComboBox2->currentIndex());

    // The reference input on the calibration range, the constants neutral,
    // so that the module measures uncalibrated.
    const std::array<std::pair<quint8, quint8>, 5> writes{{{m_reference, CalibrationRange},
                                                           {GainLow, kalibrace::NeutralGain & 0xFF},
                                                           {GainHigh, kalibrace::NeutralGain >> 8},
                                                           {OffsetLow, 0},
                                                           {OffsetHigh, 0}}};
    for (const auto &[address, value] : writes) {
        quint8 error = 0;
        switch (writeVerified(address, value, error)) {
        case WriteResult::Ok:
            continue;
        case WriteResult::TransactionError:
            setStatus(QLatin1Char(' ') + errorText(error));
            return;
        case WriteResult::Mismatch:
            setStatus(WriteMismatchStatus);
            return;
        }
    }
    appendLines({QString(), SeparatorLine + QStringLiteral("Referenční vstup ") + QString::number(m_reference),
                 QString(), ShortInputText});
    m_state = 1;
    setStatus(QStringLiteral(" "));
}

bool TForm6::readReference(double &value)
{
    ModuleBytes d{};
    if (!measure(MeasuringWaitMs, m_reference, d))
        return false;
    value = DecodeMeasuredValue(d[1], d[2], d[3], d[4]);
    if (value == 0) { // also the ideal zero: an exact 0 means no converter reading
        appendLine(BadMeasurementText);
        VypisKalibraceUkoncena();
        return false;
    }
    return true;
}

void TForm6::Button2Click()
{
    if (!Data || !checkConnection())
        return;
    if (m_state == 1) {
        double zero = 0;
        if (!readReference(zero))
            return;
        m_zeroReading = zero;
        appendLine(ApplyVoltageText);
        setStatus(QStringLiteral(" "));
        m_state = 2;
    } else if (m_state == 2) {
        referenceStep();
    }
}

void TForm6::referenceStep()
{
    double volts = 0;
    if (!parseNumber(Edit2->text(), volts)) {
        appendLine(NotANumberText);
        VypisKalibraceUkoncena();
        return;
    }
    if (!kalibrace::VoltageInBand(volts)) {
        appendLine(OutOfBandText);
        VypisKalibraceUkoncena();
        return;
    }
    double reference = 0;
    if (!readReference(reference))
        return;
    const kalibrace::AinConstants c = kalibrace::ComputeAin(volts, m_zeroReading, reference);
    if (c.outcome != kalibrace::Outcome::Ok) {
        appendLine(BadMeasurementText);
        VypisKalibraceUkoncena();
        return;
    }

    setStatus(WritingStatus);
    const std::array<std::pair<quint8, quint8>, 4> writes{{{OffsetLow, quint8(c.offset & 0xFF)},
                                                           {OffsetHigh, quint8(c.offset >> 8)},
                                                           {GainLow, quint8(c.gain & 0xFF)},
                                                           {GainHigh, quint8(c.gain >> 8)}}};
    for (const auto &[address, value] : writes) {
        quint8 error = 0;
        switch (writeVerified(address, value, error)) {
        case WriteResult::Ok:
            continue;
        case WriteResult::TransactionError:
            // Stays in state 2: another "Potvrzení" measures the reference again.
            setStatus(QLatin1Char(' ') + errorText(error));
            return;
        case WriteResult::Mismatch:
            appendLine(WriteMismatchText);
            VypisKalibraceUkoncena();
            return;
        }
    }
    appendLines({QString(), DoneText, QString(), SeparatorLine, QString(), ChooseInputText});
    setStatus(QStringLiteral(" "));
    m_state = 0;
}

void TForm6::Timer1Timer()
{
    if (!Data || !checkConnection())
        return;
    ModuleBytes d{};
    const quint8 error = transactLive(0, static_cast<quint8>(ComboBox2->currentIndex()), d);
    if (error != 0) {
        Edit3->clear();
        setStatus(QLatin1Char(' ') + errorText(error));
        return;
    }
    Edit3->setText(FormatFixed(DecodeMeasuredValue(d[1], d[2], d[3], d[4]), d[4] & 0x7F));
}
