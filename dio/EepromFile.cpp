#include "dio/EepromFile.h"

#include "config/Prenos.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

bool SaveEepromFile(const QString &path, const EepromBlock &block, QString *error)
{
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (path.isEmpty())
        return fail(QStringLiteral("no file name"));
    // A folder under the name cannot be replaced by a file; refuse before
    // anything is written.
    if (QFileInfo(path).isDir())
        return fail(QStringLiteral("%1 is a folder").arg(path));
    QSaveFile file(path);
    // Never fall back to writing the target in place: that would truncate the
    // old backup before the new one exists.
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    const auto *bytes = reinterpret_cast<const char *>(block.data());
    if (file.write(bytes, EepromFileSize) != EepromFileSize) {
        const QString why = file.errorString();
        file.cancelWriting();
        return fail(why);
    }
    if (!file.commit())
        return fail(file.errorString());
    return true;
}

bool LoadEepromFile(const QString &path, EepromBlock &block, QString *error)
{
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (path.isEmpty())
        return fail(QStringLiteral("no file name"));
    QFile file(path);
    if (QFileInfo(path).isDir())
        return fail(QStringLiteral("%1 is a folder").arg(path));
    if (!file.open(QIODevice::ReadOnly))
        return fail(file.errorString());
    // read() may return fewer bytes than asked before the end (pipes, network
    // file systems): keep reading until 512 or the end.
    QByteArray bytes;
    while (bytes.size() < EepromFileSize) {
        const QByteArray part = file.read(EepromFileSize - bytes.size());
        if (part.isEmpty())
            break;
        bytes += part;
    }
    const bool readError = file.error() != QFileDevice::NoError;
    std::copy(bytes.cbegin(), bytes.cend(), block.begin());
    if (readError)
        return fail(file.errorString());
    if (bytes.size() < EepromFileSize)
        return fail(QStringLiteral("%1 holds only %2 bytes").arg(path).arg(bytes.size()));
    return true;
}

QList<TransferStep> EepromSteps(EepromBlock &block)
{
    QList<TransferStep> list;
    list.reserve(EepromFileSize);
    for (int i = 0; i < EepromFileSize; ++i)
        list.append({quint8(i / 256), quint8(i % 256), &block[std::size_t(i)]});
    return list;
}
