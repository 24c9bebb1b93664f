#ifndef RQ_CORE_SAFESAVE_H
#define RQ_CORE_SAFESAVE_H

#include <QByteArray>
#include <QHash>
#include <QString>

namespace rq {

// Replaces the file at path with bytes as a whole, or leaves it exactly as it
// was. The bytes go to a new file beside the target; every write is checked,
// the data is synced to the disk, and only then is the new file renamed over
// the old one (and the folder synced). A full disk, a file size limit or any
// other failure removes the new file and keeps the old one byte for byte.
// A symbolic link is followed to its final target, which is replaced while
// the links stay; a link planted by another user in a shared sticky folder
// is refused, and the new file's name cannot be guessed ahead (WholeFile.h).
//
// Where the folder refuses new files but the file itself may be written, the
// save fails, or with RewriteInPlace the file is rewritten in place after its
// whole new size has been reserved on the disk, so a full disk still fails
// before the first old byte is touched (a crash part way is not covered).
//
// False on failure; *error (when given) then says why, in Czech, naming the
// file.
enum class FolderRefuses { Fail, RewriteInPlace };
bool saveWholeFile(const QString &path, const QByteArray &bytes, QString *error = nullptr,
                   FolderRefuses folderRefuses = FolderRefuses::Fail);

// Why a file could not be written (errno, or the link refusal), in Czech,
// the one text every save of the program and of rqtool gives. With a path,
// ENOENT checks the folder: where it is there, it cannot be written to.
QString fileErrorReason(int err, const QString &path = QString());
// "Soubor … nelze uložit: reason."
QString saveErrorText(const QString &path, int err);
// The file a write to path reaches, links followed by the rule of
// saveWholeFile (another user's link in a shared sticky folder refused), for
// a writer that appends instead of replacing. 0 or the code for
// fileErrorReason.
int resolveForWrite(const QString &path, QString *target);

// Whether a save to path would replace something: an existing name, a link
// that leads nowhere included.
bool nameTaken(const QString &path);

// An in-memory target for the fuzzers: while set, saveWholeFile stores the
// bytes under the path here instead of calling the file system, and the
// readers of whole files (settings, EEPROM files) read from here; a path
// not stored reads as a file that is not there. Everything up to the file
// system calls runs as always. Returns the previous target (null: the disk).
class MemoryFiles;
MemoryFiles *setMemoryFiles(MemoryFiles *files);
class MemoryFiles
{
public:
    QByteArray *find(const QString &path);
    void put(const QString &path, const QByteArray &bytes) { m_files[path] = bytes; }
    void clear() { m_files.clear(); }

private:
    QHash<QString, QByteArray> m_files;
};
// The in-memory target when one is set.
MemoryFiles *memoryFiles();

} // namespace rq

#endif
