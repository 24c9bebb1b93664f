// "Průběh hodnot" against the module simulator through the real LAN
// converter library: a ramping input is followed by the chart and recorded.
#include "live/SimConnection.h"
#include "trend/Prubeh.h"

#include <QFile>
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
