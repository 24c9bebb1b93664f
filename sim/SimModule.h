// One simulated RQ module: configuration memory, analog and digital I/O,
// internal thermometer and status register, answering the command set the
// way the module firmware does. No I/O here; the simulator feeds it requests.
#ifndef RQ_SIM_SIMMODULE_H
#define RQ_SIM_SIMMODULE_H

#include "RqFrame.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>

class SimModule
{
public:
    enum class Model { RQ3510, RQ3520, RQ3530 };

    // What an analog input's value means, chosen by its range byte.
    enum class Quantity { Volts, Ohms, Celsius };

    static constexpr int kMemorySize = 512;
    static constexpr std::uint32_t kStatusPwr = 1u << 4;
    static constexpr std::uint32_t kStatusRst = 1u << 5;

    SimModule(Model model, const QString &firmware, std::uint8_t address, std::uint8_t baudIndex);

    // Sets the memory to the factory defaults for the given address and baud index.
    void resetMemory(std::uint8_t address, std::uint8_t baudIndex);
    // Power-up: takes the address (63) and baud index (62) from memory, latches
    // the outputs' initial state and sets PWR and RST in the status register.
    void powerUp();

    rqframe::Reply handle(const rqframe::Request &request, qint64 nowMs);

    Model model() const { return m_model; }
    QString modelName() const; // "RQ-3510"
    QString firmware() const { return m_firmware; }
    std::uint8_t address() const { return m_address; }
    std::uint8_t baudIndex() const { return m_baudIndex; }
    std::uint32_t baudRate() const;
    int inputCount() const { return m_model == Model::RQ3530 ? 6 : 12; }

    std::array<std::uint8_t, kMemorySize> memory{};

    // Simulated world, set from the command line and the control channel.
    std::array<double, 12> volts{};
    std::array<double, 12> ohms{};
    std::array<double, 12> celsius{};
    double gainError = 0;    // analog front end: U * (1 + gainError) + offsetError
    double offsetError = 0;  // volts
    double temperature = 25; // internal thermometer, °C
    double thermoGainError = 0;
    double thermoZeroError = 0; // raw counts
    bool jumperShorted = false; // thermometer calibration jumper
    // An input that moves on its own: from `from` to `to` in periodMs, then
    // again from `from` (a saw tooth), counted from startMs.
    struct Ramp
    {
        bool active = false;
        Quantity quantity = Quantity::Volts;
        double from = 0, to = 0;
        qint64 periodMs = 1000, startMs = 0;
    };
    std::array<Ramp, 12> ramps{};
    bool dinWalking = true; // a moving bit, until the control channel sets the inputs
    std::uint32_t dinPhysical = 0;
    std::uint32_t doutLatched = 0;
    std::uint32_t status = 0;

    // Quantity of input i under its current range byte; false when the byte
    // names no range the model knows.
    bool quantity(int input, Quantity &q) const;
    std::uint32_t dinReported(qint64 nowMs) const;
    // Sets every ramping input to its value at nowMs.
    void applyRamps(qint64 nowMs);
    std::uint32_t doutPhysical() const;
    // Raw thermometer count as the converter delivers it.
    std::uint32_t thermometerRaw() const;

    static bool parseModel(const QString &text, Model &model);
    static std::uint32_t baudOfIndex(std::uint8_t index);

private:
    std::uint8_t measure(int input, std::array<std::uint8_t, 5> &d) const;
    void measureThermometer(std::array<std::uint8_t, 5> &d) const;
    std::uint32_t bytes32(int first, int step) const;

    Model m_model;
    QString m_firmware;
    std::uint8_t m_address;
    std::uint8_t m_baudIndex;
};

// Encodes a value in the measured value format (sign-and-magnitude, decimals in D4).
void encodeMeasured(double value, int decimals, std::array<std::uint8_t, 5> &d);

#endif
