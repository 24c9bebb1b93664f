#include "trend/Cyklus.h"

#include "app/Dekl.h"
#include "comm/Prikazy.h"

TrendCycle::TrendCycle() : m_analog(UnitsPeriod, [this] { return m_time; }) {}

void TrendCycle::restart()
{
    m_step = 0;
    m_analog.restart();
    m_analog.rereadUnits();
}

std::array<QString, TrendSample::ValueCount> TrendCycle::units() const
{
    std::array<QString, TrendSample::ValueCount> u = m_analog.units();
    u[TrendSample::ValueCount - 1] = m_analog.temperatureUnit();
    return u;
}

TrendSample TrendCycle::run(const TData &data, quint8 address, qint64 time, quint8 *error)
{
    TrendSample s;
    while (!step(data, address, time, s, error)) {
    }
    return s;
}

bool TrendCycle::step(const TData &data, quint8 address, qint64 time, TrendSample &sample, quint8 *error)
{
    if (m_step == 0) {
        m_sample = TrendSample{};
        m_sample.time = m_time = time;
        m_error = 0;
        m_step = Analog;
    }
    if (m_step == Analog) {
        AnalogReading r;
        if (m_analog.step(data, address, r)) {
            if (r.complete()) {
                for (std::size_t k = 0; k < std::size_t(TrendSample::ValueCount); ++k) {
                    m_sample.values[k] = r.values[k].value;
                    m_sample.decimals[k] = r.values[k].decimals;
                }
                m_sample.analogValid = true;
            } else {
                m_error = r.error;
            }
            m_step = Inputs;
        }
        return false;
    }
    // The digital inputs end the cycle.
    ModuleBytes d{};
    if (const quint8 e = Transact(data, address, CmdMeasure, SubDigitalInputs, d)) {
        if (m_error == 0)
            m_error = e;
        m_analog.rereadUnits(); // the module was away: its units may be others now
    } else {
        m_sample.dinValid = true;
        m_sample.din = BytesToBits(d);
    }
    m_sample.unitsKnown = unitsKnown();
    m_sample.units = units();
    if (m_error != 0)
        m_sample.error = ErrorText(data.adapterKind, m_error).trimmed();
    if (error)
        *error = m_error;
    sample = m_sample;
    m_step = 0;
    return true;
}
