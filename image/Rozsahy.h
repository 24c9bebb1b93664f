#ifndef RQ_IMAGE_ROZSAHY_H
#define RQ_IMAGE_ROZSAHY_H

#include <QStringList>

// The items the analog input dialogs offer, in code order (the item index is
// the code stored in the range or sensor byte). Kept in the core so the
// configuration image decoder names a byte exactly as the dialogs show it.

// Range items of the RQ-3510; the odd inputs offer only the voltage ranges.
const QStringList &Ranges3510();
constexpr int VoltageRanges3510 = 7;

// Range and thermocouple items of the RQ-3520.
const QStringList &Ranges3520();

// Sensor type (bits 0-3), unit (bits 4-5) and wiring (bits 6-7) of the RQ-3530.
const QStringList &Sensors3530();
const QStringList &Units3530();
const QStringList &Wirings3530();

// The sensor byte of the codes, in 8 bits.
quint8 PackSensor3530(int sensor, int unit, int wiring);

#endif
