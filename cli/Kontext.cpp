#include "cli/Kontext.h"

#include "cli/Signaly.h"
#include "comm/Opakovani.h"
#include "comm/Prikazy.h"
#include "comm/Spojeni.h"
#include "core/Cislo.h"
#include "diag/LinkCheck.h"
#include "drivers/ErrorCodes.h"
#include "scan/HledaniModulu.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLocale>

#include <chrono>
#include <unistd.h>

namespace {

const QMap<QString, quint8> AdapterNames = {{QStringLiteral("com"), 0},
                                            {QStringLiteral("isa"), 1},
                                            {QStringLiteral("pci"), 2},
                                            {QStringLiteral("usb"), 3},
                                            {QStringLiteral("lan"), 4}};

QString hexBytes(const quint32 *cells, int n)
{
    QStringList parts;
    for (int i = 0; i < n; ++i)
        parts << QStringLiteral("%1").arg(cells[i] & 0xFF, 2, 16, QLatin1Char('0')).toUpper();
    return parts.join(QLatin1Char(' '));
}

// Progress of a transfer on standard error, rewritten on one line; a
// signal stops the transfer between two bytes.
class CliReport : public TransferReport
{
public:
    CliReport(Sink &err, bool show) : m_err(err), m_show(show) {}
    void status(const QString &text) override
    {
        if (!m_show)
            return;
        m_err.write(QStringLiteral("\r%1\x1b[K").arg(text.trimmed()));
        m_dirty = true;
    }
    bool cancelled() const override { return StopSignal() != 0; }
    void finish()
    {
        if (m_dirty)
            m_err.write(QStringLiteral("\r\x1b[K"));
        m_dirty = false;
    }

private:
    Sink &m_err;
    bool m_show;
    bool m_dirty = false;
};
} // namespace

// Watches the bus: the last error for the messages, and with --verbose
// every transaction on standard error, as mbpoll -v does.
class BusLog : public TransactionObserver
{
public:
    BusLog(Sink &err, bool verbose) : m_err(err), m_verbose(verbose) { SetTransactionObserver(this); }
    ~BusLog() override { SetTransactionObserver(nullptr); }
    void connectionOpened() override {}
    qint64 clock() const override
    {
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    void record(quint8 kind, const quint32 *request, quint8 error, const std::array<quint8, 5> &received,
                qint64 startedUs) override
    {
        if (error != 0)
            lastError = error;
        if (!m_verbose)
            return;
        const quint32 got[5] = {received[0], received[1], received[2], received[3], received[4]};
        QString text = QStringLiteral("adresa %1  příkaz %2/%3  odesláno %4  přijato %5  %6 ms")
                           .arg(request[0])
                           .arg(request[1])
                           .arg(request[2])
                           .arg(hexBytes(request + 3, 5), hexBytes(got, 5))
                           .arg(QLocale::c().toString(double(clock() - startedUs) / 1000.0, 'f', 1));
        if (error != 0)
            text += QStringLiteral("  chyba %1: %2").arg(error).arg(ErrorText(kind, error).trimmed());
        m_err.write(text + QLatin1Char('\n'));
    }
    quint8 lastError = 0;

private:
    Sink &m_err;
    bool m_verbose;
};

QString FailureKind(int code)
{
    switch (code) {
    case ExitCode::Usage:
        return QStringLiteral("usage");
    case ExitCode::Refused:
        return QStringLiteral("refused");
    case ExitCode::Comm:
        return QStringLiteral("communication");
    case ExitCode::File:
        return QStringLiteral("file");
    case ExitCode::Partial:
        return QStringLiteral("partial");
    default:
        return code > 128 ? QStringLiteral("interrupted") : QString();
    }
}

Context::Context(const CliArguments &arguments, Sink &out_, Sink &err_, bool progress_)
    : args(arguments), out(out_), err(err_), json(arguments.has(QStringLiteral("json"))),
      quiet(arguments.has(QStringLiteral("quiet"))), progress(progress_ && !quiet),
      m_log(std::make_unique<BusLog>(err_, arguments.has(QStringLiteral("verbose"))))
{
}

Context::~Context()
{
    disconnect();
}

bool Context::given(const QString &name) const
{
    return args.has(name) || !fromPlant(name).isNull();
}

QString Context::givenValue(const QString &name) const
{
    return args.has(name) ? args.value(name) : fromPlant(name);
}

QString Context::fromPlant(const QString &name) const
{
    if (!plant)
        return {};
    // A bus its gateway shares is reached through the gateway's converter
    // port; an address that binds every interface means this machine.
    const QString converter = plant->gatewayValue(QStringLiteral("converter"));
    const qsizetype colon = converter.lastIndexOf(QLatin1Char(':'));
    if (colon > 0) {
        QString host = converter.left(colon).trimmed();
        if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
            host = host.mid(1, host.size() - 2);
        if (host == u"0.0.0.0" || host == u"::")
            host = QStringLiteral("127.0.0.1");
        if (name == u"adapter")
            return QStringLiteral("lan");
        if (name == u"ip")
            return host;
        if (name == u"udp-port")
            return converter.mid(colon + 1).trimmed();
    }
    QString out;
    for (const auto &[key, value] : plant->bus)
        if (key == name)
            out = value.isNull() ? QStringLiteral("") : value;
    return out;
}

void Context::loadPlant()
{
    const QString path = args.value(QStringLiteral("config"));
    qint64 size = 0;
    // A plant file is a few hundred lines; far more is no plant file.
    constexpr qint64 Limit = 1024 * 1024;
    plantText = readInput(path, Limit, &size);
    if (size > Limit)
        fail(ExitCode::File, QStringLiteral("Soubor %1 je příliš velký.").arg(path));
    PlantFile parsed;
    if (const std::optional<PlantError> e = ParsePlantFile(plantText, parsed))
        fail(ExitCode::File, e->text(path) + QStringLiteral(" (nic se nečetlo ani nezapsalo)."));
    plant = parsed;
}

qint64 Context::number(const QString &name, qint64 min, qint64 max, qint64 fallback) const
{
    if (!given(name))
        return fallback;
    const std::optional<qint32> v = ParseIntText(givenValue(name));
    if (!v || *v < min || *v > max)
        fail(ExitCode::Usage, QStringLiteral("Neplatná hodnota %1: „%2“ (%3 až %4).")
                                  .arg(args.has(name) ? QStringLiteral("volby --") + name
                                                      : QStringLiteral("klíče %1 v souboru %2")
                                                            .arg(name, args.value(QStringLiteral("config"))),
                                       givenValue(name))
                                  .arg(min)
                                  .arg(max));
    return *v;
}

void Context::prepare()
{
    SetDefaults(&data);
    if (args.has(QStringLiteral("settings"))) {
        // A file named on purpose must be there and hold settings: falling
        // back to defaults would talk to some other port.
        const QString path = args.value(QStringLiteral("settings"));
        const QFileInfo info(path);
        if (!info.exists())
            fail(ExitCode::File, QStringLiteral("Soubor nastavení %1 neexistuje.").arg(path));
        if (info.isDir())
            fail(ExitCode::File, QStringLiteral("Soubor nastavení %1 je složka.").arg(path));
        if (!info.isReadable() || !LoadSettings(&data, path))
            fail(ExitCode::File, QStringLiteral("Soubor nastavení %1 nelze přečíst nebo neobsahuje nastavení "
                                                "připojení (sekce [Připojení], klíč Rozhraní).")
                                     .arg(path));
    } else {
        // The same file the program uses, installed or not. One that is
        // there but holds no connection is no reason to talk to COM1.
        const QString path = FindSettingsLocation().readPath();
        if (QFileInfo::exists(path) && !LoadSettings(&data, path))
            fail(ExitCode::File, QStringLiteral("Soubor nastavení %1 nelze přečíst nebo neobsahuje nastavení "
                                                "připojení (sekce [Připojení], klíč Rozhraní); použijte "
                                                "--settings nebo volby spojení.")
                                     .arg(path));
    }
    if (args.has(QStringLiteral("config")))
        loadPlant();
    data.retries = int(number(QStringLiteral("retries"), 0, 100, 2));
    if (given(QStringLiteral("adapter"))) {
        const QString name = givenValue(QStringLiteral("adapter")).toLower();
        if (!AdapterNames.contains(name))
            fail(ExitCode::Usage,
                 QStringLiteral("Neznámé rozhraní „%1“ (com, isa, pci, usb, lan).").arg(name));
        data.adapterKind = AdapterNames.value(name);
    }
    data.comPort = quint8(number(QStringLiteral("com"), 1, 255, data.comPort));
    data.isaBase = quint16(number(QStringLiteral("isa"), 0, 0xFFFF, data.isaBase));
    if (given(QStringLiteral("ip"))) {
        data.ipAddress = givenValue(QStringLiteral("ip")).trimmed();
        if (data.ipAddress.isEmpty())
            fail(ExitCode::Usage, QStringLiteral("Volba --ip vyžaduje IP adresu nebo jméno konvertoru."));
    }
    data.udpPort = quint32(number(QStringLiteral("udp-port"), 0, 65535, data.udpPort));
    // The LAN converter waits its own timeout whatever the baud rate says;
    // of --timeout and --udp-timeout the later one counts.
    const quint32 udpTimeout = quint32(number(QStringLiteral("udp-timeout"), 0, 65535, data.udpTimeout));
    const quint32 timeout = quint32(number(QStringLiteral("timeout"), 1, 60000, udpTimeout));
    data.udpTimeout =
        args.later(QStringLiteral("timeout"), QStringLiteral("udp-timeout")) ? timeout : udpTimeout;
    if (given(QStringLiteral("baud"))) {
        const QString text = givenValue(QStringLiteral("baud"));
        const std::optional<QList<quint32>> rates = ParseBaudList(text);
        if (!rates || rates->size() != 1 || text.contains(QLatin1String("all"), Qt::CaseInsensitive))
            fail(ExitCode::Usage, QStringLiteral("Neplatná komunikační rychlost „%1“.").arg(text));
        data.baudRate = rates->first();
    }
}

quint8 Context::singleAddress() const
{
    if (!args.has(QStringLiteral("address")))
        return data.moduleAddress;
    const std::optional<qint32> a = ParseIntText(args.value(QStringLiteral("address")));
    if (!a || *a < 0 || *a > 255)
        fail(ExitCode::Usage, QStringLiteral("Neplatná adresa modulu „%1“ (0 až 255).")
                                  .arg(args.value(QStringLiteral("address"))));
    return quint8(*a);
}

void Context::openAdapter()
{
    CloseConnection(data);
    const AdapterSettings settings = AdapterSettingsOf(data);
    data.initBlock = MakeInitBlock(settings, data.ipAddress8bit);
    quint32 handle = 0;
    QString last;
    if (!OpenConfigured(data, handle, data.baudRate, [&last](const QString &text) { last = text; })) {
        if (data.adapterKind == 0 || data.adapterKind == 3)
            last += QStringLiteral(" (zařízení %1)").arg(DevicePathOf(data.adapterKind, data.comPort));
        fail(ExitCode::Comm, last.trimmed());
    }
    data.handle = handle;
    // Every adapter kind waits as long as --timeout says (unless a later
    // --udp-timeout said otherwise).
    if (args.has(QStringLiteral("timeout")) &&
        args.later(QStringLiteral("timeout"), QStringLiteral("udp-timeout")))
        ConfigureAdapter(data.adapterKind, handle, data.baudRate, data.udpTimeout, SetConfigThird);
}

void Context::connectModule(std::optional<quint8> address)
{
    const quint8 a = address ? *address : singleAddress();
    openAdapter();
    data.moduleAddress = a;
    QString identity, text;
    if (const quint8 error = IdentifyModule(BusLink::of(data), a, identity, text); error != 0)
        fail(ExitCode::Comm, errorText(error));
    data.identity = identity;
    data.statusText = StatusOkText;
}

void Context::useBaud(quint32 baud)
{
    if (baud == data.baudRate)
        return;
    const bool ownTimeout = args.has(QStringLiteral("timeout")) &&
                            args.later(QStringLiteral("timeout"), QStringLiteral("udp-timeout"));
    const quint32 timeout = ownTimeout ? data.udpTimeout : SetupTimeoutMs(AdapterSettingsOf(data), baud);
    if (ConfigureAdapter(data.adapterKind, data.handle, baud, timeout, SetConfigThird) != 0)
        fail(ExitCode::Comm, QStringLiteral("Rozhraní nelze nastavit na %1 Bd.").arg(baud));
    data.baudRate = baud;
}

void Context::disconnect()
{
    CloseConnection(data);
}

bool Context::converterSilent()
{
    if (data.adapterKind != 4)
        return false;
    if (!m_converterSilent)
        m_converterSilent =
            CheckConverter(data.ipAddress, data.udpPort, std::max<quint32>(data.udpTimeout, 200)).verdict ==
            CheckVerdict::Failed;
    return *m_converterSilent;
}

QString Context::errorText(quint8 error)
{
    const QString text = ErrorText(data.adapterKind, error).trimmed();
    if (error == AdapterError::Timeout) {
        if (converterSilent())
            return QStringLiteral(
                       "LAN konvertor %1, UDP port %2 neodpovídá ani na vlastní dotaz (zkontrolujte "
                       "jeho napájení, síť, IP adresu a port).")
                .arg(data.ipAddress)
                .arg(data.udpPort);
        return QStringLiteral("%1 (adresa %2, %3 Bd)").arg(text).arg(data.moduleAddress).arg(data.baudRate);
    }
    if ((data.adapterKind == 0 || data.adapterKind == 3) &&
        (error == AdapterError::PortOpenFailed || error == AdapterError::PortSetupFailed ||
         error == AdapterError::DeviceGone || error == AdapterError::PortBusy ||
         error == AdapterError::NoPermission || error == AdapterError::DeviceBusy))
        return QStringLiteral("%1 (zařízení %2)").arg(text, DevicePathOf(data.adapterKind, data.comPort));
    return text;
}

void Context::stopPoint(const QString &done)
{
    if (StopSignal() != 0)
        fail(StopExitCode(), done);
}

void Context::sequence(bool write, const QList<TransferStep> &steps, const ProgressFigure &figure)
{
    if (steps.isEmpty())
        return;
    CliReport report(err, progress);
    m_log->lastError = 0;
    if (write)
        written = 0;
    const TransferOutcome outcome =
        write ? WriteSequence(&data, report, steps, figure) : ReadSequence(&data, report, steps, figure);
    report.finish();
    if (write) {
        written = outcome.done;
        result.insert(QStringLiteral("written"), written);
    }
    if (outcome)
        return;
    // A write cut short says what it leaves in the module.
    const QString state =
        !write ? QString()
        : written == 0
            ? (steps.size() == 1
                   ? QStringLiteral(" Bajt nebyl zapsán a ověřen.")
                   : QStringLiteral(" Žádný z %1 bajtů nebyl zapsán a ověřen.").arg(steps.size()))
            : QStringLiteral(" Modul je zapsán jen zčásti: %1 z %2 bajtů; obnovte zálohu (rqtool restore) "
                             "nebo zápis zopakujte.")
                  .arg(written)
                  .arg(steps.size());
    if (write)
        result.insert(QStringLiteral("state"),
                      written == 0 ? QStringLiteral("unchanged") : QStringLiteral("partial"));
    if (StopSignal() != 0)
        fail(StopExitCode(), (write ? QStringLiteral("Zápis přerušen po %1 z %2 bajtů.")
                                    : QStringLiteral("Čtení přerušeno po %1 z %2 bajtů."))
                                     .arg(outcome.done)
                                     .arg(outcome.total) +
                                 state);
    if (outcome.end == TransferOutcome::End::Differs)
        fail(ExitCode::Comm,
             QStringLiteral("Chyba zápisu dat: %1 se po zápisu přečetl jinak.")
                     .arg(BlockPlace(steps.at(outcome.done).page * 256 + steps.at(outcome.done).address)) +
                 state);
    fail(ExitCode::Comm,
         (m_log->lastError != 0 ? errorText(m_log->lastError)
                                : TransferEndText(outcome, write, data.adapterKind).trimmed()) +
             state);
}

EepromBlock Context::readModule()
{
    EepromBlock block{};
    sequence(false, EepromSteps(block), EepromProgress);
    return block;
}

void Context::readSteps(const QList<TransferStep> &steps, const ProgressFigure &figure)
{
    sequence(false, steps, figure);
}

void Context::writeSteps(const QList<TransferStep> &steps, const ProgressFigure &figure)
{
    sequence(true, steps, figure);
}

void Context::transact(quint8 command, quint8 subCode, ModuleBytes &bytes)
{
    const quint8 error = Transact(data, data.moduleAddress, command, subCode, bytes);
    if (error != 0)
        fail(ExitCode::Comm, errorText(error));
}

void Context::line(const QString &text)
{
    if (!json && !out.write(text + QLatin1Char('\n')))
        outputFailed(out, out.error());
}

void Context::outputFailed(const Sink &sink, const QString &text)
{
    if (sink.closedPipe() && sink.fd() == out.fd())
        fail(ExitCode::ClosedPipe, QString());
    fail(ExitCode::File, text);
}

QString Context::dashName(const QString &path)
{
    static const QStringList names = {QStringLiteral("/dev/stdout"),     QStringLiteral("/dev/fd/1"),
                                      QStringLiteral("/proc/self/fd/1"), QStringLiteral("/dev/stdin"),
                                      QStringLiteral("/dev/fd/0"),       QStringLiteral("/proc/self/fd/0")};
    return names.contains(path) ? QStringLiteral("-") : path;
}

void Context::refuseBinaryOnTerminal() const
{
    if (::isatty(out.fd()))
        fail(ExitCode::Usage, QStringLiteral("Binární zálohu nelze vypsat na terminál; přesměrujte výstup "
                                             "do souboru nebo roury."));
}

std::optional<ModuleModel> Context::modelOption() const
{
    if (!args.has(QStringLiteral("model")))
        return std::nullopt;
    QString text = args.value(QStringLiteral("model")).trimmed().toUpper();
    if (!text.startsWith(QLatin1String("RQ-")))
        text.prepend(QLatin1String("RQ-"));
    for (ModuleModel m : AllModels)
        if (ModelName(m) == text)
            return m;
    fail(ExitCode::Usage, QStringLiteral("Neznámý model „%1“ (RQ-3510, RQ-3520, RQ-3530).")
                              .arg(args.value(QStringLiteral("model"))));
}

void Context::note(const QString &text)
{
    if (!quiet)
        err.write(text + QLatin1Char('\n'));
}

void Context::jsonLine(const QJsonObject &object)
{
    if (!out.write(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n'))
        outputFailed(out, out.error());
}

ModuleModel Context::modelOf(const EepromBlock *block) const
{
    if (const auto model = ModelOfIdentity(data.identity))
        return *model;
    if (block) {
        const QList<ModuleModel> fitting = ModelsFitting(*block);
        if (!fitting.isEmpty())
            return fitting.first();
    }
    return ModuleModel::RQ3510;
}

QByteArray Context::readInput(const QString &path, qint64 limit, qint64 *size)
{
    QFile file;
    const bool stdinput = path == QLatin1String("-");
    const bool opened = stdinput ? file.open(STDIN_FILENO, QIODevice::ReadOnly)
                                 : (file.setFileName(path), file.open(QIODevice::ReadOnly));
    const QString name = stdinput ? QStringLiteral("standardní vstup") : path;
    if (!opened || (!stdinput && QFileInfo(path).isDir()))
        fail(ExitCode::File,
             QStringLiteral("Soubor %1 nelze otevřít: %2.")
                 .arg(name, QFileInfo(path).isDir() ? SystemErrorText(EISDIR) : file.errorString()));
    // Reading a little more than needed tells a longer file apart without
    // loading anything large; standard input is counted to its end.
    QByteArray bytes = file.read(limit + 1);
    qint64 total = bytes.size();
    if (stdinput) {
        char buffer[65536];
        for (qint64 n; (n = file.read(buffer, sizeof buffer)) > 0;)
            total += n;
    } else {
        total = file.size();
    }
    if (file.error() != QFileDevice::NoError)
        fail(ExitCode::File, QStringLiteral("Soubor %1 nelze přečíst: %2.").arg(name, file.errorString()));
    if (size)
        *size = total;
    return bytes;
}

QString Context::refusal(const QStringList &risks, bool keep)
{
    const bool moves = std::any_of(risks.cbegin(), risks.cend(), [](const QString &r) {
        return r.startsWith(QLatin1String("Adresa modulu")) ||
               r.startsWith(QLatin1String("Komunikační rychlost"));
    });
    QStringList reasons;
    for (const QString &r : risks)
        reasons << (r.endsWith(QLatin1Char('.')) ? r.chopped(1) : r);
    QString text =
        QStringLiteral("Zápis odmítnut: %1. Nic nezapsáno; ").arg(reasons.join(QStringLiteral("; ")));
    if (moves && !keep)
        text += QStringLiteral("adresu a rychlost modulu zachová --keep-address, ");
    return text + QStringLiteral("zápis přesto provede volba --yes.");
}
