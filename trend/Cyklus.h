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
// A cycle: until the units are known, the model code, the twelve range bytes
// and the internal thermometer setting; then the analog monitor's thirteen
// values (each request carrying the bytes of the reply before it, as the
// monitor does); then one read of the digital inputs. A failed analog
// transaction skips to the digital inputs; failed unit reads are repeated by
// the next cycle. So the units are read before the first value, and a
// record's header can carry them from its first line.
//
//   TrendCycle cycle;
//   TrendSample s;
//   while (!cycle.step(data, address, now(), s)) {}   // or cycle.run(...)
class TrendCycle
{
public:
    // One transaction. True when it ended a cycle: sample then holds it,
    // stamped with the time given to the cycle's first step. error (when
    // given) gets the first failure's code of that cycle, 0 when none.
    bool step(const TData &data, quint8 address, qint64 time, TrendSample &sample, quint8 *error = nullptr);
    // A whole cycle back to back.
    TrendSample run(const TData &data, quint8 address, qint64 time, quint8 *error = nullptr);
    // Starts the next step with a new cycle (after the window was hidden).
    void restart();

    bool inCycle() const { return m_step != 0; }
    bool unitsKnown() const { return m_unitsKnown; }
    AinModel model() const { return m_model; }
    // The thirteen units as the monitor shows them (the temperature's is
    // empty); all empty until known.
    const std::array<QString, TrendSample::ValueCount> &units() const { return m_units; }
    // Unit of the internal temperature as the module reports it: "°C" or
    // "dílky"; empty until known.
    QString temperatureUnit() const { return m_temperatureUnit; }

private:
    enum : int {
        Identify = 1,
        FirstRange = 2,                               // 12 range bytes
        Thermometer = FirstRange + 12,                // the thermometer setting
        FirstValue = Thermometer + 1,                 // 13 values
        Inputs = FirstValue + TrendSample::ValueCount // the digital inputs
    };

    int m_step = 0; // 0: no cycle begun
    TrendSample m_sample;
    quint8 m_error = 0;
    ModuleBytes m_bytes{};
    bool m_unitsKnown = false;
    AinModel m_model = AinModel::Unknown;
    AinModel m_readModel = AinModel::Unknown;
    std::array<QString, TrendSample::ValueCount> m_units{};
    std::array<QString, TrendSample::ValueCount> m_readUnits{};
    QString m_temperatureUnit;
};

#endif
