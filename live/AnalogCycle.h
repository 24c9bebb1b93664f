#ifndef RQ_LIVE_ANALOGCYCLE_H
#define RQ_LIVE_ANALOGCYCLE_H

#include "comm/Kxxx638.h"

#include <QString>

#include <array>
#include <functional>

struct TData;

// Module models the analog monitor tells apart by their model code.
enum class AinModel { Unknown, RQ3510, RQ3520, RQ3530 };

// The model of the four characters of the model code ("510 ", "520 ", "530 ").
AinModel AinModelOfCode(const QString &code);
// Unit text of an analog input of the model with the given range byte.
QString AinUnitText(AinModel model, quint8 range);

// One measured value as the module reported it.
struct AnalogValue
{
    double value = 0;    // decoded from D1..D4
    quint8 decimals = 0; // bits 6..0 of D4: decimals reported and shown
    QString unit;        // as the monitor shows it; always empty for the temperature
};

// What one cycle gave.
struct AnalogReading
{
    enum class Outcome {
        Complete,     // all thirteen values read
        Failed,       // a transaction failed: error holds its code, values are not set
        NotConnected, // nothing sent: the record has no ready connection
        Stopped       // the caller asked to stop between two transactions
    };
    static constexpr int InputCount = 12;
    static constexpr int ValueCount = InputCount + 1; // inputs 0..11, then the internal temperature

    Outcome outcome = Outcome::NotConnected;
    quint8 error = 0; // the failed transaction's code (Failed only)
    std::array<AnalogValue, ValueCount> values{};
    // Values whose unit the units read at this cycle's start changed: bit i
    // for value i, bit 12 the temperature's unit (°C or counts). Set also
    // when the values then failed; 0 for the first read.
    quint32 unitsChanged = 0;
    // Values the module refused (bit i for value i) in a cycle that went on
    // past them (setSkipRefusedValues); error holds the last refusal's code.
    quint32 refusedValues = 0;

    bool complete() const { return outcome == Outcome::Complete; }
    const AnalogValue &input(int i) const { return values.at(static_cast<std::size_t>(i)); }
    const AnalogValue &temperature() const { return values[InputCount]; }
};

// The analog monitor's cycle, without any window: the model code and the
// twelve range bytes (for the units), then the twelve inputs and the
// internal temperature.
//
// Two ways to keep the units:
//   - once (AnalogCycle()): read before the first value and never again
//     while the object lives, as the analog monitor does; a failed
//     identification is repeated by the next cycle.
//   - following the module (AnalogCycle(period)): the internal thermometer's
//     setting (memory address 31) is read with them; the range and
//     thermometer bytes are read again by the first cycle that starts
//     period ms or more after the last read, and everything with the model
//     code after a cycle with a failed transaction (the module may have been
//     replaced or reconfigured meanwhile) and after rereadUnits(). Until
//     such a read succeeds no value is read, so a value never goes out with
//     a unit older than the last failure.
//
// Every measurement request carries on D0..D4 of the reply before it, as the
// monitor always did; a failed reply leaves zeros.
//
//   AnalogCycle cycle;                    // AnalogCycle cycle(30'000);
//   const AnalogReading r = cycle.run(data, data.moduleAddress);
//   if (r.complete()) ... r.input(3).value, r.input(3).unit ...
//   else if (r.outcome == AnalogReading::Outcome::Failed) ... ErrorText(data.adapterKind, r.error) ...
//
// A caller that must not block (a window's timer) runs it one transaction
// at a time: while (!cycle.step(data, address, r)) { ... }
class AnalogCycle
{
public:
    // ms, for the period of the units' re-read; a monotonic clock by default.
    using Clock = std::function<qint64()>;

    AnalogCycle() = default;
    explicit AnalogCycle(qint64 rereadPeriod, Clock clock = {});

    // How one transaction goes to the bus; Transact unless a caller that
    // repeats failed transactions (the gateway) puts its own in.
    using TransactFn = std::function<quint8(const TData &, quint8, quint8, quint8, ModuleBytes &)>;
    void setTransact(TransactFn transact) { m_transact = std::move(transact); }

    // Asked before every transaction of the cycle but the identification; false ends
    // the run at once (Stopped). A window processes its pending events here;
    // after a false the run touches nothing of this object, so a window that
    // was destroyed meanwhile may own it.
    using KeepGoing = std::function<bool()>;

    // One cycle to the module at address. Without keepGoing the transactions
    // run back to back. A cycle that step() had begun is dropped.
    AnalogReading run(const TData &data, quint8 address, const KeepGoing &keepGoing = {});
    // One transaction of the cycle (none when the record is not connected).
    // True when it ended the cycle; reading then holds what it gave.
    bool step(const TData &data, quint8 address, AnalogReading &reading);
    // The next step begins a new cycle (after a pause in which the module
    // may have changed, call rereadUnits() too).
    void restart() { m_step = 0; }
    bool inCycle() const { return m_step != 0; }
    // Following the module: the next cycle reads the model code and the
    // units before any value (a transaction of the caller's own to this
    // module failed). Once: nothing.
    void rereadUnits();
    // A value the module refuses (a module error: it answered) leaves just
    // that value out and the cycle goes on, for a table whose cells stand
    // alone; no answer at all still ends the cycle. Off: any failure ends it.
    void setSkipRefusedValues(bool on) { m_skipRefused = on; }

    qint64 rereadPeriod() const { return m_period; }
    bool unitsRead() const { return m_unitsRead; }
    AinModel model() const { return m_model; }
    // Unit of value index 0..12 as the monitor shows it; empty before the
    // units are read and always for the temperature (12).
    QString unit(int index) const { return m_units.at(static_cast<std::size_t>(index)); }
    const std::array<QString, AnalogReading::ValueCount> &units() const { return m_units; }
    // The internal temperature's unit by the thermometer setting: "°C" or
    // "dílky"; empty when not read (always, read once).
    QString temperatureUnit() const { return m_temperatureUnit; }
    // The thermometer's setting byte itself (bit 7 on, bit 0 degrees), read with it.
    quint8 thermometerSetting() const { return m_thermometer; }
    // How many reads so far found other units than the read before.
    quint32 unitChanges() const { return m_unitChanges; }

private:
    enum : int {
        Identify = 1,
        FirstRange = 2,                // 12 range bytes
        Thermometer = FirstRange + 12, // following the module only
        FirstValue = Thermometer + 1,  // 13 values
        End = FirstValue + AnalogReading::ValueCount
    };
    bool follows() const { return m_period > 0; }
    void begin();
    void adoptUnits();
    bool finish(AnalogReading &reading);
    bool fail(AnalogReading &reading, quint8 error);

    qint64 m_period = 0; // 0: units once
    Clock m_clock;
    int m_step = 0; // 0: no cycle begun
    AnalogReading m_reading;
    bool m_unitsRead = false;
    bool m_skipRefused = false;
    bool m_identify = false; // following: the model code and units before the next values
    qint64 m_unitsAt = 0;    // clock at the start of the cycle that read them
    qint64 m_cycleStart = 0;
    quint32 m_unitChanges = 0;
    AinModel m_model = AinModel::Unknown;
    std::array<QString, AnalogReading::ValueCount> m_units;
    QString m_temperatureUnit;
    AinModel m_readModel = AinModel::Unknown;
    std::array<QString, AnalogReading::ValueCount> m_readUnits;
    QString m_readTemperatureUnit;
    quint8 m_thermometer = 0;
    quint8 m_readThermometer = 0;
    ModuleBytes m_bytes{}; // D0..D4 of the last reply
    TransactFn m_transact;
};

// One read of the 32 digital inputs (command 0, sub-code 64): DINn is bit n.
// Returns the error code; bits is set only on success.
quint8 ReadDigitalInputs(const TData &data, quint8 address, quint32 &bits,
                         const AnalogCycle::TransactFn &transact = {});
// One read of the 32-bit status register (command 100): bit n is bit n % 8
// of D(1 + n / 8). Returns the error code; bits is set only on success.
quint8 ReadStatusRegister(const TData &data, quint8 address, quint32 &bits,
                          const AnalogCycle::TransactFn &transact = {});
// Writes all 32 digital outputs at once (command 1, sub-code 64): DOUTn is bit n.
// The module answers nothing but whether it took them. Returns the error code.
quint8 WriteDigitalOutputs(const TData &data, quint8 address, quint32 bits,
                           const AnalogCycle::TransactFn &transact = {});
// The four data bytes D1..D4 of 32 bits, bit n in bit n % 8 of D(1 + n / 8), and back.
ModuleBytes BitsToBytes(quint32 bits);
quint32 BytesToBits(const ModuleBytes &d);

#endif
