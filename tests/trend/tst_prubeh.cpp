// "Průběh hodnot": the monitor's cycle plus the digital inputs, the chart
// with its gaps and window, the statistics, pause and the CSV record.
#include "app/StatusBar.h"
#include "support/Fixtures.h"
#include "trend/Prubeh.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeAxis>
#include <QFile>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QValueAxis>

using namespace Qt::StringLiterals;

class TestPrubeh : public QObject
{
    Q_OBJECT
    TestConnection link;
    TestAdapter &ta = link.ta;
    TData &data = link.data;
    qint64 clockNow = 0;

    // One cycle at time t (ms) with input i reading base + i (one decimal).
    void cycleAt(TFormPrubeh &d, qint64 t, int base, int failAt = 0)
    {
        for (int i = 0; i < 12; ++i)
            ta.setValue(i, 10 * (base + i), 1);
        ta.setValue(16, 10 * base, 1);
        ta.calls.clear();
        ta.failSend.clear();
        if (failAt)
            ta.failSend[failAt] = 9;
        clockNow = t;
        d.Timer1Timer();
    }

    std::unique_ptr<TFormPrubeh> dialog()
    {
        auto d = std::make_unique<TFormPrubeh>();
        d->Data = &data;
        d->FormShow();
        return d;
    }

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale(QLocale::Czech, QLocale::CzechRepublic));
        TFormPrubeh::clock = [this] { return clockNow; };
    }
    void init() { QVERIFY(link.open(4)); }
    void cleanup()
    {
        link.close();
        TFormPrubeh::chooseFile = nullptr;
        TFormPrubeh::ask = nullptr;
    }

    // The analog monitor's transactions, then one read of the digital inputs.
    void cycleIsTheMonitorsPlusDigitalInputs()
    {
        auto d = dialog();
        ta.inputs = {0x03, 0, 0, 0x80};
        cycleAt(*d, 1000, 1);
        QList<TaRequest> sent = ta.sends();
        QCOMPARE(sent.size(), 27);
        QCOMPARE(sent[0].command, 200);
        QCOMPARE(sent[13].command, 0);
        QCOMPARE(sent[25].sub, 16);
        QCOMPARE(sent[26], (TaRequest{4, 0, 64, {0, 0, 0, 0, 0}}));
        cycleAt(*d, 2000, 2);
        QCOMPARE(ta.sends().size(), 14);
        QCOMPARE(d->Hodnota[3]->text(), u"5,0 V"_s);
        QCOMPARE(d->Hodnota[12]->text(), u"2,0 "_s);
        QCOMPARE(d->StatusBar1->text(0), u" V pořádku"_s);
        QCOMPARE(d->history().sampleCount(), 2u);
        d->Timer2Timer();
        const QList<TrendBucket> traces = d->BitTraces1->buckets();
        QCOMPARE(traces.size(), 2);
        QCOMPARE(traces.last().dinAll, 0x80000003u);
    }

    // A failed cycle is a gap: the line breaks there and no point is drawn
    // at its time; the values shown stay, greyed, until the next good cycle.
    void failedCycleIsGap_data()
    {
        QTest::addColumn<int>("failAt");
        QTest::addColumn<bool>("analog");
        QTest::newRow("input 5 fails") << 6 << false;
        QTest::newRow("temperature fails") << 13 << false;
        QTest::newRow("digital inputs fail") << 14 << true;
    }
    void failedCycleIsGap()
    {
        QFETCH(int, failAt);
        QFETCH(bool, analog);
        auto d = dialog();
        cycleAt(*d, 1'000, 1);
        cycleAt(*d, 2'000, 2);
        cycleAt(*d, 3'000, 3, failAt);
        QCOMPARE(d->StatusBar1->text(0), u" chyba 9"_s);
        QCOMPARE(d->Hodnota[0]->isEnabled(), analog);
        QCOMPARE(d->Hodnota[0]->text(), analog ? u"3,0 V"_s : u"2,0 V"_s);
        cycleAt(*d, 4'000, 4);
        QVERIFY(d->Hodnota[0]->isEnabled());
        cycleAt(*d, 5'000, 5);
        d->Timer2Timer();
        const QList<QList<QPointF>> pieces = d->segments(0);
        if (analog) {
            QCOMPARE(pieces.size(), 1);
            QCOMPARE(pieces[0].size(), 5);
            const QList<TrendBucket> traces = d->BitTraces1->buckets();
            QCOMPARE(traces.at(2).dinCount, 0u); // the gap in the bit traces
            return;
        }
        QCOMPARE(pieces.size(), 2);
        QCOMPARE(pieces[0], (QList<QPointF>{{1000, 1.0}, {2000, 2.0}}));
        QCOMPARE(pieces[1], (QList<QPointF>{{4000, 4.0}, {5000, 5.0}}));
    }

    void statisticsOfShownChannels()
    {
        auto d = dialog();
        const int bases[] = {3, 7, 2, 4};
        for (int k = 0; k < 4; ++k)
            cycleAt(*d, 1000 * (k + 1), bases[k]);
        d->CheckBox[5]->click(); // hidden
        QCOMPARE(d->Minimum[0]->text(), u"2,0 V"_s);
        QCOMPARE(d->Maximum[0]->text(), u"7,0 V"_s);
        QCOMPARE(d->Prumer[0]->text(), u"4,00 V"_s);
        QCOMPARE(d->Maximum[12]->text(), u"7,0 "_s); // the temperature, without a unit
        QCOMPARE(d->Minimum[5]->text(), QString());
        QVERIFY(d->segments(5).isEmpty());
        QCOMPARE(d->segments(0).value(0).size(), 4);
        QVERIFY(d->valueAxis()->min() < 2.0 && d->valueAxis()->max() > 18.0); // input 11 reaches 18
        QVERIFY(d->valueAxis()->min() > 1.0 && d->valueAxis()->max() < 19.0);
        QVERIFY(d->temperatureAxis()->min() < 2.0 && d->temperatureAxis()->max() > 7.0);
        QVERIFY(d->temperatureAxis()->max() < 8.0);
    }

    void windowChoice_data()
    {
        QTest::addColumn<int>("window");
        QTest::addColumn<qint64>("from");
        QTest::addColumn<QString>("minimum");
        QTest::newRow("1 min") << 0 << qint64(7'200'000 - 60'000) << u"120,0 V"_s;
        QTest::newRow("10 min") << 1 << qint64(7'200'000 - 600'000) << u"111,0 V"_s;
        QTest::newRow("1 h") << 2 << qint64(7'200'000 - 3'600'000) << u"61,0 V"_s;
        QTest::newRow("vše") << 3 << qint64(1'000) << u"1,0 V"_s;
    }
    void windowChoice()
    {
        QFETCH(int, window);
        QFETCH(qint64, from);
        QFETCH(QString, minimum);
        auto d = dialog();
        for (qint64 t = 1000; t <= 7'200'000; t += 60'000) // a ramp, one cycle a minute
            cycleAt(*d, t, int(t / 60'000) + 1);
        clockNow = 7'200'000;
        d->ComboBox1->setCurrentIndex(window);
        d->Timer2Timer();
        QCOMPARE(d->ComboBox1->currentText(), QString::fromUtf8(QTest::currentDataTag()));
        QCOMPARE(d->timeAxis()->min().toMSecsSinceEpoch(), from);
        QCOMPARE(d->timeAxis()->max().toMSecsSinceEpoch(), qint64(7'200'000));
        QCOMPARE(d->Minimum[0]->text(), minimum);
        QCOMPARE(d->Maximum[0]->text(), u"120,0 V"_s);
    }

    // Pause freezes the chart and the statistics; reading goes on.
    void pauseFreezesChart()
    {
        auto d = dialog();
        cycleAt(*d, 1000, 1);
        cycleAt(*d, 2000, 2);
        d->Button2->click();
        QVERIFY(d->paused());
        QCOMPARE(d->Button2->text(), u"Pokračovat"_s);
        const QList<QList<QPointF>> frozen = d->segments(0);
        cycleAt(*d, 3000, 9);
        d->Timer2Timer();
        QCOMPARE(d->segments(0), frozen);
        QCOMPARE(d->Maximum[0]->text(), u"2,0 V"_s);
        QCOMPARE(d->Hodnota[0]->text(), u"9,0 V"_s); // the live value goes on
        d->Button2->click();
        QCOMPARE(d->Button2->text(), u"Pozastavit"_s);
        QCOMPARE(d->Maximum[0]->text(), u"9,0 V"_s);
        QCOMPARE(d->segments(0).value(0).size(), 3);
    }

    // A new record never replaces a file unasked; "Ne" leaves it as it was.
    void recordingAsksBeforeReplacing_data()
    {
        QTest::addColumn<bool>("exists");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<bool>("records");
        QTest::newRow("new file") << false << false << true;
        QTest::newRow("existing, Ne") << true << false << false;
        QTest::newRow("existing, Ano") << true << true << true;
    }
    void recordingAsksBeforeReplacing()
    {
        QFETCH(bool, exists);
        QFETCH(bool, answer);
        QFETCH(bool, records);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"zaznam.csv"_s);
        if (exists) {
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("old data\n");
        }
        QStringList questions;
        TFormPrubeh::chooseFile = [&](QWidget *, const QString &proposed) {
            [&] { QVERIFY(proposed.endsWith(u".csv"_s)); }();
            return path;
        };
        TFormPrubeh::ask = [&](QWidget *, const QString &question) {
            questions << question;
            return answer;
        };
        auto d = dialog();
        cycleAt(*d, 1000, 1); // the units are known before the record starts
        d->Button3->click();
        QCOMPARE(questions.size(), exists ? 1 : 0);
        if (exists)
            QVERIFY(questions.first().contains(u"už existuje"_s) && questions.first().contains(u"zaznam.csv"_s));
        QCOMPARE(d->recorder().isOpen(), records);
        QCOMPARE(d->Button3->text(), records ? u"Ukončit záznam"_s : u"Záznam do souboru"_s);
        cycleAt(*d, 2000, 2);
        cycleAt(*d, 3000, 3, 4);
        d->Button3->click();
        QVERIFY(!d->recorder().isOpen());
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray content = f.readAll();
        if (!records) {
            QCOMPARE(content, QByteArray("old data\n"));
            return;
        }
        const QList<QByteArray> lines = content.split('\n');
        QCOMPARE(lines.size(), 4); // header, two rows, the empty end
        QVERIFY(lines[0].contains("Vstup 0 [V];"));
        QVERIFY(lines[1].contains(";2,0;3,0;"));
        QVERIFY(lines[2].contains(";;;;")); // the failed cycle: empty values
        QVERIFY(lines[2].endsWith(";chyba 9\r"));
        QCOMPARE(d->StatusBar1->panel(1)->text(), u" Záznam ukončen, řádků: 2"_s);
    }
};

QTEST_MAIN(TestPrubeh)
#include "tst_prubeh.moc"
