#include "diag/LinkCheck.h"

#include "PortMap.h"
#include "RqFrame.h"
#include "app/Dekl.h"
#include "comm/Kxxx638.h"
#include "comm/Linka.h"
#include "comm/Prikazy.h"
#include "core/Cp1250.h"
#include "diag/LinkStats.h"
#include "scan/HledaniModulu.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <grp.h>
#include <netdb.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

namespace {

CheckStep step(const QString &name, CheckVerdict verdict, const QString &text, const QString &advice = {})
{
    return {name, verdict, text, advice};
}

QString userName(uid_t uid)
{
    const passwd *pw = ::getpwuid(uid);
    return pw ? QString::fromLocal8Bit(pw->pw_name) : QString::number(uid);
}

QString groupName(gid_t gid)
{
    const group *gr = ::getgrgid(gid);
    return gr ? QString::fromLocal8Bit(gr->gr_name) : QString::number(gid);
}

// Whether this login carries the group (what the kernel checks).
bool processInGroup(gid_t gid)
{
    if (::getegid() == gid)
        return true;
    const int n = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(n, 0)));
    if (n > 0 && ::getgroups(n, groups.data()) == n)
        for (gid_t g : groups)
            if (g == gid)
                return true;
    return false;
}

// Whether the user is in the group in the user database (what the next login gets).
bool userInGroup(uid_t uid, gid_t gid)
{
    const passwd *pw = ::getpwuid(uid);
    if (!pw)
        return false;
    if (pw->pw_gid == gid)
        return true;
    int n = 64;
    std::vector<gid_t> groups(static_cast<std::size_t>(n));
    if (::getgrouplist(pw->pw_name, pw->pw_gid, groups.data(), &n) < 0) {
        groups.resize(static_cast<std::size_t>(n));
        if (::getgrouplist(pw->pw_name, pw->pw_gid, groups.data(), &n) < 0)
            return false;
    }
    for (int i = 0; i < n; ++i)
        if (groups[static_cast<std::size_t>(i)] == gid)
            return true;
    return false;
}

QString octalMode(mode_t mode)
{
    return QStringLiteral("%1").arg(mode & 0777, 4, 8, QLatin1Char('0'));
}

QString commOf(const QString &pid)
{
    QFile f(QStringLiteral("/proc/") + pid + QStringLiteral("/comm"));
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLocal8Bit(f.readAll()).trimmed();
}

// The parent of a process, from /proc/<pid>/stat; 0 when unknown.
qint64 parentOf(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray stat = f.read(1024);
    // "pid (comm) state ppid ...": the name may hold blanks and brackets.
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return 0;
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    return fields.size() > 1 ? fields.at(1).toLongLong() : 0;
}

// This program or a process it started (the adapter bridge and its Wine
// helpers): its hold on the port is our own connection.
bool isOurs(qint64 pid)
{
    const qint64 self = ::getpid();
    for (int depth = 0; pid > 1 && depth < 64; ++depth, pid = parentOf(pid))
        if (pid == self)
            return true;
    return false;
}

QString rateList(const QList<ProbeHit> &hits)
{
    QStringList parts;
    for (const ProbeHit &h : hits)
        parts << QStringLiteral("adresa %1 při %2 Bd (%3)")
                     .arg(h.address)
                     .arg(h.baud)
                     .arg(h.identity.trimmed());
    return parts.join(QStringLiteral(", "));
}

} // namespace

QList<SerialDevice> ListSerialDevices(const QString &folder)
{
    QList<SerialDevice> list;
    const QDir dir(folder);
    for (const QFileInfo &info :
         dir.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name))
        list.append({info.absoluteFilePath(), info.canonicalFilePath()});
    return list;
}

QString DevicePathOf(quint8 kind, quint8 comPort, QString *source)
{
    std::string from;
    const std::string path = kind == 3 ? rqports::usbDevice(&from) : rqports::comDevice(comPort, &from);
    if (source)
        *source = QString::fromLocal8Bit(from.c_str());
    return QString::fromLocal8Bit(path.c_str());
}

CheckStep CheckDeviceExists(const QString &path)
{
    const QString name = QStringLiteral("Zařízení");
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return step(name, CheckVerdict::Failed, QStringLiteral("Zařízení %1 neexistuje.").arg(path),
                    QStringLiteral("Připojte převodník (u USB jiný konektor, jiný kabel) nebo v nastavení "
                                   "připojení zvolte jiný port; přítomná zařízení ukazuje seznam níže."));
    if (!S_ISCHR(st.st_mode))
        return step(name, CheckVerdict::Failed, QStringLiteral("%1 není sériové zařízení.").arg(path),
                    QStringLiteral("Zvolte port, který vede na sériové rozhraní nebo převodník."));
    return step(name, CheckVerdict::Ok, QStringLiteral("Zařízení %1 existuje.").arg(path));
}

CheckStep CheckDeviceAccess(const QString &path)
{
    const QString name = QStringLiteral("Oprávnění");
    const QByteArray p = QFile::encodeName(path);
    struct stat st
    {
    };
    if (::stat(p.constData(), &st) != 0)
        return step(name, CheckVerdict::Failed, QStringLiteral("Zařízení %1 neexistuje.").arg(path));
    if (::access(p.constData(), R_OK | W_OK) == 0)
        return step(name, CheckVerdict::Ok,
                    QStringLiteral("Uživatel %1 smí zařízení otevřít.").arg(userName(::geteuid())));
    const QString user = userName(::geteuid());
    const QString owner = userName(st.st_uid);
    const QString grp = groupName(st.st_gid);
    if ((st.st_mode & 060) != 060)
        return step(
            name, CheckVerdict::Failed,
            QStringLiteral("Zařízení %1 smí číst a zapisovat jen jeho vlastník %2 (práva %3); skupina %4 "
                           "k němu přístup nemá, uživatel %5 také ne.")
                .arg(path, owner, octalMode(st.st_mode), grp, user),
            QStringLiteral("Požádejte správce o pravidlo udev, které zařízení dá skupině dialout s právy "
                           "0660 (a uživatele %1 do ní přidá), nebo zařízení uvolní program, který je "
                           "takto nastavil.")
                .arg(user));
    const bool inDatabase = userInGroup(::geteuid(), st.st_gid);
    if (inDatabase && !processInGroup(st.st_gid))
        return step(name, CheckVerdict::Failed,
                    QStringLiteral("Zařízení patří skupině %1. Uživatel %2 do ní patří, ale toto přihlášení "
                                   "vzniklo dříve, než byl do skupiny přidán.")
                        .arg(grp, user),
                    QStringLiteral("Odhlaste se a přihlaste znovu (nebo restartujte počítač); pak program "
                                   "spusťte znovu."));
    if (!inDatabase)
        return step(
            name, CheckVerdict::Failed,
            QStringLiteral("Zařízení %1 patří skupině %2 a uživatel %3 v ní není.").arg(path, grp, user),
            QStringLiteral("Přidejte uživatele do skupiny (sudo usermod -aG %1 %2), potom se odhlaste "
                           "a přihlaste znovu.")
                .arg(grp, user));
    return step(
        name, CheckVerdict::Failed,
        QStringLiteral("Zařízení %1 nelze otevřít, ačkoli uživatel %2 je ve skupině %3.")
            .arg(path, user, grp),
        QStringLiteral("Přístup zřejmě omezuje jiné pravidlo (ACL, AppArmor); obraťte se na správce."));
}

CheckStep CheckDeviceHolders(const QString &path)
{
    const QString name = QStringLiteral("Jiné programy");
    struct stat device
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &device) != 0)
        return step(name, CheckVerdict::Info, QStringLiteral("Zařízení %1 neexistuje.").arg(path));
    QStringList others;
    QStringList simulators;
    bool ours = false;
    int hidden = 0;
    const QDir proc(QStringLiteral("/proc"));
    for (const QString &pid : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (pid.isEmpty() || !pid.at(0).isDigit())
            continue;
        const QDir fds(QStringLiteral("/proc/") + pid + QStringLiteral("/fd"));
        if (!fds.isReadable()) {
            ++hidden;
            continue;
        }
        for (const QString &fd : fds.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
            struct stat st
            {
            };
            if (::stat(QFile::encodeName(fds.filePath(fd)).constData(), &st) != 0)
                continue;
            if (!S_ISCHR(st.st_mode) || st.st_rdev != device.st_rdev)
                continue;
            const QString comm = commOf(pid);
            if (comm == QStringLiteral("rqsim"))
                simulators << QStringLiteral("%1 (PID %2)").arg(comm, pid);
            else if (isOurs(pid.toLongLong()))
                ours = true;
            else
                others << QStringLiteral("%1 (PID %2)").arg(comm, pid);
            break;
        }
    }
    // A warning, not a stop: whether it really disturbs shows the module check.
    if (!others.isEmpty())
        return step(
            name, CheckVerdict::Warning,
            QStringLiteral("Zařízení %1 má otevřené: %2.").arg(path, others.join(QStringLiteral(", "))),
            QStringLiteral("Ukončete tento program (terminál, jiný servisní program, ModemManager) "
                           "nebo ho nastavte, aby port nechal volný; dva programy na jedné lince si "
                           "berou odpovědi."));
    QString text = ours ? QStringLiteral("Zařízení %1 drží jen otevřené připojení tohoto programu.").arg(path)
                        : QStringLiteral("Zařízení %1 nemá otevřené žádný jiný program.").arg(path);
    // The simulator is the bus's end of the line, not a program in the way.
    if (!simulators.isEmpty())
        text = QStringLiteral("Zařízení %1 drží simulátor %2: je to druhý konec linky, kde odpovídají "
                              "simulované moduly; nepřekáží.")
                   .arg(path, simulators.join(QStringLiteral(", ")));
    if (hidden > 0)
        text += QStringLiteral(" (Procesy jiných uživatelů nelze prohlédnout: %1.)").arg(hidden);
    return step(name, CheckVerdict::Ok, text);
}

CheckStep CheckStableNames(const QString &path, const QString &folder)
{
    const QString name = QStringLiteral("Stálé názvy");
    const QList<SerialDevice> devices = ListSerialDevices(folder);
    if (devices.isEmpty())
        return step(
            name, CheckVerdict::Info,
            QStringLiteral("V %1 není žádné zařízení (žádný USB převodník není připojen).").arg(folder));
    QStringList lines;
    QString stableForPath;
    const QString canonical = QFileInfo(path).canonicalFilePath();
    for (const SerialDevice &d : devices) {
        lines << QStringLiteral("%1 → %2").arg(QFileInfo(d.stableName).fileName(), d.device);
        if (!canonical.isEmpty() && d.device == canonical && path != d.stableName)
            stableForPath = d.stableName;
    }
    return step(name, CheckVerdict::Info, lines.join(QLatin1Char('\n')),
                stableForPath.isEmpty()
                    ? QString()
                    : QStringLiteral("Číslo zařízení %1 se po odpojení může změnit; v seznamu zařízení "
                                     "přiřaďte portu stálý název %2.")
                          .arg(path, stableForPath));
}

CheckStep CheckHostResolves(const QString &host)
{
    const QString name = QStringLiteral("Adresa konvertoru");
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo *list = nullptr;
    const int rc =
        host.isEmpty() ? EAI_NONAME : ::getaddrinfo(host.toLocal8Bit().constData(), nullptr, &hints, &list);
    if (rc != 0 || !list)
        return step(name, CheckVerdict::Failed, QStringLiteral("Adresu „%1“ nelze přeložit.").arg(host),
                    QStringLiteral("Zkontrolujte zápis IP adresy (např. 192.168.1.100); u jména počítače "
                                   "nastavení DNS."));
    char text[NI_MAXHOST] = {};
    ::getnameinfo(list->ai_addr, list->ai_addrlen, text, sizeof text, nullptr, 0, NI_NUMERICHOST);
    ::freeaddrinfo(list);
    return step(name, CheckVerdict::Ok,
                QStringLiteral("Adresa %1 je %2.").arg(host, QString::fromLatin1(text)));
}

CheckStep CheckConverter(const QString &host, quint32 udpPort, quint32 timeoutMs)
{
    const QString name = QStringLiteral("LAN konvertor");
    const QString where = QStringLiteral("%1, UDP port %2").arg(host).arg(udpPort);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo *list = nullptr;
    if (udpPort == 0 || udpPort > 65535 ||
        ::getaddrinfo(host.toLocal8Bit().constData(), std::to_string(udpPort).c_str(), &hints, &list) != 0 ||
        !list)
        return step(name, CheckVerdict::Failed, QStringLiteral("Na %1 se nelze obrátit.").arg(where),
                    QStringLiteral("Zkontrolujte IP adresu a UDP port v nastavení připojení."));
    const int fd = ::socket(list->ai_family, list->ai_socktype | SOCK_CLOEXEC, list->ai_protocol);
    const bool connected = fd >= 0 && ::connect(fd, list->ai_addr, list->ai_addrlen) == 0;
    ::freeaddrinfo(list);
    enum { Answered, Refused, Silent, Broken } outcome = Broken;
    if (connected) {
        const auto sequence =
            static_cast<std::uint16_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        const auto query = rqframe::encodeConverterFrame(rqframe::kConverterQueryStart, sequence);
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max<quint32>(timeoutMs, 200));
        outcome = ::send(fd, query.data(), query.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(query.size())
                      ? Silent
                      : (errno == ECONNREFUSED ? Refused : Broken);
        while (outcome == Silent) {
            const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0)
                break;
            timeval tv{static_cast<time_t>(left / 1000000), static_cast<suseconds_t>(left % 1000000)};
            ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
            std::uint8_t buffer[64];
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                if (errno == ECONNREFUSED)
                    outcome = Refused;
                break;
            }
            std::uint16_t got = 0;
            if (rqframe::decodeConverterFrame(buffer, static_cast<std::size_t>(n),
                                              rqframe::kConverterReplyStart, got) == rqframe::Decode::Ok &&
                got == sequence)
                outcome = Answered;
        }
    }
    if (fd >= 0)
        ::close(fd);
    switch (outcome) {
    case Answered:
        return step(name, CheckVerdict::Ok, QStringLiteral("LAN konvertor na %1 odpovídá.").arg(where));
    case Refused:
        return step(
            name, CheckVerdict::Failed,
            QStringLiteral("Na %1 nikdo neodpověděl: počítač existuje, ale UDP port je zavřený "
                           "(konvertor tam není nebo neběží).")
                .arg(where),
            QStringLiteral("Zkontrolujte UDP port v nastavení připojení a zda je na té adrese opravdu "
                           "konvertor RQ-4638 a je zapnutý."));
    case Silent:
        return step(
            name, CheckVerdict::Failed, QStringLiteral("Na %1 nikdo neodpověděl.").arg(where),
            QStringLiteral("Zkontrolujte napájení a síťový kabel konvertoru, jeho IP adresu a UDP port; "
                           "případně firewall mezi počítačem a konvertorem."));
    case Broken:
        break;
    }
    return step(name, CheckVerdict::Failed, QStringLiteral("Dotaz na %1 nelze odeslat.").arg(where),
                QStringLiteral("Zkontrolujte síťové připojení počítače."));
}

ModuleLink::ModuleLink(TData &data) : m_data(data), m_kind(data.adapterKind)
{
    if (data.ready()) {
        m_handle = data.handle;
        m_baud = data.baudRate;
        m_timeout = ReplyTimeoutOfRate(data.baudRate);
        return;
    }
    LinkStats::Pause pause;
    InitBlock block{};
    switch (m_kind) {
    case 0:
        block[0] = data.comPort;
        break;
    case 1:
        block[0] = data.isaBase;
        break;
    case 4:
        data.ipAddress8bit = ToCp1250(data.ipAddress);
        block[0] = reinterpret_cast<std::uintptr_t>(data.ipAddress8bit.constData());
        block[1] = data.udpPort;
        block[2] = data.udpTimeout;
        break;
    default:
        break;
    }
    m_own = true;
    m_openError = OpenAdapter(m_kind, &m_handle, block);
    if (m_openError != 0) {
        // A library whose Init failed stays bound; the checks leave nothing bound.
        if (AdapterBound())
            CloseAdapter(m_kind, &m_handle);
        m_handle = 0;
    }
}

ModuleLink::~ModuleLink()
{
    LinkStats::Pause pause;
    if (m_own) {
        if (m_handle != 0)
            CloseAdapter(m_kind, &m_handle);
    } else if (m_baud != m_data.baudRate || m_timeout != ReplyTimeoutOfRate(m_data.baudRate)) {
        // The borrowed connection goes on at its own rate.
        ConfigureAdapter(m_kind, m_handle, m_data.baudRate, ReplyTimeoutOfRate(m_data.baudRate), 2);
    }
}

quint8 ModuleLink::identify(quint8 address, quint32 baud, QString *identity, quint32 timeoutMs)
{
    if (m_handle == 0)
        return static_cast<quint8>(m_openError ? m_openError : AdapterError::NotBound);
    LinkStats::Pause pause;
    const quint32 timeout = timeoutMs ? timeoutMs : ReplyTimeoutOfRate(baud);
    if (baud != m_baud || timeout != m_timeout) {
        const quint32 result = ConfigureAdapter(m_kind, m_handle, baud, timeout, 2);
        if (result != 0)
            return static_cast<quint8>(std::min<quint32>(result, 255));
        m_baud = baud;
        m_timeout = timeout;
    }
    QString text;
    BusLink link; // a single try: the check counts what a try costs
    link.kind = m_kind;
    link.handle = m_handle;
    quint8 d0 = 0;
    for (quint8 sub = 0; sub < 3; ++sub) {
        const BusReply reply = link.transact({address, CmdIdentify, sub, {d0, 0, 0, 0, 0}});
        if (!reply.ok())
            return reply.error;
        d0 = reply.d[0];
        if (sub == 2)
            text += QStringLiteral(" v.");
        for (std::size_t k = 1; k < 5; ++k)
            text += FromCp1250(reply.d[k]);
    }
    if (identity)
        *identity = text;
    return 0;
}

QList<quint32> ProbeRates(const TData &data, QList<quint32> *unheard)
{
    QList<quint32> rates = DefaultScanBauds();
    const QList<quint32> deaf = BaudsBeyondUdpTimeout(AdapterSettingsOf(data), rates);
    for (quint32 rate : deaf)
        rates.removeAll(rate);
    if (unheard)
        *unheard = deaf;
    return rates;
}

QList<ProbeHit> ProbeModule(ModuleLink &link, quint8 address, quint32 baud, const QList<quint32> &rates,
                            const AdapterSettings &adapter)
{
    QList<int> common;
    for (int a = 0; a <= 16; ++a)
        common << a;
    common << 255;
    // The record's rate first, then the others in the search's order; at each
    // the record's address (until it answered: a module has one rate) and
    // the common addresses, with the search's probe timeout.
    QList<quint32> order{baud};
    for (quint32 rate : rates)
        if (rate != baud)
            order << rate;
    QList<ProbeHit> hits;
    bool addressFound = false;
    for (quint32 rate : order) {
        const quint32 timeout = ProbeTimeoutMs(adapter, rate);
        QString identity;
        if (rate != baud && !addressFound && link.identify(address, rate, &identity, timeout) == 0) {
            hits.append({address, rate, identity});
            addressFound = true;
        }
        for (int a : common) {
            if (a != address && link.identify(static_cast<quint8>(a), rate, &identity, timeout) == 0)
                hits.append({static_cast<quint8>(a), rate, identity});
        }
    }
    return hits;
}

QString ProbedText(quint8 address, quint32 baud, const QList<quint32> &rates, const QList<quint32> &unheard)
{
    QStringList list{QString::number(baud)};
    for (quint32 rate : rates)
        if (rate != baud)
            list << QString::number(rate);
    const QString last = list.takeLast();
    const QString joined =
        list.isEmpty() ? last : list.join(QStringLiteral(", ")) + QStringLiteral(" a ") + last;
    QString text =
        QStringLiteral("Zkoušena adresa %1 a adresy 0..16 a 255 při %2 Bd.").arg(address).arg(joined);
    if (!unheard.isEmpty()) {
        QStringList deaf;
        for (quint32 rate : unheard)
            deaf << QString::number(rate);
        text += QStringLiteral(" Při %1 Bd ne: s UDP timeoutem konvertoru by odpověď nepřišla včas.")
                    .arg(deaf.join(QStringLiteral(", ")));
    }
    return text;
}

QList<CheckStep> RunLinkChecks(TData &data, const std::function<void(const CheckStep &)> &progress)
{
    return RunLinkChecks(data, data.moduleAddress, data.baudRate, progress);
}

QString DevicePathToCheck(const TData &data)
{
    return data.adapterKind == 0 || data.adapterKind == 3 ? DevicePathOf(data.adapterKind, data.comPort)
                                                          : QString();
}

QList<CheckStep> RunLinkChecks(TData &data, quint8 address, quint32 baud,
                               const std::function<void(const CheckStep &)> &progress,
                               const std::optional<CheckStep> &holders)
{
    QList<CheckStep> steps;
    const auto add = [&](const CheckStep &s) {
        steps.append(s);
        if (progress)
            progress(s);
        return s.verdict != CheckVerdict::Failed;
    };
    const quint8 kind = data.adapterKind;
    if (kind == 0 || kind == 3) {
        QString source;
        const QString path = DevicePathOf(kind, data.comPort, &source);
        const QString folder = QStringLiteral("/dev/serial/by-id");
        add(step(QStringLiteral("Port"), CheckVerdict::Info,
                 (kind == 0 ? QStringLiteral("COM%1 je %2").arg(data.comPort).arg(path)
                            : QStringLiteral("USB konvertor je %1").arg(path)) +
                     (source.isEmpty() ? QStringLiteral(" (výchozí název).")
                                       : QStringLiteral(" (podle %1).").arg(source))));
        const bool usable = add(CheckDeviceExists(path)) && add(CheckDeviceAccess(path));
        if (usable)
            add(holders ? *holders : CheckDeviceHolders(path));
        add(CheckStableNames(path, folder));
        if (!usable)
            return steps;
    } else if (kind == 4) {
        if (!add(CheckHostResolves(data.ipAddress)))
            return steps;
        if (!add(CheckConverter(data.ipAddress, data.udpPort, data.udpTimeout)))
            return steps;
    } else if (kind == 1 || kind == 2) {
        add(step(
            QStringLiteral("Rozhraní"), CheckVerdict::Info,
            QStringLiteral("Karty PCI-638 a PCI-4638 lze zkontrolovat jen pokusem o spojení s modulem.")));
    } else {
        add(step(QStringLiteral("Rozhraní"), CheckVerdict::Failed, QStringLiteral("Neznámý typ rozhraní."),
                 QStringLiteral("Zvolte rozhraní v dialogu Připojení.")));
        return steps;
    }

    const QString module = QStringLiteral("Modul");
    ModuleLink link(data);
    if (link.openError() != 0) {
        add(step(module, CheckVerdict::Failed,
                 QStringLiteral("Rozhraní nelze otevřít: %1").arg(ErrorText(kind, link.openError())),
                 QStringLiteral("Odstraňte příčinu podle textu chyby a kontrolu opakujte.")));
        return steps;
    }
    // Three identifications, so that a link that loses a reply now and then
    // is told apart from a module that is not there.
    constexpr int Attempts = 3;
    int answered = 0;
    quint8 error = 0;
    QString identity;
    for (int i = 0; i < Attempts; ++i) {
        QString id;
        const quint8 e = link.identify(address, baud, &id);
        if (e == 0) {
            ++answered;
            identity = id;
        } else {
            error = e;
        }
    }
    const QString where = QStringLiteral("Na adrese %1 při %2 Bd").arg(address).arg(baud);
    if (answered == Attempts) {
        add(step(module, CheckVerdict::Ok, QStringLiteral("%1 odpovídá modul %2.").arg(where, identity)));
        return steps;
    }
    const QString errorText = ErrorText(kind, error);
    if (answered > 0) {
        add(step(module, CheckVerdict::Warning,
                 QStringLiteral("%1 odpovídá modul %2, ale jen na %3 ze %4 identifikací (%5).")
                     .arg(where, identity)
                     .arg(answered)
                     .arg(Attempts)
                     .arg(errorText),
                 QStringLiteral("Spojení je nespolehlivé: chyby ukazuje karta Provoz. Zkontrolujte kabel, "
                                "zakončení a rušení linky; u LAN konvertoru zvyšte UDP timeout.")));
        return steps;
    }
    add(step(module, CheckVerdict::Failed,
             QStringLiteral("Modul na adrese %1 při %2 Bd neodpověděl správně: %3.")
                 .arg(address)
                 .arg(baud)
                 .arg(errorText),
             kind == 4 ? QStringLiteral("Konvertor odpovídá, mlčí modul: zkontrolujte vedení RS-485 mezi "
                                        "konvertorem a modulem, napájení modulu, jeho adresu a rychlost.")
                       : QStringLiteral("Zkontrolujte kabel ke sběrnici, napájení modulu, jeho adresu a "
                                        "rychlost.")));
    QList<quint32> unheard;
    const QList<quint32> rates = ProbeRates(data, &unheard);
    const QList<ProbeHit> hits = ProbeModule(link, address, baud, rates, AdapterSettingsOf(data));
    const QString probed = ProbedText(address, baud, rates, unheard);
    const QString probe = QStringLiteral("Jiná rychlost nebo adresa");
    if (hits.isEmpty()) {
        add(step(probe, CheckVerdict::Failed, QStringLiteral("Neodpověděl žádný modul. %1").arg(probed),
                 QStringLiteral("Zkontrolujte kabel, napájení modulu a zakončení linky; u převodníku RS-485 "
                                "záměnu vodičů A a B. Modul na jiné adrese najde hledání modulů.")));
        return steps;
    }
    // Of several modules the one of the record's model is most likely the
    // one meant; the record's address at another rate comes first.
    const QString model = ModelNameOfIdentity(data.identity);
    const auto same = std::find_if(hits.cbegin(), hits.cend(), [&model](const ProbeHit &h) {
        return !model.isEmpty() && ModelNameOfIdentity(h.identity) == model;
    });
    const auto atAddress = std::find_if(hits.cbegin(), hits.cend(),
                                        [address](const ProbeHit &h) { return h.address == address; });
    const ProbeHit &first = same != hits.cend()        ? *same
                            : atAddress != hits.cend() ? *atAddress
                                                       : hits.first();
    QString advice;
    if (first.address == address)
        advice = QStringLiteral("V dialogu Připojení zvolte %1 Bd.").arg(first.baud);
    else if (first.baud == baud)
        advice = QStringLiteral("V dialogu Připojení zadejte adresu %1.").arg(first.address);
    else
        advice = QStringLiteral("V dialogu Připojení zadejte adresu %1 a zvolte %2 Bd.")
                     .arg(first.address)
                     .arg(first.baud);
    add(step(probe, CheckVerdict::Warning, QStringLiteral("Odpovídá: %1. %2").arg(rateList(hits), probed),
             advice));
    return steps;
}
