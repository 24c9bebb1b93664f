// The shared code of our adapter libraries, linked in directly: the
// connection table under threads, and the serial line's handling of the
// device (exclusive open, refusals the user can mend, a stalled line, bytes
// that come after a complete reply).
#include "Driver.h"
#include "support/SimProcess.h"

#include <QTest>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

// A transport that answers every request at once.
class EchoTransport final : public rqdrv::Transport
{
public:
    std::uint32_t configure(std::uint32_t, std::uint32_t) override { return rqdrv::Ok; }
    std::uint32_t transact(const rqframe::Request &request, rqframe::Reply &reply) override
    {
        reply = rqframe::Reply{request.address, request.command, request.subcode, 0, request.d};
        return rqdrv::Ok;
    }
};

// The hook holds the racing call between its lookup and its lock until Done
// on the other thread has ended the connection.
std::atomic<bool> g_lookedUp{false};
std::atomic<bool> g_doneFinished{false};

void holdAfterLookup()
{
    g_lookedUp = true;
    for (int i = 0; i < 2000 && !g_doneFinished; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// Runs fn in a child process as the unprivileged user "nobody" and returns
// its exit code (-1 if it did not exit normally). Root passes every
// permission check, so refusals are only seen this way.
template <typename Fn> int asNobody(Fn fn)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(100);
        ::_exit(fn());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

rqframe::Request memRead(int address)
{
    return {1, 102, 0, {0, static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(address), 0, 0}};
}

QByteArray textOf(std::uint32_t code)
{
    std::uint32_t cells[RQ_ERROR_CELLS];
    rqdrv::errorText(code, cells);
    QByteArray text;
    for (int i = 1; i < RQ_ERROR_CELLS && cells[i]; ++i)
        text.append(static_cast<char>(cells[i]));
    return text;
}

} // namespace

class tst_DriverInternals : public QObject
{
    Q_OBJECT

private slots:
    // Done ending a connection while Send or SetConfig on another thread has
    // looked it up but not yet locked it.
    void done_racingACall_givesBadHandle_data()
    {
        QTest::addColumn<bool>("send");
        QTest::newRow("Send") << true;
        QTest::newRow("SetConfig") << false;
    }
    void done_racingACall_givesBadHandle()
    {
        QFETCH(bool, send);
        std::uint32_t handle = 0;
        QCOMPARE(rqdrv::addConnection(std::make_unique<EchoTransport>(), &handle), rqdrv::Ok);
        g_lookedUp = false;
        g_doneFinished = false;
        rqdrv::setAfterLookupHook(holdAfterLookup);
        std::uint32_t result = 0xFFFF;
        std::thread caller([&] {
            std::uint32_t request[RQ_RECORD_WORDS] = {1, 200, 0};
            std::uint32_t response[RQ_RECORD_WORDS] = {};
            std::uint32_t status = 0, error = 0;
            result = send ? rqdrv::send(handle, request, response, &status, &error)
                          : rqdrv::setConfig(handle, 9600, 100, 2);
        });
        while (!g_lookedUp)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::uint32_t variable = handle;
        QCOMPARE(rqdrv::done(&variable), rqdrv::Ok);
        g_doneFinished = true;
        caller.join();
        rqdrv::setAfterLookupHook(nullptr);
        QCOMPARE(result, rqdrv::BadHandle);
    }

    // Another program cannot open the line while we hold it, and can again
    // once we let go.
    void serial_openedExclusively()
    {
        if (::geteuid() != 0)
            QSKIP("needs root to try the line as another user");
        SimProcess sim;
        QVERIFY(sim.start({QStringLiteral("--pty")}));
        const QByteArray path = sim.ptyPath().toLocal8Bit();
        QCOMPARE(::chmod(path.constData(), 0666), 0);
        std::unique_ptr<rqdrv::Transport> line;
        QCOMPARE(rqdrv::openSerial(path.toStdString(), line), rqdrv::Ok);
        auto otherOpens = [&path] {
            const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            return fd >= 0 ? 0 : errno;
        };
        QCOMPARE(asNobody(otherOpens), EBUSY);
        QCOMPARE(asNobody([&path] {
                     std::unique_ptr<rqdrv::Transport> t;
                     return static_cast<int>(rqdrv::openSerial(path.toStdString(), t));
                 }),
                 static_cast<int>(rqdrv::DeviceBusy));
        line.reset();
        QCOMPARE(asNobody(otherOpens), 0);
    }

    // A device the user may not open: the text names the device's group.
    void serial_noPermission_namesTheGroup()
    {
        if (::geteuid() != 0)
            QSKIP("needs root to try the line as another user");
        SimProcess sim;
        QVERIFY(sim.start({QStringLiteral("--pty")}));
        const QByteArray path = sim.ptyPath().toLocal8Bit();
        QCOMPARE(::chmod(path.constData(), 0600), 0);
        struct stat st
        {
        };
        QCOMPARE(::stat(path.constData(), &st), 0);
        const group *g = ::getgrgid(st.st_gid);
        QVERIFY(g);
        const QByteArray expected = QByteArray("skupiny ") + g->gr_name + " a p";
        QCOMPARE(asNobody([&path, &expected] {
                     std::unique_ptr<rqdrv::Transport> t;
                     const std::uint32_t r = rqdrv::openSerial(path.toStdString(), t);
                     return r == rqdrv::NoPermission && textOf(r).contains(expected) ? 0 : 1;
                 }),
                 0);
        QVERIFY(textOf(rqdrv::DeviceBusy).startsWith("Port je obsazen"));
    }

    // A line whose output stalls (a hung USB converter) ends the request
    // within the reply timeout instead of blocking for ever.
    void serial_stalledOutput_endsWithinTheTimeout()
    {
        SimProcess sim;
        QVERIFY(sim.start({QStringLiteral("--pty")}));
        const std::string path = sim.ptyPath().toStdString();
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK); // before the exclusive open
        QVERIFY(fd >= 0);
        std::unique_ptr<rqdrv::Transport> line;
        QCOMPARE(rqdrv::openSerial(path, line), rqdrv::Ok);
        QCOMPARE(line->configure(9600, 100), rqdrv::Ok);
        QCOMPARE(::tcflow(fd, TCOOFF), 0);
        rqframe::Reply reply;
        const std::uint32_t stalled = line->transact(memRead(63), reply);
        ::tcflow(fd, TCOON);
        ::close(fd);
        QVERIFY(stalled == rqdrv::Timeout || stalled == rqdrv::SendFailed);
        QCOMPARE(line->transact(memRead(63), reply), rqdrv::Ok);
    }

    // Bytes after a complete reply (a module repeating itself, late) are
    // thrown away and counted before the next request, on a plain and on an
    // echoing line; one that arrives while the next request waits is never
    // taken as its reply.
    void serial_lateBytes_neverTakenAsTheNextReply_data()
    {
        QTest::addColumn<bool>("echo");
        QTest::addColumn<bool>("duringNext");
        QTest::newRow("duplicate before the next request") << false << false;
        QTest::newRow("duplicate before the next request, echoing line") << true << false;
        QTest::newRow("duplicate while the next one waits") << false << true;
        QTest::newRow("duplicate while the next one waits, echoing line") << true << true;
    }
    void serial_lateBytes_neverTakenAsTheNextReply()
    {
        QFETCH(bool, echo);
        QFETCH(bool, duringNext);
        SimProcess sim;
        QStringList args{QStringLiteral("--pty")};
        if (echo)
            args << QStringLiteral("--echo");
        QVERIFY(sim.start(args));
        // A second look at the line, never read: it shows when late bytes
        // have reached the line's input buffer.
        const int watch = ::open(sim.ptyPath().toLocal8Bit().constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        QVERIFY(watch >= 0);
        auto waiting = [watch] {
            pollfd p{watch, POLLIN, 0};
            return ::poll(&p, 1, 0) > 0;
        };
        std::unique_ptr<rqdrv::Transport> line;
        QCOMPARE(rqdrv::openSerial(sim.ptyPath().toStdString(), line), rqdrv::Ok);
        QCOMPARE(line->configure(9600, 500), rqdrv::Ok);
        rqframe::Reply reply;
        QCOMPARE(line->transact(memRead(63), reply), rqdrv::Ok); // the line is set up and answers

        QVERIFY(sim.addFault(QStringLiteral("mem=63 dup=%1 count=1").arg(duringNext ? 60 : 30)));
        if (duringNext)
            QVERIFY(sim.addFault(QStringLiteral("mem=0 delay=200 count=1")));
        QCOMPARE(line->transact(memRead(63), reply), rqdrv::Ok); // at once, no waiting for quiet
        QCOMPARE(reply.d[3], 1);
        if (!duringNext)
            QTRY_VERIFY(waiting());
        const std::uint32_t next = line->transact(memRead(0), reply);
        if (duringNext) {
            QCOMPARE(next, rqdrv::WrongCommand); // the copy about byte 63 came first
            QTRY_VERIFY(waiting());              // the late reply to byte 0
        } else {
            QCOMPARE(next, rqdrv::Ok);
            QCOMPARE(reply.d[3], 6);
        }
        QCOMPARE(line->transact(memRead(1), reply), rqdrv::Ok);
        QCOMPARE(reply.d[1], 1);
        QCOMPARE(reply.d[3], 6);
        QCOMPARE(line->strayBytes(), 12u); // the copy, or the late reply it pushed out
        ::close(watch);
    }
};

QTEST_GUILESS_MAIN(tst_DriverInternals)
#include "tst_driverinternals.moc"
