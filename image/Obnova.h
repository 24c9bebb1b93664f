#ifndef RQ_IMAGE_OBNOVA_H
#define RQ_IMAGE_OBNOVA_H

#include "dio/EepromFile.h"

#include <QString>
#include <QStringList>

// What writing a whole EEPROM file into the connected module would put at
// risk, judged only from what the tool knows without asking the module: the
// file, and the address, baud rate and identity the connection was set up
// with. One Czech line per reason, empty when there is none:
//
//   "Adresa modulu: 1 → 100"                   the module answers at another address after its next power-up
//   "Komunikační rychlost: 9600 Bd → 600 Bd"   ... or at another baud rate
//   "Soubor neodpovídá modelu RQ-3510 (AIN1)"  a range or sensor byte the connected model does not know
//   "Soubor má 600 bajtů, ne 512."             the file is no configuration image of this tool
//
// An identity of no known model skips the model reason.
QStringList RestoreRisks(const EepromBlock &block, qint64 fileSize, quint8 moduleAddress, quint32 baudRate,
                         const QString &identity);

// The question to put before such a write: the reasons, what follows from
// them, and whether to write anyway.
QString RestoreQuestion(const QStringList &risks);

#endif
