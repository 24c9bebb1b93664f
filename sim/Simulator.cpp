#include "Simulator.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextStream>
#include <QTimer>
#include <QUdpSocket>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

const char kHelp[] =
    "commands (MOD = module bus address, numbers decimal or 0x hex):\n"
    "  modules                        list modules\n"
    "  ain MOD IN VALUE [V|ohm|C]     set the true value of analog input IN\n"
    "  ramp MOD IN FROM TO SEC [V|ohm|C] input IN moves FROM..TO in SEC s, again and again\n"
    "  aerr MOD GAIN OFFSET           analog front end errors: U*(1+GAIN)+OFFSET volts\n"
    "  temp MOD CELSIUS               internal temperature\n"
    "  terr MOD GAIN ZERO             thermometer errors: raw = ZERO + tenthsK*(1+GAIN)\n"
    "  jumper MOD 0|1                 thermometer calibration jumper shorted\n"
    "  din MOD HEX|walk               physical digital inputs (negation applies on read)\n"
    "  dout MOD                       latched and physical outputs\n"
    "  status MOD [HEX]               read or set the status register\n"
    "  mem MOD PAGE ADDR [VALUE]      read or set one configuration memory byte\n"
    "  dump MOD                       the 512 memory bytes as hex\n"
    "  load MOD HEX                   set all 512 memory bytes\n"
    "  power MOD                      power cycle: address/baud from memory, PWR|RST\n"
    "  hangup [SEC]                   hang up the pseudo-terminal; a new one after SEC s (0)\n"
    "  fault RULE                     add a fault rule\n"
    "  faults                         list fault rules\n"
    "  clear                          remove all fault rules\n"
    "  counters                       requests, replies, ignored, bad, faults, collisions\n"
    "  reset                          zero the counters\n"
    "  quit                           stop the simulator";

// Longest control line: "load" with 1024 hex digits fits four times over.
constexpr qint64 kMaxControlLine = 4096;

QString ok(const QString &payload = {})
{
    return payload.isEmpty() ? QStringLiteral("OK") : QStringLiteral("OK ") + payload;
}

QString err(const QString &text)
{
    return QStringLiteral("ERR ") + text;
}

QString hex32(std::uint32_t v)
{
    return QStringLiteral("0x%1").arg(v, 8, 16, QLatin1Char('0'));
}

} // namespace

Simulator::Simulator(QObject *parent) : QObject(parent)
{
    m_clock.start();
    m_saveTimer.setSingleShot(true);
    m_saveTimer.setInterval(50);
    connect(&m_saveTimer, &QTimer::timeout, this, &Simulator::saveState);
}

Simulator::~Simulator()
{
    if (m_saveTimer.isActive())
        saveState();
    if (m_ptyMaster >= 0)
        ::close(m_ptyMaster);
    if (m_ptySlave >= 0)
        ::close(m_ptySlave);
    if (!m_ptyLink.isEmpty())
        QFile::remove(m_ptyLink);
}

bool Simulator::loadState(const QString &path, QString &error)
{
    m_statePath = path;
    QFile file(path);
    if (!file.exists()) { // first start: create it with the defaults
        if (saveState())
            return true;
        error = QStringLiteral("cannot write ") + path;
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read ") + path;
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (doc.isNull()) {
        error = path + QStringLiteral(": ") + parseError.errorString();
        return false;
    }
    const QJsonArray list = doc.object().value(u"modules").toArray();
    for (qsizetype i = 0; i < list.size() && i < static_cast<qsizetype>(m_modules.size()); ++i) {
        const QByteArray bytes =
            QByteArray::fromHex(list.at(i).toObject().value(u"memory").toString().toLatin1());
        if (bytes.size() != SimModule::kMemorySize) {
            error = path + QStringLiteral(": module %1 has no 512-byte memory").arg(i);
            return false;
        }
        SimModule &m = *m_modules[static_cast<std::size_t>(i)];
        std::copy(bytes.begin(), bytes.end(), m.memory.begin());
        m.powerUp(); // a stored address or baud index takes effect now, as after power-up
    }
    return true;
}

void Simulator::stateChanged()
{
    // A restore writes hundreds of bytes in a row: one write of the file
    // shortly after the last change, and at exit, instead of one per byte.
    if (!m_statePath.isEmpty() && !m_saveTimer.isActive())
        m_saveTimer.start();
}

bool Simulator::saveState()
{
    m_saveTimer.stop();
    if (m_statePath.isEmpty())
        return true;
    QJsonArray list;
    for (const auto &m : m_modules) {
        QJsonObject o;
        o.insert(u"model", m->modelName());
        o.insert(u"firmware", m->firmware());
        const QByteArray bytes(reinterpret_cast<const char *>(m->memory.data()), SimModule::kMemorySize);
        o.insert(u"memory", QString::fromLatin1(bytes.toHex()));
        list.append(o);
    }
    QJsonObject root;
    root.insert(u"modules", list);
    // Temporary file and rename: a crash never leaves half a memory behind.
    // The file is small, so write() only buffers and a full disk or a file
    // size limit shows only when the buffer goes out: flush and check it,
    // sync, and keep the old file whenever anything failed.
    const QByteArray bytes = QJsonDocument(root).toJson();
    QSaveFile file(m_statePath);
    bool good = file.open(QIODevice::WriteOnly);
    good = good && file.write(bytes) == bytes.size() && file.flush();
    good = good && ::fsync(file.handle()) == 0;
    if (good)
        good = file.commit();
    else
        file.cancelWriting();
    m_stateSaved = good;
    if (!good)
        std::fprintf(stderr, "rqsim: state file %s not written: %s\n", qPrintable(m_statePath),
                     qPrintable(file.errorString()));
    return good;
}

bool Simulator::openUdp(const QHostAddress &address, quint16 port, QString &error)
{
    m_udp = new QUdpSocket(this);
    if (!m_udp->bind(address, port)) {
        error = QStringLiteral("UDP bind: ") + m_udp->errorString();
        return false;
    }
    m_udpOther = new QUdpSocket(this);
    m_udpOther->bind(address, 0);
    connect(m_udp, &QUdpSocket::readyRead, this, &Simulator::readUdp);
    return true;
}

quint16 Simulator::udpPort() const
{
    return m_udp ? m_udp->localPort() : 0;
}

bool Simulator::openPty(const QString &linkPath, QString &error)
{
    m_ptyMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_ptyMaster < 0 || ::grantpt(m_ptyMaster) != 0 || ::unlockpt(m_ptyMaster) != 0) {
        error = QStringLiteral("pseudo-terminal: ") + QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    m_ptyPath = QString::fromLocal8Bit(::ptsname(m_ptyMaster));
    m_ptySlave = ::open(::ptsname(m_ptyMaster), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_ptySlave < 0) {
        error = QStringLiteral("pseudo-terminal slave: ") + QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    // Raw until a client sets it up itself: no echo, no line editing.
    termios tio{};
    ::tcgetattr(m_ptySlave, &tio);
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
    ::tcsetattr(m_ptySlave, TCSANOW, &tio);
    if (!linkPath.isEmpty()) {
        QFile::remove(linkPath);
        if (!QFile::link(m_ptyPath, linkPath)) {
            error = QStringLiteral("cannot create link ") + linkPath;
            return false;
        }
        m_ptyLink = linkPath;
    }
    m_ptyNotifier = new QSocketNotifier(m_ptyMaster, QSocketNotifier::Read, this);
    connect(m_ptyNotifier, &QSocketNotifier::activated, this, &Simulator::readPty);
    return true;
}

void Simulator::closePty()
{
    delete m_ptyNotifier;
    m_ptyNotifier = nullptr;
    // Closing the master hangs up every client's end of the line.
    if (m_ptyMaster >= 0)
        ::close(m_ptyMaster);
    if (m_ptySlave >= 0)
        ::close(m_ptySlave);
    m_ptyMaster = m_ptySlave = -1;
    m_ptyRx.clear();
    if (!m_ptyLink.isEmpty())
        QFile::remove(m_ptyLink);
}

void Simulator::reopenPty()
{
    QString error;
    if (!openPty(m_ptyLink, error)) {
        closePty();
        std::fprintf(stderr, "rqsim: %s\n", qPrintable(error));
        return;
    }
    m_ptyDown = false;
    // Whoever watches stdout learns the new device (the link stays as it was).
    std::printf("pty %s\n", qPrintable(m_ptyPath));
    std::fflush(stdout);
}

bool Simulator::openControl(quint16 port, QString &error)
{
    m_control = new QTcpServer(this);
    if (!m_control->listen(QHostAddress::LocalHost, port)) {
        error = QStringLiteral("control channel: ") + m_control->errorString();
        return false;
    }
    connect(m_control, &QTcpServer::newConnection, this, &Simulator::acceptControl);
    return true;
}

quint16 Simulator::controlPort() const
{
    return m_control ? m_control->serverPort() : 0;
}

SimModule *Simulator::moduleAt(int address, std::uint32_t baud)
{
    // A module listening at another baud rate hears only noise.
    for (const auto &m : m_modules)
        if (m->address() == address && (baud == 0 || baud == m->baudRate()))
            return m.get();
    return nullptr;
}

int Simulator::wireDelayMs(std::uint32_t baud) const
{
    if (!m_wireTime || baud == 0)
        return 0;
    // Request and reply on the bus, 10 bits a character.
    const std::uint32_t bits =
        10 * static_cast<std::uint32_t>(rqframe::kSerialRequestSize + rqframe::kSerialReplySize);
    return static_cast<int>((bits * 1000 + baud - 1) / baud);
}

bool Simulator::process(const rqframe::Request &request, std::uint32_t baud, rqframe::Reply &reply,
                        FaultEffects &effects)
{
    ++m_counters.requests;
    SimModule *module = moduleAt(request.address, baud);
    if (!module) {
        ++m_counters.ignored;
        if (m_verbose)
            std::fprintf(stderr, "rqsim: ignored request to %u at %u Bd\n", request.address, baud);
        return false;
    }
    effects = m_faults.apply(request);
    m_counters.faults += effects.fired;
    // Two modules that hear the same request answer at once: on a shared
    // line their replies garble each other.
    int listeners = 0;
    for (const auto &m : m_modules)
        if (m->address() == request.address && (baud == 0 || baud == m->baudRate()))
            ++listeners;
    if (listeners > 1) {
        effects.badCrc = true;
        effects.noise = true;
        ++m_counters.collisions;
    }
    if (effects.error) {
        reply = rqframe::Reply{request.address, request.command, request.subcode,
                               static_cast<std::uint8_t>(*effects.error), request.d};
    } else {
        const auto before = module->memory;
        reply = module->handle(request, m_clock.elapsed());
        if (module->memory != before)
            stateChanged();
    }
    if (effects.readback)
        reply.d[3] = static_cast<std::uint8_t>(*effects.readback);
    if (effects.wrongAddress)
        reply.address = static_cast<std::uint8_t>(reply.address + 1);
    if (effects.wrongCommand)
        reply.command = static_cast<std::uint8_t>(reply.command + 1);
    if (m_verbose)
        std::fprintf(stderr, "rqsim: %u cmd %u sub %u -> err %u D %02x %02x %02x %02x %02x%s\n",
                     request.address, request.command, request.subcode, reply.error, reply.d[0], reply.d[1],
                     reply.d[2], reply.d[3], reply.d[4], effects.fired ? " (fault)" : "");
    return !effects.drop;
}

QByteArray Simulator::damage(QByteArray frame, const FaultEffects &e) const
{
    if (e.badCrc)
        frame[frame.size() - 1] = static_cast<char>(frame.at(frame.size() - 1) ^ 0x5A);
    if (e.truncate)
        frame.truncate(frame.size() / 2);
    if (e.noise)
        frame.prepend(QByteArray("\x00\xFF\x13", 3));
    if (e.garbage)
        frame.append(QByteArray("\x13\xFF\x00", 3));
    return frame;
}

void Simulator::later(int delayMs, std::function<void()> action)
{
    if (delayMs <= 0)
        action();
    else
        QTimer::singleShot(delayMs, Qt::PreciseTimer, this, std::move(action));
}

void Simulator::readUdp()
{
    while (m_udp->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_udp->receiveDatagram(512);
        const QByteArray data = datagram.data();
        rqframe::Request request;
        std::uint16_t sequence = 0;
        std::uint32_t baud = 0;
        // A question to the converter itself: answered at once, whatever the bus does.
        if (rqframe::decodeConverterFrame(reinterpret_cast<const std::uint8_t *>(data.constData()),
                                          static_cast<std::size_t>(data.size()),
                                          rqframe::kConverterQueryStart, sequence) == rqframe::Decode::Ok) {
            const auto answer = rqframe::encodeConverterFrame(rqframe::kConverterReplyStart, sequence);
            sendUdp(QByteArray(reinterpret_cast<const char *>(answer.data()),
                               static_cast<qsizetype>(answer.size())),
                    datagram.senderAddress(), static_cast<quint16>(datagram.senderPort()), false);
            continue;
        }
        if (rqframe::decodeUdpRequest(reinterpret_cast<const std::uint8_t *>(data.constData()),
                                      static_cast<std::size_t>(data.size()), request, sequence,
                                      baud) != rqframe::Decode::Ok) {
            ++m_counters.bad;
            continue;
        }
        rqframe::Reply reply;
        FaultEffects e;
        if (!process(request, baud, reply, e))
            continue;
        if (e.wrongSequence)
            sequence = static_cast<std::uint16_t>(sequence + 1);
        const auto encoded = rqframe::encodeUdpReply(reply, sequence);
        const QByteArray frame = damage(QByteArray(reinterpret_cast<const char *>(encoded.data()),
                                                   static_cast<qsizetype>(encoded.size())),
                                        e);
        const QHostAddress to = datagram.senderAddress();
        const quint16 port = static_cast<quint16>(datagram.senderPort());
        const bool other = e.otherPort;
        const bool split = e.split;
        const bool duplicate = e.duplicate;
        const int copyAfter = e.duplicateAfterMs;
        later(e.delayMs + wireDelayMs(baud), [this, frame, to, port, other, split, duplicate, copyAfter] {
            auto send = [this, frame, to, port, other, split] {
                if (split) {
                    sendUdp(frame.left(frame.size() / 2), to, port, other);
                    sendUdp(frame.mid(frame.size() / 2), to, port, other);
                } else {
                    sendUdp(frame, to, port, other);
                }
                ++m_counters.replies;
            };
            send();
            if (duplicate)
                later(copyAfter, send);
        });
    }
}

void Simulator::sendUdp(const QByteArray &datagram, const QHostAddress &to, quint16 port, bool otherPort)
{
    (otherPort && m_udpOther ? m_udpOther : m_udp)->writeDatagram(datagram, to, port);
}

std::uint32_t Simulator::ptyBaud() const
{
    termios tio{};
    if (m_ptySlave < 0 || ::tcgetattr(m_ptySlave, &tio) != 0)
        return 0; // no line: every module hears
    switch (::cfgetospeed(&tio)) {
    case B600:
        return 600;
    case B1200:
        return 1200;
    case B2400:
        return 2400;
    case B4800:
        return 4800;
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    case B38400:
        return 38400;
    case B57600:
        return 57600;
    case B115200:
        return 115200;
    default:
        return 0;
    }
}

void Simulator::readPty()
{
    char buffer[512];
    for (;;) {
        const ssize_t n = ::read(m_ptyMaster, buffer, sizeof buffer);
        if (n > 0) {
            if (m_echo) // a half-duplex line hears itself
                writePty(QByteArray(buffer, n));
            m_ptyRx.append(buffer, n);
            // A short read took all there was: no second read just for EAGAIN.
            if (static_cast<std::size_t>(n) < sizeof buffer)
                break;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
    takeSerialRequests();
}

void Simulator::serialInput(const QByteArray &bytes)
{
    if (m_echo)
        writePty(bytes);
    m_ptyRx.append(bytes);
    takeSerialRequests();
}

void Simulator::takeSerialRequests()
{
    // Resynchronise like a module on a bus: a frame starts at a start byte
    // and ends after its fixed length with a valid CRC.
    while (!m_ptyRx.isEmpty()) {
        const qsizetype start = m_ptyRx.indexOf(static_cast<char>(rqframe::kRequestStart));
        if (start < 0) {
            m_ptyRx.clear();
            ++m_counters.bad;
            break;
        }
        if (start > 0) {
            m_ptyRx.remove(0, start);
            ++m_counters.bad;
        }
        if (m_ptyRx.size() < static_cast<qsizetype>(rqframe::kSerialRequestSize))
            break;
        rqframe::Request request;
        if (rqframe::decodeSerialRequest(reinterpret_cast<const std::uint8_t *>(m_ptyRx.constData()),
                                         rqframe::kSerialRequestSize, request) != rqframe::Decode::Ok) {
            m_ptyRx.remove(0, 1);
            ++m_counters.bad;
            continue;
        }
        m_ptyRx.remove(0, static_cast<qsizetype>(rqframe::kSerialRequestSize));
        const std::uint32_t baud = ptyBaud();
        rqframe::Reply reply;
        FaultEffects e;
        if (!process(request, baud, reply, e))
            continue;
        const auto encoded = rqframe::encodeSerialReply(reply);
        const QByteArray frame = damage(QByteArray(reinterpret_cast<const char *>(encoded.data()),
                                                   static_cast<qsizetype>(encoded.size())),
                                        e);
        const bool split = e.split;
        const bool duplicate = e.duplicate;
        const int copyAfter = e.duplicateAfterMs;
        later(e.delayMs + wireDelayMs(baud), [this, frame, split, duplicate, copyAfter] {
            // A duplicate that follows at once goes out in the same burst, as
            // two frames back to back on a wire; dup=MS sends it later.
            const QByteArray burst = duplicate && copyAfter == 0 ? frame + frame : frame;
            if (split)
                writePtySplit(burst);
            else
                writePty(burst);
            m_counters.replies += burst.size() / frame.size();
            if (duplicate && copyAfter > 0)
                later(copyAfter, [this, frame] {
                    writePty(frame);
                    ++m_counters.replies;
                });
        });
    }
}

void Simulator::writePty(const QByteArray &bytes)
{
    if (m_serialSink) {
        m_serialSink(bytes);
        return;
    }
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::write(m_ptyMaster, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n > 0)
            done += n;
        else if (n < 0 && errno == EINTR)
            continue;
        else
            return; // nobody reads the line and its buffer is full: the bytes are lost, as on a wire
    }
}

void Simulator::writePtySplit(const QByteArray &bytes)
{
    // One byte a millisecond: the client sees the frame in many reads.
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const QByteArray one = bytes.mid(i, 1);
        QTimer::singleShot(static_cast<int>(i), Qt::PreciseTimer, this, [this, one] { writePty(one); });
    }
}

void Simulator::acceptControl()
{
    while (QTcpSocket *socket = m_control->nextPendingConnection()) {
        // Qt stops reading from the socket once this much waits unread, so a
        // client that never ends its line cannot grow rqsim without bound.
        socket->setReadBufferSize(kMaxControlLine + 1);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readControl(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void Simulator::readControl(QTcpSocket *socket)
{
    for (;;) {
        if (!socket->canReadLine()) {
            if (socket->bytesAvailable() > kMaxControlLine) {
                std::fprintf(stderr, "rqsim: control line longer than %lld bytes, client dropped\n",
                             static_cast<long long>(kMaxControlLine));
                socket->abort();
                socket->deleteLater();
            }
            return;
        }
        const QByteArray raw = socket->readLine(kMaxControlLine + 2);
        if (!raw.endsWith('\n')) { // a line that did not fit: refuse, do not guess
            std::fprintf(stderr, "rqsim: control line longer than %lld bytes, client dropped\n",
                         static_cast<long long>(kMaxControlLine));
            socket->abort();
            socket->deleteLater();
            return;
        }
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty())
            continue;
        const QString reply = control(line);
        socket->write(reply.toUtf8() + '\n');
        socket->flush();
        if (line == u"quit") {
            socket->waitForBytesWritten(1000);
            QTimer::singleShot(0, this, [] { QCoreApplication::quit(); });
        }
    }
}

QString Simulator::control(const QString &line)
{
    const QStringList w = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (w.isEmpty())
        return err(QStringLiteral("empty line"));
    const QString cmd = w.at(0).toLower();

    if (cmd == u"help")
        return ok(QString::fromLatin1(kHelp).replace(QLatin1Char('\n'), QStringLiteral(" | ")));
    if (cmd == u"quit")
        return ok();
    if (cmd == u"modules") {
        QStringList parts;
        for (const auto &m : m_modules)
            parts << QStringLiteral("%1:%2:%3:%4")
                         .arg(m->address())
                         .arg(m->modelName(), m->firmware())
                         .arg(m->baudRate());
        return ok(parts.join(QLatin1Char(' ')));
    }
    if (cmd == u"fault") {
        const QString error = m_faults.add(line.section(QLatin1Char(' '), 1, -1, QString::SectionSkipEmpty));
        return error.isEmpty() ? ok(QString::number(m_faults.rules().size())) : err(error);
    }
    if (cmd == u"faults") {
        QStringList parts;
        for (const FaultRule &r : m_faults.rules())
            parts << r.describe();
        return ok(parts.join(QStringLiteral("; ")));
    }
    if (cmd == u"clear") {
        m_faults.clear();
        return ok();
    }
    if (cmd == u"counters")
        return ok(QStringLiteral("requests=%1 replies=%2 ignored=%3 bad=%4 faults=%5 collisions=%6")
                      .arg(m_counters.requests)
                      .arg(m_counters.replies)
                      .arg(m_counters.ignored)
                      .arg(m_counters.bad)
                      .arg(m_counters.faults)
                      .arg(m_counters.collisions));
    if (cmd == u"reset") {
        m_counters = Counters{};
        return ok();
    }
    if (cmd == u"hangup") {
        // As a USB converter pulled out and plugged in again: the clients'
        // line hangs up, the device is gone for SEC seconds, then a new one
        // appears under the same link.
        bool good = w.size() == 1;
        const double seconds = w.size() == 2 ? w.at(1).toDouble(&good) : 0;
        if (!good || seconds < 0 || seconds > 3600)
            return err(QStringLiteral("hangup [SEC] (0..3600)"));
        if (m_ptyMaster < 0)
            return err(m_ptyDown ? QStringLiteral("the line is down") : QStringLiteral("no pseudo-terminal"));
        closePty();
        m_ptyDown = true;
        if (seconds == 0) {
            reopenPty();
            return m_ptyMaster >= 0 ? ok(m_ptyPath) : err(QStringLiteral("no new pseudo-terminal"));
        }
        QTimer::singleShot(static_cast<int>(seconds * 1000), this, [this] { reopenPty(); });
        return ok();
    }

    // Everything else names a module by its bus address.
    qint64 address = 0;
    if (w.size() < 2 || !parseNumber(w.at(1), address))
        return err(QStringLiteral("unknown command or missing module address; try help"));
    SimModule *m = moduleAt(static_cast<int>(address));
    if (!m)
        return err(QStringLiteral("no module at address %1").arg(address));
    // The numbers that follow the address, up to the first word that is
    // none; commands that take only numbers check that every word was one.
    std::vector<qint64> n;
    for (qsizetype i = 2; i < w.size(); ++i) {
        qint64 v = 0;
        if (!parseNumber(w.at(i), v))
            break;
        n.push_back(v);
    }
    const bool onlyNumbers = static_cast<qsizetype>(n.size()) == w.size() - 2;
    auto real = [&w](qsizetype i, double &v) {
        bool good = false;
        v = i < w.size() ? w.at(i).toDouble(&good) : 0;
        return good;
    };

    if (cmd == u"ain" || cmd == u"ramp") {
        const bool ramp = cmd == u"ramp";
        const qsizetype unitAt = ramp ? 6 : 4;
        double v = 0, to = 0, seconds = 0;
        if (w.size() < unitAt || w.size() > unitAt + 1 || n.empty() || n[0] < 0 || n[0] >= m->inputCount() ||
            !real(3, v) || (ramp && (!real(4, to) || !real(5, seconds) || seconds <= 0)))
            return err(ramp ? QStringLiteral("ramp MOD IN FROM TO SEC [V|ohm|C]")
                            : QStringLiteral("ain MOD IN VALUE [V|ohm|C]"));
        const auto i = static_cast<std::size_t>(n[0]);
        SimModule::Quantity q = SimModule::Quantity::Volts;
        if (w.size() > unitAt) {
            const QString unit = w.at(unitAt).toLower();
            q = unit == u"ohm" ? SimModule::Quantity::Ohms
                : unit == u"c" ? SimModule::Quantity::Celsius
                               : SimModule::Quantity::Volts;
        } else if (!m->quantity(static_cast<int>(i), q)) {
            q = SimModule::Quantity::Volts;
        }
        (q == SimModule::Quantity::Ohms      ? m->ohms
         : q == SimModule::Quantity::Celsius ? m->celsius
                                             : m->volts)[i] = v;
        m->ramps[i] = {ramp, q, v, to, static_cast<qint64>(seconds * 1000), m_clock.elapsed()};
        return ok();
    }
    if (cmd == u"aerr") {
        double g = 0, o = 0;
        if (!real(2, g) || !real(3, o))
            return err(QStringLiteral("aerr MOD GAIN OFFSET"));
        m->gainError = g;
        m->offsetError = o;
        return ok();
    }
    if (cmd == u"temp") {
        double t = 0;
        if (!real(2, t))
            return err(QStringLiteral("temp MOD CELSIUS"));
        m->temperature = t;
        return ok();
    }
    if (cmd == u"terr") {
        double g = 0, z = 0;
        if (!real(2, g) || !real(3, z))
            return err(QStringLiteral("terr MOD GAIN ZERO"));
        m->thermoGainError = g;
        m->thermoZeroError = z;
        return ok(QStringLiteral("raw=%1").arg(m->thermometerRaw()));
    }
    if (cmd == u"jumper") {
        if (n.size() != 1 || !onlyNumbers)
            return err(QStringLiteral("jumper MOD 0|1"));
        m->jumperShorted = n[0] != 0;
        return ok(QStringLiteral("raw=%1").arg(m->thermometerRaw()));
    }
    if (cmd == u"din") {
        if (w.size() >= 3 && w.at(2).toLower() == u"walk") {
            m->dinWalking = true;
        } else if (w.size() >= 3) {
            bool good = false;
            const uint v = w.at(2).toUInt(&good, 16);
            if (!good)
                return err(QStringLiteral("din MOD HEX|walk"));
            m->dinWalking = false;
            m->dinPhysical = v;
        }
        return ok(
            QStringLiteral("physical=%1 reported=%2")
                .arg(hex32(m->dinWalking ? 0 : m->dinPhysical), hex32(m->dinReported(m_clock.elapsed()))));
    }
    if (cmd == u"dout")
        return ok(
            QStringLiteral("latched=%1 physical=%2").arg(hex32(m->doutLatched), hex32(m->doutPhysical())));
    if (cmd == u"status") {
        if (w.size() >= 3) {
            bool good = false;
            const uint v = w.at(2).toUInt(&good, 16);
            if (!good)
                return err(QStringLiteral("status MOD [HEX]"));
            m->status = v;
        }
        return ok(hex32(m->status));
    }
    if (cmd == u"mem") {
        if (!onlyNumbers || n.size() < 2 || n.size() > 3 || n[0] < 0 || n[0] > 1 || n[1] < 0 || n[1] > 255 ||
            (n.size() == 3 && (n[2] < 0 || n[2] > 255)))
            return err(QStringLiteral("mem MOD PAGE ADDR [VALUE]"));
        auto &byte = m->memory[static_cast<std::size_t>(n[0] * 256 + n[1])];
        if (n.size() >= 3) {
            byte = static_cast<std::uint8_t>(n[2]);
            stateChanged();
        }
        return ok(QString::number(byte));
    }
    if (cmd == u"dump") {
        const QByteArray bytes(reinterpret_cast<const char *>(m->memory.data()), SimModule::kMemorySize);
        return ok(QString::fromLatin1(bytes.toHex()));
    }
    if (cmd == u"load") {
        const QByteArray bytes = QByteArray::fromHex(w.value(2).toLatin1());
        if (bytes.size() != SimModule::kMemorySize)
            return err(QStringLiteral("load MOD HEX (1024 hex digits)"));
        std::copy(bytes.begin(), bytes.end(), m->memory.begin());
        stateChanged();
        return ok();
    }
    if (cmd == u"power") {
        m->powerUp();
        return ok(QStringLiteral("address=%1 baud=%2").arg(m->address()).arg(m->baudRate()));
    }
    return err(QStringLiteral("unknown command; try help"));
}
