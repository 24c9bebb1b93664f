// "Průběh hodnot" against the module simulator through the real LAN
// converter library: a ramping input is followed by the chart and recorded;
// a range changed from elsewhere is followed by the units.
#include "live/SimConnection.h"
#include "trend/Prubeh.h"

#include <QDateTime>
#include <QFile>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class TestPrubehSim : public QObject
{
    Q_OBJECT
    TData data;

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Czech, QLocale::CzechRepublic)); }
    void cleanup()
    {
        DisconnectFromSim(data);
        TFormPrubeh::chooseFile = nullptr;
        TFormPrubeh::clock = nullptr;
    }

    // Input 3's range set from elsewhere (another tool, a replaced module):
    // after the period, or after a failed reading, the window reads the
    // units again; the line goes on in a new piece on the ohm axis, its
    // statistics start again, the record repeats its header with the new
    // units, and the window says what changed.
    void unitsFollowTheModule_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("period over") << u"period"_s;
        QTest::newRow("after a failed reading") << u"failure"_s;
    }
    void unitsFollowTheModule()
    {
        QFETCH(QString, how);
        SimProcess sim;
        QVERIFY2(sim.start({u"--module"_s, u"1:3510:1.08"_s}), qPrintable(sim.errorString()));
        const QString error = ConnectToSim(data, sim, 1);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY(sim.ok(u"mem 1 0 3 6"_s)); // +/- 2 V
        QVERIFY(sim.ok(u"ain 1 3 1.5 V"_s));
        qint64 offset = 0;
        TFormPrubeh::clock = [&offset] { return QDateTime::currentMSecsSinceEpoch() + offset; };

        QTemporaryDir dir;
        const QString path = dir.filePath(u"units.csv"_s);
        TFormPrubeh::chooseFile = [&path](QWidget *, const QString &) { return path; };
        TFormPrubeh d;
        d.Data = &data;
        d.show();
        QTRY_VERIFY_WITH_TIMEOUT(d.completedCycles() >= 2, 20000);
        d.Button3->click();
        QVERIFY(d.recorder().isOpen());
        QTRY_VERIFY_WITH_TIMEOUT(d.recorder().rows() >= 3, 20000);

        QVERIFY(sim.ok(u"mem 1 0 3 8"_s));
        QVERIFY(sim.ok(u"ain 1 3 250 ohm"_s));
        if (how == u"period")
            offset = TrendCycle::UnitsPeriod + 1000;
        else
            QVERIFY(sim.ok(u"fault cmd=0 sub=64 drop count=1"_s)); // one reading of the digital inputs lost
        QTRY_VERIFY_WITH_TIMEOUT(d.trendCycle().units()[3] == u"ohm"_s, 20000);
        const quint64 rowsThen = d.recorder().rows();
        QTRY_VERIFY_WITH_TIMEOUT(d.recorder().rows() >= rowsThen + 3, 20000);
        d.Timer2Timer();

        QVERIFY2(d.LabelJednotky->isVisible() &&
                     d.LabelJednotky->text().endsWith(u"Modul změnil jednotky: Vstup 3 V → ohm"_s),
                 qPrintable(d.LabelJednotky->text()));
        // The value shown, and statistics of the new range only.
        QCOMPARE(d.Hodnota[3]->text().section(u' ', -1), u"ohm"_s);
        QVERIFY2(d.Hodnota[3]->text().startsWith(u"250,"_s), qPrintable(d.Hodnota[3]->text()));
        QVERIFY2(d.Minimum[3]->text().startsWith(u"250,"_s), qPrintable(d.Minimum[3]->text()));
        QVERIFY2(d.Prumer[3]->text().startsWith(u"250,"_s), qPrintable(d.Prumer[3]->text()));
        // The line: volts, then a new piece on the ohm axis.
        const QList<int> axes = d.Chart1->pieceAxes(3);
        QVERIFY(axes.size() >= 2);
        QCOMPARE(d.Chart1->axes().at(axes.first()).title, u"V"_s);
        QCOMPARE(d.Chart1->axes().at(axes.last()).title, u"ohm"_s);
        QVERIFY(d.segments(3).last().last().y() > 200);
        // The record: the header again before the first row in ohm.
        d.Button3->click();
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(f.readAll().mid(3)).split(u"\r\n"_s);
        QList<int> headers;
        for (int i = 0; i < int(lines.size()); ++i)
            if (lines.at(i).startsWith(u"Čas;"_s))
                headers << i;
        QCOMPARE(int(headers.size()), 2);
        QVERIFY(lines.value(headers.value(0)).contains(u";Vstup 3 [V];"_s));
        QVERIFY(lines.value(headers.value(0)).contains(u";Interní teplota [°C];"_s));
        QVERIFY(lines.value(headers.value(1)).contains(u";Vstup 3 [ohm];"_s));
        for (int i = headers.value(1) + 1; i + 1 < int(lines.size()); ++i)
            if (lines.at(i).endsWith(u';')) // rows of failed readings aside
                QVERIFY2(lines.at(i).section(u';', 4, 4).startsWith(u"250,"_s), qPrintable(lines.at(i)));
    }

    void chartAndRecordFollowRamp()
    {
        SimProcess sim;
        QVERIFY2(sim.start({u"--module"_s, u"1:3510:1.08"_s}), qPrintable(sim.errorString()));
        const QString error = ConnectToSim(data, sim, 1);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY(sim.setMemoryByte(1, 0, 6));       // +/- 2 V
        QVERIFY(sim.ok(u"ramp 1 0 0 1.5 30 V"_s)); // 0.05 V a second, slower than the test

        QTemporaryDir dir;
        const QString path = dir.filePath(u"ramp.csv"_s);
        TFormPrubeh::chooseFile = [&path](QWidget *, const QString &) { return path; };
        TFormPrubeh d;
        d.Data = &data;
        d.show();
        QTRY_VERIFY(d.completedCycles() >= 1);
        d.Button3->click();
        QVERIFY(d.recorder().isOpen());
        QTRY_VERIFY_WITH_TIMEOUT(d.recorder().rows() >= 30, 20000);
        d.Button3->click();
        d.Timer2Timer();

        // The line rises: each point at or above the one before.
        const QList<QList<QPointF>> pieces = d.segments(0);
        QCOMPARE(pieces.size(), 1);
        const QList<QPointF> &line = pieces.first();
        QVERIFY(line.size() >= 2);
        for (qsizetype i = 1; i < line.size(); ++i)
            QVERIFY2(line[i].y() >= line[i - 1].y() && line[i].x() >= line[i - 1].x(),
                     qPrintable(QString::number(i)));
        QVERIFY(line.last().y() > line.first().y());

        // The file: numbers with a decimal comma that rise with the ramp, in volts.
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = f.readAll().mid(3).split('\n');
        QVERIFY(lines.first().startsWith("Čas;Vstup 0 [V];"));
        double previous = -1;
        for (qsizetype i = 1; i + 1 < lines.size(); ++i) {
            const QByteArray cell = lines[i].split(';').value(1);
            QVERIFY2(cell.contains(',') && !cell.contains('.'), cell.constData());
            bool ok = false;
            const double v = QLocale(QLocale::Czech).toDouble(QString::fromLatin1(cell), &ok);
            QVERIFY2(ok && v >= previous && v < 1.5, cell.constData());
            previous = v;
        }
    }
};

QTEST_MAIN(TestPrubehSim)
#include "tst_prubeh_sim.moc"
