// "Zkontrolovat spojení" against real causes: a device that is missing or not
// permitted, a port held by another process, rqsim stopped, no module at the
// address, a module at another rate; and the map of stable port names that
// our libraries read.
#include "PortMap.h"
#include "app/Dekl.h"
#include "comm/Kxxx638.h"
#include "diag/LinkCheck.h"
#include "diag/LinkStats.h"
#include "support/SimProcess.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A pseudo-terminal of our own: the slave's path, the master open.
struct Pty
{
    int master = -1;
    QString path;
    Pty()
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0)
            path = QString::fromLocal8Bit(::ptsname(master));
    }
    ~Pty()
    {
        if (master >= 0)
            ::close(master);
    }
};

// Runs the access check in a child that is not root: uid 1 (daemon), the
// given gid, no supplementary groups. Returns "verdict|text|advice".
QString accessCheckAsOtherUser(const QString &path, gid_t gid)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        QByteArray out = "setuid failed";
        if (::setgroups(0, nullptr) == 0 && ::setgid(gid) == 0 && ::setuid(1) == 0) {
            const CheckStep s = CheckDeviceAccess(path);
            out = (QString::number(static_cast<int>(s.verdict)) + QLatin1Char('|') + s.text +
                   QLatin1Char('|') + s.advice)
                      .toUtf8();
        }
        (void)!::write(fds[1], out.constData(), static_cast<size_t>(out.size()));
        ::_exit(0);
    }
    ::close(fds[1]);
    QByteArray result;
    char buffer[1024];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
        result.append(buffer, n);
    ::close(fds[0]);
    ::waitpid(pid, nullptr, 0);
    return QString::fromUtf8(result);
}

QString lan(TData &data, SimProcess &sim, quint8 address)
{
    SetDefaults(&data);
    data.adapterKind = 4;
    data.ipAddress = QStringLiteral("127.0.0.1");
    data.udpPort = sim.udpPort();
    data.udpTimeout = 100;
    data.moduleAddress = address;
    data.baudRate = 9600;
    return {};
}

const CheckStep *find(const QList<CheckStep> &steps, const QString &name)
{
    for (const CheckStep &s : steps)
        if (s.name == name)
            return &s;
    return nullptr;
}

mode_t currentUmask()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

} // namespace

class TestLinkCheck : public QObject
{
    Q_OBJECT

private slots:
    void deviceExists()
    {
        Pty pty;
        QVERIFY(!pty.path.isEmpty());
        QCOMPARE(CheckDeviceExists(pty.path).verdict, CheckVerdict::Ok);
        const CheckStep missing = CheckDeviceExists(QStringLiteral("/dev/ttyUSB97"));
        QCOMPARE(missing.verdict, CheckVerdict::Failed);
        QCOMPARE(missing.text, QStringLiteral("Zařízení /dev/ttyUSB97 neexistuje."));
        QVERIFY(!missing.advice.isEmpty());
    }

    void permission_data()
    {
        QTest::addColumn<QString>("group");
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("loginGid"); // the group this login runs with
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("advice");
        QTest::newRow("0600, owned by another user")
            << QString() << 0600 << 1
            << QStringLiteral("smí číst a zapisovat jen jeho vlastník nobody (práva 0600)")
            << QStringLiteral("pravidlo udev");
        QTest::newRow("0660, group the user is not in")
            << QStringLiteral("dialout") << 0660 << 1
            << QStringLiteral("patří skupině dialout a uživatel daemon v ní není")
            << QStringLiteral("sudo usermod -aG dialout daemon");
        // daemon's own group in the user database, but this login runs without it.
        QTest::newRow("0660, group added after login")
            << QStringLiteral("daemon") << 0660 << 65534
            << QStringLiteral("toto přihlášení vzniklo dříve, než byl do skupiny přidán")
            << QStringLiteral("Odhlaste se a přihlaste znovu");
    }
    void permission()
    {
        if (::geteuid() != 0)
            QSKIP("needs root: the device is given to another user and the check runs as a third");
        QFETCH(QString, group);
        QFETCH(int, mode);
        QFETCH(int, loginGid);
        Pty pty;
        const passwd *nobody = ::getpwnam("nobody");
        QVERIFY(nobody);
        gid_t gid = static_cast<gid_t>(-1);
        if (!group.isEmpty()) {
            const struct group *g = ::getgrnam(group.toLatin1().constData());
            if (!g)
                QSKIP("no such group on this system");
            gid = g->gr_gid;
        }
        const QByteArray path = pty.path.toLocal8Bit();
        QCOMPARE(::chown(path.constData(), nobody->pw_uid, gid), 0);
        QCOMPARE(::chmod(path.constData(), static_cast<mode_t>(mode)), 0);
        const QStringList result =
            accessCheckAsOtherUser(pty.path, static_cast<gid_t>(loginGid)).split(QLatin1Char('|'));
        QCOMPARE(result.size(), 3);
        QCOMPARE(result.at(0).toInt(), static_cast<int>(CheckVerdict::Failed));
        QFETCH(QString, text);
        QFETCH(QString, advice);
        QVERIFY2(result.at(1).contains(text), qPrintable(result.at(1)));
        QVERIFY2(result.at(2).contains(advice), qPrintable(result.at(2)));
        // Root may open it: the check says so.
        QCOMPARE(CheckDeviceAccess(pty.path).verdict, CheckVerdict::Ok);
    }

    void heldByAnotherProcess()
    {
        Pty pty;
        QCOMPARE(CheckDeviceHolders(pty.path).verdict, CheckVerdict::Ok);
        {
            // Only this program holds it: that is our own connection, not a conflict.
            const int own = ::open(pty.path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
            const CheckStep s = CheckDeviceHolders(pty.path);
            ::close(own);
            QCOMPARE(s.verdict, CheckVerdict::Ok);
            QVERIFY2(s.text.contains(QStringLiteral("tohoto programu")), qPrintable(s.text));
        }
        QProcess holder;
        holder.setStandardInputFile(pty.path);
        holder.start(QStringLiteral("sleep"), {QStringLiteral("60")});
        QVERIFY(holder.waitForStarted());
        // Started by this program, as the adapter bridge is: our own connection too.
        QVERIFY(CheckDeviceHolders(pty.path).text.contains(QStringLiteral("tohoto programu")));
        holder.kill();
        holder.waitForFinished();
        qint64 pid = 0; // detached: not this program's
        QVERIFY(holder.startDetached(&pid));
        QTRY_VERIFY(QFileInfo::exists(QStringLiteral("/proc/%1/fd/0").arg(pid)));
        const CheckStep s = CheckDeviceHolders(pty.path);
        ::kill(static_cast<pid_t>(pid), SIGKILL);
        QCOMPARE(s.verdict, CheckVerdict::Warning);
        QVERIFY2(s.text.contains(QStringLiteral("sleep (PID %1)").arg(pid)), qPrintable(s.text));
    }

    void stableNames()
    {
        Pty pty;
        QTemporaryDir byId;
        const QString name = byId.filePath(QStringLiteral("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"));
        QVERIFY(QFile::link(pty.path, name));
        const CheckStep s = CheckStableNames(pty.path, byId.path());
        QCOMPARE(s.verdict, CheckVerdict::Info);
        QVERIFY(
            s.text.contains(QStringLiteral("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0 → ") + pty.path));
        QVERIFY2(s.advice.contains(name), qPrintable(s.advice));
        // Already using the stable name: nothing to advise.
        QVERIFY(CheckStableNames(name, byId.path()).advice.isEmpty());
        const QList<SerialDevice> list = ListSerialDevices(byId.path());
        QCOMPARE(list.size(), 1);
        QCOMPARE(list.first().device, pty.path);
    }

    // The map our libraries read: RQ_COM<n> first, then porty.ini, then the default.
    void portMap()
    {
        QTemporaryDir config;
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
        const std::string file = rqports::portMapPath();
        QCOMPARE(QString::fromStdString(file), config.filePath(QStringLiteral("W_RQ3510/porty.ini")));
        QCOMPARE(QString::fromStdString(rqports::comDevice(2)), QStringLiteral("/dev/ttyS1"));
        QVERIFY(rqports::writePortMap(file, {{"COM2", "/dev/serial/by-id/usb-x"}, {"USB", "/dev/ttyACM0"}}));
        std::string source;
        QCOMPARE(QString::fromStdString(rqports::comDevice(2, &source)),
                 QStringLiteral("/dev/serial/by-id/usb-x"));
        QCOMPARE(source, file);
        QCOMPARE(QString::fromStdString(rqports::usbDevice()), QStringLiteral("/dev/ttyACM0"));
        QCOMPARE(QString::fromStdString(rqports::comDevice(3)), QStringLiteral("/dev/ttyS2"));
        qputenv("RQ_COM2", "/dev/pts/77");
        QCOMPARE(QString::fromStdString(rqports::comDevice(2, &source)), QStringLiteral("/dev/pts/77"));
        QCOMPARE(source, std::string("RQ_COM2"));
        qunsetenv("RQ_COM2");
        const rqports::PortMap parsed = rqports::parsePortMap(
            "; comment\n[porty]\n  com1 = /dev/a \r\n#COM3=/dev/b\nUSB=\nbroken line\nCOM4=/dev/c=d\n");
        QCOMPARE(parsed, (rqports::PortMap{{"COM1", "/dev/a"}, {"COM4", "/dev/c=d"}}));
        qunsetenv("XDG_CONFIG_HOME");
    }

    // A rewrite of porty.ini keeps what the user wrote around the entries and
    // who may read the file, and no fixed temporary name can spoil it.
    void portMapRewriteKeepsTheFile_data()
    {
        QTest::addColumn<QByteArray>("old"); // null: no file yet
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<int>("mode");
        QTest::newRow("new file")
            << QByteArray()
            << QByteArray(
                   "; Stálé názvy portů programu W_RQ3510: COM<n> a USB -> zařízení\nCOM2=/dev/b\nUSB=/dev/u\n")
            << 0; // the umask decides
        QTest::newRow("comments, sections and order stay; a removed entry goes")
            << QByteArray(
                   "# moje porty\n[porty]\nusb = /dev/u\r\n; stará karta\nCOM1=/dev/a\n  com2=/dev/old\nCOM2=/dev/x\n")
            << QByteArray("# moje porty\n[porty]\nusb = /dev/u\r\n; stará karta\ncom2=/dev/b\n") << 0600;
        QTest::newRow("no end of line, a new entry")
            << QByteArray("; jen COM2\nCOM2=/dev/b") << QByteArray("; jen COM2\nCOM2=/dev/b\nUSB=/dev/u\n")
            << 0640;
    }
    void portMapRewriteKeepsTheFile()
    {
        QFETCH(QByteArray, old);
        QFETCH(QByteArray, expected);
        QFETCH(int, mode);
        QTemporaryDir config;
        const QString file = config.filePath(QStringLiteral("W_RQ3510/porty.ini"));
        QVERIFY(QDir().mkpath(QFileInfo(file).absolutePath()));
        if (!old.isNull()) {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(old) == old.size());
            f.close();
            QVERIFY(::chmod(QFile::encodeName(file).constData(), mode_t(mode)) == 0);
        }
        // Another instance's (or another user's) leftover under the old fixed name.
        QVERIFY(QDir().mkdir(file + QStringLiteral(".tmp")));
        QVERIFY(rqports::writePortMap(file.toStdString(), {{"COM2", "/dev/b"}, {"USB", "/dev/u"}}));
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), expected);
        struct stat st = {};
        QCOMPARE(::stat(QFile::encodeName(file).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), old.isNull() ? (0666 & ~int(currentUmask())) : mode);
        QCOMPARE(QDir(QFileInfo(file).absolutePath()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }

    // The serial port library opens the device the map names when no RQ_COM<n> is set.
    void portMapUsedByLibrary()
    {
        SimProcess sim;
        QVERIFY2(sim.start({QStringLiteral("--pty")}), qPrintable(sim.errorString()));
        QTemporaryDir config;
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
        qunsetenv("RQ_COM8");
        QVERIFY(rqports::writePortMap(rqports::portMapPath(), {{"COM8", sim.ptyPath().toStdString()}}));
        TData data;
        SetDefaults(&data);
        data.adapterKind = 0;
        data.comPort = 8;
        data.moduleAddress = 1;
        ModuleLink link(data);
        QString identity;
        QCOMPARE(link.openError(), 0u);
        QCOMPARE(link.identify(1, 9600, &identity), quint8(0));
        QCOMPARE(identity, QStringLiteral("RQ-3510  v.1.08"));
        qunsetenv("XDG_CONFIG_HOME");
    }

    // Replies dropped on the bus show as timeouts, each counted once, with
    // their duration in the chart's error series. The timeout is far above
    // any reply time of a busy machine, so only the dropped replies fail.
    void droppedRepliesCounted()
    {
        SimProcess sim;
        QVERIFY2(sim.start({QStringLiteral("--fault"), QStringLiteral("drop p=0.25"),
                            QStringLiteral("--seed"), QStringLiteral("3")}),
                 qPrintable(sim.errorString()));
        QByteArray ip = "127.0.0.1";
        InitBlock block{};
        block[0] = reinterpret_cast<std::uintptr_t>(ip.constData());
        block[1] = sim.udpPort();
        block[2] = 1000;
        quint32 handle = 0;
        QCOMPARE(OpenAdapter(4, &handle, block), 0u);
        QCOMPARE(ConfigureAdapter(4, handle, 9600, 1000, 2), 0u);
        quint64 failed = 0;
        for (int i = 0; i < 40; ++i) {
            quint8 d0 = 0, d1 = 63, d2 = 63, d3 = 0, d4 = 0, error = 0;
            Record response{};
            RunModuleTransaction(4, handle, 1, 102, 0, d0, d1, d2, d3, d4, error, response.data());
            failed += error != 0;
        }
        CloseAdapter(4, &handle);
        const LinkStats &stats = LinkStats::instance();
        const qint64 dropped = sim.counters().value(QStringLiteral("faults"));
        QVERIFY(dropped > 0);
        QCOMPARE(stats.transactions(), 40u);
        QCOMPARE(stats.errors(), failed);
        QCOMPARE(stats.errors(), quint64(dropped));
        QCOMPARE(stats.errorCount(20), quint64(dropped));
        QCOMPARE(stats.errorCounts().first().text, QStringLiteral("Modul neodpovídá"));
        quint64 slowErrors = 0;
        for (const LinkHistogramBin &b : stats.histogram())
            if (b.fromUs >= 500000)
                slowErrors += b.errors; // waited the whole timeout
        QCOMPARE(slowErrors, quint64(dropped));
        QVERIFY(stats.maxUs() < 1000000);
    }

    void lanConverter()
    {
        QCOMPARE(CheckHostResolves(QStringLiteral("no-such-host.invalid")).verdict, CheckVerdict::Failed);
        QCOMPARE(CheckHostResolves(QStringLiteral("127.0.0.1")).verdict, CheckVerdict::Ok);
        SimProcess sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        const quint16 port = sim.udpPort();
        const CheckStep alive = CheckConverter(QStringLiteral("127.0.0.1"), port, 200);
        QCOMPARE(alive.verdict, CheckVerdict::Ok);
        {
            // Something on the port that never answers, like a converter behind a dead link.
            QUdpSocket deaf;
            QVERIFY(deaf.bind(QHostAddress::LocalHost, 0));
            const CheckStep silent = CheckConverter(QStringLiteral("127.0.0.1"), deaf.localPort(), 200);
            QCOMPARE(silent.verdict, CheckVerdict::Failed);
            QCOMPARE(silent.text,
                     QStringLiteral("Na 127.0.0.1, UDP port %1 nikdo neodpověděl.").arg(deaf.localPort()));
            QVERIFY(silent.advice.contains(QStringLiteral("napájení a síťový kabel")));
        }
        sim.stop();
        const CheckStep gone = CheckConverter(QStringLiteral("127.0.0.1"), port, 200);
        QCOMPARE(gone.verdict, CheckVerdict::Failed);
        QVERIFY2(gone.text.contains(
                     QStringLiteral("nikdo neodpověděl: počítač existuje, ale UDP port je zavřený")),
                 qPrintable(gone.text));
    }

    // The whole sequence over the LAN converter, against the three bus situations.
    void lanSequence_data()
    {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<int>("address");
        QTest::addColumn<QString>("last");   // name of the last step
        QTest::addColumn<int>("verdict");    // of the last step
        QTest::addColumn<QString>("text");   // in the last step's text
        QTest::addColumn<QString>("advice"); // in its advice
        QTest::newRow("module answers")
            << QStringList{QStringLiteral("--module"), QStringLiteral("1:3520:1.08")} << 1
            << QStringLiteral("Modul") << int(CheckVerdict::Ok)
            << QStringLiteral("odpovídá modul RQ-3520  v.1.08") << QString();
        QTest::newRow("no module at the address")
            << QStringList{QStringLiteral("--module"), QStringLiteral("7:3510:1.08")} << 1
            << QStringLiteral("Jiná rychlost nebo adresa") << int(CheckVerdict::Warning)
            << QStringLiteral("adresa 7 při 9600 Bd (RQ-3510  v.1.08)") << QStringLiteral("zadejte adresu 7");
        QTest::newRow("module at another rate")
            << QStringList{QStringLiteral("--module"), QStringLiteral("1:3530:1.08"),
                           QStringLiteral("--baud"), QStringLiteral("19200")}
            << 1 << QStringLiteral("Jiná rychlost nebo adresa") << int(CheckVerdict::Warning)
            << QStringLiteral("adresa 1 při 19200 Bd") << QStringLiteral("zvolte 19200 Bd");
        QTest::newRow("a reply lost now and then")
            << QStringList{QStringLiteral("--fault"), QStringLiteral("cmd=200 sub=1 drop count=1")} << 1
            << QStringLiteral("Modul") << int(CheckVerdict::Warning)
            << QStringLiteral(
                   "odpovídá modul RQ-3510  v.1.08, ale jen na 2 ze 3 identifikací (Modul neodpovídá)")
            << QStringLiteral("nespolehlivé");
        QTest::newRow("nothing on the bus")
            << QStringList{QStringLiteral("--module"), QStringLiteral("40:3510:1.08")} << 1
            << QStringLiteral("Jiná rychlost nebo adresa") << int(CheckVerdict::Failed)
            << QStringLiteral("Neodpověděl žádný modul. Zkoušena adresa 1 a adresy 0..16 a 255 při 9600, ")
            << QStringLiteral("kabel");
    }
    void lanSequence()
    {
        QFETCH(QStringList, simArgs);
        QFETCH(int, address);
        SimProcess sim;
        QVERIFY2(sim.start(simArgs), qPrintable(sim.errorString()));
        TData data;
        lan(data, sim, static_cast<quint8>(address));
        const QList<CheckStep> steps = RunLinkChecks(data);
        QVERIFY(!steps.isEmpty());
        QCOMPARE(find(steps, QStringLiteral("LAN konvertor"))->verdict, CheckVerdict::Ok);
        QFETCH(QString, last);
        QCOMPARE(steps.last().name, last);
        QTEST(int(steps.last().verdict), "verdict");
        QFETCH(QString, text);
        QFETCH(QString, advice);
        QVERIFY2(steps.last().text.contains(text), qPrintable(steps.last().text));
        QVERIFY2(steps.last().advice.contains(advice), qPrintable(steps.last().advice));
        if (last != u"Modul") {
            // The converter answered, so the module step says that the module is the silent one.
            QVERIFY(find(steps, QStringLiteral("Modul"))
                        ->advice.startsWith(QStringLiteral("Konvertor odpovídá, mlčí modul")));
        }
        QVERIFY(!AdapterBound()); // the checks leave nothing bound
    }

    // The rates the quick search probes: the module search's, less those a
    // LAN converter's UDP timeout cannot hear.
    void probeRates_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("udpTimeout");
        QTest::addColumn<QList<quint32>>("rates");
        QTest::addColumn<QList<quint32>>("unheard");
        const QList<quint32> all{9600, 19200, 115200, 57600, 38400, 4800, 2400, 1200, 600};
        QTest::newRow("serial port") << 0 << 100 << all << QList<quint32>{};
        QTest::newRow("LAN, timeout 0") << 4 << 0 << all << QList<quint32>{};
        QTest::newRow("LAN, 100 ms") << 4 << 100 << all.mid(0, 7) << QList<quint32>{600, 1200};
        QTest::newRow("LAN, 200 ms") << 4 << 200 << all.mid(0, 8) << QList<quint32>{600};
    }
    void probeRates()
    {
        QFETCH(int, kind);
        QFETCH(int, udpTimeout);
        TData data;
        SetDefaults(&data);
        data.adapterKind = static_cast<quint8>(kind);
        data.udpTimeout = static_cast<quint32>(udpTimeout);
        QList<quint32> unheard;
        QTEST(ProbeRates(data, &unheard), "rates");
        QTEST(unheard, "unheard");
    }

    // The quick search covers every rate the module search would and says
    // so; rates the converter's UDP timeout cannot hear are named as left out.
    void probesEveryRate_data()
    {
        QTest::addColumn<int>("udpTimeout");
        QTest::addColumn<QStringList>("said");
        QTest::addColumn<QString>("notSaid");
        QTest::newRow("every rate")
            << 0
            << QStringList{QStringLiteral("adresa 1 při 9600 Bd (RQ-3510  v.1.08)"),
                           QStringLiteral("adresa 2 při 1200 Bd (RQ-3520  v.1.08)"),
                           QStringLiteral("Zkoušena adresa 7 a adresy 0..16 a 255 při 9600, 19200, 115200, "
                                          "57600, 38400, 4800, 2400, 1200 a 600 Bd.")}
            << QStringLiteral("Při ");
        QTest::newRow("UDP timeout 100 ms")
            << 100
            << QStringList{QStringLiteral("adresa 1 při 9600 Bd"),
                           QStringLiteral("při 9600, 19200, 115200, 57600, 38400, 4800 a 2400 Bd. Při 600, "
                                          "1200 Bd ne: s UDP timeoutem konvertoru by odpověď nepřišla včas.")}
            << QStringLiteral("adresa 2");
    }
    void probesEveryRate()
    {
        QFETCH(int, udpTimeout);
        QFETCH(QStringList, said);
        QFETCH(QString, notSaid);
        SimProcess sim;
        QVERIFY2(sim.start({QStringLiteral("--module"), QStringLiteral("1:3510:1.08:9600"),
                            QStringLiteral("--module"), QStringLiteral("2:3520:1.08:1200")}),
                 qPrintable(sim.errorString()));
        TData data;
        lan(data, sim, 7);
        data.udpTimeout = static_cast<quint32>(udpTimeout);
        const CheckStep last = RunLinkChecks(data).last();
        QCOMPARE(last.name, QStringLiteral("Jiná rychlost nebo adresa"));
        QCOMPARE(last.verdict, CheckVerdict::Warning);
        for (const QString &text : said)
            QVERIFY2(last.text.contains(text), qPrintable(last.text));
        QVERIFY2(!last.text.contains(notSaid), qPrintable(last.text));
        QCOMPARE(last.advice, QStringLiteral("V dialogu Připojení zadejte adresu 1."));
    }

    // Several modules at other addresses: the advice names one of the record's model.
    void adviceNamesRecordsModel()
    {
        SimProcess sim;
        QVERIFY2(sim.start({QStringLiteral("--module"), QStringLiteral("2:3520"), QStringLiteral("--module"),
                            QStringLiteral("7:3510")}),
                 qPrintable(sim.errorString()));
        TData data;
        lan(data, sim, 1);
        data.identity = QStringLiteral("RQ-3510  v.1.08");
        QCOMPARE(RunLinkChecks(data).last().advice, QStringLiteral("V dialogu Připojení zadejte adresu 7."));
    }

    void lanStopped()
    {
        SimProcess sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        TData data;
        lan(data, sim, 1);
        sim.stop();
        const QList<CheckStep> steps = RunLinkChecks(data);
        QCOMPARE(steps.last().name, QStringLiteral("LAN konvertor"));
        QCOMPARE(steps.last().verdict, CheckVerdict::Failed);
        QVERIFY(!find(steps, QStringLiteral("Modul")));
    }

    // Over a serial line: a module at another rate is found, and rqsim,
    // which holds the line open, is named as the other program.
    void serialSequence()
    {
        SimProcess sim;
        QVERIFY2(sim.start({QStringLiteral("--pty"), QStringLiteral("--baud"), QStringLiteral("19200")}),
                 qPrintable(sim.errorString()));
        qputenv("RQ_COM7", sim.ptyPath().toLocal8Bit());
        TData data;
        SetDefaults(&data);
        data.adapterKind = 0;
        data.comPort = 7;
        data.moduleAddress = 1;
        data.baudRate = 9600;
        const QList<CheckStep> steps = RunLinkChecks(data);
        qunsetenv("RQ_COM7");
        QVERIFY(find(steps, QStringLiteral("Port"))->text.contains(QStringLiteral("(podle RQ_COM7)")));
        QCOMPARE(find(steps, QStringLiteral("Zařízení"))->verdict, CheckVerdict::Ok);
        QCOMPARE(find(steps, QStringLiteral("Oprávnění"))->verdict, CheckVerdict::Ok);
        QVERIFY(find(steps, QStringLiteral("Jiné programy"))
                    ->text.contains(QStringLiteral("simulátor rqsim (PID")));
        QCOMPARE(find(steps, QStringLiteral("Jiné programy"))->verdict, CheckVerdict::Ok);
        QCOMPARE(find(steps, QStringLiteral("Modul"))->verdict, CheckVerdict::Failed);
        QVERIFY2(steps.last().text.contains(QStringLiteral("adresa 1 při 19200 Bd")),
                 qPrintable(steps.last().text));
        QVERIFY(!AdapterBound());
    }

    void serialMissing()
    {
        qputenv("RQ_COM7", "/dev/ttyUSB97");
        TData data;
        SetDefaults(&data);
        data.adapterKind = 0;
        data.comPort = 7;
        const QList<CheckStep> steps = RunLinkChecks(data);
        qunsetenv("RQ_COM7");
        QCOMPARE(find(steps, QStringLiteral("Zařízení"))->verdict, CheckVerdict::Failed);
        QVERIFY(!find(steps, QStringLiteral("Modul")));
    }
};

QTEST_GUILESS_MAIN(TestLinkCheck)
#include "tst_linkcheck.moc"
