#include "calib/KalibraceDialog.h"

#include "app/Dekl.h"
#include "app/StatusBar.h"
#include "comm/Linka.h"
#include "comm/Prikazy.h"
#include "core/Cislo.h"
#include "core/Pauza.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

const QString TKalibraceDialog::SeparatorLine = QString(66, QLatin1Char('_')) + QLatin1Char(' ');
const QString TKalibraceDialog::WriteMismatchText =
    QStringLiteral("Chyba zápisu do konfigurační paměti modulu.");
const QString TKalibraceDialog::WriteMismatchStatus =
    QStringLiteral(" Chyba zápisu do konfigurační paměti modulu.");
const QString TKalibraceDialog::BadMeasurementText =
    QStringLiteral("Chyba naměřených hodnot. Zkontroluj připojení vstupu a proveď znovu kalibraci.");
const QString TKalibraceDialog::MeasuringStatus = QStringLiteral(" Probíhá měření ...");
const QString TKalibraceDialog::WritingStatus = QStringLiteral(" Probíhá zápis kalibračních konstant.");

TKalibraceDialog::TKalibraceDialog(const Procedure &procedure, QWidget *parent)
    : QDialog(parent), m_procedure(procedure)
{
    setWindowTitle(m_procedure.caption);

    auto *layout = new QVBoxLayout(this);
    m_fields = new QFormLayout;
    m_fields->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    layout->addLayout(m_fields);

    Edit2 = new QLineEdit(this);
    Edit2->setObjectName(QStringLiteral("Edit2"));
    Edit2->setMaximumWidth(120);

    auto *pokyn = new QLabel(QStringLiteral("Pokyn"), this);
    layout->addWidget(pokyn);
    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setMinimumSize(560, 220);
    pokyn->setBuddy(Memo1);
    layout->addWidget(Memo1, 1);

    auto *buttons = new QHBoxLayout;
    layout->addLayout(buttons);
    const auto button = [this, buttons](const char *name, const QString &text) {
        auto *b = new QPushButton(text, this);
        b->setObjectName(QLatin1String(name));
        // Enter in the value field must not start a step.
        b->setAutoDefault(false);
        buttons->addWidget(b);
        return b;
    };
    Button1 = button("Button1", QStringLiteral("Kalibrace"));
    Button2 = button("Button2", QStringLiteral("Potvrzení"));
    Button4 = button("Button4", QStringLiteral("Zrušit"));
    buttons->addStretch(1);
    Button3 = button("Button3", QStringLiteral("Cancel"));
    connect(Button1, &QPushButton::clicked, this, &TKalibraceDialog::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TKalibraceDialog::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TKalibraceDialog::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &TKalibraceDialog::Button4Click);

    StatusBar1 = new TStatusBar({0}, this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    layout->addWidget(StatusBar1);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(500);
    connect(Timer1, &QTimer::timeout, this, &TKalibraceDialog::Timer1Timer);
}

QString TKalibraceDialog::statusText() const
{
    return StatusBar1->text(0);
}

// A minimised window keeps its timer, as the monitors do: the spontaneous
// hide and show of minimising and restoring leave it alone.
void TKalibraceDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        Timer1->start();
}

void TKalibraceDialog::hideEvent(QHideEvent *event)
{
    if (!event->spontaneous())
        Timer1->stop();
    QDialog::hideEvent(event);
}

void TKalibraceDialog::resetMemo()
{
    Memo1->clear();
    appendLine(m_procedure.startInstruction);
    m_state = 0;
}

void TKalibraceDialog::appendLine(const QString &line)
{
    Memo1->appendPlainText(line);
}

void TKalibraceDialog::setStatus(const QString &text)
{
    StatusBar1->setText(0, text);
}

void TKalibraceDialog::showError(quint8 code)
{
    setStatus(QLatin1Char(' ') + ErrorText(Data->adapterKind, code));
}

bool TKalibraceDialog::checkConnection()
{
    if (!Data)
        return false;
    if (Data->ready())
        return true;
    setStatus(NotConnectedText);
    return false;
}

bool TKalibraceDialog::beginCalibration(quint8 input)
{
    if (!checkConnection() || m_state != 0)
        return false;
    m_handle = Data->handle;
    m_address = Data->moduleAddress;
    m_input = input;
    return true;
}

void TKalibraceDialog::awaitZeroReading(const QString &header, const QString &instruction)
{
    for (const QString &line : {QString(), header, QString(), instruction})
        appendLine(line);
    m_state = 1;
    m_restoreNeeded = false;
    setStatus(QStringLiteral(" "));
}

quint8 TKalibraceDialog::transact(quint8 command, quint8 subCode, ModuleBytes &d)
{
    // Without a handle nothing is sent and the bytes stay: never a success.
    if (m_handle == 0)
        return AdapterError::NotBound;
    BusLink link; // a single try: the calibration shows every lost reply
    link.kind = Data->adapterKind;
    link.handle = m_handle;
    return link.transact(m_address, command, subCode, d);
}

quint8 TKalibraceDialog::transactLive(quint8 command, quint8 subCode, ModuleBytes &d)
{
    m_address = Data->moduleAddress;
    return Transact(*Data, m_address, command, subCode, d);
}

TKalibraceDialog::WriteResult TKalibraceDialog::writeVerified(quint8 memoryAddress, quint8 value,
                                                              quint8 &error)
{
    ModuleBytes d{0, memoryAddress, memoryAddress, value, value};
    error = transact(CmdWriteMemory, 0, d);
    if (error != 0)
        return WriteResult::TransactionError;
    d = {0, memoryAddress, memoryAddress, 0, 0};
    error = transact(CmdReadMemory, 0, d);
    if (error != 0)
        return WriteResult::TransactionError;
    return d[3] == value ? WriteResult::Ok : WriteResult::Mismatch;
}

TKalibraceDialog::WriteResult TKalibraceDialog::writeAll(const ByteWrites &writes)
{
    for (const auto &[address, value] : writes) {
        quint8 error = 0;
        const WriteResult result = writeVerified(address, value, error);
        if (result == WriteResult::TransactionError)
            showError(error);
        if (result != WriteResult::Ok)
            return result;
    }
    return WriteResult::Ok;
}

bool TKalibraceDialog::writeBytes(const ByteWrites &writes)
{
    const WriteResult result = writeAll(writes);
    if (result == WriteResult::Mismatch)
        setStatus(WriteMismatchStatus);
    return result == WriteResult::Ok;
}

bool TKalibraceDialog::writeConstants(quint8 gainAddress, quint16 gain, quint8 offsetAddress, quint16 offset)
{
    setStatus(WritingStatus);
    const WriteResult result = writeAll({{offsetAddress, quint8(offset & 0xFF)},
                                         {quint8(offsetAddress + 1), quint8(offset >> 8)},
                                         {gainAddress, quint8(gain & 0xFF)},
                                         {quint8(gainAddress + 1), quint8(gain >> 8)}});
    if (result == WriteResult::Mismatch)
        cancelCalibration(WriteMismatchText);
    return result == WriteResult::Ok;
}

bool TKalibraceDialog::measureInput(double &value)
{
    setStatus(MeasuringStatus);
    rq::pause(m_procedure.measuringWaitMs);
    setStatus(QStringLiteral(" "));
    ModuleBytes d{};
    const quint8 error = transact(CmdMeasure, m_input, d);
    if (error != 0) {
        showError(error);
        cancelCalibration(ErrorText(Data->adapterKind, error));
        return false;
    }
    value = reading(d);
    if (value == 0) { // not even the ideal zero: an exact 0 means no converter reading
        cancelCalibration(BadMeasurementText);
        return false;
    }
    return true;
}

void TKalibraceDialog::cancelCalibration(const QString &reason)
{
    appendLine(reason);
    VypisKalibraceUkoncena();
}

void TKalibraceDialog::logEnd(const QString &text)
{
    for (const QString &line :
         {QString(), text, QString(), SeparatorLine, QString(), m_procedure.startInstruction})
        appendLine(line);
    m_state = 0;
}

void TKalibraceDialog::VypisKalibraceUkoncena()
{
    logEnd(m_procedure.cancelledText);
}

void TKalibraceDialog::Button2Click()
{
    if (!checkConnection())
        return;
    if (m_state == 1) {
        double zero = 0;
        if (!measureInput(zero))
            return;
        m_zeroReading = zero;
        appendLine(m_procedure.referenceInstruction);
        setStatus(QStringLiteral(" "));
        m_state = 2;
    } else if (m_state == 2) {
        referenceStep();
    }
}

void TKalibraceDialog::referenceStep()
{
    const std::optional<double> entered = ParseDecimalText(Edit2->text());
    if (!entered) {
        cancelCalibration(m_procedure.notANumberText);
        return;
    }
    if (!acceptEntered(*entered))
        return;
    // After failed final writes the module may work with some of the new
    // constants: a reference read through them would give other constants
    // than a clean run. Back to what the zero was read with, first.
    if (m_restoreNeeded) {
        const WriteResult result = writeAll(uncalibratedWrites());
        if (result == WriteResult::Mismatch)
            cancelCalibration(WriteMismatchText);
        if (result != WriteResult::Ok)
            return;
        m_restoreNeeded = false;
    }
    double reference = 0;
    if (!measureInput(reference))
        return;
    if (!writeCalibration(*entered, m_zeroReading, reference)) {
        // Still waiting for the reference: some constants may have landed.
        m_restoreNeeded = m_state == 2;
        return;
    }
    logEnd(m_procedure.doneText);
    setStatus(QStringLiteral(" "));
}

void TKalibraceDialog::Button3Click()
{
    reject();
}

void TKalibraceDialog::Button4Click()
{
    if (!checkConnection())
        return;
    if (m_state != 0)
        VypisKalibraceUkoncena();
}
