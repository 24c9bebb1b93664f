#ifndef RQ_CORE_SLOZKY_H
#define RQ_CORE_SLOZKY_H

#include <QString>

// The folder each kind of file was last saved to or taken from, so that a
// file dialog opens where the user was. Kept per user in a file of its own
// (~/.config/W_RQ3510/slozky.ini), never in the connection settings file,
// and read afresh each time: two running programs share it.
//
//   const QString start = rq::FolderMemory::startPath(rq::FolderKind::Picture, "trend.png");
//   ... the dialog returns chosen ...
//   rq::FolderMemory::remember(rq::FolderKind::Picture, chosen);
namespace rq {

namespace FolderKind {
inline const QString Eeprom = QStringLiteral("eeprom");       // configuration memory backups (.kee)
inline const QString ModuleList = QStringLiteral("hledani");  // the search's CSV export
inline const QString LinkLog = QStringLiteral("diagnostika"); // the transaction log's CSV export
inline const QString TrendRecord = QStringLiteral("zaznam");  // the trend's CSV record
inline const QString Picture = QStringLiteral("obrazek");     // the trend's PNG or SVG
} // namespace FolderKind

class FolderMemory
{
public:
    // The file; tests point it elsewhere (empty: the user's own).
    static inline QString file;
    static QString filePath();

    // The remembered folder of the kind while it exists, else the home folder.
    static QString folder(const QString &kind);
    // Whether a folder that still exists is remembered for the kind.
    static bool remembers(const QString &kind);
    // Remembers the folder of a chosen file (a relative name: of where it
    // resolves). Nothing for an empty name. False when the file could not be written.
    static bool remember(const QString &kind, const QString &chosenFile);

    // Where a dialog for the kind starts, from the name the caller proposes:
    // a name without a folder goes into folder(kind); a full path of an
    // existing file stays; a folder or a new name goes into the remembered
    // folder when there is one, else stays as it is.
    static QString startPath(const QString &kind, const QString &proposed);
    // A name as a dialog returned it: one without a folder lies in
    // folder(kind), not in the working directory.
    static QString resolve(const QString &kind, const QString &name);
};

} // namespace rq

#endif
