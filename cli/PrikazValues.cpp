// values: the analog inputs with their units, the internal temperature and
// the digital inputs, a row a cycle, as plain text, CSV or JSON lines, each
// row written as it comes so that a run of any length keeps its memory flat.
#include "cli/Kontext.h"
#include "cli/Signaly.h"
#include "comm/Spojeni.h"
#include "core/Pauza.h"
#include "core/SafeSave.h"
#include "drivers/ErrorCodes.h"
#include "live/AnalogCycle.h"
#include "live/FixedPoint.h"
#include "trend/Historie.h"
#include "trend/Zaznam.h"

#include <QDateTime>
#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The two CSV forms: the trend recorder's for a Czech spreadsheet, and the
// plain one of RFC 4180 for other programs.
struct CsvForm
{
    QChar separator;
    QChar decimal;
    bool bom; // at the start of a file rqtool creates, never on standard output
};
constexpr QLatin1StringView LineEnd("\r\n");

QString csvField(const QString &text, QChar separator)
{
    if (!text.contains(separator) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n')) &&
        !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// What the module has: its model's inputs, and the unit of its internal
// temperature (empty while the thermometer is off).
struct Shape
{
    int inputs = AnalogReading::InputCount;
    QString temperatureUnit;
    bool thermometerOn = false;
};

QString csvHeader(const CsvForm &form, const std::array<QString, AnalogReading::ValueCount> &units,
                  const Shape &shape)
{
    QStringList f{QStringLiteral("Čas"), QStringLiteral("Adresa")};
    for (int i = 0; i < shape.inputs; ++i) {
        const QString name = QStringLiteral("Vstup %1").arg(i);
        const QString &unit = units[std::size_t(i)];
        f << csvField(unit.isEmpty() ? name : QStringLiteral("%1 [%2]").arg(name, unit), form.separator);
    }
    f << csvField(shape.temperatureUnit.isEmpty()
                      ? QStringLiteral("Interní teplota")
                      : QStringLiteral("Interní teplota [%1]").arg(shape.temperatureUnit),
                  form.separator);
    for (int n = 0; n < 32; ++n)
        f << QStringLiteral("DIN%1").arg(n);
    f << QStringLiteral("Chyba");
    return f.join(form.separator);
}

QString csvRow(const CsvForm &form, quint8 address, const TrendSample &s, const Shape &shape)
{
    QStringList f{TrendRecorder::timestamp(s.time), QString::number(address)};
    for (int i = 0; i <= shape.inputs; ++i) {
        // The last cell is the temperature (value index 12), empty while off.
        const std::size_t k = i < shape.inputs ? std::size_t(i) : std::size_t(AnalogReading::InputCount);
        const bool shown =
            s.analogValid && !(s.refusedValues >> k & 1) && (i < shape.inputs || shape.thermometerOn);
        QString number =
            shown ? QString::number(s.values[k], 'f', std::min<int>(s.decimals[k], 15)) : QString();
        f << number.replace(QLatin1Char('.'), form.decimal);
    }
    for (int n = 0; n < 32; ++n)
        f << (s.dinValid ? QString::number((s.din >> n) & 1) : QString());
    f << csvField(s.error.trimmed(), form.separator);
    return f.join(form.separator);
}

// The last header line a CSV file holds (without its line end), empty when
// it holds none; read once at start, so appending to a log adds a header
// only where the columns change.
QString lastHeader(int fd)
{
    QFile file;
    if (::lseek(fd, 0, SEEK_SET) != 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        return {};
    QString header;
    while (!file.atEnd()) {
        QByteArray line = file.readLine(1 << 20);
        if (line.startsWith("\xEF\xBB\xBF"))
            line.remove(0, 3);
        if (line.startsWith("\xC4\x8C"
                            "as")) // "Čas"
            header = QString::fromUtf8(line).trimmed();
    }
    return header;
}

// One measured value as JSON: exactly the module's decimals, without the
// noise a division by ten leaves in a double.
double exact(double value, int decimals)
{
    return QString::number(value, 'f', std::min(decimals, 15)).toDouble();
}

class Values final : public Command
{
public:
    QString name() const override { return QStringLiteral("values"); }
    QString synopsis() const override
    {
        return QStringLiteral(
            "values [--interval MS] [--count N] [--csv] [-o|--output SOUBOR] [--csv-format excel-cs|rfc4180]");
    }
    QString summary() const override
    {
        return QStringLiteral("okamžité hodnoty analogových vstupů, teplota a DIN");
    }
    QList<OptionSpec> options() const override
    {
        return {{QStringLiteral("interval"), {}, true},
                {QStringLiteral("count"), {}, true},
                {QStringLiteral("csv"), {}, false},
                {QStringLiteral("output"), QLatin1Char('o'), true},
                {QStringLiteral("csv-format"), {}, true}};
    }

    int execute(Context &c) const override
    {
        const int interval = int(c.number(QStringLiteral("interval"), 0, 86400000, 1000));
        // One reading unless asked for more; 0 runs until stopped.
        const qint64 count = c.number(QStringLiteral("count"), 0, std::numeric_limits<qint32>::max(), 1);
        if (c.json && c.args.has(QStringLiteral("csv")))
            c.fail(ExitCode::Usage,
                   QStringLiteral("Volby --csv a --json nelze spojit: výstup má jeden tvar."));
        const QString formName = c.args.has(QStringLiteral("csv-format"))
                                     ? c.args.value(QStringLiteral("csv-format"))
                                     : QStringLiteral("excel-cs");
        if (formName != QLatin1String("excel-cs") && formName != QLatin1String("rfc4180"))
            c.fail(ExitCode::Usage,
                   QStringLiteral("Neznámý tvar CSV „%1“ (excel-cs, rfc4180).").arg(formName));
        const CsvForm form = formName == QLatin1String("rfc4180")
                                 ? CsvForm{QLatin1Char(','), QLatin1Char('.'), false}
                                 : CsvForm{QLatin1Char(';'), QLatin1Char(','), true};
        const QString output = Context::dashName(c.args.value(QStringLiteral("output")));
        const bool toFile = c.args.has(QStringLiteral("output")) && output != QLatin1String("-");
        const bool csvOut =
            !c.json && (c.args.has(QStringLiteral("csv")) || c.args.has(QStringLiteral("output"))) && !toFile;
        // A log keeps one form: rows of another would not read as columns.
        const auto sameForm = [&](const QString &header, const QString &name) {
            if (!header.isEmpty() && !header.startsWith(QStringLiteral("Čas") + form.separator))
                c.fail(ExitCode::Usage,
                       QStringLiteral("%1 má CSV jiného tvaru než --csv-format %2; připisuje "
                                      "se jen ve stejném tvaru.")
                           .arg(name, formName));
        };

        // The file is opened before the module is asked, so a wrong path
        // costs no bus time; links by the rule of every save.
        std::optional<Sink> file;
        QString fileHeader, outHeader;
        bool fileBom = false;
        if (toFile) {
            QString target;
            if (const int err = rq::resolveForWrite(output, &target))
                c.fail(
                    ExitCode::File,
                    QStringLiteral("Soubor %1 nelze otevřít: %2.").arg(output, SystemErrorText(err, output)));
            const int fd = ::open(QFile::encodeName(target).constData(),
                                  O_RDWR | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0644);
            if (fd < 0)
                c.fail(ExitCode::File, QStringLiteral("Soubor %1 nelze otevřít: %2.")
                                           .arg(output, SystemErrorText(errno, target)));
            file.emplace(fd, output);
            struct stat st
            {
            };
            const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
            fileBom = form.bom && regular && st.st_size == 0;
            fileHeader = regular ? lastHeader(fd) : QString();
            if (!fileHeader.isEmpty() && !fileHeader.startsWith(QStringLiteral("Čas") + form.separator)) {
                ::close(fd);
                file.reset();
                sameForm(fileHeader, QStringLiteral("Soubor ") + output);
            }
        }
        if (csvOut) {
            struct stat st
            {
            };
            if (::fstat(c.out.fd(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
                const int fd = ::open("/proc/self/fd/1", O_RDONLY | O_CLOEXEC);
                if (fd >= 0) {
                    outHeader = lastHeader(fd);
                    ::close(fd);
                }
                sameForm(outHeader, QStringLiteral("Soubor na standardním výstupu"));
            }
        }
        struct Closer
        {
            std::optional<Sink> &f;
            ~Closer()
            {
                if (f)
                    ::close(f->fd());
            }
        } closer{file};

        // A logger waits for its module from the start as it rides through
        // a later outage: every cycle the module does not answer is a row.
        const quint8 address = c.singleAddress();
        c.openAdapter();
        c.data.moduleAddress = address;
        c.streamed = c.json;
        AnalogCycle cycle;
        cycle.setSkipRefusedValues(true);
        Shape shape;
        bool identified = false;
        bool answering = true;
        qint64 failures = 0;
        qint64 n = 0;
        const auto keepGoing = [] { return StopSignal() == 0; };
        for (; count == 0 || n < count; ++n) {
            if (n > 0)
                wait(interval);
            c.stopPoint(QStringLiteral("Měření přerušeno, zapsáno řádků: %1.").arg(n));
            const qint64 time = QDateTime::currentMSecsSinceEpoch();
            AnalogReading r;
            quint32 din = 0;
            quint8 dinError = 0;
            QString failure;
            if (!identified)
                failure = identify(c, address, shape);
            identified = failure.isEmpty();
            if (identified) {
                r = cycle.run(c.data, address, keepGoing);
                if (r.outcome == AnalogReading::Outcome::Stopped)
                    c.stopPoint(QStringLiteral("Měření přerušeno, zapsáno řádků: %1.").arg(n));
                dinError = ReadDigitalInputs(c.data, address, din);
            } else {
                r.outcome = AnalogReading::Outcome::Failed;
                r.error = AdapterError::Timeout;
                dinError = AdapterError::Timeout;
            }
            TrendSample sample = MakeTrendSample(time, r, dinError, din, c.data.adapterKind);
            if (!sample.error.isEmpty()) {
                ++failures;
                sample.error =
                    !failure.isEmpty()
                        ? failure
                        : c.errorText(r.outcome == AnalogReading::Outcome::Failed ? r.error : dinError);
                if (answering)
                    c.note(QStringLiteral("%1 Měření pokračuje, až modul odpoví.").arg(sample.error));
                answering = false;
            } else if (!answering) {
                c.note(QStringLiteral("Modul opět odpovídá."));
                answering = true;
            }
            if (file) {
                const QString header = csvHeader(form, cycle.units(), shape);
                QByteArray bytes;
                if (header != fileHeader) {
                    bytes += (fileBom ? QByteArrayLiteral("\xEF\xBB\xBF") : QByteArray()) +
                             (header + LineEnd).toUtf8();
                    fileHeader = header;
                    fileBom = false;
                }
                bytes += (csvRow(form, address, sample, shape) + LineEnd).toUtf8();
                // One write a row, on the disk before the next cycle.
                if (!file->writeRecord(bytes) || !file->sync())
                    c.fail(ExitCode::File, QStringLiteral("%1 Zapsáno řádků: %2.").arg(file->error()).arg(n));
            }
            if (c.json) {
                c.jsonLine(jsonRow(cycle, address, sample, shape));
            } else if (csvOut) {
                const QString header = csvHeader(form, cycle.units(), shape);
                QString text;
                if (header != outHeader) {
                    text = header + LineEnd;
                    outHeader = header;
                }
                if (!c.out.writeRecord((text + csvRow(form, address, sample, shape) + LineEnd).toUtf8()))
                    c.outputFailed(c.out, QStringLiteral("%1 Zapsáno řádků: %2.").arg(c.out.error()).arg(n));
            } else if (!toFile) {
                c.line(plainRow(cycle, sample, shape));
            }
        }
        if (failures > 0)
            c.fail(ExitCode::Comm,
                   QStringLiteral("Nepodařilo se přečíst %1 z %2 cyklů.").arg(failures).arg(n));
        return ExitCode::Ok;
    }

private:
    // Who answers at address: its model's inputs and its thermometer. Empty,
    // or the text of what failed.
    static QString identify(Context &c, quint8 address, Shape &shape)
    {
        QString identity, text;
        if (const quint8 error = IdentifyModule(BusLink::of(c.data), address, identity, text); error != 0)
            return c.errorText(error);
        c.data.identity = identity;
        const std::optional<ModuleModel> model = ModelOfIdentity(identity);
        shape.inputs = model == ModuleModel::RQ3530 ? 6 : AnalogReading::InputCount;
        EepromBlock block{};
        try {
            c.readSteps({EepromSteps(block).at(CfgAddr::Thermometer)});
        } catch (const Failure &f) {
            if (f.code != ExitCode::Comm)
                throw;
            return f.text;
        }
        shape.thermometerOn = (block[CfgAddr::Thermometer] & 0x80) != 0;
        shape.temperatureUnit = ThermometerUnit(block[CfgAddr::Thermometer]);
        return {};
    }

    // The interval, ended early by a signal.
    static void wait(int ms)
    {
        for (int left = ms; left > 0 && StopSignal() == 0; left -= 100)
            rq::pause(std::min(left, 100));
    }

    static QString plainRow(const AnalogCycle &cycle, const TrendSample &s, const Shape &shape)
    {
        QStringList cells{TrendRecorder::timestamp(s.time)};
        if (s.analogValid) {
            // The analog monitor's display rule: five significant digits.
            for (int i = 0; i < shape.inputs; ++i)
                cells << (s.refusedValues >> i & 1
                              ? QStringLiteral("AIN%1 odmítnuto").arg(i)
                              : QStringLiteral("AIN%1 %2 %3")
                                    .arg(i)
                                    .arg(FormatFixed(s.values[std::size_t(i)], s.decimals[std::size_t(i)]),
                                         cycle.unit(i))
                                    .trimmed());
            constexpr int t = AnalogReading::InputCount;
            cells << (s.refusedValues >> t & 1 ? QStringLiteral("teplota odmítnuta")
                      : shape.thermometerOn    ? QStringLiteral("teplota %1 %2")
                                                  .arg(FormatFixed(s.values[AnalogReading::InputCount],
                                                                   s.decimals[AnalogReading::InputCount]),
                                                       shape.temperatureUnit)
                                            : QStringLiteral("teplota vypnuta"));
        }
        if (!s.error.isEmpty())
            cells << QStringLiteral("chyba: %1").arg(s.error);
        return cells.join(QStringLiteral("  "));
    }

    // Every line one shape: what failed or is off is null, never left out.
    static QJsonObject jsonRow(const AnalogCycle &cycle, quint8 address, const TrendSample &s,
                               const Shape &shape)
    {
        QJsonObject row{{QStringLiteral("time"), TrendRecorder::timestamp(s.time)},
                        {QStringLiteral("address"), address}};
        QJsonArray values;
        for (int i = 0; i < shape.inputs; ++i) {
            const std::size_t k = std::size_t(i);
            const bool valid = s.analogValid && !(s.refusedValues >> i & 1);
            values.append(QJsonObject{
                {QStringLiteral("value"),
                 valid ? QJsonValue(exact(s.values[k], s.decimals[k])) : QJsonValue(QJsonValue::Null)},
                {QStringLiteral("unit"), cycle.unit(i)},
                {QStringLiteral("decimals"), valid ? QJsonValue(s.decimals[k]) : QJsonValue::Null}});
        }
        row.insert(QStringLiteral("inputs"), values);
        constexpr std::size_t t = AnalogReading::InputCount;
        row.insert(QStringLiteral("temperature"),
                   s.analogValid && shape.thermometerOn && !(s.refusedValues >> t & 1)
                       ? QJsonValue(exact(s.values[t], s.decimals[t]))
                       : QJsonValue(QJsonValue::Null));
        row.insert(QStringLiteral("temperatureUnit"),
                   shape.thermometerOn ? QJsonValue(shape.temperatureUnit) : QJsonValue(QJsonValue::Null));
        row.insert(QStringLiteral("din"),
                   s.dinValid ? QJsonValue(qint64(s.din)) : QJsonValue(QJsonValue::Null));
        row.insert(QStringLiteral("error"),
                   s.error.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(s.error));
        return row;
    }
};
} // namespace

const Command &ValuesCommand()
{
    static const Values command;
    return command;
}
