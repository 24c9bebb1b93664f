#include "live/OkamAIN.h"

#include "app/Dekl.h"
#include "app/StatusBar.h"
#include "live/FixedPoint.h"
#include "live/ValuePanel.h"

#include <QGridLayout>
#include <QLabel>
#include <QTimer>

TForm3::TForm3(QWidget *parent) : TCycleDialog(parent)
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

void TForm3::cycle(const QPointer<TCycleDialog> &self)
{
    if (!canSend()) {
        showStale(Hodnota);
        return;
    }
    const AnalogReading r = m_cycle.run(*Data, address(), [&] { return keepGoing(self); });
    if (r.outcome == AnalogReading::Outcome::Stopped)
        return; // closed or gone: touch nothing
    if (!r.complete()) {
        if (r.outcome == AnalogReading::Outcome::Failed)
            showResult(r.error);
        showStale(Hodnota); // the labels keep the last complete cycle
        return;
    }
    for (std::size_t k = 0; k < ValueCount; ++k) {
        m_values[k] = static_cast<float>(r.values[k].value);
        m_decimals[k] = r.values[k].decimals;
    }
    for (std::size_t k = 0; k < ValueCount; ++k)
        Hodnota[k]->setText(FormatFixed(m_values[k], m_decimals[k]) + QStringLiteral(" ") + r.values[k].unit);
    showStale(Hodnota, false);
    // Repainted only when it changes: every good cycle writes the same text.
    const QString ok = QStringLiteral(" ") + ErrorText(Data->adapterKind, 0);
    if (StatusBar1->text(0) != ok)
        StatusBar1->setText(0, ok);
    ++m_completed;
}
