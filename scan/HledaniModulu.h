#ifndef RQ_SCAN_HLEDANIMODULU_H
#define RQ_SCAN_HLEDANIMODULU_H

#include "comm/Spojeni.h"

#include <QJsonObject>
#include <QList>
#include <QLocale>
#include <QString>

#include <functional>
#include <optional>

// Module search: probes addresses at baud rates with the identification
// command through the adapter binding. No widgets; the search dialog and
// the command-line tool drive the same RunScan through a ScanReport.
//
//   ScanSettings s;                       // all addresses, all nine rates
//   s.adapter = AdapterSettingsOf(data);  // or as typed
//   s.addresses = *ParseAddressList(QStringLiteral("1,5,10-20"));
//   MyReport report;                      // found(), progress(), cancelled()
//   const ScanResult r = RunScan(s, report);
//   for (const ScanFinding &f : r.findings) ScanFindingJson(f);
//
// RunScan opens its own connection and closes it before it returns; since
// the program binds one adapter library at a time, a caller holding a
// connection closes it first (CloseConnection). The link counters belong to
// the user-interface thread: a caller that runs the search on another
// thread holds a LinkStats::Pause there until the search has ended (the
// probes are no connection's traffic anyway).

// What answered at one address and baud rate.
struct ScanFinding
{
    enum class Kind {
        Module,    // identified: model and firmware known
        Collision, // garbled answers even when asked again: two modules on one address?
        Fault,     // answered, but not to every identification part (note says why)
    };
    Kind kind = Kind::Module;
    quint8 address = 0;
    quint32 baud = 0;
    QString model;      // "RQ-3510"
    QString firmware;   // "1.08"
    QString identity;   // the 15 characters the connection setup builds
    double replyMs = 0; // the first identification transaction, request to reply; 0 for a collision
    QString note;       // empty, CollisionText, or the error text
};

inline const QString CollisionText = QStringLiteral("možná kolize adres");

struct ScanProgress
{
    int done = 0; // probes (addresses at one rate) finished
    int total = 0;
    qint64 elapsedMs = 0;
    qint64 remainingMs = 0; // estimate from the probe timeouts of what is left, scaled by the pace so far
    // The search's expected time (the sum of its probe timeouts) and the part
    // of it done: a progress bar by time, not by probe count, since a probe
    // at 600 Bd waits fifty times longer than one at 115200 Bd.
    qint64 expectedMs = 0;
    qint64 expectedDoneMs = 0;
};

// Where a search reports; every call comes from the thread that runs it.
class ScanReport
{
public:
    virtual ~ScanReport() = default;
    // A sweep at one baud rate begins, with this probe timeout.
    virtual void sweep(quint32 baud, quint32 timeoutMs)
    {
        Q_UNUSED(baud)
        Q_UNUSED(timeoutMs)
    }
    // A probe is about to be sent.
    virtual void probe(quint8 address, quint32 baud)
    {
        Q_UNUSED(address)
        Q_UNUSED(baud)
    }
    virtual void found(const ScanFinding &finding) = 0;
    virtual void progress(const ScanProgress &p) { Q_UNUSED(p) }
    // Asked before every transaction: a stop takes effect within one probe.
    virtual bool cancelled() const { return false; }
};

struct ScanSettings
{
    AdapterSettings adapter;
    QList<quint8> addresses; // empty: 0..255
    QList<quint32> bauds;    // empty: DefaultScanBauds()
    // Added to every probe's timeout, for a way to the bus slower than a
    // local line (a LAN converter in a remote network); still never longer
    // than the connection setup would wait.
    quint32 extraMs = 0;
};

struct ScanResult
{
    enum class End { Finished, Stopped, Failed };
    End end = End::Finished;
    QString error; // Failed: the adapter's error text
    int probes = 0;
    qint64 elapsedMs = 0;
    QList<ScanFinding> findings;
};

ScanResult RunScan(const ScanSettings &settings, ScanReport &report);

// One probe on a connection the caller holds, set to baud with the probe
// timeout (ProbeTimeoutMs): the identification parts at address, garbled
// ones asked once more. Nothing when nothing answered, or when the adapter
// itself failed (fatal then holds its text). beforePart, when given, is
// called before every request.
std::optional<ScanFinding> ProbeAddress(quint8 kind, quint32 handle, quint8 address, quint32 baud,
                                        QString &fatal, const std::function<void()> &beforePart = {});

// The nine rates, the common ones first.
QList<quint32> DefaultScanBauds();
QList<quint8> AllAddresses();

// Time a request and its reply take on the bus at a rate, in microseconds
// (11 + 12 bytes of 10 bits).
double WireTimeUs(quint32 baud);
// Reply timeout of one probe: the wire time plus a fifth and 3 ms for the
// module and the way there, never longer than the connection setup would wait.
quint32 ProbeTimeoutMs(const AdapterSettings &adapter, quint32 baud, quint32 extraMs = 0);
// The rates at which no module can answer within the LAN converter's own
// UDP timeout (its library waits no longer, whatever the probe allows): the
// request and reply alone take longer on the wire; slowest first. Empty for the other
// adapters and for UDP timeout 0 (the converter waits as the rate needs).
QList<quint32> BaudsBeyondUdpTimeout(const AdapterSettings &adapter, const QList<quint32> &bauds);

// "1,5,10-20": numbers and ranges of addresses 0..255, decimal or
// hexadecimal as typed elsewhere ($1F, 0x1F); blanks allowed. Each address
// once, in the order given. Nothing on an error, with the reason in *error.
std::optional<QList<quint8>> ParseAddressList(const QString &text, QString *error = nullptr);
// "9600,19200" or "all": rates of the baud rate table ("Bd" allowed after a
// number). "all" gives DefaultScanBauds().
std::optional<QList<quint32>> ParseBaudList(const QString &text, QString *error = nullptr);

// {"address", "baud", "model", "firmware", "identity", "replyMs", "kind", "note"}
QJsonObject ScanFindingJson(const ScanFinding &finding);
// One line per finding after a header, separator between fields: ';' for
// a CSV file in the program's form (rq::csv, without the byte order mark),
// a tab and plain line ends for the clipboard. The reply time in ms with
// three decimals and the locale's decimal separator.
QString ScanFindingsCsv(const QList<ScanFinding> &findings, QChar separator = QLatin1Char(';'));
QString ScanFindingKindText(ScanFinding::Kind kind);
// The reply time in milliseconds with one decimal, "< 0,1" below 0.05 ms,
// empty for a collision.
QString ScanReplyTimeText(const ScanFinding &finding, const QLocale &locale);

#endif
