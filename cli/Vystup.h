#ifndef RQ_CLI_VYSTUP_H
#define RQ_CLI_VYSTUP_H

#include <QByteArray>
#include <QString>

// Where rqtool writes: standard output, standard error or a file, every
// write checked, so a full disk, a size limit or a closed pipe ends the
// command with a reason instead of a silently cut result.
class Sink
{
public:
    // name: how messages call it ("standardní výstup", a file's path).
    Sink(int fd, const QString &name) : m_fd(fd), m_name(name) {}

    // The whole of bytes, or false with error().
    bool write(const QByteArray &bytes);
    bool write(const QString &text) { return write(text.toUtf8()); }
    // A record (a CSV row) whole or not at all: a regular file cut by a
    // failed write is shortened back to where the record began.
    bool writeRecord(const QByteArray &bytes);
    // For files: the written data on the disk before this returns.
    bool sync();
    int fd() const { return m_fd; }
    QString name() const { return m_name; }
    // Czech: what failed and why, naming the sink.
    QString error() const { return m_error; }

private:
    int m_fd;
    QString m_name;
    QString m_error;
};

// Czech reason of a failed write or open (errno).
QString SystemErrorText(int error);

#endif
