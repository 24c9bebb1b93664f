#include "dio/EepromFile.h"

#include "config/Prenos.h"
#include "core/SafeSave.h"
#include "image/Obraz.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

bool SaveEepromFile(const QString &path, const EepromBlock &block, QString *error)
{
    return rq::saveWholeFile(path, QByteArray(reinterpret_cast<const char *>(block.data()), EepromFileSize),
                             error);
}

bool LoadEepromFile(const QString &path, EepromBlock &block, QString *error)
{
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (path.isEmpty())
        return fail(QStringLiteral("Chybí název souboru."));
    QByteArray bytes;
    bool readError = false;
    if (rq::MemoryFiles *memory = rq::memoryFiles()) {
        const QByteArray *stored = memory->find(path);
        if (!stored)
            return fail(QStringLiteral("Soubor %1 nelze otevřít ke čtení.").arg(path));
        bytes = stored->left(EepromFileSize);
    } else {
        // Czech texts of our own: the user sees no system error text.
        QFile file(path);
        if (QFileInfo(path).isDir())
            return fail(QStringLiteral("Soubor %1 nelze přečíst: pod tímto názvem je složka.").arg(path));
        if (!file.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("Soubor %1 nelze otevřít ke čtení.").arg(path));
        // read() may return fewer bytes than asked before the end (pipes, network
        // file systems): keep reading until 512 or the end.
        while (bytes.size() < EepromFileSize) {
            const QByteArray part = file.read(EepromFileSize - bytes.size());
            if (part.isEmpty())
                break;
            bytes += part;
        }
        readError = file.error() != QFileDevice::NoError;
    }
    std::copy(bytes.cbegin(), bytes.cend(), block.begin());
    if (readError)
        return fail(QStringLiteral("Soubor %1 nelze přečíst celý.").arg(path));
    if (bytes.size() < EepromFileSize)
        return fail(QStringLiteral("Soubor %1 má jen %2 bajtů z 512.").arg(path).arg(bytes.size()));
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

QString BackupFileName(const QString &model, int address, const QDate &date)
{
    // The model comes from what the module says about itself: only a name of
    // our own table may reach the path, never the text as it came.
    const std::optional<ModuleModel> known = ModelOfIdentity(model);
    return QStringLiteral("%1_a%2_%3.kee")
        .arg(known ? ModelName(*known) : QStringLiteral("RQ"))
        .arg(address)
        .arg(date.toString(Qt::ISODate));
}
