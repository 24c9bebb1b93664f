#include "cli/Vystup.h"

#include "core/SafeSave.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

QString SystemErrorText(int error, const QString &path)
{
    if (error == EFBIG)
        return QStringLiteral("soubor by překročil povolenou velikost (ulimit -f)");
    return rq::fileErrorReason(error, path);
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
            const int err = n < 0 ? errno : ENOSPC;
            m_closedPipe = err == EPIPE;
            m_error = QStringLiteral("Zápis do %1 selhal: %2.").arg(m_genitive, SystemErrorText(err));
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
    m_error = QStringLiteral("Zápis do %1 selhal: %2.").arg(m_genitive, SystemErrorText(errno));
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
