#ifndef RQ_TREND_CYKLUS_H
#define RQ_TREND_CYKLUS_H

#include "live/AnalogCycle.h"
#include "trend/Historie.h"

#include <array>

struct TData;

// The cycle of values over time, one transaction per step, so a window can
// run it from a timer and never needs its own event loop to be free: a file
// dialog or a question opened meanwhile runs its nested loop, the timer
// keeps firing there, and reading goes on.
//
// A cycle: the analog monitor's, with units that follow the module (the
// model code, the twelve range bytes and the internal thermometer's setting
// before the first value, the range and thermometer bytes again every
// UnitsPeriod and everything after a failed transaction: see AnalogCycle);
// then one read of the digital inputs. A failed analog transaction skips to
// the digital inputs. So the units are known before the first value, and a
// record's header can carry them from its first line.
//
//   TrendCycle cycle;
//   TrendSample s;
//   while (!cycle.step(data, address, now(), s)) {}   // or cycle.run(...)
class TrendCycle
{
public:
    static constexpr qint64 UnitsPeriod = 30'000; // ms between two reads of the units

    TrendCycle();
    TrendCycle(const TrendCycle &) = delete;
    TrendCycle &operator=(const TrendCycle &) = delete;

    // One transaction. True when it ended a cycle: sample then holds it,
    // stamped with the time given to the cycle's first step (which is also
    // the clock of the units' period). error (when given) gets the first
    // failure's code of that cycle, 0 when none.
    bool step(const TData &data, quint8 address, qint64 time, TrendSample &sample, quint8 *error = nullptr);
    // A whole cycle back to back.
    TrendSample run(const TData &data, quint8 address, qint64 time, quint8 *error = nullptr);
    // Starts the next step with a new cycle and the units read anew (after
    // the window was hidden: the module may have changed meanwhile).
    void restart();

    bool inCycle() const { return m_step != 0; }
    bool unitsKnown() const { return m_analog.unitsRead(); }
    AinModel model() const { return m_analog.model(); }
    // The thirteen units: the inputs' as the monitor shows them, the
    // internal temperature's as the module reports it ("°C" or "dílky");
    // all empty until known.
    std::array<QString, TrendSample::ValueCount> units() const;
    QString temperatureUnit() const { return m_analog.temperatureUnit(); }
    const AnalogCycle &analogCycle() const { return m_analog; }

private:
    enum : int { Analog = 1, Inputs = 2 };

    qint64 m_time = 0;
    AnalogCycle m_analog;
    int m_step = 0; // 0: no cycle begun
    TrendSample m_sample;
    quint8 m_error = 0;
};

#endif
