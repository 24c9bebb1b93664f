#include "scan/HledaniModulu.h"

#include "app/Dekl.h"
#include "comm/Opakovani.h"
#include "core/Csv.h"
#include "core/Format.h"
#include "drivers/ErrorCodes.h"

#include <QElapsedTimer>
#include <QLocale>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace {

// Library codes the search tells apart (docs/protocol.md).
bool garbled(quint8 e)
{
    return e >= AdapterError::BadCrc && e <= AdapterError::GarbageAfter; // up to noise and garbage
}

enum class Probe { Silent, Answered, Fatal };

class Search
{
public:
    Search(const ScanSettings &settings, ScanReport &report) : m_settings(settings), m_report(report) {}

    ScanResult run()
    {
        m_clock.start();
        const QList<quint8> addresses =
            m_settings.addresses.isEmpty() ? AllAddresses() : m_settings.addresses;
        const QList<quint32> bauds = m_settings.bauds.isEmpty() ? DefaultScanBauds() : m_settings.bauds;
        const quint8 kind = m_settings.adapter.kind;

        // Planned time of every sweep, for the estimate of what is left.
        QList<double> planned;
        for (quint32 baud : bauds)
            planned.append(static_cast<double>(ProbeTimeoutMs(m_settings.adapter, baud, m_settings.extraMs)));
        double plannedLeft = 0;
        for (double p : planned)
            plannedLeft += p * static_cast<double>(addresses.size());
        double plannedDone = 0;
        m_progress.total = static_cast<int>(addresses.size() * bauds.size());
        m_progress.expectedMs = std::llround(plannedLeft);

        QByteArray ip8bit;
        InitBlock block = MakeInitBlock(m_settings.adapter, ip8bit);
        // The LAN converter library would wait its Init timeout on every
        // probe; without one it takes the timeout of each SetConfig.
        if (kind == 4)
            block[2] = 0;
        quint32 result = OpenAdapter(kind, &m_handle, block);
        if (result != 0)
            return failed(ConnectText::InitFailed + ErrorText(kind, result), false);

        for (qsizetype b = 0; b < bauds.size(); ++b) {
            const quint32 baud = bauds.at(b);
            const auto timeout = static_cast<quint32>(planned.at(b));
            result = ConfigureAdapter(kind, m_handle, baud, timeout, SetConfigThird);
            if (result != 0)
                return failed(ConnectText::InitFailed + ErrorText(kind, result), true);
            m_report.sweep(baud, timeout);
            for (quint8 address : addresses) {
                if (m_report.cancelled())
                    return finish(ScanResult::End::Stopped);
                if (probeAddress(address, baud) == Probe::Fatal)
                    return failed(m_fatal, true);
                ++m_result.probes;
                plannedDone += planned.at(b);
                plannedLeft -= planned.at(b);
                m_progress.done = m_result.probes;
                m_progress.expectedDoneMs = std::llround(plannedDone);
                m_progress.elapsedMs = m_clock.elapsed();
                // Silent probes dominate, and they last their timeout: scale
                // the plan of what is left by the pace so far.
                const double pace =
                    plannedDone > 0 ? static_cast<double>(m_progress.elapsedMs) / plannedDone : 1;
                m_progress.remainingMs = std::llround(std::max(0.0, plannedLeft) * pace);
                m_report.progress(m_progress);
            }
        }
        return finish(ScanResult::End::Finished);
    }

private:
    ScanResult finish(ScanResult::End end)
    {
        CloseAdapter(m_settings.adapter.kind, &m_handle);
        m_result.end = end;
        m_result.elapsedMs = m_clock.elapsed();
        return m_result;
    }
    ScanResult failed(const QString &text, bool opened)
    {
        if (opened)
            CloseAdapter(m_settings.adapter.kind, &m_handle);
        m_result.end = ScanResult::End::Failed;
        m_result.error = text;
        m_result.elapsedMs = m_clock.elapsed();
        return m_result;
    }

    Probe probeAddress(quint8 address, quint32 baud)
    {
        const std::optional<ScanFinding> f = ProbeAddress(m_settings.adapter.kind, m_handle, address, baud,
                                                          m_fatal, [&] { m_report.probe(address, baud); });
        if (!f)
            return m_fatal.isEmpty() ? Probe::Silent : Probe::Fatal;
        report(*f);
        return Probe::Answered;
    }

    void report(const ScanFinding &f)
    {
        m_result.findings.append(f);
        m_report.found(f);
    }

    const ScanSettings &m_settings;
    ScanReport &m_report;
    QElapsedTimer m_clock;
    quint32 m_handle = 0;
    ScanResult m_result;
    ScanProgress m_progress;
    QString m_fatal;
};

} // namespace

namespace {
// One identification part; garbled answers are asked once more.
quint8 ask(quint8 kind, quint32 handle, quint8 address, quint8 sub, quint8 &d0, IdentReply &reply,
           bool &garbage, double *ms, const std::function<void()> &beforePart)
{
    quint8 error = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (beforePart)
            beforePart();
        QElapsedTimer t;
        t.start();
        quint8 sent = d0;
        error = IdentifyPart(kind, handle, address, sub, sent, reply);
        if (ms)
            *ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
        if (error == 0)
            d0 = sent;
        if (!garbled(error))
            break;
    }
    // A collision needs the answer asked again to be garbled too: one
    // damaged answer and then silence, or a part that failed after an
    // earlier part was garbled once, is none (a late damaged reply of a
    // neighbour made a search report collisions where no module was).
    garbage = garbled(error);
    return error;
}
} // namespace

std::optional<ScanFinding> ProbeAddress(quint8 kind, quint32 handle, quint8 address, quint32 baud,
                                        QString &fatal, const std::function<void()> &beforePart)
{
    fatal.clear();
    ScanFinding f;
    f.address = address;
    f.baud = baud;
    std::array<IdentReply, 3> replies{};
    quint8 d0 = 0;
    bool garbage = false;
    for (quint8 sub = 0; sub < 3; ++sub) {
        const quint8 error = ask(kind, handle, address, sub, d0, replies[sub], garbage,
                                 sub == 0 ? &f.replyMs : nullptr, beforePart);
        if (error == 0)
            continue;
        if (garbage) {
            // Something answered, garbled twice: most likely two modules at once.
            f.kind = ScanFinding::Kind::Collision;
            f.note = CollisionText;
            f.replyMs = 0; // no reply was taken: the time says nothing
        } else if (error == AdapterError::Timeout && sub == 0) {
            return std::nullopt;
        } else if (error == AdapterError::Timeout || IsModuleError(error)) {
            f.kind = ScanFinding::Kind::Fault;
            f.note = ErrorText(kind, error);
        } else {
            fatal = ErrorText(kind, error);
            return std::nullopt;
        }
        return f;
    }
    f.identity = IdentityText(replies);
    f.model = ModelNameOfIdentity(f.identity);
    f.firmware = f.identity.mid(11).trimmed();
    return f;
}

ScanResult RunScan(const ScanSettings &settings, ScanReport &report)
{
    return Search(settings, report).run();
}

QList<quint32> DefaultScanBauds()
{
    return {9600, 19200, 115200, 57600, 38400, 4800, 2400, 1200, 600};
}

QList<quint8> AllAddresses()
{
    QList<quint8> all;
    for (int a = 0; a < 256; ++a)
        all.append(static_cast<quint8>(a));
    return all;
}

double WireTimeUs(quint32 baud)
{
    if (baud == 0)
        return 0;
    return (11.0 + 12.0) * 10.0 * 1e6 / static_cast<double>(baud);
}

QList<quint32> BaudsBeyondUdpTimeout(const AdapterSettings &adapter, const QList<quint32> &bauds)
{
    QList<quint32> deaf;
    if (adapter.kind != 4 || adapter.udpTimeout == 0)
        return deaf;
    for (quint32 baud : bauds)
        if (WireTimeUs(baud) > adapter.udpTimeout * 1000.0)
            deaf.append(baud);
    std::sort(deaf.begin(), deaf.end());
    return deaf;
}

quint32 ProbeTimeoutMs(const AdapterSettings &adapter, quint32 baud, quint32 extraMs)
{
    if (baud == 0)
        return SetupTimeoutMs(adapter, baud);
    // A fifth more for the module's turnaround, 3 ms for the way there and
    // back (a loaded PC's scheduling included); whole microseconds, rounded up.
    const quint64 wireUs = (230000000ull + baud - 1) / baud;
    const quint64 timeoutUs = wireUs * 6 / 5 + 3000;
    const auto timeoutMs = static_cast<quint32>((timeoutUs + 999) / 1000 + extraMs);
    return std::min(timeoutMs, SetupTimeoutMs(adapter, baud));
}

namespace {
std::optional<quint8> addressOf(const QString &text, QString *error)
{
    const std::optional<qint32> v = ParseIntText(text.trimmed());
    if (!v || *v < 0 || *v > 255) {
        if (error)
            *error = QStringLiteral("Neplatná adresa \"%1\" (0 až 255)").arg(text.trimmed());
        return std::nullopt;
    }
    return static_cast<quint8>(*v);
}
} // namespace

std::optional<QList<quint8>> ParseAddressList(const QString &text, QString *error)
{
    QList<quint8> list;
    bool seen[256] = {};
    const QStringList items = text.split(QLatin1Char(','));
    for (const QString &item : items) {
        if (item.trimmed().isEmpty())
            continue;
        // A dash after the first character separates a range ("-5" is no range).
        const qsizetype dash = item.trimmed().indexOf(QLatin1Char('-'), 1);
        std::optional<quint8> from, to;
        if (dash < 0) {
            from = to = addressOf(item, error);
        } else {
            from = addressOf(item.trimmed().left(dash), error);
            if (from)
                to = addressOf(item.trimmed().mid(dash + 1), error);
        }
        if (!from || !to)
            return std::nullopt;
        if (*from > *to) {
            if (error)
                *error = QStringLiteral("Neplatný rozsah adres \"%1\"").arg(item.trimmed());
            return std::nullopt;
        }
        for (int a = *from; a <= *to; ++a)
            if (!seen[a]) {
                seen[a] = true;
                list.append(static_cast<quint8>(a));
            }
    }
    if (list.isEmpty()) {
        if (error)
            *error = QStringLiteral("Žádná adresa k prohledání");
        return std::nullopt;
    }
    return list;
}

std::optional<QList<quint32>> ParseBaudList(const QString &text, QString *error)
{
    if (text.trimmed().compare(QLatin1String("all"), Qt::CaseInsensitive) == 0)
        return DefaultScanBauds();
    QList<quint32> list;
    for (QString item : text.split(QLatin1Char(','))) {
        item = item.trimmed();
        if (item.endsWith(QLatin1String("Bd"), Qt::CaseInsensitive))
            item.chop(2);
        item = item.trimmed();
        if (item.isEmpty())
            continue;
        bool good = false;
        const uint rate = item.toUInt(&good);
        if (!good || BaudRateOfIndex(BaudIndexOfRate(rate)) != rate) {
            if (error)
                *error = QStringLiteral("Neplatná komunikační rychlost \"%1\"").arg(item);
            return std::nullopt;
        }
        if (!list.contains(rate))
            list.append(rate);
    }
    if (list.isEmpty()) {
        if (error)
            *error = QStringLiteral("Žádná komunikační rychlost k prohledání");
        return std::nullopt;
    }
    return list;
}

QString ScanReplyTimeText(const ScanFinding &f, const QLocale &locale)
{
    // A reply over loopback takes some µs: "< 0,1", never an impossible "0,0".
    return f.kind == ScanFinding::Kind::Collision ? QString()
                                                  : rq::fmt::atLeastResolution(f.replyMs, 1, locale);
}

QString ScanFindingKindText(ScanFinding::Kind kind)
{
    switch (kind) {
    case ScanFinding::Kind::Module:
        return QStringLiteral("module");
    case ScanFinding::Kind::Collision:
        return QStringLiteral("collision");
    case ScanFinding::Kind::Fault:
        return QStringLiteral("fault");
    }
    return {};
}

QJsonObject ScanFindingJson(const ScanFinding &f)
{
    QJsonObject o;
    o.insert(u"address", f.address);
    o.insert(u"baud", static_cast<qint64>(f.baud));
    o.insert(u"model", f.model);
    o.insert(u"firmware", f.firmware);
    o.insert(u"identity", f.identity);
    o.insert(u"replyMs", std::round(f.replyMs * 100) / 100);
    o.insert(u"kind", ScanFindingKindText(f.kind));
    o.insert(u"note", f.note);
    return o;
}

QString ScanFindingsCsv(const QList<ScanFinding> &findings, QChar separator)
{
    // The file follows the program's CSV form; the clipboard's tabs go into
    // a spreadsheet's cells the same way, with plain line ends.
    const bool csv = separator == rq::csv::Separator;
    const auto field = [separator, csv](QString s) {
        if (csv)
            return rq::csv::field(s);
        if (s.contains(separator) || s.contains(QLatin1Char('"')))
            s = QLatin1Char('"') + s.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
        return s;
    };
    const QString lineEnd = csv ? QString(rq::csv::LineEnd) : QStringLiteral("\n");
    const QStringList header = {
        QStringLiteral("Adresa"),   QStringLiteral("Rychlost"),           QStringLiteral("Model"),
        QStringLiteral("Firmware"), QStringLiteral("Doba odpovědi [ms]"), QStringLiteral("Poznámka")};
    QString text = header.join(separator) + lineEnd;
    for (const ScanFinding &f : findings) {
        // A number a spreadsheet can reckon with, to the microsecond.
        const QString reply =
            f.kind == ScanFinding::Kind::Collision ? QString() : rq::csv::number(f.replyMs, 3);
        text += QStringList{QString::number(f.address),
                            QString::number(f.baud),
                            field(f.model),
                            field(f.firmware),
                            reply,
                            field(f.note)}
                    .join(separator) +
                lineEnd;
    }
    return text;
}
