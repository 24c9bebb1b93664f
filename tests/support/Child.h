#ifndef RQ_TESTS_CHILD_H
#define RQ_TESTS_CHILD_H

// Situations a test cannot make in its own process without spoiling it:
// running without root's privileges, a file size limit, a tiny full disk.
// Each runs in a forked child, so what it changes ends with the child.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <functional>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

// Runs fn in a forked child; its exit code, or 128 + the signal that ended it.
inline int RunInChild(const std::function<int()> &fn)
{
    const pid_t pid = fork();
    if (pid == 0)
        _exit(fn());
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// In a child: root becomes nobody, so file permissions hold. False on failure.
inline bool DropRoot()
{
    return geteuid() != 0 || (setgid(65534) == 0 && setuid(65534) == 0);
}

// In a child: no file may grow beyond bytes; a write past that fails with
// EFBIG (the program ignores SIGXFSZ, and so does this).
inline bool LimitFileSize(rlim_t bytes)
{
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{bytes, bytes};
    return setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

// In a child: a private tmpfs of the given size on dir, seen by this child
// only. False where mounting is not permitted (it needs root).
inline bool MountTinyTmpfs(const QString &dir, int kib)
{
    const QByteArray options = "size=" + QByteArray::number(kib) + 'k';
    return unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           mount("tmpfs", QFile::encodeName(dir).constData(), "tmpfs", 0, options.constData()) == 0;
}

// Fills the file system of dir until no byte more fits.
inline void FillDisk(const QString &dir)
{
    QFile filler(dir + QStringLiteral("/filler"));
    if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return;
    const QByteArray block(4096, 'f');
    while (filler.write(block) == block.size()) {
    }
    while (filler.write("f", 1) == 1) {
    }
}

// The names in dir but the filler of FillDisk, hidden ones included.
inline QStringList FilesIn(const QString &dir)
{
    QStringList names = QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    names.removeAll(QStringLiteral("filler"));
    return names;
}

// Whether a tiny tmpfs can be mounted here.
inline bool CanMountTmpfs()
{
    return RunInChild([] { return MountTinyTmpfs(QStringLiteral("/tmp"), 16) ? 0 : 1; }) == 0;
}

// Two ways a disk takes no more bytes, for data-driven tests.
enum class FullDisk { SizeLimit, Tmpfs };
Q_DECLARE_METATYPE(FullDisk)

inline void AddFullDiskRows()
{
    QTest::addColumn<FullDisk>("full");
    QTest::newRow("file size limit") << FullDisk::SizeLimit;
    QTest::newRow("full tmpfs") << FullDisk::Tmpfs;
}

// Skips a tmpfs row where mounting is not permitted.
#define RQ_SKIP_UNLESS_DISK_CAN_FILL(full)                                                                   \
    if ((full) == FullDisk::Tmpfs && !CanMountTmpfs())                                                       \
    QSKIP("A tiny tmpfs needs root (mount in a private namespace): the full disk is not tried here.")

// In a child: file (in an empty folder) gets the old bytes, then its folder
// takes no more bytes (a file size limit of 100 bytes, or a 64 KiB tmpfs on
// the folder filled up; its file "filler" holds the rest), then fn runs and
// gives the exit code. 100 means the situation could not be made.
inline int RunWithFullDisk(FullDisk full, const QString &file, const QByteArray &old,
                           const std::function<int()> &fn)
{
    return RunInChild([&] {
        const QString dir = QFileInfo(file).absolutePath();
        if (full == FullDisk::Tmpfs && !MountTinyTmpfs(dir, 64))
            return 100;
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly) || f.write(old) != old.size() || !f.flush())
            return 100;
        f.close();
        if (full == FullDisk::Tmpfs)
            FillDisk(dir);
        else if (!LimitFileSize(100))
            return 100;
        return fn();
    });
}

#endif
