#include "core/SafeSave.h"

#include "WholeFile.h"

#include <QDir>
#include <QFile>

#include <cerrno>

namespace rq {
namespace {

// The user sees Czech only, so system error texts are not passed on.
QString reason(int err)
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
    case ENOENT:
        return QStringLiteral("složka neexistuje");
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
    case rqfile::ForeignLink:
        return QStringLiteral("je to odkaz jiného uživatele ve sdílené složce, který se z bezpečnostních "
                              "důvodů nenásleduje");
    default:
        return QStringLiteral("chyba systému číslo %1").arg(err);
    }
}

bool fail(QString *error, const QString &path, int err)
{
    if (error)
        *error =
            QStringLiteral("Soubor %1 nelze uložit: %2.").arg(QDir::toNativeSeparators(path), reason(err));
    return false;
}

MemoryFiles *g_memory = nullptr;

} // namespace

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
