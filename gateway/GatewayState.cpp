#include "gateway/GatewayState.h"

#include <bit>
#include <cmath>

UnitCode UnitCodeOfText(const QString &unit)
{
    if (unit == u"V")
        return UnitCode::Volt;
    if (unit == u"ohm")
        return UnitCode::Ohm;
    if (unit == u"°C")
        return UnitCode::Celsius;
    if (unit == u"K")
        return UnitCode::Kelvin;
    if (unit == u"°F")
        return UnitCode::Fahrenheit;
    return UnitCode::None;
}

UnitCode TemperatureUnit(quint8 setting)
{
    if (!(setting & 0x80))
        return UnitCode::None; // switched off: the module reports 0
    return (setting & 1) ? UnitCode::Celsius : UnitCode::Counts;
}

std::array<quint16, RegisterMap::InputRegisterEnd> InputRegisters(const ModuleSnapshot &m, qint64 nowMs,
                                                                  bool lowWordFirst)
{
    using namespace RegisterMap;
    std::array<quint16, InputRegisterEnd> r{};
    const std::size_t high = lowWordFirst ? 1 : 0;
    const auto putU32 = [&](int at, quint32 v) {
        r[static_cast<std::size_t>(at) + high] = static_cast<quint16>(v >> 16);
        r[static_cast<std::size_t>(at) + 1 - high] = static_cast<quint16>(v);
    };
    const auto putFloat = [&](int at, float v) { putU32(at, std::bit_cast<quint32>(v)); };
    for (int i = 0; i < ModuleSnapshot::Inputs; ++i) {
        putFloat(2 * i, m.ain[static_cast<std::size_t>(i)]);
        r[static_cast<std::size_t>(26 + i)] = m.ainUnit[static_cast<std::size_t>(i)];
    }
    putFloat(24, m.temperature);
    r[38] = m.temperatureUnit;
    r[Online] = m.online ? 1 : 0;
    r[LastError] = m.lastError;
    // An age that does not fit says "very old", never a small number.
    const qint64 age =
        m.lastCompleteMs < 0 ? 0xFFFFFFFF : std::min<qint64>(nowMs - m.lastCompleteMs, 0xFFFFFFFF);
    putU32(Age, static_cast<quint32>(std::max<qint64>(age, 0)));
    putU32(Status, m.status);
    putU32(Complete, m.completeCycles);
    putU32(Failed, m.failedCycles);
    r[OutputsKnown] = m.doutKnown ? 1 : 0;
    r[Drift] = m.drift == 1 ? 1 : 0;
    return r;
}

std::optional<quint8> RequestException(const ModuleSnapshot *m, const RequestView &r, bool allowWrites,
                                       qint64 nowMs, qint64 staleMs)
{
    using namespace ModbusException;
    if (!m)
        return PathUnavailable;
    const bool fresh = m->fresh(nowMs, staleMs);
    const int end = r.address + r.count;
    switch (r.function) {
    case 5:  // write single coil
    case 15: // write multiple coils
        if (!allowWrites)
            return IllegalFunction;
        if (r.function == 15 && (r.count < 1 || r.count > 1968))
            return std::nullopt; // libmodbus: illegal data value
        if (end > RegisterMap::Coils)
            return IllegalAddress;
        return fresh ? std::nullopt : std::optional<quint8>(TargetFailed);
    case 6:
    case 16:
    case 22:
    case 23: // the holding registers are the read-only map: written by no client
        return IllegalFunction;
    case 1:
    case 2:
        if (r.count < 1 || r.count > 2000)
            return std::nullopt;
        if (end > (r.function == 1 ? RegisterMap::Coils : RegisterMap::DiscreteInputs))
            return IllegalAddress;
        return fresh ? std::nullopt : std::optional<quint8>(TargetFailed);
    case 3: // holding registers: what most clients read by default, the same map
    case 4: {
        if (r.count < 1 || r.count > 125)
            return std::nullopt;
        const bool values = end <= RegisterMap::ValuesEnd;
        const bool state = r.address >= RegisterMap::StateFirst && end <= RegisterMap::InputRegisterEnd;
        if (!values && !state)
            return IllegalAddress;
        // The gateway's own view (online, last error, age, ...) is what a
        // client reads to learn why values fail: it is always served.
        return state || fresh ? std::nullopt : std::optional<quint8>(TargetFailed);
    }
    case 7: // read exception status: libmodbus leaves it unanswered, the client would wait
        return IllegalFunction;
    default:
        return std::nullopt; // libmodbus answers: illegal function
    }
}

quint32 MergeCoils(quint32 known, int address, int count, quint32 values)
{
    if (count <= 0 || address < 0 || address >= 32)
        return known;
    const quint64 mask64 = ((quint64(1) << std::min(count, 32 - address)) - 1) << address;
    const auto mask = static_cast<quint32>(mask64);
    return (known & ~mask) | ((values << address) & mask);
}

const char *UnitSymbol(quint16 code)
{
    switch (static_cast<UnitCode>(code)) {
    case UnitCode::Volt:
        return "V";
    case UnitCode::Ohm:
        return "ohm";
    case UnitCode::Celsius:
        return "°C";
    case UnitCode::Kelvin:
        return "K";
    case UnitCode::Fahrenheit:
        return "°F";
    default:
        return nullptr;
    }
}
