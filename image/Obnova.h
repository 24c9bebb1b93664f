#ifndef RQ_IMAGE_OBNOVA_H
#define RQ_IMAGE_OBNOVA_H

#include "dio/EepromFile.h"
#include "image/Obraz.h"

#include <QString>
#include <QStringList>

#include <optional>

// What writing a whole EEPROM file into the connected module would put at
// risk, judged only from what the tool knows without asking the module: the
// file, and the address, baud rate and identity the connection was set up
// with. One Czech line per reason, empty when there is none:
//
//   "Adresa modulu: 1 → 100"                   the module answers at another address after its next power-up
//   "Komunikační rychlost: 9600 Bd → 600 Bd"   ... or at another baud rate
//   "Soubor neodpovídá modelu RQ-3510 (AIN1)"  a range or sensor byte the connected model does not know
//   "Soubor má 600 bajtů, ne 512."             the file is no configuration image of this tool
//   "Název souboru patří modelu RQ-3520 …"     the file is named as a backup of another model
//   "Obsah souboru odpovídá spíš modelu …"     another model knows more of its input bytes
//
// An identity of no known model skips the model reasons.
QStringList RestoreRisks(const EepromBlock &block, qint64 fileSize, const QString &fileName,
                         quint8 moduleAddress, quint32 baudRate, const QString &identity);

// The model a backup's file name carries, as this tool names backups
// ("RQ-3520_a1_2026-12-07.kee"); empty for other names.
std::optional<ModuleModel> ModelOfBackupName(const QString &fileName);

// The models whose input settings explain more of the block than the
// connected model's do: more of the twelve range or sensor bytes are valid
// for them than for it (an RQ-3530 reads six). Empty when none does.
QList<ModuleModel> ModelsFittingBetter(const EepromBlock &block, ModuleModel connected);

QString RestoreQuestion(const QStringList &risks);

#endif
