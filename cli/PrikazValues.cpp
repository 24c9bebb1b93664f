// values: the analog inputs with their units, the internal temperature and
// the digital inputs, a row a cycle, as plain text, CSV or JSON lines, each
// row written as it comes so that a run of any length keeps its memory flat.
#include "cli/Kontext.h"
#include "cli/Signaly.h"
#include "core/Pauza.h"
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

QString csvHeader(const CsvForm &form, const std::array<QString, AnalogReading::ValueCount> &units)
{
    QStringList f{QStringLiteral("Čas"), QStringLiteral("Adresa")};
    for (int i = 0; i < AnalogReading::ValueCount; ++i) {
        const QString name = i < AnalogReading::InputCount ? QStringLiteral("Vstup %1").arg(i)
                                                           : QStringLiteral("Interní teplota");
        const QString &unit = units[std::size_t(i)];
        f << csvField(unit.isEmpty() ? name : QStringLiteral("%1 [%2]").arg(name, unit), form.separator);
    }
    for (int n = 0; n < 32; ++n)
        f << QStringLiteral("DIN%1").arg(n);
    f << QStringLiteral("Chyba");
    return f.join(form.separator);
}

QString csvRow(const CsvForm &form, quint8 address, const TrendSample &s)
{
    QStringList f{TrendRecorder::timestamp(s.time), QString::number(address)};
    for (std::size_t k = 0; k < TrendSample::ValueCount; ++k) {
        QString number =
            s.analogValid ? QString::number(s.values[k], 'f', std::min<int>(s.decimals[k], 15)) : QString();
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
            "values [--interval MS] [--count N] [--csv] [--output SOUBOR] [--csv-format excel-cs|rfc4180]");
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
        const QString formName = c.args.has(QStringLiteral("csv-format"))
                                     ? c.args.value(QStringLiteral("csv-format"))
                                     : QStringLiteral("excel-cs");
        if (formName != QLatin1String("excel-cs") && formName != QLatin1String("rfc4180"))
            c.fail(ExitCode::Usage,
                   QStringLiteral("Neznámý tvar CSV „%1“ (excel-cs, rfc4180).").arg(formName));
        const CsvForm form = formName == QLatin1String("rfc4180")
                                 ? CsvForm{QLatin1Char(','), QLatin1Char('.'), false}
                                 : CsvForm{QLatin1Char(';'), QLatin1Char(','), true};
        const bool toFile = c.args.has(QStringLiteral("output")) &&
                            c.args.value(QStringLiteral("output")) != QLatin1String("-");
        const bool csvOut =
            !c.json && (c.args.has(QStringLiteral("csv")) || c.args.has(QStringLiteral("output"))) && !toFile;

        // The file is opened before the module is asked, so a wrong path
        // costs no bus time.
        std::optional<Sink> file;
        QString fileHeader, outHeader;
        bool fileBom = false;
        if (toFile) {
            const QString path = c.args.value(QStringLiteral("output"));
            const int fd =
                ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
            if (fd < 0)
                c.fail(ExitCode::File,
                       QStringLiteral("Soubor %1 nelze otevřít: %2.").arg(path, SystemErrorText(errno)));
            file.emplace(fd, path);
            struct stat st
            {
            };
            fileBom = form.bom && ::fstat(fd, &st) == 0 && st.st_size == 0;
            fileHeader = lastHeader(fd);
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

        c.connectModule();
        c.streamed = c.json;
        AnalogCycle cycle;
        const quint8 address = c.data.moduleAddress;
        qint64 failures = 0;
        qint64 n = 0;
        const auto keepGoing = [] { return StopSignal() == 0; };
        for (; count == 0 || n < count; ++n) {
            if (n > 0)
                wait(interval);
            c.stopPoint(QStringLiteral("Měření přerušeno po %1 řádcích.").arg(n));
            const qint64 time = QDateTime::currentMSecsSinceEpoch();
            const AnalogReading r = cycle.run(c.data, address, keepGoing);
            if (r.outcome == AnalogReading::Outcome::Stopped)
                c.stopPoint(QStringLiteral("Měření přerušeno po %1 řádcích.").arg(n));
            quint32 din = 0;
            const quint8 dinError = ReadDigitalInputs(c.data, address, din);
            TrendSample sample = MakeTrendSample(time, r, dinError, din, c.data.adapterKind);
            if (!sample.error.isEmpty()) {
                ++failures;
                sample.error = c.errorText(r.outcome == AnalogReading::Outcome::Failed ? r.error : dinError);
            }
            if (file) {
                const QString header = csvHeader(form, cycle.units());
                QByteArray bytes;
                if (header != fileHeader) {
                    bytes += (fileBom ? QByteArrayLiteral("\xEF\xBB\xBF") : QByteArray()) +
                             (header + LineEnd).toUtf8();
                    fileHeader = header;
                    fileBom = false;
                }
                bytes += (csvRow(form, address, sample) + LineEnd).toUtf8();
                // One write a row, on the disk before the next cycle.
                if (!file->writeRecord(bytes) || !file->sync())
                    c.fail(ExitCode::File, QStringLiteral("%1 Zapsáno %2 řádků.").arg(file->error()).arg(n));
            }
            if (c.json) {
                c.jsonLine(jsonRow(cycle, address, sample));
            } else if (csvOut) {
                const QString header = csvHeader(form, cycle.units());
                QString text;
                if (header != outHeader) {
                    text = header + LineEnd;
                    outHeader = header;
                }
                if (!c.out.writeRecord((text + csvRow(form, address, sample) + LineEnd).toUtf8()))
                    c.fail(ExitCode::File, QStringLiteral("%1 Zapsáno %2 řádků.").arg(c.out.error()).arg(n));
            } else if (!toFile) {
                c.line(plainRow(cycle, sample));
            }
        }
        if (failures > 0)
            c.fail(ExitCode::Comm,
                   QStringLiteral("Nepodařilo se přečíst %1 z %2 cyklů.").arg(failures).arg(n));
        return ExitCode::Ok;
    }

private:
    // The interval, ended early by a signal.
    static void wait(int ms)
    {
        for (int left = ms; left > 0 && StopSignal() == 0; left -= 100)
            rq::pause(std::min(left, 100));
    }

    static QString plainRow(const AnalogCycle &cycle, const TrendSample &s)
    {
        QStringList cells{TrendRecorder::timestamp(s.time)};
        if (s.analogValid) {
            // The analog monitor's display rule: five significant digits.
            for (int i = 0; i < AnalogReading::InputCount; ++i)
                cells << QStringLiteral("AIN%1 %2 %3")
                             .arg(i)
                             .arg(FormatFixed(s.values[std::size_t(i)], s.decimals[std::size_t(i)]),
                                  cycle.unit(i))
                             .trimmed();
            cells << QStringLiteral("teplota %1")
                         .arg(FormatFixed(s.values[AnalogReading::InputCount],
                                          s.decimals[AnalogReading::InputCount]));
        } else {
            cells << QStringLiteral("chyba: %1").arg(s.error);
        }
        return cells.join(QStringLiteral("  "));
    }

    static QJsonObject jsonRow(const AnalogCycle &cycle, quint8 address, const TrendSample &s)
    {
        QJsonObject row{{QStringLiteral("time"), TrendRecorder::timestamp(s.time)},
                        {QStringLiteral("address"), address}};
        if (s.analogValid) {
            QJsonArray values;
            for (int i = 0; i < AnalogReading::InputCount; ++i)
                values.append(QJsonObject{
                    {QStringLiteral("value"), exact(s.values[std::size_t(i)], s.decimals[std::size_t(i)])},
                    {QStringLiteral("unit"), cycle.unit(i)}});
            row.insert(QStringLiteral("inputs"), values);
            row.insert(QStringLiteral("temperature"),
                       exact(s.values[AnalogReading::InputCount], s.decimals[AnalogReading::InputCount]));
        }
        if (!s.error.isEmpty())
            row.insert(QStringLiteral("error"), s.error);
        if (s.dinValid)
            row.insert(QStringLiteral("din"), qint64(s.din));
        return row;
    }
};
} // namespace

const Command &ValuesCommand()
{
    static const Values command;
    return command;
}
