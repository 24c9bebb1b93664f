#include "core/Csv.h"
#include "core/Format.h"

#include <QTest>

using namespace Qt::StringLiterals;

// Figures in the windows and in every CSV file: the locale's decimal
// separator and nothing else of the locale; a Czech window under English
// settings still reads Czech.
class TestFormat : public QObject
{
    Q_OBJECT

private slots:
    void figures_data()
    {
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("expected");
        const QLocale cs(u"cs_CZ"_s);
        const QLocale en(u"en_US"_s);
        QTest::newRow("decimal, Czech") << rq::fmt::decimal(1234.5, 1, cs) << u"1234,5"_s;
        QTest::newRow("decimal, English, no group") << rq::fmt::decimal(1234.5, 1, en) << u"1234.5"_s;
        QTest::newRow("negative") << rq::fmt::decimal(-0.25, 2, cs) << u"-0,25"_s;
        QTest::newRow("count") << rq::fmt::count(10000) << u"10000"_s;
        QTest::newRow("percent, Czech") << rq::fmt::percent(0.0, 1, cs) << u"0,0 %"_s;
        QTest::newRow("percent, English") << rq::fmt::percent(12.34, 1, en) << u"12.3 %"_s;
        QTest::newRow("below resolution, Czech") << rq::fmt::atLeastResolution(0.04, 1, cs) << u"< 0,1"_s;
        QTest::newRow("below resolution, English") << rq::fmt::atLeastResolution(0.001, 1, en) << u"< 0.1"_s;
        QTest::newRow("at resolution") << rq::fmt::atLeastResolution(0.05, 1, cs) << u"0,1"_s;
        QTest::newRow("above resolution") << rq::fmt::atLeastResolution(2.349, 2, cs) << u"2,35"_s;
        QTest::newRow("nothing measured") << rq::fmt::atLeastResolution(0, 1, cs) << u"0,0"_s;
        QTest::newRow("date") << rq::fmt::date(QDate(2026, 12, 7)) << u"7. 12. 2026"_s;
        QTest::newRow("date and time")
            << rq::fmt::dateTime(QDateTime(QDate(2026, 1, 17), QTime(9, 3, 5))) << u"17. 1. 2026 09:03:05"_s;
    }
    void figures()
    {
        QFETCH(QString, shown);
        QTEST(shown, "expected");
    }

    // One CSV form: ';' between fields, quotes only where needed, the
    // locale's decimal separator without groups, CRLF.
    void csvRule_data()
    {
        QTest::addColumn<QString>("written");
        QTest::addColumn<QString>("expected");
        const QLocale cs(u"cs_CZ"_s);
        const QLocale en(u"en_US"_s);
        QTest::newRow("plain field") << rq::csv::field(u"RQ-3510  v.1.08"_s) << u"RQ-3510  v.1.08"_s;
        QTest::newRow("separator") << rq::csv::field(u"a;b"_s) << u"\"a;b\""_s;
        QTest::newRow("quote") << rq::csv::field(u"řekl \"ne\""_s) << u"\"řekl \"\"ne\"\"\""_s;
        QTest::newRow("line break") << rq::csv::field(u"a\r\nb"_s) << u"\"a\r\nb\""_s;
        QTest::newRow("comma stays bare") << rq::csv::field(u"1,5"_s) << u"1,5"_s;
        QTest::newRow("number, Czech") << rq::csv::number(1234567.25, 3, cs) << u"1234567,250"_s;
        QTest::newRow("number, English") << rq::csv::number(1234567.25, 2, en) << u"1234567.25"_s;
        QTest::newRow("line") << rq::csv::line({u"Čas"_s, u"1,5"_s, QString()}) << u"Čas;1,5;\r\n"_s;
    }
    void csvRule()
    {
        QFETCH(QString, written);
        QTEST(written, "expected");
    }
};

QTEST_GUILESS_MAIN(TestFormat)
#include "tst_format.moc"
