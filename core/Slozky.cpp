#include "core/Slozky.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace {
const QString Group = QStringLiteral("Slozky");

QString stored(const QString &kind)
{
    QSettings ini(rq::FolderMemory::filePath(), QSettings::IniFormat);
    const QString folder = ini.value(Group + u'/' + kind).toString();
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QString();
}
} // namespace

QString rq::FolderMemory::filePath()
{
    if (!file.isEmpty())
        return file;
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(QStringLiteral("W_RQ3510/slozky.ini"));
}

bool rq::FolderMemory::remembers(const QString &kind)
{
    return !stored(kind).isEmpty();
}

QString rq::FolderMemory::folder(const QString &kind)
{
    const QString folder = stored(kind);
    return folder.isEmpty() ? QDir::homePath() : folder;
}

bool rq::FolderMemory::remember(const QString &kind, const QString &chosenFile)
{
    if (kind.isEmpty() || chosenFile.isEmpty())
        return true;
    const QString folder = QFileInfo(chosenFile).absolutePath();
    QSettings ini(filePath(), QSettings::IniFormat);
    if (ini.value(Group + u'/' + kind).toString() == folder)
        return true;
    ini.setValue(Group + u'/' + kind, folder);
    ini.sync();
    return ini.status() == QSettings::NoError;
}

QString rq::FolderMemory::startPath(const QString &kind, const QString &proposed)
{
    if (proposed.isEmpty())
        return folder(kind);
    const QFileInfo info(proposed);
    if (info.isRelative())
        return QDir(folder(kind)).filePath(proposed);
    // A file that is there was chosen before: it stays. A folder or a new
    // name only stood for "somewhere": the remembered folder is better.
    if (info.isFile())
        return proposed;
    const QString remembered = stored(kind);
    if (remembered.isEmpty())
        return proposed;
    return info.isDir() ? remembered : QDir(remembered).filePath(info.fileName());
}

QString rq::FolderMemory::resolve(const QString &kind, const QString &name)
{
    if (name.isEmpty() || !QFileInfo(name).isRelative())
        return name;
    return QDir::cleanPath(QDir(folder(kind)).filePath(name));
}
