#include "calib/KalibraceVypocet.h"

#include <cmath>

namespace kalibrace {

namespace {
// Counts are carried as doubles between the steps, as the module's own
// procedure holds them.
double truncToDouble(long double value)
{
    return static_cast<double>(std::trunc(value));
}
} // namespace

long double RoundHalfEven(long double value)
{
    const long double lower = std::floor(value);
    const long double fraction = value - lower;
    if (fraction > 0.5L)
        return lower + 1;
    if (fraction < 0.5L)
        return lower;
    return std::fmod(lower, 2.0L) == 0 ? lower : lower + 1;
}

bool VoltageInBand(double volts)
{
    const long double v = volts;
    return v >= LowestVolts && v <= HighestVolts;
}

AinConstants ComputeAin(double enteredVolts, double zeroReading, double referenceReading)
{
    AinConstants c;
    if (!VoltageInBand(enteredVolts)) {
        c.outcome = Outcome::OutOfBand;
        return c;
    }
    c.voltageCount =
        truncToDouble(static_cast<long double>(enteredVolts) / FullScaleVolts * 32767 + MidScale);
    c.zeroCount = truncToDouble(static_cast<long double>(zeroReading) / StepVoltsE5 * 100000 + MidScale);
    c.referenceCount =
        truncToDouble(static_cast<long double>(referenceReading) / StepVoltsE5 * 100000 + MidScale);

    const long double span = static_cast<long double>(c.referenceCount) - c.zeroCount;
    if (span == 0 || !std::isfinite(span))
        return c;
    c.ratio = (static_cast<long double>(c.voltageCount) - MidScale) * 10000 / span;
    // Written so that a NaN fails as well.
    if (!(c.ratio >= 0 && c.ratio <= 65535))
        return c;

    const long double d = (MidScale - c.zeroCount) * 2;
    if (!(std::fabs(d) <= 32767))
        return c;
    c.offsetD = static_cast<qint32>(d);
    c.gain = static_cast<quint16>(RoundHalfEven(c.ratio));
    c.offset = static_cast<quint16>(c.offsetD >= 0 ? c.offsetD : 32768 - c.offsetD);
    c.outcome = Outcome::Ok;
    return c;
}

ItConstants ComputeIt(double enteredCelsius, quint16 zeroReading, quint16 referenceReading)
{
    ItConstants c;
    c.offset = static_cast<quint16>((32768 - static_cast<int>(zeroReading)) & 0xFFFF);
    c.temperatureCount = truncToDouble(static_cast<long double>(enteredCelsius) * 10 + 2731);

    const long double span = static_cast<long double>(referenceReading) - zeroReading;
    if (span == 0)
        return c;
    c.ratio = static_cast<long double>(c.temperatureCount) / span * 10000;
    if (!(c.ratio >= 0 && c.ratio <= 65535))
        return c;
    c.gain = static_cast<quint16>(std::trunc(c.ratio));
    c.outcome = Outcome::Ok;
    return c;
}

} // namespace kalibrace
