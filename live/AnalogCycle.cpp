#include "live/AnalogCycle.h"

#include "app/Dekl.h"
#include "comm/Opakovani.h"
#include "comm/Prikazy.h"
#include "core/Cp1250.h"

#include <algorithm>
#include <chrono>

namespace {
constexpr quint8 ThermometerAddress = 31; // the internal thermometer's setting

quint8 send(const AnalogCycle::TransactFn &transact, const TData &data, quint8 address, quint8 command,
            quint8 sub, ModuleBytes &d)
{
    return transact ? transact(data, address, command, sub, d) : Transact(data, address, command, sub, d);
}
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

AnalogCycle::AnalogCycle(qint64 rereadPeriod, Clock clock)
    : m_period(std::max<qint64>(0, rereadPeriod)), m_clock(std::move(clock))
{
    if (!m_clock) {
        m_clock = [] {
            return std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now().time_since_epoch())
                .count();
        };
    }
}

void AnalogCycle::rereadUnits()
{
    if (follows())
        m_identify = true;
}

AnalogReading AnalogCycle::run(const TData &data, quint8 address, const KeepGoing &keepGoing)
{
    AnalogReading r;
    restart();
    if (!data.ready()) {
        step(data, address, r);
        return r;
    }
    begin();
    for (;;) {
        // As the monitor always did: events before every transaction but
        // the identification.
        if (m_step != Identify && keepGoing && !keepGoing()) {
            r.outcome = AnalogReading::Outcome::Stopped;
            return r;
        }
        if (step(data, address, r))
            return r;
    }
}

void AnalogCycle::begin()
{
    m_reading = AnalogReading{};
    if (follows())
        m_cycleStart = m_clock();
    if (!m_unitsRead || m_identify) {
        m_step = Identify;
    } else if (follows() && (m_cycleStart - m_unitsAt >= m_period || m_cycleStart < m_unitsAt)) {
        // (A clock set back counts as due: the period would never end.)
        m_readModel = m_model;
        m_step = FirstRange;
    } else {
        m_step = FirstValue;
    }
}

void AnalogCycle::adoptUnits()
{
    quint32 changed = 0;
    if (m_unitsRead) {
        for (int i = 0; i < AnalogReading::InputCount; ++i)
            if (m_readUnits[static_cast<std::size_t>(i)] != m_units[static_cast<std::size_t>(i)])
                changed |= 1u << i;
        if (m_readTemperatureUnit != m_temperatureUnit)
            changed |= 1u << AnalogReading::InputCount;
    }
    if (changed)
        ++m_unitChanges;
    m_reading.unitsChanged = changed;
    m_model = m_readModel;
    m_units = m_readUnits; // the internal temperature's stays empty
    m_temperatureUnit = m_readTemperatureUnit;
    m_thermometer = m_readThermometer;
    m_unitsRead = true;
    m_identify = false;
    m_unitsAt = m_cycleStart;
    m_step = FirstValue;
}

bool AnalogCycle::finish(AnalogReading &reading)
{
    reading = m_reading;
    m_step = 0;
    return true;
}

bool AnalogCycle::fail(AnalogReading &reading, quint8 error)
{
    m_reading.outcome = AnalogReading::Outcome::Failed;
    m_reading.error = error;
    rereadUnits();
    return finish(reading);
}

bool AnalogCycle::step(const TData &data, quint8 address, AnalogReading &reading)
{
    if (!data.ready()) {
        // Connected anew, it may be another module.
        rereadUnits();
        m_step = 0;
        reading = AnalogReading{};
        return true;
    }
    if (m_step == 0)
        begin();

    if (m_step == Identify) {
        m_bytes = {};
        if (const quint8 error = send(m_transact, data, address, CmdIdentify, SubModelCode, m_bytes))
            return fail(reading, error);
        QString code;
        for (std::size_t k = 1; k <= 4; ++k)
            code.append(FromCp1250(m_bytes[k]));
        m_readModel = AinModelOfCode(code);
        m_step = FirstRange;
    } else if (m_step < Thermometer) {
        const auto a = static_cast<quint8>(m_step - FirstRange);
        m_bytes = {0, a, a, 0, 0};
        if (const quint8 error = send(m_transact, data, address, CmdReadMemory, 0, m_bytes))
            return fail(reading, error);
        m_readUnits[a] = AinUnitText(m_readModel, m_bytes[3]);
        if (++m_step == Thermometer && !follows())
            adoptUnits();
    } else if (m_step == Thermometer) {
        m_bytes = {0, ThermometerAddress, ThermometerAddress, 0, 0};
        if (const quint8 error = send(m_transact, data, address, CmdReadMemory, 0, m_bytes))
            return fail(reading, error);
        m_readThermometer = m_bytes[3];
        m_readTemperatureUnit = (m_bytes[3] & 1) ? QStringLiteral("°C") : QStringLiteral("dílky");
        adoptUnits();
    } else {
        const int i = m_step - FirstValue;
        const auto sub = i < AnalogReading::InputCount ? static_cast<quint8>(i) : SubTemperature;
        const quint8 error = send(m_transact, data, address, CmdMeasure, sub, m_bytes);
        if (error && !(m_skipRefused && IsModuleError(error)))
            return fail(reading, error);
        AnalogValue &v = m_reading.values[static_cast<std::size_t>(i)];
        v.unit = m_units[static_cast<std::size_t>(i)];
        if (error) {
            m_reading.refusedValues |= 1u << i;
            m_reading.error = error;
        } else {
            v.value = DecodeMeasuredValue(m_bytes[1], m_bytes[2], m_bytes[3], m_bytes[4]);
            v.decimals = m_bytes[4] & 0x7F;
        }
        if (++m_step == End) {
            m_reading.outcome = AnalogReading::Outcome::Complete;
            return finish(reading);
        }
    }
    return false;
}

ModuleBytes BitsToBytes(quint32 bits)
{
    return {0, static_cast<quint8>(bits), static_cast<quint8>(bits >> 8), static_cast<quint8>(bits >> 16),
            static_cast<quint8>(bits >> 24)};
}

quint32 BytesToBits(const ModuleBytes &d)
{
    return quint32(d[1]) | quint32(d[2]) << 8 | quint32(d[3]) << 16 | quint32(d[4]) << 24;
}

quint8 ReadDigitalInputs(const TData &data, quint8 address, quint32 &bits,
                         const AnalogCycle::TransactFn &transact)
{
    ModuleBytes d{};
    const quint8 error = send(transact, data, address, CmdMeasure, SubDigitalInputs, d);
    if (error == 0)
        bits = BytesToBits(d);
    return error;
}

quint8 ReadStatusRegister(const TData &data, quint8 address, quint32 &bits,
                          const AnalogCycle::TransactFn &transact)
{
    ModuleBytes d{};
    const quint8 error = send(transact, data, address, CmdReadStatus, 0, d);
    if (error == 0)
        bits = BytesToBits(d);
    return error;
}

quint8 WriteDigitalOutputs(const TData &data, quint8 address, quint32 bits,
                           const AnalogCycle::TransactFn &transact)
{
    ModuleBytes d = BitsToBytes(bits);
    return send(transact, data, address, CmdWriteOutputs, SubDigitalInputs, d);
}
