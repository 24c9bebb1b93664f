// scan: the module search on the command line.
#include "cli/Kontext.h"
#include "cli/Signaly.h"
#include "comm/Spojeni.h"
#include "scan/HledaniModulu.h"

#include <QLocale>

namespace {
// Found modules as they come, and the search's progress on one line.
class CliScanReport : public ScanReport
{
public:
    CliScanReport(Context &c) : m_c(c) {}
    void found(const ScanFinding &f) override
    {
        clearProgress();
        if (!m_c.json && m_error.isEmpty() && !m_c.out.write(line(f) + QLatin1Char('\n')))
            m_error = m_c.out.error();
    }
    void progress(const ScanProgress &p) override
    {
        if (!m_c.progress)
            return;
        m_c.err.write(QStringLiteral("\rHledání: %1 z %2 dotazů, zbývá asi %3 s\x1b[K")
                          .arg(p.done)
                          .arg(p.total)
                          .arg((p.remainingMs + 999) / 1000));
        m_dirty = true;
    }
    // A failed write stops the search as a signal does.
    bool cancelled() const override { return StopSignal() != 0 || !m_error.isEmpty(); }
    void clearProgress()
    {
        if (m_dirty)
            m_c.err.write(QStringLiteral("\r\x1b[K"));
        m_dirty = false;
    }
    static QString line(const ScanFinding &f)
    {
        QString text = QStringLiteral("adresa %1  %2 Bd").arg(f.address, 3).arg(f.baud, 6);
        if (f.kind == ScanFinding::Kind::Module)
            return text + QStringLiteral("  %1  v.%2").arg(f.model, f.firmware);
        return text + QStringLiteral("  ") + (f.note.isEmpty() ? ScanFindingKindText(f.kind) : f.note);
    }
    QString error() const { return m_error; }

private:
    Context &m_c;
    bool m_dirty = false;
    QString m_error;
};

class Scan final : public Command
{
public:
    QString name() const override { return QStringLiteral("scan"); }
    QString synopsis() const override
    {
        return QStringLiteral("scan [--addresses SEZNAM] [--bauds SEZNAM|all]");
    }
    QString summary() const override { return QStringLiteral("vyhledá moduly na sběrnici"); }
    QList<OptionSpec> options() const override
    {
        return {{QStringLiteral("addresses"), {}, true}, {QStringLiteral("bauds"), {}, true}};
    }
    int execute(Context &c) const override
    {
        ScanSettings settings;
        settings.adapter = AdapterSettingsOf(c.data);
        QString why;
        if (c.args.has(QStringLiteral("addresses"))) {
            const auto list = ParseAddressList(c.args.value(QStringLiteral("addresses")), &why);
            if (!list || list->isEmpty())
                c.fail(ExitCode::Usage, QStringLiteral("Neplatný seznam adres: %1").arg(why));
            settings.addresses = *list;
        }
        if (c.args.has(QStringLiteral("bauds"))) {
            const auto list = ParseBaudList(c.args.value(QStringLiteral("bauds")), &why);
            if (!list || list->isEmpty())
                c.fail(ExitCode::Usage, QStringLiteral("Neplatný seznam rychlostí: %1").arg(why));
            settings.bauds = *list;
        } else if (c.args.has(QStringLiteral("baud"))) {
            settings.bauds = {c.data.baudRate};
        }
        // The dialog asks; a script is told, even with --quiet: the count it
        // gets would be short without a word.
        if (const QList<quint32> deaf = BaudsBeyondUdpTimeout(settings.adapter, settings.bauds);
            !deaf.isEmpty()) {
            QStringList rates;
            for (quint32 baud : deaf)
                rates << QStringLiteral("%1 Bd").arg(baud);
            c.err.write(QStringLiteral(
                            "Varování: s UDP timeoutem %1 ms modul při %2 nestihne odpovědět a hledání ho "
                            "nenajde. Použijte --udp-timeout 0 (konvertor čeká podle rychlosti), nebo tyto "
                            "rychlosti vynechte (--bauds).\n")
                            .arg(settings.adapter.udpTimeout)
                            .arg(rates.join(QStringLiteral(", "))));
        }
        c.disconnect();
        CliScanReport report(c);
        const ScanResult result = RunScan(settings, report);
        report.clearProgress();
        if (!report.error().isEmpty())
            c.fail(ExitCode::File, report.error());
        if (result.end == ScanResult::End::Failed)
            c.fail(ExitCode::Comm, result.error);
        QJsonArray array;
        for (const ScanFinding &f : result.findings)
            array.append(ScanFindingJson(f));
        const qsizetype modules =
            std::count_if(result.findings.cbegin(), result.findings.cend(),
                          [](const ScanFinding &f) { return f.kind == ScanFinding::Kind::Module; });
        c.stopPoint(QStringLiteral("Hledání přerušeno po %1 dotazech; nalezeno modulů: %2.")
                        .arg(result.probes)
                        .arg(modules));
        c.array = array;
        c.note(QStringLiteral("Nalezeno modulů: %1 (%2 dotazů za %3 s).")
                   .arg(modules)
                   .arg(result.probes)
                   .arg(QLocale().toString(double(result.elapsedMs) / 1000.0, 'f', 1)));
        return ExitCode::Ok;
    }
};
} // namespace

const Command &ScanCommand()
{
    static const Scan command;
    return command;
}
