// The CSV record of values over time: what a Czech spreadsheet reads, and a
// file that keeps every completed row when the program is killed mid-log.
#include "trend/Zaznam.h"

#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <cstring>

using namespace Qt::StringLiterals;

namespace {
const std::array<QString, TrendSample::ValueCount> Units{u"V"_s, u"V"_s,   u"V"_s,   u"V"_s,  u"V"_s,
                                                         u"V"_s, u"ohm"_s, u"ohm"_s, u"°C"_s, u"°C"_s,
                                                         u"K"_s, u"°F"_s,  QString()};

// Row n of the child's log: values that tell the rows apart.
TrendSample childSample(int n)
{
    TrendSample s;
    s.time = 1'765'000'000'000 + 10LL * n;
    s.analogValid = true;
    for (std::size_t k = 0; k < TrendSample::ValueCount; ++k) {
        s.values[k] = n + 0.125 * double(k);
        s.decimals[k] = 3;
    }
    s.dinValid = true;
    s.din = quint32(n);
    return s;
}

// The child: logs rows until killed and tells the parent on stdout after
// each row that write() has returned.
int runChild(const char *path)
{
    TrendRecorder recorder;
    if (!recorder.open(QString::fromLocal8Bit(path), Units))
        return 3;
    for (int n = 0;; ++n) {
        if (!recorder.write(childSample(n)))
            return 4;
        std::printf("%d\n", n);
        std::fflush(stdout);
    }
}
} // namespace

class TestTrendRecorder : public QObject
{
    Q_OBJECT

private slots:
    void headerAndRows_data()
    {
        QTest::addColumn<bool>("analog");
        QTest::addColumn<bool>("din");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("expected"); // the row after the time stamp
        const QString values = u"1,2345;-0,50;20;0,000;0;0;0;0;0;0;0;0;23,5"_s;
        const QString bits = u"1;0;0;0;0;0;0;0;0;0;0;0;0;0;0;1;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;1"_s;
        const QString noValues(12, u';');
        const QString noBits(31, u';');
        QTest::newRow("complete") << true << true << QString() << values + u';' + bits + u';';
        QTest::newRow("analog failed")
            << false << true << u"chyba 5"_s << noValues + u';' + bits + u";chyba 5"_s;
        QTest::newRow("inputs failed")
            << true << false << u"chyba 6"_s << values + u';' + noBits + u";chyba 6"_s;
        QTest::newRow("error text quoted")
            << false << false << u"a; \"b\""_s << noValues + u';' + noBits + u";\"a; \"\"b\"\"\""_s;
    }
    void headerAndRows()
    {
        QFETCH(bool, analog);
        QFETCH(bool, din);
        QFETCH(QString, error);
        QFETCH(QString, expected);
        TrendSample s;
        s.time = QDateTime(QDate(2026, 12, 7), QTime(14, 3, 12, 45)).toMSecsSinceEpoch();
        s.analogValid = analog;
        s.values = {1.2345, -0.5, 20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 23.5};
        s.decimals = {4, 2, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 1};
        s.dinValid = din;
        s.din = 0x80008001u;
        s.error = error;

        QTemporaryDir dir;
        const QString path = dir.filePath(u"a.csv"_s);
        TrendRecorder r;
        QVERIFY2(r.open(path, Units), qPrintable(r.errorString()));
        QVERIFY(r.write(s));
        r.close();
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF")); // UTF-8 that a spreadsheet recognises
        const QStringList lines = QString::fromUtf8(bytes.mid(3)).split(u"\r\n"_s);
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[2].isEmpty());
        QString header = u"Čas;Vstup 0 [V];Vstup 1 [V];Vstup 2 [V];Vstup 3 [V];Vstup 4 [V];Vstup 5 [V];"
                         u"Vstup 6 [ohm];Vstup 7 [ohm];Vstup 8 [°C];Vstup 9 [°C];Vstup 10 [K];Vstup 11 [°F];"
                         u"Interní teplota"_s;
        for (int n = 0; n < 32; ++n)
            header += u";DIN"_s + QString::number(n);
        QCOMPARE(lines[0], header + u";Chyba"_s);
        const QString stamp = lines[1].section(u';', 0, 0);
        QVERIFY2(
            QRegularExpression(u"^2026-12-07T14:03:12\\.045[+-]\\d\\d:\\d\\d$"_s).match(stamp).hasMatch(),
            qPrintable(stamp));
        QCOMPARE(QDateTime::fromString(stamp, Qt::ISODateWithMs).toMSecsSinceEpoch(), s.time);
        QCOMPARE(lines[1].section(u';', 1), expected);
        QCOMPARE(r.rows(), 1u);
    }

    // A record that starts before the module's ranges could be read writes
    // its header with the first row, and again, with the units, before the
    // first row that knows them; a change of the module's units repeats the
    // header with the new ones before the first row that has them.
    void headerCarriesUnits_data()
    {
        QTest::addColumn<QList<int>>("units");   // per row: 0 not known, 1 Units, 2 input 3 in ohm, counts
        QTest::addColumn<bool>("atOpen");        // Units known when the file was opened
        QTest::addColumn<QList<int>>("headers"); // line numbers of header lines
        QTest::newRow("known from the start") << QList<int>{1, 1} << true << QList<int>{0};
        QTest::newRow("first reading failed") << QList<int>{0, 1, 1} << false << QList<int>{0, 2};
        QTest::newRow("never known") << QList<int>{0, 0} << false << QList<int>{0};
        QTest::newRow("known by the first row") << QList<int>{1, 1} << false << QList<int>{0};
        QTest::newRow("units changed") << QList<int>{1, 1, 2, 2} << true << QList<int>{0, 3};
        QTest::newRow("changed and back") << QList<int>{1, 2, 0, 1} << true << QList<int>{0, 2, 5};
    }
    void headerCarriesUnits()
    {
        QFETCH(QList<int>, units);
        QFETCH(bool, atOpen);
        QFETCH(QList<int>, headers);
        std::array<QString, TrendSample::ValueCount> other = Units;
        other[3] = u"ohm"_s;
        other[12] = u"dílky"_s;
        QList<TrendSample> samples;
        for (qsizetype n = 0; n < units.size(); ++n) {
            TrendSample s = childSample(int(n));
            s.unitsKnown = s.analogValid = units[n] != 0;
            if (units[n])
                s.units = units[n] == 1 ? Units : other;
            samples << s;
        }
        QTemporaryDir dir;
        TrendRecorder r;
        QVERIFY(r.open(dir.filePath(u"u.csv"_s),
                       atOpen ? Units : std::array<QString, TrendSample::ValueCount>{}, atOpen));
        QString stream;
        TrendCsvText csv;
        if (atOpen) {
            stream = TrendRecorder::headerLine(Units);
            csv.headerWritten(Units);
        }
        for (const TrendSample &s : samples) {
            QVERIFY(r.write(s));
            stream += csv.next(s);
        }
        r.close();
        QFile f(dir.filePath(u"u.csv"_s));
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QStringList fileLines = QString::fromUtf8(f.readAll().mid(3)).split(u"\r\n"_s);
        QCOMPARE(fileLines, stream.split(u"\r\n"_s));
        QList<int> found;
        for (qsizetype i = 0; i < fileLines.size(); ++i)
            if (fileLines[i].startsWith(u"Čas;"_s))
                found << int(i);
        QCOMPARE(found, headers);
        // Each header names the units of the rows below it.
        for (int h : found) {
            const int row = h + 1 - int(found.indexOf(h)) - 1; // sample index of the row below
            const int u = units.value(row);
            QCOMPARE(fileLines[h].contains(u";Vstup 3 [ohm];"_s), u == 2);
            QCOMPARE(fileLines[h].contains(u";Interní teplota [dílky];"_s), u == 2);
            QCOMPARE(fileLines[h].contains(u";Vstup 3 [V];"_s), u == 1 || (atOpen && h == 0));
        }
        QCOMPARE(r.rows(), quint64(samples.size()));
    }

    void unwritableFileIsReported()
    {
        TrendRecorder r;
        QVERIFY(!r.open(u"/nonexistent-folder/a.csv"_s, Units));
        QVERIFY(!r.errorString().isEmpty());
        QVERIFY(!r.isOpen());
        QVERIFY(!r.write(TrendSample{}));
    }

    // A logging process killed with SIGKILL: every row it had completed is
    // in the file, whole and with its own values; at most the row in flight
    // is missing.
    void killedProcessLosesNoCompletedRow()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"killed.csv"_s);
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {u"--log-child"_s, path});
        QVERIFY(child.waitForStarted(5000));
        int completed = -1;
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                out += child.readAllStandardOutput();
                const QList<QByteArray> lines = out.split('\n');
                if (lines.size() >= 2)
                    completed = lines.at(lines.size() - 2).toInt();
                return completed >= 200;
            }(),
            20000);
        child.kill(); // SIGKILL
        QVERIFY(child.waitForFinished(5000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        out += child.readAllStandardOutput();
        const QList<QByteArray> reported = out.split('\n');
        completed = reported.at(reported.size() - 2).toInt(); // the last row it saw written

        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        QList<QByteArray> lines = bytes.mid(3).split('\n');
        // The last piece is empty, or the row in flight cut short.
        const QByteArray tail = lines.takeLast();
        QVERIFY(lines.size() - 1 >= completed + 1); // header, then rows 0..completed
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const int n = int(i - 1);
            QCOMPARE(lines.at(i), TrendRecorder::rowLine(childSample(n)).toUtf8().chopped(1));
        }
        if (!tail.isEmpty()) // a partial row may only be the next one
            QVERIFY(TrendRecorder::rowLine(childSample(int(lines.size() - 1))).toUtf8().startsWith(tail));
    }
};

int main(int argc, char **argv)
{
    // The record follows the regional settings; these tests read a Czech one.
    QLocale::setDefault(QLocale(QLocale::Czech, QLocale::CzechRepublic));
    if (argc == 3 && std::strcmp(argv[1], "--log-child") == 0)
        return runChild(argv[2]);
    QCoreApplication app(argc, argv);
    TestTrendRecorder test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_trendrecorder.moc"
