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
    // name: how messages call it ("standardní výstup", a file's path);
    // genitive: the same after "do" ("standardního výstupu"), if it differs.
    Sink(int fd, const QString &name, const QString &genitive = QString())
        : m_fd(fd), m_name(name), m_genitive(genitive.isEmpty() ? name : genitive)
    {
    }

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
    // Whether the last failed write found the reader of a pipe gone.
    bool closedPipe() const { return m_closedPipe; }

private:
    int m_fd;
    QString m_name;
    QString m_genitive;
    QString m_error;
    bool m_closedPipe = false;
};

// Czech reason of a failed write or open (errno): the texts every save
// gives (rq::fileErrorReason); with a path, a missing name in a folder that
// is there says the folder cannot be written.
QString SystemErrorText(int error, const QString &path = QString());

#endif
