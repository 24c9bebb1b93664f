#include "live/OkamAIN.h"

#include "app/Cp1250.h"
#include "app/Dekl.h"
#include "app/Pauza.h"
#include "app/StatusBar.h"
#include "live/FixedPoint.h"
#include "live/ValuePanel.h"

#include <QGridLayout>
#include <QLabel>
#include <QTimer>

namespace {
constexpr quint8 CmdMeasure = 0;
constexpr quint8 CmdReadMemory = 102;
constexpr quint8 CmdIdentify = 200;
constexpr quint8 SubModelCode = 1;
constexpr quint8 SubTemperature = 16;
} // namespace

AinModel AinModelOfCode(const QString &code)
{
    if (code == u"510 ")
        return AinModel::RQ3510;
    if (code == u"520 ")
        return AinModel::RQ3520;
    if (code == u"530 ")
        return AinModel::RQ3530;
    return AinModel::Unknown;
}

QString AinUnitText(AinModel model, quint8 range)
{
    switch (model) {
    case AinModel::RQ3510:
        return range <= 6 ? QStringLiteral("V") : QStringLiteral("ohm");
    case AinModel::RQ3520:
        return range <= 4 ? QStringLiteral("V") : QStringLiteral("°C");
    case AinModel::RQ3530:
        switch ((range >> 4) & 3) {
        case 0:
            return QStringLiteral("ohm");
        case 1:
            return QStringLiteral("K");
        case 2:
            return QStringLiteral("°C");
        default:
            return QStringLiteral("°F");
        }
    case AinModel::Unknown:
        break;
    }
    return {};
}

TForm3::TForm3(QWidget *parent) : TLiveDialog(parent)
{
    setWindowTitle(QStringLiteral("Okamžité hodnoty analogových vstupů"));

    QGridLayout *grid = this->grid();
    grid->setHorizontalSpacing(6);
    grid->setColumnMinimumWidth(2, 24);

    const int half = InputCount / 2;
    for (int side = 0; side < 2; ++side) {
        ValueColumn c;
        c.grid = grid;
        c.column = 3 * side;
        c.head = QStringLiteral("Hodnota");
        for (int k = 0; k < half; ++k)
            c.captions << QStringLiteral("Vstup %1").arg(side * half + k);
        c.namePrefix = QStringLiteral("Hodnota");
        c.firstIndex = side * half;
        c.valueWidth = 130;
        const QList<QLabel *> labels = AddValueColumn(this, c);
        for (int k = 0; k < half; ++k)
            Hodnota[static_cast<std::size_t>(side * half + k)] = labels.at(k);
    }
    grid->setRowMinimumHeight(half + 1, 12);
    ValueColumn t;
    t.grid = grid;
    t.row = half + 2;
    t.captions << QStringLiteral("Interní teplota");
    t.namePrefix = QStringLiteral("Hodnota");
    t.firstIndex = InputCount;
    t.valueWidth = 130;
    Hodnota[InputCount] = AddValueColumn(this, t).first();

    addFooter(CyclePause);
    // A coarse timer may fire up to 5 % late; the pause between cycles is short.
    Timer1->setTimerType(Qt::PreciseTimer);
}

void TForm3::done(int result)
{
    if (m_inCycle) {
        // The cycle still uses the window: it stops before its next
        // transaction and closes the dialog on its way out.
        m_closeRequested = true;
        m_closeResult = result;
        return;
    }
    Timer1->stop();
    QDialog::done(result);
}

void TForm3::Timer1Timer()
{
    if (!Data || m_inCycle)
        return;
    Timer1->stop();
    m_inCycle = true;
    const QPointer<TForm3> self(this);
    cycle(self);
    if (!self)
        return; // destroyed while events were processed: touch nothing
    m_inCycle = false;
    if (m_closeRequested) {
        m_closeRequested = false;
        done(m_closeResult);
        return;
    }
    Timer1->start(CyclePause);
}

bool TForm3::keepGoing(const QPointer<TForm3> &self)
{
    rq::processEvents();
    return self && !m_closeRequested && Data;
}

void TForm3::cycle(const QPointer<TForm3> &self)
{
    if (!canSend())
        return;

    if (!m_unitsRead) {
        m_bytes = {};
        quint8 error = transact(CmdIdentify, SubModelCode, m_bytes);
        if (error != 0) {
            showResult(error);
            return;
        }
        QString code;
        for (std::size_t k = 1; k <= 4; ++k)
            code.append(FromCp1250(m_bytes[k]));
        const AinModel model = AinModelOfCode(code);
        std::array<QString, ValueCount> units;
        for (int i = 0; i < InputCount; ++i) {
            if (!keepGoing(self))
                return;
            const auto address = static_cast<quint8>(i);
            m_bytes = {0, address, address, 0, 0};
            error = transact(CmdReadMemory, 0, m_bytes);
            if (error != 0) {
                showResult(error);
                return;
            }
            units[static_cast<std::size_t>(i)] = AinUnitText(model, m_bytes[3]);
        }
        m_units = units; // the internal temperature's unit stays empty
        m_unitsRead = true;
    }

    std::array<float, ValueCount> values{};
    std::array<quint8, ValueCount> decimals{};
    for (int i = 0; i < ValueCount; ++i) {
        if (!keepGoing(self))
            return;
        const auto sub = i < InputCount ? static_cast<quint8>(i) : SubTemperature;
        const quint8 error = transact(CmdMeasure, sub, m_bytes);
        if (error != 0) {
            showResult(error); // the labels keep the last complete cycle
            return;
        }
        const auto k = static_cast<std::size_t>(i);
        values[k] = static_cast<float>(DecodeMeasuredValue(m_bytes[1], m_bytes[2], m_bytes[3], m_bytes[4]));
        decimals[k] = m_bytes[4] & 0x7F;
    }
    m_values = values;
    m_decimals = decimals;
    for (std::size_t k = 0; k < ValueCount; ++k)
        Hodnota[k]->setText(FormatFixed(m_values[k], m_decimals[k]) + QStringLiteral(" ") + m_units[k]);
    // Repainted only when it changes: every good cycle writes the same text.
    const QString ok = QStringLiteral(" ") + ErrorText(Data->adapterKind, 0);
    if (StatusBar1->text(0) != ok)
        StatusBar1->setText(0, ok);
    ++m_completed;
}
