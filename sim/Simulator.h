// The simulated bus: modules, the ways in (UDP like the LAN converter, a
// pseudo-terminal like a serial line), the fault rules, the control channel
// and the state file.
#ifndef RQ_SIM_SIMULATOR_H
#define RQ_SIM_SIMULATOR_H

#include "Faults.h"
#include "SimModule.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

class QSocketNotifier;
class QTcpServer;
class QTcpSocket;
class QUdpSocket;

class Simulator : public QObject
{
    Q_OBJECT
public:
    struct Counters
    {
        qint64 requests = 0;   // valid request frames seen
        qint64 replies = 0;    // replies sent (a duplicate counts twice)
        qint64 ignored = 0;    // no module at that address and baud rate
        qint64 bad = 0;        // damaged request frames
        qint64 faults = 0;     // fault rules that fired
        qint64 collisions = 0; // requests two or more modules answered at once
    };

    explicit Simulator(QObject *parent = nullptr);
    ~Simulator() override;

    void addModule(std::unique_ptr<SimModule> module) { m_modules.push_back(std::move(module)); }
    std::vector<std::unique_ptr<SimModule>> &modules() { return m_modules; }
    FaultSet &faults() { return m_faults; }
    void setWireTime(bool on) { m_wireTime = on; }
    void setEcho(bool on) { m_echo = on; }
    void setVerbose(bool on) { m_verbose = on; }

    // State file: loaded once (modules already added), written shortly after
    // every change and at exit.
    bool loadState(const QString &path, QString &error);
    bool saveState();
    // False after a state save failed, until one succeeds again.
    bool stateSaved() const { return m_stateSaved; }

    // Each returns false with an error text on failure.
    bool openUdp(const QHostAddress &address, quint16 port, QString &error);
    bool openPty(const QString &linkPath, QString &error);
    bool openControl(quint16 port, QString &error);

    quint16 udpPort() const;
    QString ptyPath() const { return m_ptyPath; }
    quint16 controlPort() const;

    // One control channel line in, one reply line out ("OK ..." or "ERR ...").
    QString control(const QString &line);

    // The serial line without the pseudo-terminal, for fuzzing in process:
    // bytes as if read from the line; everything the modules would write on
    // the line goes to the sink instead (every module hears at any rate).
    void serialInput(const QByteArray &bytes);
    void setSerialSink(std::function<void(const QByteArray &)> sink) { m_serialSink = std::move(sink); }

private:
    void stateChanged();
    void readUdp();
    void readPty();
    void closePty();
    void reopenPty();
    void takeSerialRequests();
    void acceptControl();
    void readControl(QTcpSocket *socket);

    // Runs one request through the faults and the addressed module. Returns
    // false when nothing is to be sent (no module, dropped).
    bool process(const rqframe::Request &request, std::uint32_t baud, rqframe::Reply &reply,
                 FaultEffects &effects);
    // The first module at the address; with a baud rate, one listening at it.
    SimModule *moduleAt(int address, std::uint32_t baud = 0);
    std::uint32_t ptyBaud() const;
    int wireDelayMs(std::uint32_t baud) const;
    QByteArray damage(QByteArray frame, const FaultEffects &e) const;
    void sendUdp(const QByteArray &datagram, const QHostAddress &to, quint16 port, bool otherPort);
    void writePty(const QByteArray &bytes);
    void writePtySplit(const QByteArray &bytes);
    void later(int delayMs, std::function<void()> action);

    std::vector<std::unique_ptr<SimModule>> m_modules;
    FaultSet m_faults;
    Counters m_counters;
    QElapsedTimer m_clock;
    bool m_wireTime = false;
    bool m_echo = false;
    bool m_verbose = false;
    QString m_statePath;
    bool m_stateSaved = true;
    QTimer m_saveTimer;

    QUdpSocket *m_udp = nullptr;
    QUdpSocket *m_udpOther = nullptr;
    int m_ptyMaster = -1;
    int m_ptySlave = -1; // held open so the line survives clients coming and going
    QString m_ptyPath;
    QString m_ptyLink;
    QSocketNotifier *m_ptyNotifier = nullptr;
    bool m_ptyDown = false; // hung up by the control command, back later
    QByteArray m_ptyRx;
    std::function<void(const QByteArray &)> m_serialSink;
    QTcpServer *m_control = nullptr;
};

#endif
