#ifndef RQ_LIVE_OKAMAIN_H
#define RQ_LIVE_OKAMAIN_H

#include "live/AnalogCycle.h"
#include "live/LiveDialog.h"

#include <QPointer>

#include <array>

class QLabel;

// Live values of the twelve analog inputs and the internal temperature.
//
// One cycle per timer tick (see TCycleDialog); the first complete cycle also
// reads the model code and the twelve range bytes for the units. After a
// failed cycle the labels keep the last complete cycle's values, greyed
// until the next one.
class TForm3 : public TCycleDialog
{
    Q_OBJECT
public:
    explicit TForm3(QWidget *parent = nullptr);

    static constexpr int InputCount = AnalogReading::InputCount;
    static constexpr int ValueCount = AnalogReading::ValueCount; // inputs, then the internal temperature

    std::array<QLabel *, ValueCount> Hodnota{}; // Hodnota0..Hodnota11, Hodnota12 the temperature

    bool unitsRead() const { return m_cycle.unitsRead(); }
    QString unitText(int index) const { return m_cycle.unit(index); }
    // Cycles that ended with all thirteen labels written.
    quint64 completedCycles() const { return m_completed; }

protected:
    void cycle(const QPointer<TCycleDialog> &self) override;

private:
    AnalogCycle m_cycle;
    std::array<float, ValueCount> m_values{};
    std::array<quint8, ValueCount> m_decimals{};
    quint64 m_completed = 0;
};

#endif
