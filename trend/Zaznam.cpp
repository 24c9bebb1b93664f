#include "trend/Zaznam.h"

#include "core/Csv.h"

#include <QDateTime>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {
const QString Separator = QStringLiteral(";");
const QString LineEnd = QStringLiteral("\r\n");

// A text field as a spreadsheet reads it: quoted when it holds the
// separator, a quote or a line break.
QString field(const QString &text)
{
    if (!text.contains(QLatin1Char(';')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QStringLiteral("\""), QStringLiteral("\"\""));
    return QStringLiteral("\"") + quoted + QStringLiteral("\"");
}
} // namespace

QString TrendRecorder::headerLine(const std::array<QString, TrendSample::ValueCount> &units)
{
    QStringList f{QStringLiteral("Čas")};
    for (int i = 0; i < TrendSample::ValueCount; ++i) {
        const QString name = i < TrendSample::ValueCount - 1 ? QStringLiteral("Vstup %1").arg(i)
                                                             : QStringLiteral("Interní teplota");
        const QString &unit = units[static_cast<std::size_t>(i)];
        f << field(unit.isEmpty() ? name : name + QStringLiteral(" [") + unit + QStringLiteral("]"));
    }
    for (int n = 0; n < 32; ++n)
        f << QStringLiteral("DIN%1").arg(n);
    f << QStringLiteral("Chyba");
    return f.join(Separator) + LineEnd;
}

QString TrendRecorder::rowLine(const TrendSample &s)
{
    QStringList f{timestamp(s.time)};
    for (std::size_t k = 0; k < TrendSample::ValueCount; ++k)
        f << (s.analogValid ? number(s.values[k], s.decimals[k]) : QString());
    for (int n = 0; n < 32; ++n)
        f << (s.dinValid ? ((s.din >> n) & 1 ? QStringLiteral("1") : QStringLiteral("0")) : QString());
    f << field(s.error.trimmed());
    return f.join(Separator) + LineEnd;
}

QString TrendRecorder::timestamp(qint64 ms)
{
    return rq::csv::timestamp(ms);
}

QString TrendRecorder::number(double value, int decimals)
{
    // The one CSV rule of the tool: the regional decimal separator, never a
    // group separator (a spreadsheet would read "1 000,5" as text).
    return rq::csv::number(value, std::clamp(decimals, 0, 15));
}

void TrendCsvText::headerWritten(const std::array<QString, TrendSample::ValueCount> &units)
{
    m_headerWritten = m_headerHasUnits = true;
    m_units = units;
}

QString TrendCsvText::next(const TrendSample &s)
{
    QString text;
    if (!m_headerWritten || (s.unitsKnown && (!m_headerHasUnits || s.units != m_units))) {
        text = TrendRecorder::headerLine(s.units);
        m_headerWritten = true;
        m_headerHasUnits = s.unitsKnown;
        m_units = s.units;
    }
    return text + TrendRecorder::rowLine(s);
}

bool TrendRecorder::open(const QString &path, const std::array<QString, TrendSample::ValueCount> &units,
                         bool unitsKnown)
{
    close();
    m_rows = 0;
    m_error.clear();
    m_file.setFileName(path);
    // Unbuffered: every row is one write of its own, never half in a buffer.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        m_error = m_file.errorString();
        return false;
    }
    if (!put(QByteArrayLiteral("\xEF\xBB\xBF") + (unitsKnown ? headerLine(units).toUtf8() : QByteArray()))) {
        close();
        return false;
    }
    m_csv = TrendCsvText();
    if (unitsKnown)
        m_csv.headerWritten(units);
    return true;
}

bool TrendRecorder::write(const TrendSample &s)
{
    if (!m_file.isOpen()) {
        m_error = QStringLiteral("Soubor není otevřen.");
        return false;
    }
    // A header due and the row in one write: a header line is never left
    // without the row that brought it.
    if (!put(m_csv.next(s).toUtf8()))
        return false;
    ++m_rows;
    return true;
}

bool TrendRecorder::put(const QByteArray &bytes)
{
    if (m_file.write(bytes) != bytes.size()) {
        m_error = m_file.errorString();
        return false;
    }
#ifdef Q_OS_UNIX
    // On the disk, not only in the system's cache: a power cut keeps it too.
    if (::fdatasync(m_file.handle()) != 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
#else
    m_file.flush();
#endif
    return true;
}

void TrendRecorder::close()
{
    if (m_file.isOpen())
        m_file.close();
}
