#include "calib/KalibraceDialog.h"

#include "app/Dekl.h"
#include "app/Pauza.h"
#include "app/StatusBar.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

const QString TKalibraceDialog::SeparatorLine = QString(66, QLatin1Char('_')) + QLatin1Char(' ');
const QString TKalibraceDialog::WriteMismatchText = QStringLiteral("Chyba zápisu do konfigurační paměti modulu.");
const QString TKalibraceDialog::WriteMismatchStatus = QStringLiteral(" Chyba zápisu do konfigurační paměti modulu.");
const QString TKalibraceDialog::BadMeasurementText =
    QStringLiteral("Chyba naměřených hodnot. Zkontroluj připojení vstupu a proveď znovu kalibraci.");
const QString TKalibraceDialog::MeasuringStatus = QStringLiteral(" Probíhá měření ...");
const QString TKalibraceDialog::WritingStatus = QStringLiteral(" Probíhá zápis kalibračních konstant.");

TKalibraceDialog::TKalibraceDialog(const QString &caption, const QString &cancelledText,
                                   const QString &startInstruction, QWidget *parent)
    : QDialog(parent), m_cancelledText(cancelledText), m_startInstruction(startInstruction)
{
    setWindowTitle(caption);

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

void TKalibraceDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    Timer1->start();
}

void TKalibraceDialog::hideEvent(QHideEvent *event)
{
    Timer1->stop();
    QDialog::hideEvent(event);
}

void TKalibraceDialog::appendLine(const QString &line)
{
    Memo1->appendPlainText(line);
}

void TKalibraceDialog::appendLines(const QStringList &lines)
{
    for (const QString &line : lines)
        appendLine(line);
}

void TKalibraceDialog::setStatus(const QString &text)
{
    StatusBar1->setText(0, text);
}

bool TKalibraceDialog::checkConnection()
{
    if (Data->ready())
        return true;
    setStatus(NotConnectedText);
    return false;
}

void TKalibraceDialog::takeConnection()
{
    m_handle = Data->handle;
    m_address = Data->moduleAddress;
}

quint8 TKalibraceDialog::transact(quint8 command, quint8 subCode, ModuleBytes &d)
{
    // Without a handle nothing is sent and the bytes stay: never a success.
    if (m_handle == 0)
        return AdapterError::NotBound;
    Record response{};
    quint8 error = 0;
    RunModuleTransaction(Data->adapterKind, m_handle, m_address, command, subCode, d[0], d[1], d[2], d[3], d[4],
                         error, response.data());
    return error;
}

quint8 TKalibraceDialog::transactLive(quint8 command, quint8 subCode, ModuleBytes &d)
{
    m_address = Data->moduleAddress;
    return Transact(*Data, m_address, command, subCode, d);
}

QString TKalibraceDialog::errorText(quint8 code) const
{
    return ErrorText(Data->adapterKind, code);
}

TKalibraceDialog::WriteResult TKalibraceDialog::writeVerified(quint8 memoryAddress, quint8 value, quint8 &error)
{
    ModuleBytes d{0, memoryAddress, memoryAddress, value, value};
    error = transact(103, 0, d);
    if (error != 0)
        return WriteResult::TransactionError;
    d = {0, memoryAddress, memoryAddress, 0, 0};
    error = transact(102, 0, d);
    if (error != 0)
        return WriteResult::TransactionError;
    return d[3] == value ? WriteResult::Ok : WriteResult::Mismatch;
}

bool TKalibraceDialog::measure(int waitMs, quint8 subCode, ModuleBytes &d)
{
    setStatus(MeasuringStatus);
    rq::pause(waitMs);
    setStatus(QStringLiteral(" "));
    d = {};
    const quint8 error = transact(0, subCode, d);
    if (error == 0)
        return true;
    const QString text = errorText(error);
    setStatus(QLatin1Char(' ') + text);
    appendLine(text);
    VypisKalibraceUkoncena();
    return false;
}

bool TKalibraceDialog::parseNumber(const QString &text, double &value)
{
    bool ok = false;
    value = QLocale().toDouble(text, &ok);
    return ok && std::isfinite(value);
}

void TKalibraceDialog::VypisKalibraceUkoncena()
{
    appendLines({QString(), m_cancelledText, QString(), SeparatorLine, QString(), m_startInstruction});
    m_state = 0;
}

void TKalibraceDialog::Button3Click()
{
    reject();
}

void TKalibraceDialog::Button4Click()
{
    if (!Data || !checkConnection())
        return;
    if (m_state != 0)
        VypisKalibraceUkoncena();
}
