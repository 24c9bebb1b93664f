#ifndef RQ_LIVE_FIXEDPOINT_H
#define RQ_LIVE_FIXEDPOINT_H

#include <QString>

// A measured value as the monitors and the calibration show it: rounded to
// five significant digits or to the given decimals, whichever keeps fewer
// digits, then written with exactly the given decimals and the decimal
// separator of the default locale. More than five digits before the separator
// give scientific notation (1,2346E+05).
QString FormatFixed(double value, int decimals);

#endif
