#include "cli/Prikazy.h"

#include "app/Dekl.h"
#include "cli/Argumenty.h"
#include "comm/Kxxx638.h"
#include "comm/Spojeni.h"
#include "core/Pauza.h"
#include "config/Prenos.h"
#include "dio/EepromFile.h"
#include "image/Obnova.h"
#include "image/Obraz.h"
#include "live/AnalogCycle.h"
#include "live/FixedPoint.h"
#include "trend/Zaznam.h"
#include "scan/HledaniModulu.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QDateTime>
#include <QTextStream>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <optional>

namespace {
constexpr quint8 WriteOutputsCommand = 1;
constexpr quint8 DigitalSubCode = 64;
constexpr quint8 ReadStatusCommand = 100;
constexpr quint8 ClearStatusCommand = 101;

const QMap<QString, quint8> AdapterNames = {{QStringLiteral("com"), 0}, {QStringLiteral("isa"), 1},
                                            {QStringLiteral("pci"), 2}, {QStringLiteral("usb"), 3},
                                            {QStringLiteral("lan"), 4}};

quint32 BytesToWord(const ModuleBytes &d)
{
    return quint32(d[1]) | quint32(d[2]) << 8 | quint32(d[3]) << 16 | quint32(d[4]) << 24;
}

QString Hex32(quint32 v)
{
    return QStringLiteral("0x") + QStringLiteral("%1").arg(v, 8, 16, QLatin1Char('0')).toUpper();
}

// A failure that ends the command with its exit code and a Czech text.
struct Failure
{
    int code;
    QString text;
};

// Progress of a transfer on standard error, rewritten on one line.
class CliReport : public TransferReport
{
public:
    CliReport(QTextStream &err, bool show) : m_err(err), m_show(show) {}
    void status(const QString &text) override
    {
        m_last = text;
        if (!m_show) return;
        m_err << '\r' << text.trimmed() << QStringLiteral("\x1b[K");
        m_err.flush();
        m_dirty = true;
    }
    void finish()
    {
        if (m_dirty) m_err << '\r' << QStringLiteral("\x1b[K");
        m_err.flush();
        m_dirty = false;
    }
    QString last() const { return m_last.trimmed(); }

private:
    QTextStream &m_err;
    bool m_show;
    bool m_dirty = false;
    QString m_last;
};

class Runner
{
public:
    Runner(const CliArguments &a, QTextStream &out, QTextStream &err, bool progress)
        : m_a(a), m_out(out), m_err(err), m_json(a.has(QStringLiteral("json"))),
          m_quiet(a.has(QStringLiteral("quiet"))), m_progress(progress && !m_quiet)
    {
    }
    ~Runner() { disconnect(); }

    int run();

private:
    using Command = int (Runner::*)();
    int scan();
    int backup();
    int backupFleet(const QDir &dir);
    int restore();
    int info();
    int diff();
    int get();
    int set();
    int values();
    int inputs();
    int outputs();
    int status();

    // The model the connected module names in its identity; else one that
    // every range byte of the block fits; else the RQ-3510.
    ModuleModel modelOf(const EepromBlock *block) const;
    // Reads just these offsets of the configuration memory into the block.
    void readOffsets(EepromBlock &block, const QList<int> &offsets);
    // The offsets of the fields, for the connected module's model.
    QList<int> fieldOffsets(ModuleModel model, const QStringList &keys);
    EepromBlock loadImage(const QString &path);

    // Takes the settings file and the connection options into the record.
    void prepare();
    // Connects to the module at the record's address; throws a Failure.
    void connectModule();
    void disconnect();
    // Reads the whole configuration memory; throws a Failure.
    EepromBlock readModule();
    void transact(quint8 command, quint8 subCode, ModuleBytes &bytes);
    quint8 singleAddress();

    void line(const QString &text)
    {
        if (!m_json) m_out << text << '\n';
    }
    void note(const QString &text)
    {
        if (!m_quiet) {
            m_out.flush();
            m_err << text << Qt::endl;
        }
    }

    const CliArguments &m_a;
    QTextStream &m_out;
    QTextStream &m_err;
    bool m_json;
    bool m_quiet;
    bool m_progress;
    TData m_data;
    QJsonObject m_result;
    // Commands whose JSON result is an array (scan) set this instead of m_result.
    std::optional<QJsonArray> m_array;
};

quint8 Runner::singleAddress()
{
    if (!m_a.has(QStringLiteral("address"))) return m_data.moduleAddress;
    const std::optional<qint32> a = ParseIntText(m_a.value(QStringLiteral("address")));
    if (!a || *a < 0 || *a > 255)
        throw Failure{ExitCode::Usage, QStringLiteral("Neplatná adresa modulu „%1“ (0 až 255).").arg(m_a.value(QStringLiteral("address")))};
    return quint8(*a);
}

void Runner::prepare()
{
    SetDefaults(&m_data);
    const QString settings =
        m_a.has(QStringLiteral("settings")) ? m_a.value(QStringLiteral("settings")) : SettingsFilePath();
    LoadSettings(&m_data, settings);
    const auto number = [this](const QString &name, qint64 min, qint64 max) -> std::optional<qint64> {
        if (!m_a.has(name)) return std::nullopt;
        const std::optional<qint32> v = ParseIntText(m_a.value(name));
        if (!v || *v < min || *v > max)
            throw Failure{ExitCode::Usage,
                          QStringLiteral("Neplatná hodnota volby --%1: „%2“.").arg(name, m_a.value(name))};
        return *v;
    };
    if (m_a.has(QStringLiteral("adapter"))) {
        const QString name = m_a.value(QStringLiteral("adapter")).toLower();
        if (!AdapterNames.contains(name))
            throw Failure{ExitCode::Usage, QStringLiteral("Neznámé rozhraní „%1“ (com, isa, pci, usb, lan).").arg(name)};
        m_data.adapterKind = AdapterNames.value(name);
    }
    if (auto v = number(QStringLiteral("com"), 1, 255)) m_data.comPort = quint8(*v);
    if (auto v = number(QStringLiteral("isa"), 0, 0xFFFF)) m_data.isaBase = quint16(*v);
    if (m_a.has(QStringLiteral("ip"))) m_data.ipAddress = m_a.value(QStringLiteral("ip"));
    if (auto v = number(QStringLiteral("udp-port"), 0, 65535)) m_data.udpPort = quint32(*v);
    if (auto v = number(QStringLiteral("udp-timeout"), 0, 65535)) m_data.udpTimeout = quint32(*v);
    if (m_a.has(QStringLiteral("baud"))) {
        const std::optional<QList<quint32>> rates = ParseBaudList(m_a.value(QStringLiteral("baud")));
        if (!rates || rates->size() != 1 || m_a.value(QStringLiteral("baud")).contains(QLatin1String("all"), Qt::CaseInsensitive))
            throw Failure{ExitCode::Usage,
                          QStringLiteral("Neplatná komunikační rychlost „%1“.").arg(m_a.value(QStringLiteral("baud")))};
        m_data.baudRate = rates->first();
    }
}

void Runner::connectModule()
{
    const quint8 address = singleAddress();
    QString last;
    if (!ConnectWith(m_data, AdapterSettingsOf(m_data), address, BaudIndexOfRate(m_data.baudRate),
                     [&last](const QString &text) { last = text; }))
        throw Failure{ExitCode::Comm, last};
}

void Runner::disconnect()
{
    CloseConnection(m_data);
}

EepromBlock Runner::readModule()
{
    EepromBlock block{};
    CliReport report(m_err, m_progress);
    const bool ok = ReadSequence(&m_data, report, EepromSteps(block), EepromProgress);
    report.finish();
    if (!ok) throw Failure{ExitCode::Comm, report.last()};
    return block;
}

void Runner::transact(quint8 command, quint8 subCode, ModuleBytes &bytes)
{
    const quint8 error = Transact(m_data, m_data.moduleAddress, command, subCode, bytes);
    if (error != 0) throw Failure{ExitCode::Comm, ErrorText(m_data.adapterKind, error)};
}

// A file name that tells modules apart, never one already there.
QString BackupName(const QDir &dir, const QString &model, int address)
{
    const QString first = BackupFileName(model, address);
    QString name = first;
    for (int n = 2; QFileInfo::exists(dir.filePath(name)); ++n)
        name = QStringLiteral("%1_%2.kee").arg(first.chopped(4)).arg(n);
    return dir.filePath(name);
}

int Runner::backup()
{
    const QString target = m_a.positional.at(0);
    const QFileInfo info(target);
    if (info.isDir() || target.endsWith(QLatin1Char('/'))) {
        if (!QDir().mkpath(target))
            throw Failure{ExitCode::File, QStringLiteral("Složku %1 nelze vytvořit.").arg(target)};
        return backupFleet(QDir(target));
    }
    connectModule();
    const EepromBlock block = readModule();
    QString why;
    if (!SaveEepromFile(target, block, &why))
        throw Failure{ExitCode::File, QStringLiteral("Chyba ukládání dat do souboru %1: %2").arg(target, why)};
    line(QStringLiteral("%1 (adresa %2): konfigurace uložena do %3")
             .arg(ModelNameOfIdentity(m_data.identity))
             .arg(m_data.moduleAddress)
             .arg(target));
    m_result = {{QStringLiteral("file"), target},
                {QStringLiteral("address"), m_data.moduleAddress},
                {QStringLiteral("model"), ModelNameOfIdentity(m_data.identity)},
                {QStringLiteral("identity"), m_data.identity}};
    return ExitCode::Ok;
}

int Runner::backupFleet(const QDir &dir)
{
    QList<quint8> addresses{m_data.moduleAddress};
    if (m_a.has(QStringLiteral("address"))) {
        QString why;
        const auto list = ParseAddressList(m_a.value(QStringLiteral("address")), &why);
        if (!list || list->isEmpty())
            throw Failure{ExitCode::Usage, QStringLiteral("Neplatný seznam adres „%1“: %2")
                                               .arg(m_a.value(QStringLiteral("address")), why)};
        addresses = *list;
    }
    // One opening of the adapter serves every module of the list.
    CloseConnection(m_data);
    m_data.initBlock = MakeInitBlock(AdapterSettingsOf(m_data), m_data.ipAddress8bit);
    quint32 handle = 0;
    QString last;
    if (!OpenConfigured(m_data, handle, m_data.baudRate, [&last](const QString &text) { last = text; }))
        throw Failure{ExitCode::Comm, last};
    m_data.handle = handle;

    QJsonArray saved, failed;
    for (quint8 address : addresses) {
        m_data.moduleAddress = address;
        QString identity, why;
        if (IdentifyModule(m_data.adapterKind, m_data.handle, address, identity, why) != 0) {
            failed.append(QJsonObject{{QStringLiteral("address"), address}, {QStringLiteral("error"), why}});
            line(QStringLiteral("adresa %1: neodpovídá (%2)").arg(address).arg(why));
            continue;
        }
        m_data.identity = identity;
        const QString model = ModelNameOfIdentity(identity);
        try {
            const EepromBlock block = readModule();
            const QString path = BackupName(dir, model, address);
            if (!SaveEepromFile(path, block, &why)) throw Failure{ExitCode::File, QStringLiteral("Chyba ukládání dat: %1").arg(why)};
            saved.append(QJsonObject{{QStringLiteral("address"), address},
                                     {QStringLiteral("model"), model},
                                     {QStringLiteral("identity"), identity},
                                     {QStringLiteral("file"), path}});
            line(QStringLiteral("adresa %1: %2 uložen do %3").arg(address).arg(model, path));
        } catch (const Failure &f) {
            failed.append(QJsonObject{{QStringLiteral("address"), address},
                                      {QStringLiteral("model"), model},
                                      {QStringLiteral("error"), f.text}});
            line(QStringLiteral("adresa %1: %2 nezálohován (%3)").arg(address).arg(model, f.text));
        }
    }
    line(QStringLiteral("Zálohováno %1 z %2 modulů.").arg(saved.size()).arg(addresses.size()));
    m_result = {{QStringLiteral("saved"), saved}, {QStringLiteral("failed"), failed}};
    return failed.isEmpty() ? ExitCode::Ok : ExitCode::Comm;
}

int Runner::restore()
{
    const QString path = m_a.positional.at(0);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Failure{ExitCode::File, QStringLiteral("Soubor %1 nelze otevřít.").arg(path)};
    // A configuration file is 512 bytes; reading a little more tells a
    // longer file apart without loading anything large.
    const QByteArray bytes = file.read(EepromFileSize + 1);
    if (bytes.size() < EepromFileSize)
        throw Failure{ExitCode::File, QStringLiteral("Chyba načítání dat: soubor %1 má méně než 512 bajtů.").arg(path)};
    EepromBlock image{};
    std::copy_n(reinterpret_cast<const quint8 *>(bytes.constData()), EepromFileSize, image.begin());

    connectModule();
    const bool all = m_a.has(QStringLiteral("all"));
    const bool keep = m_a.has(QStringLiteral("keep-address"));
    const bool dryRun = m_a.has(QStringLiteral("dry-run"));
    std::optional<EepromBlock> module;
    if (!all || dryRun) module = readModule();
    if (keep) {
        if (!module) module = readModule();
        image[CfgAddr::BaudIndex] = (*module)[CfgAddr::BaudIndex];
        image[CfgAddr::Address] = (*module)[CfgAddr::Address];
    }

    const QStringList risks = RestoreRisks(image, file.size(), path, m_data.moduleAddress, m_data.baudRate, m_data.identity);

    QList<int> changed;
    for (int i = 0; i < EepromFileSize; ++i)
        if (all || !module || (*module)[std::size_t(i)] != image[std::size_t(i)]) changed << i;

    QJsonArray riskArray;
    for (const QString &r : risks)
        riskArray.append(r);
    m_result = {{QStringLiteral("file"), path},
                {QStringLiteral("address"), m_data.moduleAddress},
                {QStringLiteral("risks"), riskArray},
                {QStringLiteral("bytes"), changed.size()}};
    for (const QString &r : risks)
        line(QStringLiteral("Riziko: ") + r);
    if (dryRun && module) {
        QJsonArray array;
        for (const FieldChange &c : CompareImages(*module, image, modelOf(&image))) {
            line(c.text());
            array.append(QJsonObject{{QStringLiteral("key"), c.key},
                                     {QStringLiteral("before"), c.before},
                                     {QStringLiteral("after"), c.after}});
        }
        m_result.insert(QStringLiteral("changes"), array);
    }
    if (dryRun) {
        line(QStringLiteral("Zkouška nanečisto: zapsalo by se %1 bajtů, nic nezapsáno.").arg(changed.size()));
        m_result.insert(QStringLiteral("written"), 0);
        return ExitCode::Ok;
    }
    if (!risks.isEmpty() && !m_a.has(QStringLiteral("yes"))) {
        note(QStringLiteral("Zápis odmítnut: po zápisu by modul neodpovídal jako dosud. Nic nezapsáno; "
                            "zápis povolí volba --yes, adresu a rychlost modulu zachová --keep-address."));
        m_result.insert(QStringLiteral("written"), 0);
        return ExitCode::Refused;
    }
    QList<TransferStep> steps;
    const QList<TransferStep> every = EepromSteps(image);
    for (int i : changed)
        steps << every.at(i);
    CliReport report(m_err, m_progress);
    const bool ok = steps.isEmpty() || WriteSequence(&m_data, report, steps, EepromProgress);
    report.finish();
    if (!ok) throw Failure{ExitCode::Comm, report.last()};
    m_result.insert(QStringLiteral("written"), steps.size());
    line(QStringLiteral("Konfigurace zapsána (%1 bajtů).").arg(steps.size()));
    return ExitCode::Ok;
}

// Found modules as they come, and the search's progress on one line.
class CliScanReport : public ScanReport
{
public:
    CliScanReport(QTextStream &out, QTextStream &err, bool lines, bool progress)
        : m_out(out), m_err(err), m_lines(lines), m_progress(progress)
    {
    }
    void found(const ScanFinding &f) override
    {
        if (m_progress) m_err << '\r' << QStringLiteral("\x1b[K");
        if (m_lines) {
            m_out << ScanLine(f) << Qt::endl;
        }
    }
    void progress(const ScanProgress &p) override
    {
        if (!m_progress) return;
        m_err << QStringLiteral("\rHledání: %1 z %2 dotazů, zbývá asi %3 s\x1b[K")
                     .arg(p.done)
                     .arg(p.total)
                     .arg((p.remainingMs + 999) / 1000);
        m_err.flush();
    }
    void finish()
    {
        if (m_progress) m_err << '\r' << QStringLiteral("\x1b[K");
        m_err.flush();
    }
    static QString ScanLine(const ScanFinding &f)
    {
        QString text = QStringLiteral("adresa %1  %2 Bd").arg(f.address, 3).arg(f.baud, 6);
        if (f.kind == ScanFinding::Kind::Module) return text + QStringLiteral("  %1  v.%2").arg(f.model, f.firmware);
        return text + QStringLiteral("  ") + (f.note.isEmpty() ? ScanFindingKindText(f.kind) : f.note);
    }

private:
    QTextStream &m_out;
    QTextStream &m_err;
    bool m_lines;
    bool m_progress;
};

int Runner::scan()
{
    ScanSettings settings;
    settings.adapter = AdapterSettingsOf(m_data);
    QString why;
    if (m_a.has(QStringLiteral("addresses"))) {
        const auto list = ParseAddressList(m_a.value(QStringLiteral("addresses")), &why);
        if (!list || list->isEmpty())
            throw Failure{ExitCode::Usage, QStringLiteral("Neplatný seznam adres: %1").arg(why)};
        settings.addresses = *list;
    }
    if (m_a.has(QStringLiteral("bauds"))) {
        const auto list = ParseBaudList(m_a.value(QStringLiteral("bauds")), &why);
        if (!list || list->isEmpty())
            throw Failure{ExitCode::Usage, QStringLiteral("Neplatný seznam rychlostí: %1").arg(why)};
        settings.bauds = *list;
    } else if (m_a.has(QStringLiteral("baud"))) {
        settings.bauds = {m_data.baudRate};
    }
    CloseConnection(m_data);
    CliScanReport report(m_out, m_err, !m_json, m_progress);
    const ScanResult result = RunScan(settings, report);
    report.finish();
    if (result.end == ScanResult::End::Failed) throw Failure{ExitCode::Comm, result.error};
    QJsonArray array;
    for (const ScanFinding &f : result.findings)
        array.append(ScanFindingJson(f));
    m_array = array;
    const qsizetype modules = std::count_if(result.findings.cbegin(), result.findings.cend(),
                                            [](const ScanFinding &f) { return f.kind == ScanFinding::Kind::Module; });
    note(QStringLiteral("Nalezeno modulů: %1 (%2 dotazů za %3 s).")
             .arg(modules)
             .arg(result.probes)
             .arg(QLocale().toString(double(result.elapsedMs) / 1000.0, 'f', 1)));
    return ExitCode::Ok;
}

ModuleModel Runner::modelOf(const EepromBlock *block) const
{
    if (const auto model = ModelOfIdentity(m_data.identity)) return *model;
    if (block) {
        const QList<ModuleModel> fitting = ModelsFitting(*block);
        if (!fitting.isEmpty()) return fitting.first();
    }
    return ModuleModel::RQ3510;
}

QJsonObject FieldJson(const ImageField &f)
{
    return {{QStringLiteral("caption"), f.caption},
            {QStringLiteral("text"), f.text},
            {QStringLiteral("value"), f.value},
            {QStringLiteral("valid"), f.valid}};
}

int Runner::info()
{
    connectModule();
    const EepromBlock block = readModule();
    const ModuleModel model = modelOf(&block);
    line(QStringLiteral("Modul: %1").arg(m_data.identity));
    line(QStringLiteral("Adresa: %1, rychlost: %2 Bd").arg(m_data.moduleAddress).arg(m_data.baudRate));
    QJsonObject fields;
    for (const ImageField &f : DecodeImage(block, model)) {
        line(QStringLiteral("%1 (%2): %3%4")
                 .arg(f.caption, f.key, f.text, f.valid ? QString() : QStringLiteral("  [neplatné pro model]")));
        fields.insert(f.key, FieldJson(f));
    }
    m_result = {{QStringLiteral("identity"), m_data.identity},
                {QStringLiteral("model"), ModelName(model)},
                {QStringLiteral("firmware"), m_data.identity.mid(11).trimmed()},
                {QStringLiteral("address"), m_data.moduleAddress},
                {QStringLiteral("baud"), qint64(m_data.baudRate)},
                {QStringLiteral("fields"), fields}};
    return ExitCode::Ok;
}

EepromBlock Runner::loadImage(const QString &path)
{
    EepromBlock block{};
    QString why;
    if (!LoadEepromFile(path, block, &why))
        throw Failure{ExitCode::File, QStringLiteral("Chyba načítání dat ze souboru %1: %2").arg(path, why)};
    return block;
}

int Runner::diff()
{
    std::array<EepromBlock, 2> images{};
    std::optional<EepromBlock> module;
    for (int side = 0; side < 2; ++side) {
        const QString name = m_a.positional.at(side);
        if (name == QLatin1String("module")) {
            if (!module) {
                connectModule();
                module = readModule();
            }
            images[std::size_t(side)] = *module;
        } else {
            images[std::size_t(side)] = loadImage(name);
        }
    }
    ModuleModel model = modelOf(nullptr);
    if (!module) {
        // Two files: the model both fit, else the first one's.
        const QList<ModuleModel> a = ModelsFitting(images[0]), b = ModelsFitting(images[1]);
        const auto both = std::find_if(a.cbegin(), a.cend(), [&b](ModuleModel m) { return b.contains(m); });
        model = both != a.cend() ? *both : (a.isEmpty() ? ModuleModel::RQ3510 : a.first());
    }
    const QList<FieldChange> changes = CompareImages(images[0], images[1], model);
    QJsonArray array;
    for (const FieldChange &c : changes) {
        line(c.text());
        array.append(QJsonObject{{QStringLiteral("key"), c.key},
                                 {QStringLiteral("caption"), c.caption},
                                 {QStringLiteral("before"), c.before},
                                 {QStringLiteral("after"), c.after}});
    }
    if (changes.isEmpty()) note(QStringLiteral("Konfigurace jsou shodné (model %1).").arg(ModelName(model)));
    m_result = {{QStringLiteral("model"), ModelName(model)},
                {QStringLiteral("equal"), changes.isEmpty()},
                {QStringLiteral("changes"), array}};
    return changes.isEmpty() ? ExitCode::Ok : ExitCode::Different;
}

void Runner::readOffsets(EepromBlock &block, const QList<int> &offsets)
{
    const QList<TransferStep> every = EepromSteps(block);
    QList<TransferStep> steps;
    for (int o : offsets)
        steps << every.at(o);
    CliReport report(m_err, m_progress);
    const bool ok = ReadSequence(&m_data, report, steps);
    report.finish();
    if (!ok) throw Failure{ExitCode::Comm, report.last()};
}

QList<int> Runner::fieldOffsets(ModuleModel model, const QStringList &keys)
{
    const EepromBlock blank{};
    QList<int> offsets;
    for (const QString &key : keys) {
        const std::optional<ImageField> f = DecodeField(blank, model, key);
        if (!f)
            throw Failure{ExitCode::Usage, QStringLiteral("Model %1 nemá pole „%2“ (pole: %3).")
                                               .arg(ModelName(model), key, FieldKeys(model).join(QStringLiteral(", ")))};
        for (int o : f->offsets)
            if (!offsets.contains(o)) offsets << o;
    }
    std::sort(offsets.begin(), offsets.end());
    return offsets;
}

int Runner::get()
{
    connectModule();
    const ModuleModel model = modelOf(nullptr);
    QStringList keys = m_a.positional;
    if (keys.isEmpty()) {
        keys = FieldKeys(model);
        keys.removeAll(QStringLiteral("other"));
    }
    EepromBlock block{};
    readOffsets(block, fieldOffsets(model, keys));
    QJsonObject fields;
    for (const QString &key : keys) {
        const ImageField f = *DecodeField(block, model, key);
        line(QStringLiteral("%1=%2").arg(key, f.text));
        fields.insert(key, FieldJson(f));
    }
    m_result = {{QStringLiteral("model"), ModelName(model)}, {QStringLiteral("fields"), fields}};
    return ExitCode::Ok;
}

int Runner::set()
{
    // Every assignment is checked before the module is asked anything.
    QList<QPair<QString, QString>> assignments;
    for (const QString &arg : m_a.positional) {
        const qsizetype eq = arg.indexOf(QLatin1Char('='));
        if (eq <= 0)
            throw Failure{ExitCode::Usage, QStringLiteral("Očekáváno POLE=HODNOTA, ne „%1“.").arg(arg)};
        assignments.append({arg.left(eq).trimmed(), arg.mid(eq + 1).trimmed()});
    }
    connectModule();
    const ModuleModel model = modelOf(nullptr);
    QStringList keys;
    for (const auto &a : assignments)
        keys << a.first;
    const QList<int> offsets = fieldOffsets(model, keys);
    EepromBlock before{};
    readOffsets(before, offsets);
    EepromBlock after = before;
    for (const auto &a : assignments) {
        QString why;
        if (!EncodeField(after, model, a.first, a.second, &why))
            throw Failure{ExitCode::Usage, QStringLiteral("%1=%2: %3").arg(a.first, a.second, why)};
    }
    QList<int> changed;
    for (int o : offsets)
        if (before[std::size_t(o)] != after[std::size_t(o)]) changed << o;
    const QList<TransferStep> every = EepromSteps(after);
    QList<TransferStep> steps;
    for (int o : changed)
        steps << every.at(o);
    CliReport report(m_err, m_progress);
    const bool ok = steps.isEmpty() || WriteSequence(&m_data, report, steps);
    report.finish();
    if (!ok) throw Failure{ExitCode::Comm, report.last()};
    QJsonArray array;
    for (const FieldChange &c : CompareImages(before, after, model)) {
        line(c.text());
        array.append(QJsonObject{{QStringLiteral("key"), c.key},
                                 {QStringLiteral("before"), c.before},
                                 {QStringLiteral("after"), c.after}});
    }
    if (after[CfgAddr::Address] != before[CfgAddr::Address] || after[CfgAddr::BaudIndex] != before[CfgAddr::BaudIndex])
        note(QStringLiteral("Nová adresa nebo rychlost platí po příštím zapnutí modulu."));
    line(QStringLiteral("Zapsáno a ověřeno %1 bajtů.").arg(steps.size()));
    m_result = {{QStringLiteral("changes"), array}, {QStringLiteral("written"), steps.size()}};
    return ExitCode::Ok;
}

int Runner::values()
{
    const auto number = [this](const QString &name, qint32 fallback) {
        if (!m_a.has(name)) return fallback;
        const std::optional<qint32> v = ParseIntText(m_a.value(name));
        if (!v || *v < 0)
            throw Failure{ExitCode::Usage, QStringLiteral("Neplatná hodnota volby --%1.").arg(name)};
        return *v;
    };
    const qint32 interval = number(QStringLiteral("interval"), 1000);
    // One reading unless asked for more; 0 runs until the program is stopped.
    const qint32 count = number(QStringLiteral("count"), 1);
    const bool csv = m_a.has(QStringLiteral("csv"));
    connectModule();
    AnalogCycle cycle;
    QJsonArray rows;
    bool headerDone = false;
    // Appending to a file that already holds rows adds no second header.
    struct stat st{};
    if (csv && fstat(STDOUT_FILENO, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) headerDone = true;
    int failures = 0;
    for (qint32 n = 0; count == 0 || n < count; ++n) {
        if (n > 0) rq::pause(quint32(interval));
        const qint64 time = QDateTime::currentMSecsSinceEpoch();
        const AnalogReading r = cycle.run(m_data, m_data.moduleAddress);
        if (!r.complete()) ++failures;
        quint32 din = 0;
        const quint8 dinError = ReadDigitalInputs(m_data, m_data.moduleAddress, din);
        const TrendSample sample = MakeTrendSample(time, r, dinError, din, m_data.adapterKind);

        if (csv && !m_json) {
            if (!headerDone) {
                m_out << TrendRecorder::headerLine(cycle.units());
                headerDone = true;
            }
            m_out << TrendRecorder::rowLine(sample);
        } else if (!m_json) {
            QStringList cells{TrendRecorder::timestamp(sample.time)};
            if (sample.analogValid) {
                for (int i = 0; i < AnalogReading::InputCount; ++i)
                    cells << QStringLiteral("AIN%1 %2 %3")
                                 .arg(i)
                                 .arg(FormatFixed(sample.values[std::size_t(i)], sample.decimals[std::size_t(i)]),
                                      cycle.unit(i))
                                 .trimmed();
                cells << QStringLiteral("teplota %1")
                             .arg(FormatFixed(sample.values[AnalogReading::InputCount],
                                              sample.decimals[AnalogReading::InputCount]));
            } else {
                cells << QStringLiteral("chyba: %1").arg(sample.error);
            }
            m_out << cells.join(QStringLiteral("  ")) << '\n';
        }
        m_out.flush();
        QJsonObject row{{QStringLiteral("time"), TrendRecorder::timestamp(sample.time)}};
        if (sample.analogValid) {
            QJsonArray values;
            for (int i = 0; i < AnalogReading::InputCount; ++i)
                values.append(QJsonObject{{QStringLiteral("value"), sample.values[std::size_t(i)]},
                                          {QStringLiteral("unit"), cycle.unit(i)}});
            row.insert(QStringLiteral("inputs"), values);
            row.insert(QStringLiteral("temperature"), sample.values[AnalogReading::InputCount]);
        } else {
            row.insert(QStringLiteral("error"), sample.error);
        }
        if (sample.dinValid) row.insert(QStringLiteral("din"), qint64(sample.din));
        if (m_json) rows.append(row);
    }
    m_result = {{QStringLiteral("rows"), rows}};
    return failures == 0 ? ExitCode::Ok : ExitCode::Comm;
}

int Runner::inputs()
{
    connectModule();
    quint32 word = 0;
    if (const quint8 error = ReadDigitalInputs(m_data, m_data.moduleAddress, word); error != 0)
        throw Failure{ExitCode::Comm, ErrorText(m_data.adapterKind, error)};
    QString bits;
    for (int n = 0; n < 32; ++n)
        bits.append(word >> n & 1 ? QLatin1Char('1') : QLatin1Char('0'));
    line(QStringLiteral("%1  DIN0..DIN31: %2").arg(Hex32(word), bits));
    m_result = {{QStringLiteral("inputs"), qint64(word)}, {QStringLiteral("bits"), bits}};
    return ExitCode::Ok;
}

int Runner::outputs()
{
    QString text = m_a.positional.at(0).trimmed();
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        text = text.mid(2);
    else if (text.startsWith(QLatin1Char('$')))
        text = text.mid(1);
    bool ok = false;
    const quint32 word = text.size() <= 8 ? text.toUInt(&ok, 16) : 0;
    if (!ok)
        throw Failure{ExitCode::Usage, QStringLiteral("Neplatný stav výstupů „%1“ (šestnáctkově, např. 0x0000FF01).")
                                           .arg(m_a.positional.at(0))};
    connectModule();
    ModuleBytes bytes{0, quint8(word), quint8(word >> 8), quint8(word >> 16), quint8(word >> 24)};
    transact(WriteOutputsCommand, DigitalSubCode, bytes);
    line(QStringLiteral("Výstupy nastaveny: %1").arg(Hex32(word)));
    m_result = {{QStringLiteral("outputs"), qint64(word)}};
    return ExitCode::Ok;
}

int Runner::status()
{
    connectModule();
    if (m_a.has(QStringLiteral("clear"))) {
        ModuleBytes bytes{};
        transact(ClearStatusCommand, 0, bytes);
    }
    ModuleBytes bytes{};
    transact(ReadStatusCommand, 0, bytes);
    const quint32 word = BytesToWord(bytes);
    QJsonArray set;
    QStringList numbers;
    for (int n = 0; n < 32; ++n) {
        if (word >> n & 1) {
            set.append(n);
            numbers << QString::number(n);
        }
    }
    line(QStringLiteral("Status registr: %1%2")
             .arg(Hex32(word), numbers.isEmpty() ? QString() : QStringLiteral("  bity ") + numbers.join(QLatin1Char(','))));
    m_result = {{QStringLiteral("status"), qint64(word)}, {QStringLiteral("bits"), set}};
    return ExitCode::Ok;
}

int Runner::run()
{
    static const QMap<QString, Command> table = {
        {QStringLiteral("scan"), &Runner::scan}, {QStringLiteral("backup"), &Runner::backup}, {QStringLiteral("restore"), &Runner::restore},
        {QStringLiteral("info"), &Runner::info},     {QStringLiteral("diff"), &Runner::diff},
        {QStringLiteral("get"), &Runner::get},       {QStringLiteral("set"), &Runner::set},
        {QStringLiteral("values"), &Runner::values}, {QStringLiteral("inputs"), &Runner::inputs},
        {QStringLiteral("outputs"), &Runner::outputs},
        {QStringLiteral("status"), &Runner::status},
    };
    int code = ExitCode::Ok;
    QString error;
    try {
        const auto it = table.constFind(m_a.command);
        if (it == table.constEnd()) throw Failure{ExitCode::Usage, QStringLiteral("Příkaz %1 zatím není k dispozici.").arg(m_a.command)};
        prepare();
        code = (this->*it.value())();
    } catch (const Failure &f) {
        code = f.code;
        error = f.text.trimmed();
        m_out.flush();
        m_err << QStringLiteral("rqtool: ") << error << Qt::endl;
    }
    if (m_json) {
        // An array result stands alone; a failure always gives an object
        // that says what went wrong.
        if (m_array && error.isEmpty()) {
            m_out << QJsonDocument(*m_array).toJson(QJsonDocument::Indented);
        } else {
            QJsonObject o = m_result;
            if (!error.isEmpty()) o.insert(QStringLiteral("error"), error);
            o.insert(QStringLiteral("exitCode"), code);
            m_out << QJsonDocument(o).toJson(QJsonDocument::Indented);
        }
    }
    m_out.flush();
    m_err.flush();
    return code;
}
} // namespace

int RunCli(const QStringList &args, QTextStream &out, QTextStream &err, bool showProgress)
{
    const CliParse parse = ParseCliArguments(args);
    if (parse.help) {
        out << CliHelpText();
        return ExitCode::Ok;
    }
    if (parse.version) {
        out << QStringLiteral("rqtool %1\n").arg(QStringLiteral(RQ_VERSION));
        return ExitCode::Ok;
    }
    if (!parse.error.isEmpty()) {
        err << QStringLiteral("rqtool: ") << parse.error << '\n';
        return ExitCode::Usage;
    }
    Runner runner(parse.arguments, out, err, showProgress);
    return runner.run();
}
