#include "SimModule.h"

#include <algorithm>
#include <cmath>

namespace {

// One converter step of the analog front end on the +/- 50 mV range; the
// other voltage ranges scale it with their full scale.
constexpr double kStep = 0.2384258553e-5;

struct Range
{
    SimModule::Quantity quantity;
    double fullScale; // volts or ohms
    int decimals;
};

// RQ-3510 codes 0..10; the RQ-3520 shares codes 0..4.
constexpr Range kRanges3510[] = {
    {SimModule::Quantity::Volts, 0.02, 7}, {SimModule::Quantity::Volts, 0.05, 7},
    {SimModule::Quantity::Volts, 0.1, 6},  {SimModule::Quantity::Volts, 0.2, 6},
    {SimModule::Quantity::Volts, 0.5, 6},  {SimModule::Quantity::Volts, 1.0, 5},
    {SimModule::Quantity::Volts, 2.0, 5},  {SimModule::Quantity::Ohms, 100, 3},
    {SimModule::Quantity::Ohms, 500, 2},   {SimModule::Quantity::Ohms, 1000, 2},
    {SimModule::Quantity::Ohms, 5000, 1},
};

// RQ-3530 sensor types 0..3 are resistance ranges; 4..8 resistance
// thermometers with their resistance at 0 °C and temperature coefficient.
constexpr double kRtdR0[] = {100, 100, 100, 1000, 2000};
constexpr double kRtdAlpha[] = {0.00385, 0.00391, 0.00618, 0.00618, 0.0079};

std::uint16_t word(const std::array<std::uint8_t, SimModule::kMemorySize> &m, int at)
{
    return static_cast<std::uint16_t>(m[static_cast<std::size_t>(at)] |
                                      (m[static_cast<std::size_t>(at) + 1] << 8));
}

} // namespace

void encodeMeasured(double value, int decimals, std::array<std::uint8_t, 5> &d)
{
    double scaled = std::fabs(value);
    for (int i = 0; i < decimals; ++i)
        scaled *= 10;
    const auto magnitude = static_cast<std::uint32_t>(std::min(std::llround(scaled), 0x7FFFFFLL));
    d[1] = static_cast<std::uint8_t>(magnitude & 0xFF);
    d[2] = static_cast<std::uint8_t>((magnitude >> 8) & 0xFF);
    d[3] = static_cast<std::uint8_t>(((magnitude >> 16) & 0x7F) | (value < 0 && magnitude != 0 ? 0x80 : 0));
    d[4] = static_cast<std::uint8_t>(decimals & 0x7F);
}

SimModule::SimModule(Model model, const QString &firmware, std::uint8_t address, std::uint8_t baudIndex)
    : m_model(model), m_firmware(firmware), m_address(address), m_baudIndex(baudIndex)
{
    for (std::size_t i = 0; i < 12; ++i) {
        volts[i] = 0.0125 * static_cast<double>(i + 1);
        ohms[i] = 50.0 + 10.0 * static_cast<double>(i);
        celsius[i] = 20.0 + static_cast<double>(i);
    }
    resetMemory(address, baudIndex);
    powerUp();
}

void SimModule::resetMemory(std::uint8_t address, std::uint8_t baudIndex)
{
    memory.fill(0);
    for (int i = 0; i < 12; ++i) {
        std::uint8_t range = 0;
        switch (m_model) {
        case Model::RQ3510:
            range = 6;
            break;
        case Model::RQ3520:
            range = 4;
            break;
        case Model::RQ3530:
            range = i < 6 ? 0x83 : 0;
            break;
        }
        memory[static_cast<std::size_t>(i)] = range;
    }
    memory[16] = 12;
    memory[23] = 16; // analog gain 10000 = 1
    memory[24] = 39;
    memory[25] = 0; // analog offset 0
    memory[26] = 0;
    memory[27] = 16; // thermometer gain 10000 = 1
    memory[28] = 39;
    memory[29] = 0x00; // thermometer offset 32768 = none
    memory[30] = 0x80;
    memory[31] = 0x81; // thermometer on, °C
    for (int k = 0; k < 4; ++k) {
        memory[static_cast<std::size_t>(32 + 3 * k)] = 0x00; // DOUT initial state
        memory[static_cast<std::size_t>(33 + 3 * k)] = 0xFF; // DIN negation
        memory[static_cast<std::size_t>(34 + 3 * k)] = 0xFF; // DOUT negation
    }
    memory[62] = baudIndex;
    memory[63] = address;
}

void SimModule::powerUp()
{
    m_address = memory[63];
    m_baudIndex = memory[62];
    doutLatched = bytes32(32, 3);
    status = kStatusPwr | kStatusRst;
}

QString SimModule::modelName() const
{
    switch (m_model) {
    case Model::RQ3510:
        return QStringLiteral("RQ-3510");
    case Model::RQ3520:
        return QStringLiteral("RQ-3520");
    case Model::RQ3530:
        return QStringLiteral("RQ-3530");
    }
    return {};
}

bool SimModule::parseModel(const QString &text, Model &model)
{
    QString t = text.toUpper();
    t.remove(QStringLiteral("RQ-"));
    t.remove(QStringLiteral("RQ"));
    if (t == u"3510")
        model = Model::RQ3510;
    else if (t == u"3520")
        model = Model::RQ3520;
    else if (t == u"3530")
        model = Model::RQ3530;
    else
        return false;
    return true;
}

std::uint32_t SimModule::baudOfIndex(std::uint8_t index)
{
    static constexpr std::uint32_t kRates[] = {600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
    return index < 9 ? kRates[index] : 9600; // an unknown index falls back to 9600, as the tool does
}

std::uint32_t SimModule::baudRate() const
{
    return baudOfIndex(m_baudIndex);
}

std::uint32_t SimModule::bytes32(int first, int step) const
{
    std::uint32_t v = 0;
    for (int k = 0; k < 4; ++k)
        v |= static_cast<std::uint32_t>(memory[static_cast<std::size_t>(first + step * k)]) << (8 * k);
    return v;
}

std::uint32_t SimModule::dinReported(qint64 nowMs) const
{
    const std::uint32_t physical = dinWalking ? (1u << ((nowMs / 250) % 32)) : dinPhysical;
    return physical ^ bytes32(33, 3);
}

void SimModule::applyRamps(qint64 nowMs)
{
    for (std::size_t i = 0; i < ramps.size(); ++i) {
        const Ramp &r = ramps[i];
        if (!r.active)
            continue;
        const qint64 period = std::max<qint64>(1, r.periodMs);
        const double f = static_cast<double>(((nowMs - r.startMs) % period + period) % period) /
                         static_cast<double>(period);
        (r.quantity == Quantity::Ohms      ? ohms
         : r.quantity == Quantity::Celsius ? celsius
                                           : volts)[i] = r.from + (r.to - r.from) * f;
    }
}

std::uint32_t SimModule::doutPhysical() const
{
    return doutLatched ^ bytes32(34, 3);
}

bool SimModule::quantity(int input, Quantity &q) const
{
    const std::uint8_t r = memory[static_cast<std::size_t>(input)];
    switch (m_model) {
    case Model::RQ3510:
        if (r > 10)
            return false;
        q = kRanges3510[r].quantity;
        return true;
    case Model::RQ3520:
        if (r > 14)
            return false;
        q = r <= 4 ? Quantity::Volts : Quantity::Celsius;
        return true;
    case Model::RQ3530:
        if ((r & 0x0F) > 8)
            return false;
        q = (r & 0x0F) <= 3 ? Quantity::Ohms : Quantity::Celsius;
        return true;
    }
    return false;
}

std::uint32_t SimModule::thermometerRaw() const
{
    const double tenthsOfKelvin = jumperShorted ? 0.0 : (temperature + 273.1) * 10.0;
    const double raw = thermoZeroError + tenthsOfKelvin * (1.0 + thermoGainError);
    return static_cast<std::uint32_t>(std::clamp(std::llround(raw), 0LL, 65535LL));
}

std::uint8_t SimModule::measure(int input, std::array<std::uint8_t, 5> &d) const
{
    const auto i = static_cast<std::size_t>(input);
    const std::uint8_t r = memory[i];
    Quantity q;
    if (!quantity(input, q))
        return rqframe::ModuleBadData; // range byte the firmware does not know
    if (m_model == Model::RQ3520 && input >= std::max<int>(memory[16], 1)) {
        encodeMeasured(0, 0, d); // not measured: the count of measured inputs is below
        return rqframe::ModuleOk;
    }
    if (m_model == Model::RQ3530) {
        const int sensor = r & 0x0F;
        const int unit = (r >> 4) & 3;
        if (sensor <= 3) {
            encodeMeasured(std::clamp(ohms[i], 0.0, kRanges3510[7 + sensor].fullScale),
                           kRanges3510[7 + sensor].decimals, d);
            return rqframe::ModuleOk;
        }
        const double t = celsius[i];
        double value = t;
        switch (unit) {
        case 0:
            value = kRtdR0[sensor - 4] * (1.0 + kRtdAlpha[sensor - 4] * t);
            break;
        case 1:
            value = t + 273.15;
            break;
        case 2:
            value = t;
            break;
        case 3:
            value = t * 9.0 / 5.0 + 32.0;
            break;
        }
        encodeMeasured(value, 2, d);
        return rqframe::ModuleOk;
    }
    if (q == Quantity::Celsius) { // RQ-3520 thermocouple: the firmware linearises to °C
        encodeMeasured(celsius[i], 1, d);
        return rqframe::ModuleOk;
    }
    const Range &range = kRanges3510[r];
    if (q == Quantity::Ohms) {
        encodeMeasured(std::clamp(ohms[i], 0.0, range.fullScale), range.decimals, d);
        return rqframe::ModuleOk;
    }
    // Voltage: the converter count as the hardware delivers it, then the
    // firmware's calibration: corrected = (raw - 32768 + O/2) * G / 10000.
    const double step = kStep * range.fullScale / 0.05;
    const double rawExact = 32768.0 + (volts[i] * (1.0 + gainError) + offsetError) / step;
    const auto raw = static_cast<double>(std::clamp(std::llround(rawExact), 0LL, 65535LL));
    const double gain = word(memory, 23);
    const std::uint16_t o = word(memory, 25);
    const double offset = (o & 0x8000) ? -static_cast<double>(o & 0x7FFF) : static_cast<double>(o);
    const double corrected = (raw - 32768.0 + offset / 2.0) * gain / 10000.0;
    encodeMeasured(corrected * step, range.decimals, d);
    return rqframe::ModuleOk;
}

void SimModule::measureThermometer(std::array<std::uint8_t, 5> &d) const
{
    const std::uint8_t setting = memory[31];
    if (!(setting & 0x80)) { // measurement off: value 0, no decimals
        d[1] = d[2] = d[3] = d[4] = 0;
        return;
    }
    const std::uint32_t raw = thermometerRaw();
    if (!(setting & 0x01)) { // raw counts: D2 * 256 + D1
        d[1] = static_cast<std::uint8_t>(raw & 0xFF);
        d[2] = static_cast<std::uint8_t>(raw >> 8);
        d[3] = 0;
        d[4] = 0;
        return;
    }
    const double offset = word(memory, 29);
    const double gain = word(memory, 27);
    const double celsius = ((static_cast<double>(raw) + offset - 32768.0) * gain / 10000.0) / 10.0 - 273.1;
    encodeMeasured(celsius, 1, d);
}

rqframe::Reply SimModule::handle(const rqframe::Request &request, qint64 nowMs)
{
    rqframe::Reply reply;
    reply.address = request.address;
    reply.command = request.command;
    reply.subcode = request.subcode;
    reply.d = request.d;
    const int sub = request.subcode;
    auto put32 = [&reply](std::uint32_t v) {
        for (std::size_t k = 0; k < 4; ++k)
            reply.d[1 + k] = static_cast<std::uint8_t>((v >> (8 * k)) & 0xFF);
    };
    switch (request.command) {
    case 0:
        applyRamps(nowMs);
        if (sub < inputCount())
            reply.error = measure(sub, reply.d);
        else if (sub < 12)
            encodeMeasured(
                0, 0,
                reply.d); // an RQ-3530 answers for the inputs it lacks with 0, as monitors ask all twelve
        else if (sub == 16)
            measureThermometer(reply.d);
        else if (sub == 64)
            put32(dinReported(nowMs));
        else
            reply.error = rqframe::ModuleBadSubcode;
        break;
    case 1:
        if (sub == 64) {
            doutLatched = 0;
            for (std::size_t k = 0; k < 4; ++k)
                doutLatched |= static_cast<std::uint32_t>(request.d[1 + k]) << (8 * k);
        } else {
            reply.error = rqframe::ModuleBadSubcode;
        }
        break;
    case 100:
        if (sub == 0)
            put32(status);
        else
            reply.error = rqframe::ModuleBadSubcode;
        break;
    case 101:
        if (sub == 0)
            status = 0;
        else
            reply.error = rqframe::ModuleBadSubcode;
        break;
    case 102:
    case 103:
        if (sub > 1) {
            reply.error = rqframe::ModuleBadSubcode;
            break;
        }
        if (request.command == 103)
            memory[static_cast<std::size_t>(sub * 256 + request.d[1])] = request.d[3];
        reply.d[3] = memory[static_cast<std::size_t>(sub * 256 + request.d[1])];
        break;
    case 200: {
        QByteArray text;
        if (sub == 0)
            text = "RQ-3";
        else if (sub == 1)
            text = modelName().mid(4).toLatin1() + ' ';
        else if (sub == 2)
            text = m_firmware.toLatin1();
        else {
            reply.error = rqframe::ModuleBadSubcode;
            break;
        }
        text = text.leftJustified(4, ' ', true);
        for (std::size_t k = 0; k < 4; ++k)
            reply.d[1 + k] = static_cast<std::uint8_t>(text[static_cast<qsizetype>(k)]);
        break;
    }
    default:
        reply.error = rqframe::ModuleUnknownCommand;
        break;
    }
    return reply;
}
