#include "trend/Cyklus.h"

#include "app/Dekl.h"
#include "comm/Prikazy.h"
#include "core/Cp1250.h"

namespace {
constexpr quint8 ThermometerAddress = 31;
} // namespace

void TrendCycle::restart()
{
    m_step = 0;
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
        m_sample.time = time;
        m_error = 0;
        m_step = m_unitsKnown ? int(FirstValue) : int(Identify);
    }
    const auto failed = [this](quint8 code) {
        if (m_error == 0)
            m_error = code;
        m_step = Inputs;
    };

    if (m_step == Identify) {
        m_bytes = {};
        if (const quint8 e = Transact(data, address, CmdIdentify, SubModelCode, m_bytes)) {
            failed(e);
        } else {
            QString code;
            for (std::size_t k = 1; k <= 4; ++k)
                code.append(FromCp1250(m_bytes[k]));
            m_readModel = AinModelOfCode(code);
            m_step = FirstRange;
        }
    } else if (m_step >= FirstRange && m_step < Thermometer) {
        const auto a = static_cast<quint8>(m_step - FirstRange);
        m_bytes = {0, a, a, 0, 0};
        if (const quint8 e = Transact(data, address, CmdReadMemory, 0, m_bytes)) {
            failed(e);
        } else {
            m_readUnits[a] = AinUnitText(m_readModel, m_bytes[3]);
            ++m_step;
        }
    } else if (m_step == Thermometer) {
        m_bytes = {0, ThermometerAddress, ThermometerAddress, 0, 0};
        if (const quint8 e = Transact(data, address, CmdReadMemory, 0, m_bytes)) {
            failed(e);
        } else {
            m_temperatureUnit = (m_bytes[3] & 1) ? QStringLiteral("°C") : QStringLiteral("dílky");
            m_model = m_readModel;
            m_units = m_readUnits; // the temperature's stays empty
            m_unitsKnown = true;
            ++m_step;
        }
    } else if (m_step >= FirstValue && m_step < Inputs) {
        const int i = m_step - FirstValue;
        const auto sub = i < AnalogReading::InputCount ? static_cast<quint8>(i) : SubTemperature;
        if (const quint8 e = Transact(data, address, CmdMeasure, sub, m_bytes)) {
            failed(e);
        } else {
            const auto k = static_cast<std::size_t>(i);
            m_sample.values[k] = DecodeMeasuredValue(m_bytes[1], m_bytes[2], m_bytes[3], m_bytes[4]);
            m_sample.decimals[k] = m_bytes[4] & 0x7F;
            if (++m_step == Inputs)
                m_sample.analogValid = true;
        }
    } else { // the digital inputs end the cycle
        ModuleBytes d{};
        if (const quint8 e = Transact(data, address, CmdMeasure, SubDigitalInputs, d)) {
            if (m_error == 0)
                m_error = e;
        } else {
            m_sample.dinValid = true;
            m_sample.din = quint32(d[1]) | quint32(d[2]) << 8 | quint32(d[3]) << 16 | quint32(d[4]) << 24;
        }
        m_sample.unitsKnown = m_unitsKnown;
        m_sample.units = m_units;
        if (m_error != 0)
            m_sample.error = ErrorText(data.adapterKind, m_error).trimmed();
        if (error)
            *error = m_error;
        sample = m_sample;
        m_step = 0;
        return true;
    }
    return false;
}
