#ifndef RQ_LIVE_OKAMAIN_H
#define RQ_LIVE_OKAMAIN_H

#include "live/LiveDialog.h"

#include <QPointer>

#include <array>

class QLabel;

// Module models the analog monitor tells apart by their model code.
enum class AinModel { Unknown, RQ3510, RQ3520, RQ3530 };

// The model of the four characters of the model code ("510 ", "520 ", "530 ").
AinModel AinModelOfCode(const QString &code);
// Unit text of an analog input of the model with the given range byte.
QString AinUnitText(AinModel model, quint8 range);

// Live values of the twelve analog inputs and the internal temperature.
//
// One cycle per timer tick: the timer is stopped for the whole cycle and
// restarted 10 ms after it ends, so the refresh rate follows the bus. The
// first complete cycle also reads the model code and the twelve range bytes
// for the units. Pending events are processed between transactions; a close
// requested meanwhile ends the cycle before its next transaction, and the
// dialog closes only once the cycle has returned.
class TForm3 : public TLiveDialog
{
    Q_OBJECT
public:
    explicit TForm3(QWidget *parent = nullptr);

    static constexpr int InputCount = 12;
    static constexpr int ValueCount = InputCount + 1; // inputs, then the internal temperature
    static constexpr int CyclePause = 10;             // ms between the end of a cycle and the next

    std::array<QLabel *, ValueCount> Hodnota{}; // Hodnota0..Hodnota11, Hodnota12 the temperature

    bool unitsRead() const { return m_unitsRead; }
    QString unitText(int index) const { return m_units.at(static_cast<std::size_t>(index)); }
    bool inCycle() const { return m_inCycle; }
    // Cycles that ended with all thirteen labels written.
    quint64 completedCycles() const { return m_completed; }

public slots:
    void Timer1Timer() override;
    void done(int result) override;

private:
    void cycle(const QPointer<TForm3> &self);
    // Processes pending events; false when the cycle must end (closed or gone).
    bool keepGoing(const QPointer<TForm3> &self);

    bool m_unitsRead = false;
    std::array<QString, ValueCount> m_units;
    std::array<float, ValueCount> m_values{};
    std::array<quint8, ValueCount> m_decimals{};
    // D0..D4 of the last reply; the measurement requests carry them on.
    ModuleBytes m_bytes{};
    bool m_inCycle = false;
    bool m_closeRequested = false;
    int m_closeResult = Rejected;
    quint64 m_completed = 0;
};

#endif
