#ifndef RQ_DIAG_LINKCHECK_H
#define RQ_DIAG_LINKCHECK_H

#include <QList>
#include <QString>

#include <functional>
#include <optional>

struct AdapterSettings;
struct TData;

// "Zkontrolovat spojení": checks one after another, from the cable up to the
// module, each with a Czech verdict and what to do about it.

enum class CheckVerdict { Ok, Info, Warning, Failed };

struct CheckStep
{
    QString name; // what was checked ("Zařízení", "Oprávnění", ...)
    CheckVerdict verdict = CheckVerdict::Info;
    QString text;   // what was found
    QString advice; // what to do; empty when nothing is to be done
};

// A serial device named under /dev/serial/by-id (or the folder given).
struct SerialDevice
{
    QString stableName; // the by-id path
    QString device;     // where it points now (/dev/ttyUSB0)
};
QList<SerialDevice> ListSerialDevices(const QString &folder = QStringLiteral("/dev/serial/by-id"));

// The device the serial port library (kind 0, COM port) or the USB converter
// library (kind 3) opens, and where that choice came from (RQ_COM<n>, the
// port map's path, or empty for the default).
QString DevicePathOf(quint8 kind, quint8 comPort, QString *source = nullptr);

// The single checks; each can be run on its own.
CheckStep CheckDeviceExists(const QString &path);
CheckStep CheckDeviceAccess(const QString &path);
// Which processes hold the device open; this program (and what it started)
// and the simulator rqsim are not in the way. Reads every process's
// descriptors: may take long, safe on any thread.
CheckStep CheckDeviceHolders(const QString &path);
CheckStep CheckStableNames(const QString &path, const QString &folder = QStringLiteral("/dev/serial/by-id"));
CheckStep CheckHostResolves(const QString &host);
CheckStep CheckConverter(const QString &host, quint32 udpPort, quint32 timeoutMs);

// A way to the module for the checks: the record's open connection, or one
// opened just for them (closed again when this goes). Transactions through it
// are not counted in the connection's diagnostics.
class ModuleLink
{
public:
    explicit ModuleLink(TData &data);
    ~ModuleLink();
    ModuleLink(const ModuleLink &) = delete;
    ModuleLink &operator=(const ModuleLink &) = delete;

    quint32 openError() const { return m_openError; }
    quint8 kind() const { return m_kind; }
    // Identification (command 200, sub-codes 0..2) at the address and baud
    // rate, waiting timeoutMs for each reply (0: as the connection would);
    // the error code, and the identity text on success.
    quint8 identify(quint8 address, quint32 baud, QString *identity = nullptr, quint32 timeoutMs = 0);

private:
    TData &m_data;
    quint8 m_kind = 0;
    quint32 m_handle = 0;
    bool m_own = false;
    quint32 m_openError = 0;
    quint32 m_baud = 0;
    quint32 m_timeout = 0;
};

struct ProbeHit
{
    quint8 address = 0;
    quint32 baud = 0;
    QString identity;
};

// The rates a quick search probes: every rate the module search would,
// less those at which no reply reaches the LAN converter within its UDP
// timeout (those in *unheard).
QList<quint32> ProbeRates(const TData &data, QList<quint32> *unheard = nullptr);
// A quick search for a module that does not answer where the record says:
// at each of the rates (the record's first), the record's address (until it
// answered) and the common addresses 0..16 and 255, with the module search's
// probe timeouts. Every module that answered, in that order.
QList<ProbeHit> ProbeModule(ModuleLink &link, quint8 address, quint32 baud, const QList<quint32> &rates,
                            const AdapterSettings &adapter);
// What the quick search covered, said in the check's text.
QString ProbedText(quint8 address, quint32 baud, const QList<quint32> &rates, const QList<quint32> &unheard);

// Every check that fits the record's adapter, in order; stops where a later
// check could not tell anything more. progress gets each step as it is done.
// The module is looked for at the address and baud rate given (the record's
// by default); of several modules at other addresses the advice names one of
// the record's model. holders, when given, stands for CheckDeviceHolders of
// the port (done beforehand on another thread: it reads all of /proc).
QList<CheckStep> RunLinkChecks(TData &data, const std::function<void(const CheckStep &)> &progress = {});
QList<CheckStep> RunLinkChecks(TData &data, quint8 address, quint32 baud,
                               const std::function<void(const CheckStep &)> &progress = {},
                               const std::optional<CheckStep> &holders = std::nullopt);
// The serial device the checks look at (serial port or USB converter), else empty.
QString DevicePathToCheck(const TData &data);

#endif
