#include "core/IniFile.h"

#include "core/Cislo.h"
#include "core/Cp1250.h"
#include "core/SafeSave.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstring>

namespace {
// Far beyond any settings file, yet small enough to hold in memory: a bigger
// file is not read, and so never written over either.
constexpr qint64 MaxFileSize = qint64(256) << 20;

// Views, not copies: a lookup walks every line of the file.
bool sectionName(QStringView line, QStringView *name)
{
    // Most lines are keys: their first character tells.
    if (line.isEmpty() || (line.front() != QLatin1Char('[') && !line.front().isSpace()))
        return false;
    const QStringView t = line.trimmed();
    if (!t.startsWith(QLatin1Char('[')))
        return false;
    const qsizetype end = t.indexOf(QLatin1Char(']'));
    if (end < 0)
        return false;
    *name = t.mid(1, end - 1).trimmed();
    return true;
}

bool keyName(QStringView line, QStringView *key)
{
    const QStringView t = line.trimmed();
    if (t.startsWith(QLatin1Char(';')) || t.startsWith(QLatin1Char('#')))
        return false;
    const qsizetype eq = t.indexOf(QLatin1Char('='));
    if (eq <= 0)
        return false;
    *key = t.left(eq).trimmed();
    return true;
}

bool keyValue(const QString &line, QString *key, QString *value)
{
    const QString t = line.trimmed();
    if (t.startsWith(QLatin1Char(';')) || t.startsWith(QLatin1Char('#')))
        return false;
    const qsizetype eq = t.indexOf(QLatin1Char('='));
    if (eq <= 0)
        return false;
    *key = t.left(eq).trimmed();
    if (value)
        *value = t.mid(eq + 1).trimmed();
    return true;
}

} // namespace

bool IniFile::readFile(const QString &path, QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        // Only a file that is not there at all is an empty one.
        m_readWhole = !QFileInfo::exists(path);
        return false;
    }
    if (file.size() > MaxFileSize) {
        m_readWhole = false;
        return false;
    }
    bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        m_readWhole = false;
        return false;
    }
    return true;
}

IniFile::IniFile(const QString &path) : m_path(path)
{
    QByteArray bytes;
    if (rq::MemoryFiles *memory = rq::memoryFiles()) {
        if (const QByteArray *stored = memory->find(path))
            bytes = *stored;
        if (bytes.size() > MaxFileSize) {
            m_readWhole = false;
            return;
        }
    } else if (!readFile(path, bytes)) {
        return;
    }
    if (bytes.isEmpty())
        return;
    // Each line converted straight from the bytes into a list made once:
    // one pass counts the lines, the second converts them.
    const char *const text = bytes.constData();
    const qsizetype size = bytes.size();
    const auto eachLine = [text, size](auto &&take) {
        qsizetype from = 0;
        while (from < size) {
            const char *const lf =
                static_cast<const char *>(std::memchr(text + from, '\n', std::size_t(size - from)));
            qsizetype end = lf ? lf - text : size;
            if (end > from && text[end - 1] == '\r')
                --end;
            if (!lf && end == from)
                return; // the final line break
            take(from, end);
            if (!lf)
                return;
            from = lf - text + 1;
        }
    };
    qsizetype count = 0;
    eachLine([&count](qsizetype, qsizetype) { ++count; });
    m_lines.resize(count);
    QString *line = m_lines.data();
    // A Linux editor writes UTF-8: a byte order mark says so, and valid
    // UTF-8 with a byte above 127 is no Windows-1250 text in practice. Such
    // a file is read as UTF-8 and written back in Windows-1250.
    qsizetype skip = 0;
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        m_readUtf8 = true;
        skip = 3;
    } else {
        m_readUtf8 = std::any_of(bytes.cbegin(), bytes.cend(), [](char c) { return uchar(c) > 127; }) &&
                     QUtf8StringView(bytes).isValidUtf8();
    }
    if (m_readUtf8)
        eachLine([&line, text, skip](qsizetype from, qsizetype end) {
            from = std::max(from, skip);
            *line++ = QString::fromUtf8(text + from, std::max<qsizetype>(end - from, 0));
        });
    else
        eachLine(
            [&line, text](qsizetype from, qsizetype end) { *line++ = FromCp1250(text + from, end - from); });
}

int IniFile::findSection(const QString &section) const
{
    // Walks every line of the file: straight over the array.
    const QString *const lines = m_lines.constData();
    const int count = int(m_lines.size());
    QStringView name;
    for (int i = 0; i < count; ++i)
        if (sectionName(lines[i], &name) && name.compare(section, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

int IniFile::findKey(int sectionLine, const QString &key) const
{
    const QString *const lines = m_lines.constData();
    const int count = int(m_lines.size());
    QStringView name;
    for (int i = sectionLine + 1; i < count; ++i) {
        const QStringView line(lines[i]);
        if (sectionName(line, &name))
            break;
        QStringView k;
        if (keyName(line, &k) && k.compare(key, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

std::optional<QString> IniFile::value(const QString &section, const QString &key) const
{
    const int s = findSection(section);
    const int k = s < 0 ? -1 : findKey(s, key);
    if (k < 0)
        return std::nullopt;
    QString name, text;
    keyValue(m_lines.at(k), &name, &text);
    return text;
}

QString IniFile::readString(const QString &section, const QString &key, const QString &def) const
{
    return value(section, key).value_or(def);
}

qint32 IniFile::readInt(const QString &section, const QString &key, qint32 def) const
{
    const std::optional<QString> text = value(section, key);
    return text ? ParseIntText(*text).value_or(def) : def;
}

void IniFile::writeString(const QString &section, const QString &key, const QString &value)
{
    // A line break in a value would split it into lines of its own.
    QString clean = value;
    clean.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    const QString line = key + QLatin1Char('=') + clean;
    const int s = findSection(section);
    if (s < 0) {
        m_lines.append(QLatin1Char('[') + section + QLatin1Char(']'));
        m_lines.append(line);
        return;
    }
    const int k = findKey(s, key);
    if (k >= 0) {
        m_lines[k] = line;
        return;
    }
    // New key: after the section's last non-empty line, so blank lines that
    // separate it from the next section stay where they were.
    int last = s;
    QStringView name;
    const QString *const lines = m_lines.constData();
    const int count = int(m_lines.size());
    for (int i = s + 1; i < count && !sectionName(lines[i], &name); ++i)
        if (!QStringView(lines[i]).trimmed().isEmpty())
            last = i;
    m_lines.insert(last + 1, line);
}

void IniFile::writeInt(const QString &section, const QString &key, qint64 value)
{
    writeString(section, key, QString::number(value));
}

QByteArray IniFile::toBytes() const
{
    // Into one buffer of the final size: no line gets a byte array of its own.
    qsizetype size = 0;
    for (const QString &line : m_lines)
        size += line.size() + 2;
    QByteArray bytes(size, Qt::Uninitialized);
    char *out = bytes.data();
    for (const QString &line : m_lines) {
        for (const QChar ch : line)
            *out++ = static_cast<char>(ToCp1250(ch));
        *out++ = '\r';
        *out++ = '\n';
    }
    return bytes;
}

bool IniFile::save(QString *error) const
{
    // A character the code page cannot hold would come back as '?': the
    // file stays as it is and the message names the character.
    for (const QString &line : m_lines)
        for (const QChar ch : line)
            if (!Cp1250Holds(ch)) {
                if (error)
                    *error = QStringLiteral("Soubor %1 nelze uložit: znak „%2“ (U+%3) nemá ve Windows-1250, "
                                            "kódování souboru nastavení, podobu; odstraňte jej ze souboru.")
                                 .arg(QDir::toNativeSeparators(m_path), QString(ch))
                                 .arg(ch.unicode(), 4, 16, QLatin1Char('0'));
                return false;
            }
    // A settings file the user may write in a folder they may not (a shared
    // installation) is still theirs to keep.
    return rq::saveWholeFile(m_path, toBytes(), error, rq::FolderRefuses::RewriteInPlace);
}
