#include "core/SafeSave.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// 0 or the errno of the write that failed; short writes are continued.
int writeAll(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return EIO;
        data += n;
        left -= n;
    }
    return 0;
}

// fsync and close; 0 or the first errno.
int syncAndClose(int fd, int err)
{
    if (!err && ::fsync(fd) != 0)
        err = errno;
    if (::close(fd) != 0 && !err)
        err = errno;
    return err;
}

void syncFolder(const QByteArray &file)
{
    const QByteArray dir = QFile::encodeName(QFileInfo(QFile::decodeName(file)).absolutePath());
    const int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// For a writable file in a folder that takes no new files. The new size is
// reserved first, so running out of room fails before an old byte changes.
int rewriteInPlace(const QByteArray &name, const QByteArray &bytes)
{
    const int fd = ::open(name.constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    int err = bytes.isEmpty() ? 0 : ::posix_fallocate(fd, 0, static_cast<off_t>(bytes.size()));
    if (!err)
        err = writeAll(fd, bytes);
    if (!err && ::ftruncate(fd, static_cast<off_t>(bytes.size())) != 0)
        err = errno;
    return syncAndClose(fd, err);
}

} // namespace

bool saveWholeFile(const QString &path, const QByteArray &bytes, QString *error, FolderRefuses folderRefuses)
{
    if (path.isEmpty())
        return fail(error, path, ENOENT);
    const QFileInfo info(path);
    const QString target = info.isSymLink() ? info.symLinkTarget() : path;
    const QByteArray name = QFile::encodeName(target);
    struct stat old = {};
    const bool exists = ::stat(name.constData(), &old) == 0;
    if (exists && S_ISDIR(old.st_mode))
        return fail(error, path, EISDIR);

    // A name of this process's own; one left by a crashed run of the same
    // process number is stale and goes.
    const QByteArray temp = name + '.' + QByteArray::number(::getpid()) + ".tmp";
    int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST && ::unlink(temp.constData()) == 0)
        fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int err = errno;
        if ((err == EACCES || err == EPERM) && folderRefuses == FolderRefuses::RewriteInPlace && exists &&
            ::access(name.constData(), W_OK) == 0) {
            const int inPlace = rewriteInPlace(name, bytes);
            return inPlace ? fail(error, path, inPlace) : true;
        }
        return fail(error, path, err);
    }
    if (exists)
        ::fchmod(fd, old.st_mode & 07777); // the file keeps who may read it
    int err = syncAndClose(fd, writeAll(fd, bytes));
    if (!err && ::rename(temp.constData(), name.constData()) != 0)
        err = errno;
    if (err) {
        ::unlink(temp.constData());
        return fail(error, path, err);
    }
    syncFolder(name);
    return true;
}

} // namespace rq
