#ifndef RQ_CORE_INIFILE_H
#define RQ_CORE_INIFILE_H

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// A small INI file in the manner of the classic private-profile service:
// a missing file, section or key gives the caller's default; section and key
// names match without regard to case; writing a key changes that key only and
// keeps every other line, section and comment. On disk the text is
// Windows-1250; a file in UTF-8 (with a byte order mark, or valid UTF-8
// with bytes above 127) reads as UTF-8 and is written in Windows-1250. CRLF
// and LF both read, the file is written with CRLF.
class IniFile
{
public:
    // Reads the file; a missing file is an empty one. A file that is there
    // but could not be read whole reads as empty too, and readWhole() says so.
    explicit IniFile(const QString &path);
    bool readWhole() const { return m_readWhole; }
    // Whether the file was read as UTF-8 (save() writes it in Windows-1250).
    bool readUtf8() const { return m_readUtf8; }

    QString readString(const QString &section, const QString &key, const QString &def) const;
    // The integer text rule of ParseIntText; anything else gives def.
    qint32 readInt(const QString &section, const QString &key, qint32 def) const;

    void writeString(const QString &section, const QString &key, const QString &value);
    void writeInt(const QString &section, const QString &key, qint64 value);

    // Replaces the file as a whole (rq::saveWholeFile; in place where only
    // the file may be written): a failure leaves the previous file intact;
    // *error then says why, in Czech. A character Windows-1250 cannot hold
    // fails the save.
    bool save(QString *error = nullptr) const;

    const QString &path() const { return m_path; }
    // Where save() writes; the text read stays.
    void setPath(const QString &path) { m_path = path; }
    QByteArray toBytes() const;

private:
    // The file from the disk; false (and readWhole() set) when it cannot be read.
    bool readFile(const QString &path, QByteArray &bytes);
    std::optional<QString> value(const QString &section, const QString &key) const;
    int findSection(const QString &section) const;
    int findKey(int sectionLine, const QString &key) const;

    QString m_path;
    QStringList m_lines;
    bool m_readWhole = true;
    bool m_readUtf8 = false;
};

#endif
