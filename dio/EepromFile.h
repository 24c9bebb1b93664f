#ifndef RQ_DIO_EEPROMFILE_H
#define RQ_DIO_EEPROMFILE_H

#include <QString>

#include <QDate>
#include <QList>

#include <array>

struct TransferStep;

// EEPROM file (".kee"): the module's whole configuration memory as 512 raw
// bytes, page 0 addresses 0..255 then page 1 addresses 0..255. No header, no
// length, no checksum.
constexpr int EepromFileSize = 512;
using EepromBlock = std::array<quint8, EepromFileSize>;

// Replaces the file with the block as a whole (rq::saveWholeFile): a failed
// save, a full disk included, leaves an existing file exactly as it was.
// False on any failure; *error (when given) says why.
bool SaveEepromFile(const QString &path, const EepromBlock &block, QString *error = nullptr);

// Takes the first 512 bytes of the file into the block; bytes after them are
// ignored. False when the file cannot be opened or read or holds fewer than
// 512 bytes; the bytes read before the failure are stored, the rest of the
// block keeps its values.
bool LoadEepromFile(const QString &path, EepromBlock &block, QString *error = nullptr);

// The transfer steps of the whole memory: page 0 addresses 0..255, then
// page 1, each with its element of the block.
QList<TransferStep> EepromSteps(EepromBlock &block);

// Status texts of a backup or restore, shared by the dialogs that transfer the memory.
namespace EepromText {
inline const QString SaveFailed = QStringLiteral(" Chyba ukládání dat.");
inline const QString LoadFailed = QStringLiteral(" Chyba načítání dat.");
inline const QString WriteCancelled = QStringLiteral(" Zápis zrušen.");
inline const QString ReadCancelled = QStringLiteral(" Načtení zrušeno.");
} // namespace EepromText

// A backup's name that tells modules apart: "RQ-3510_a1_2026-12-07.kee".
// model may be a module's identity text: only a known model's name is taken
// from it, anything else gives "RQ", so the module cannot choose the path.
QString BackupFileName(const QString &model, int address, const QDate &date = QDate::currentDate());

#endif
