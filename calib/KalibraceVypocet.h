#ifndef RQ_CALIB_KALIBRACEVYPOCET_H
#define RQ_CALIB_KALIBRACEVYPOCET_H

#include <QtGlobal>

// Arithmetic of the two calibration procedures. Pure functions: what the
// module measured and what the technician entered go in, the constants to
// write (or the reason there are none) come out. Everything is evaluated in
// long double (a 64-bit significand on x86-64); the module's constants were
// derived that way, and the rounding at the band limits depends on it.

namespace kalibrace {

// Converter counts are offset by 32768 (mid-scale stands for 0 V).
constexpr long double MidScale = 32768.0L;
// Voltage 32767 converter steps above mid-scale.
constexpr long double FullScaleVolts = 0.078125L;
// Voltage of one converter step, times 10^5 (0.078125 / 32767 to ten digits).
constexpr long double StepVoltsE5 = 0.2384258553L;
// The entered reference voltage is accepted within this band. The memo text
// asks for 0,04-0,05 V; the wider band tolerates a slightly off source.
constexpr long double LowestVolts = 0.03L;
constexpr long double HighestVolts = 0.06L;
// Neutral gain: 10000 means gain 1.
constexpr quint16 NeutralGain = 10000;

enum class Outcome {
    Ok,
    OutOfBand,      // entered voltage outside the accepted band
    BadMeasurement, // equal counts, gain or offset outside its field
};

// Whether the entered voltage lies in the accepted band. The double is
// compared with the extended limits, so 0,06 passes and 0,03 (just below
// 0.03L as a double) does not. Not-a-number never passes.
bool VoltageInBand(double volts);

struct AinConstants
{
    Outcome outcome = Outcome::BadMeasurement;
    // Converter counts of the entered voltage and the two readings.
    double voltageCount = 0;
    double zeroCount = 0;
    double referenceCount = 0;
    long double ratio = 0; // gain ratio K before rounding
    qint32 offsetD = 0;    // D = (32768 - zero count) * 2, before the sign encoding
    quint16 gain = 0;      // K rounded, halves to even
    quint16 offset = 0;    // bit 15 sign (1 = negative), bits 14..0 magnitude
};

// Constants of the analog measuring chain from the entered reference
// voltage, the reading of the shorted input and the reading of the
// reference voltage (volts, as decoded from the module).
AinConstants ComputeAin(double enteredVolts, double zeroReading, double referenceReading);

struct ItConstants
{
    Outcome outcome = Outcome::BadMeasurement;
    double temperatureCount = 0; // tenths of a kelvin, 0 °C taken as 273.1 K
    long double ratio = 0;       // gain ratio K before truncation
    quint16 gain = 0;            // K truncated
    quint16 offset = 0;          // (32768 - zero reading) modulo 65536
};

// Constants of the internal thermometer from the entered temperature (°C)
// and the raw counts with the jumper shorted and open.
ItConstants ComputeIt(double enteredCelsius, quint16 zeroReading, quint16 referenceReading);

// Rounds to the nearest integer, halves to the even neighbour, whatever the
// floating-point environment's rounding mode is.
long double RoundHalfEven(long double value);

} // namespace kalibrace

#endif
