#include "cli/Vystup.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

QString SystemErrorText(int error)
{
    switch (error) {
    case ENOSPC:
        return QStringLiteral("na disku není místo");
    case EFBIG:
        return QStringLiteral("soubor by překročil povolenou velikost (ulimit -f)");
    case EPIPE:
        return QStringLiteral("čtenář výstupu skončil");
    case EACCES:
    case EPERM:
        return QStringLiteral("přístup odepřen");
    case EROFS:
        return QStringLiteral("systém souborů je jen pro čtení");
    case ENOENT:
        return QStringLiteral("soubor nebo složka neexistuje");
    case EISDIR:
        return QStringLiteral("je to složka");
    case EDQUOT:
        return QStringLiteral("překročena disková kvóta");
    case EIO:
        return QStringLiteral("chyba vstupu a výstupu zařízení");
    default:
        return QString::fromLocal8Bit(std::strerror(error));
    }
}

bool Sink::write(const QByteArray &bytes)
{
    const char *p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(m_fd, p, std::size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_error = QStringLiteral("Zápis do %1 selhal: %2.")
                          .arg(m_name, SystemErrorText(n < 0 ? errno : ENOSPC));
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

bool Sink::sync()
{
    if (::fdatasync(m_fd) == 0 || errno == EINVAL || errno == EROFS)
        return true; // pipes and terminals keep nothing to sync
    m_error = QStringLiteral("Zápis do %1 selhal: %2.").arg(m_name, SystemErrorText(errno));
    return false;
}

bool Sink::writeRecord(const QByteArray &bytes)
{
    struct stat st
    {
    };
    const bool regular = ::fstat(m_fd, &st) == 0 && S_ISREG(st.st_mode);
    if (write(bytes))
        return true;
    if (regular && ::ftruncate(m_fd, st.st_size) != 0)
        m_error += QStringLiteral(" Poslední řádek zůstal neúplný.");
    return false;
}
