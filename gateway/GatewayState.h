#ifndef RQ_GATEWAY_GATEWAYSTATE_H
#define RQ_GATEWAY_GATEWAYSTATE_H

#include <QString>

#include <array>
#include <cstdint>
#include <limits>
#include <optional>

// What the gateway knows of one module after its last cycles: written by the
// polling thread, copied out by the Modbus server and by anyone who publishes
// the values elsewhere. A plain value: copying it is the whole interface.
struct ModuleSnapshot
{
    static constexpr int Inputs = 12;

    QString name;
    quint8 address = 0;
    quint32 baud = 0;
    int unit = -1;    // Modbus unit id, -1 when not served
    QString model;    // "RQ-3510", empty before the module identified itself
    QString firmware; // "1.08"

    bool online = false;
    quint8 lastError = 0; // code of the last failed transaction, 0 after a complete cycle
    // Whether the values may still be served: online and younger than the
    // stale age, the module's own where it has one, else the one given.
    bool fresh(qint64 nowMs, qint64 staleMs) const
    {
        return online && lastCompleteMs >= 0 &&
               nowMs - lastCompleteMs <= (ownStaleMs > 0 ? ownStaleMs : staleMs);
    }
    qint64 ownStaleMs = 0; // the module's stale age, from the configuration; 0 none
    qint64 lastCompleteMs =
        -1; // monotonic ms of the last complete cycle's first read (its oldest value), -1 never
    quint32 completeCycles = 0;
    quint32 failedCycles = 0;

    std::array<float, Inputs> ain;
    std::array<quint16, Inputs> ainUnit{};
    std::array<quint8, Inputs> ainDecimals{}; // as the module reports them and the monitor shows
    float temperature = std::numeric_limits<float>::quiet_NaN();
    quint8 temperatureDecimals = 1;
    quint16 temperatureUnit = 0;
    quint32 din = 0;
    quint32 status = 0;
    quint32 dout = 0;       // the outputs as the gateway knows them
    bool doutKnown = false; // false: assumed from the initial state
    // Whether the settings bytes the plant file names differ from it: -1 not
    // known (no settings given, or not read yet), 0 as the file says, 1 not.
    int drift = -1;

    ModuleSnapshot() { ain.fill(std::numeric_limits<float>::quiet_NaN()); }
};

// The unit codes of the register map: every unit the analog monitor shows,
// and the raw counts of a thermometer that is not set to degrees.
enum class UnitCode : quint16 {
    None = 0,
    Volt = 1,
    Ohm = 2,
    Celsius = 3,
    Kelvin = 4,
    Fahrenheit = 5,
    Counts = 6
};
UnitCode UnitCodeOfText(const QString &unit);
// The unit as plain text for MQTT and metrics ("V", "ohm", "°C", "K", "°F"); nullptr for none or counts.
const char *UnitSymbol(quint16 code);
// The internal thermometer's unit from its setting byte (configuration memory 31).
UnitCode TemperatureUnit(quint8 setting);

// The register map, PDU addresses from 0.
namespace RegisterMap {
constexpr int Coils = 32;
constexpr int DiscreteInputs = 32;
constexpr int ValuesEnd = 39;   // input registers 0..38: values and units
constexpr int StateFirst = 100; // input registers 100..111: the gateway's view
constexpr int InputRegisterEnd = 112;
constexpr quint16 Online = 100, LastError = 101, Age = 102, Status = 104, Complete = 106, Failed = 108,
                  OutputsKnown = 110, Drift = 111;
} // namespace RegisterMap

namespace ModbusException {
constexpr quint8 IllegalFunction = 0x01;
constexpr quint8 IllegalAddress = 0x02;
constexpr quint8 IllegalValue = 0x03;
constexpr quint8 DeviceFailure = 0x04;
constexpr quint8 DeviceBusy = 0x06;
constexpr quint8 PathUnavailable = 0x0A;
constexpr quint8 TargetFailed = 0x0B;
} // namespace ModbusException

// Input registers 0..111 of a snapshot at monotonic time nowMs (39..99 are
// 0). Holding registers are the same map. A 32-bit value (float or
// counter) takes two registers, high word first unless lowWordFirst: clients
// and devices differ, so the gateway lets its integrator choose.
std::array<quint16, RegisterMap::InputRegisterEnd> InputRegisters(const ModuleSnapshot &m, qint64 nowMs,
                                                                  bool lowWordFirst = false);

// One Modbus request as far as the gateway looks at it.
struct RequestView
{
    int function = 0;
    int address = 0;
    int count = 0; // 1 for a single coil write
};

// The exception a request gets before anything is read or written; nothing
// when the request goes on (to the map, or to the server's check of its
// form, which answers malformed quantities and unknown functions). m is null for a unit
// id with no module; a value older than staleMs counts as a failed device.
std::optional<quint8> RequestException(const ModuleSnapshot *m, const RequestView &r, bool allowWrites,
                                       qint64 nowMs, qint64 staleMs);

// Coils after a write of count coils from address: values holds them from bit 0.
quint32 MergeCoils(quint32 known, int address, int count, quint32 values);

#endif
