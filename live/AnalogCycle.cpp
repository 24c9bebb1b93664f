#include "live/AnalogCycle.h"

#include "app/Dekl.h"
#include "comm/Prikazy.h"
#include "core/Cp1250.h"

namespace {

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

AnalogReading AnalogCycle::run(const TData &data, quint8 address, const KeepGoing &keepGoing)
{
    using Outcome = AnalogReading::Outcome;
    AnalogReading r;
    if (!data.ready())
        return r;
    const auto go = [&keepGoing] { return !keepGoing || keepGoing(); };
    const auto fail = [&r](quint8 error) {
        r.outcome = Outcome::Failed;
        r.error = error;
        return r;
    };

    if (!m_unitsRead) {
        m_bytes = {};
        quint8 error = send(m_transact, data, address, CmdIdentify, SubModelCode, m_bytes);
        if (error != 0)
            return fail(error);
        QString code;
        for (std::size_t k = 1; k <= 4; ++k)
            code.append(FromCp1250(m_bytes[k]));
        const AinModel model = AinModelOfCode(code);
        std::array<QString, AnalogReading::ValueCount> units;
        for (int i = 0; i < AnalogReading::InputCount; ++i) {
            if (!go()) {
                r.outcome = Outcome::Stopped;
                return r;
            }
            const auto a = static_cast<quint8>(i);
            m_bytes = {0, a, a, 0, 0};
            error = send(m_transact, data, address, CmdReadMemory, 0, m_bytes);
            if (error != 0)
                return fail(error);
            units[static_cast<std::size_t>(i)] = AinUnitText(model, m_bytes[3]);
        }
        m_model = model;
        m_units = units; // the internal temperature's unit stays empty
        m_unitsRead = true;
    }

    for (int i = 0; i < AnalogReading::ValueCount; ++i) {
        if (!go()) {
            r.outcome = Outcome::Stopped;
            return r;
        }
        const auto sub = i < AnalogReading::InputCount ? static_cast<quint8>(i) : SubTemperature;
        const quint8 error = send(m_transact, data, address, CmdMeasure, sub, m_bytes);
        if (error != 0)
            return fail(error);
        AnalogValue &v = r.values[static_cast<std::size_t>(i)];
        v.value = DecodeMeasuredValue(m_bytes[1], m_bytes[2], m_bytes[3], m_bytes[4]);
        v.decimals = m_bytes[4] & 0x7F;
        v.unit = m_units[static_cast<std::size_t>(i)];
    }
    r.outcome = Outcome::Complete;
    return r;
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
