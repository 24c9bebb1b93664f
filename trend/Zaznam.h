#ifndef RQ_TREND_ZAZNAM_H
#define RQ_TREND_ZAZNAM_H

#include "trend/Historie.h"

#include <QFile>
#include <QString>

#include <array>

// Values over time into a CSV file, one row per cycle, made for a Czech
// spreadsheet: ';' between fields and a decimal comma in the numbers (the
// list separator and decimal mark of the Czech regional settings, so a
// double-click opens it in columns, numbers as numbers), UTF-8 with a byte
// order mark (so "°C" and "Čas" survive), CRLF line ends.
//
//   Čas;Vstup 0 [V];...;Vstup 11 [ohm];Interní teplota [°C];DIN0;...;DIN31;Chyba
//   2026-12-07T14:03:12.345+01:00;1,2345;...;23,5;0;1;...;
//
// The time is local with its offset from UTC, to the millisecond. A failed
// cycle leaves its value cells empty and names the failure in "Chyba".
// The header carries the units; when the first rows come before the module's
// ranges could be read, the header is written again, with the units, before
// the first row that has them, and so it is before the first row with other
// units when the module's ranges change.
// Each row goes to the file in one write and is forced to the disk before
// write() returns, so a killed program or a pulled plug loses at most the
// row being written.
// The CSV text for a stream of samples: the header before the first row,
// again once the units become known when the first header had none, and
// again whenever a sample brings other units than the header before.
//
//   TrendCsvText csv;                  // csv.headerWritten(units) when the stream has one
//   out << csv.next(sample);           // for each sample, in order
class TrendCsvText
{
public:
    // The stream already holds a header with these units: none is due for them.
    void headerWritten(const std::array<QString, TrendSample::ValueCount> &units);
    // The lines for one sample: the header when one is due, then its row.
    QString next(const TrendSample &s);

private:
    bool m_headerWritten = false;
    bool m_headerHasUnits = false;
    std::array<QString, TrendSample::ValueCount> m_units{};
};

class TrendRecorder
{
public:
    TrendRecorder() = default;
    ~TrendRecorder() { close(); }
    TrendRecorder(const TrendRecorder &) = delete;
    TrendRecorder &operator=(const TrendRecorder &) = delete;

    // Creates the file, replacing one of the same name (ask before calling),
    // and writes the header with the units of the thirteen values (the
    // temperature's is empty, as the monitor shows it). Without units known
    // the header waits for the first row, and is written again by the first
    // row that knows them. False with errorString() when the file cannot be
    // written.
    bool open(const QString &path, const std::array<QString, TrendSample::ValueCount> &units,
              bool unitsKnown = true);
    // One row (after the header again when the sample brings the units
    // first); false with errorString() when it could not be written whole.
    bool write(const TrendSample &s);
    void close();

    bool isOpen() const { return m_file.isOpen(); }
    QString fileName() const { return m_file.fileName(); }
    quint64 rows() const { return m_rows; }
    QString errorString() const { return m_error; }

    static QString headerLine(const std::array<QString, TrendSample::ValueCount> &units);
    static QString rowLine(const TrendSample &s);
    // 2026-12-07T14:03:12.345+01:00: local time of ms since 1970 (UTC).
    static QString timestamp(qint64 ms);
    // The value with exactly its decimals (at most 15) and a decimal comma.
    static QString number(double value, int decimals);

private:
    bool put(const QByteArray &bytes);

    QFile m_file;
    TrendCsvText m_csv;
    quint64 m_rows = 0;
    QString m_error;
};

#endif
