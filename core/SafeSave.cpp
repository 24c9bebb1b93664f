#include "core/SafeSave.h"

#include "WholeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

namespace rq {
namespace {

bool fail(QString *error, const QString &path, int err)
{
    if (error)
        *error = saveErrorText(path, err);
    return false;
}

MemoryFiles *g_memory = nullptr;

} // namespace

// The user sees Czech only, so system error texts are not passed on.
QString fileErrorReason(int err, const QString &path)
{
    switch (err) {
    case ENOSPC:
        return QStringLiteral("na disku není dost místa");
    case EDQUOT:
        return QStringLiteral("byla překročena disková kvóta");
    case EFBIG:
        return QStringLiteral("soubor by překročil povolenou velikost");
    case EACCES:
    case EPERM:
        return QStringLiteral("chybí oprávnění k zápisu");
    case EROFS:
        return QStringLiteral("disk je jen pro čtení");
    case ENOENT: {
        // The kernel answers ENOENT for a new file in /proc too: a folder
        // that is there is no missing folder.
        if (path.isEmpty())
            return QStringLiteral("soubor nebo složka neexistuje");
        const QFileInfo folder(QFileInfo(path).absolutePath());
        if (folder.isDir())
            return QStringLiteral("do složky %1 nelze zapisovat")
                .arg(QDir::toNativeSeparators(folder.absoluteFilePath()));
        return QStringLiteral("složka neexistuje");
    }
    case ENOTDIR:
        return QStringLiteral("část cesty není složka");
    case EISDIR:
        return QStringLiteral("pod tímto názvem je složka");
    case ENAMETOOLONG:
        return QStringLiteral("název je příliš dlouhý");
    case EIO:
        return QStringLiteral("chyba čtení nebo zápisu disku");
    case ELOOP:
        return QStringLiteral("odkazy na soubor tvoří smyčku");
    case ENXIO:
        return QStringLiteral("zařízení nebo roura nepřijímá data (nikdo z ní nečte)");
    case EPIPE:
        return QStringLiteral("čtenář výstupu skončil");
    case rqfile::ForeignLink:
        return QStringLiteral("je to odkaz jiného uživatele ve sdílené složce, který se z bezpečnostních "
                              "důvodů nenásleduje");
    default:
        return QStringLiteral("chyba systému číslo %1").arg(err);
    }
}

QString saveErrorText(const QString &path, int err)
{
    return QStringLiteral("Soubor %1 nelze uložit: %2.")
        .arg(QDir::toNativeSeparators(path), fileErrorReason(err, path));
}

int resolveForWrite(const QString &path, QString *target)
{
    std::string resolved;
    const int err = rqfile::resolveForWrite(QFile::encodeName(path).toStdString(), resolved);
    if (!err && target)
        *target = QFile::decodeName(QByteArray::fromStdString(resolved));
    return err;
}

MemoryFiles *setMemoryFiles(MemoryFiles *files)
{
    std::swap(files, g_memory);
    return files;
}

MemoryFiles *memoryFiles()
{
    return g_memory;
}

QByteArray *MemoryFiles::find(const QString &path)
{
    const auto it = m_files.find(path);
    return it == m_files.end() ? nullptr : &*it;
}

bool saveWholeFile(const QString &path, const QByteArray &bytes, QString *error, FolderRefuses folderRefuses)
{
    if (path.isEmpty())
        return fail(error, path, ENOENT);
    if (g_memory) {
        g_memory->put(path, bytes);
        return true;
    }
    const int err = rqfile::saveWhole(QFile::encodeName(path).toStdString(), bytes.constData(),
                                      static_cast<std::size_t>(bytes.size()),
                                      folderRefuses == FolderRefuses::RewriteInPlace);
    return err ? fail(error, path, err) : true;
}

bool nameTaken(const QString &path)
{
    return rqfile::nameTaken(QFile::encodeName(path).toStdString());
}

} // namespace rq
