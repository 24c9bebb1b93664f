// "Průběh hodnot": the monitor's cycle plus the digital inputs, the chart
// with its gaps, axes, window, zoom and cursor, the digital traces and their
// changes, the statistics, pause, the CSV record and the saved picture.
#include "app/StatusBar.h"
#include "support/Child.h"
#include "support/Fixtures.h"
#include "support/QuestionHook.h"
#include "trend/Prubeh.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

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
        runCycle(d);
    }

    // Steps until the cycle has ended.
    static void runCycle(TFormPrubeh &d)
    {
        const quint64 before = d.history().sampleCount();
        for (int step = 0; step < 40 && d.history().sampleCount() == before; ++step)
            d.Timer1Timer();
        QVERIFY(d.history().sampleCount() == before + 1);
        d.Timer1->stop(); // the test steps the cycle itself
    }

    // Shown at a size the chart is laid out in, the cycle stopped between
    // two cycles so the test steps it itself; the clock at 0.
    void showSettled(TFormPrubeh &d)
    {
        clockNow = 0; // cycles that run while it shows come before the test's own
        d.resize(1200, 800);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        d.Timer2->stop();
        while (d.trendCycle().inCycle())
            d.Timer1Timer();
        d.Timer1->stop();
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

    // The analog monitor's transactions and the thermometer setting (for
    // the temperature's axis), then one read of the digital inputs; one
    // transaction per timer tick.
    void cycleIsTheMonitorsPlusDigitalInputs()
    {
        auto d = dialog();
        ta.inputs = {0x03, 0, 0, 0x80};
        clockNow = 1000;
        d->Timer1Timer();
        QCOMPARE(ta.sends().size(), 1);
        cycleAt(*d, 1000, 1);
        QList<TaRequest> sent = ta.sends();
        QCOMPARE(sent.size(), 27); // and the one before
        QCOMPARE(sent[12], (TaRequest{4, 102, 0, {0, 31, 31, 0, 0}}));
        QCOMPARE(sent[13].command, 0);
        QCOMPARE(sent[25].sub, 16);
        QCOMPARE(sent[26], (TaRequest{4, 0, 64, {0, 0, 0, 0, 0}}));
        QCOMPARE(d->trendCycle().temperatureUnit(), u"°C"_s);
        cycleAt(*d, 2000, 2);
        QCOMPARE(ta.sends().size(), 14);
        QCOMPARE(d->Hodnota[3]->text(), u"5,0 V"_s);
        QCOMPARE(d->Hodnota[12]->text(), u"2,0 °C"_s);
        QCOMPARE(d->StatusBar1->text(0), u" V pořádku"_s);
        QCOMPARE(d->history().sampleCount(), 2u);
        d->Timer2Timer();
        const QList<TrendBucket> traces = d->Chart1->buckets();
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
            const QList<TrendBucket> traces = d->Chart1->buckets();
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
        QCOMPARE(d->Maximum[12]->text(), u"7,0 °C"_s); // the temperature with its unit
        QCOMPARE(d->Minimum[5]->text(), QString());
        QVERIFY(d->segments(5).isEmpty());
        QCOMPARE(d->segments(0).value(0).size(), 4);
        const TTrendChart::Axis volts = d->Chart1->axes().at(d->Chart1->axisOf(0));
        QVERIFY(volts.min < 2.0 && volts.max > 18.0); // input 11 reaches 18
        QVERIFY(volts.min > 1.0 && volts.max < 19.0);
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
        QCOMPARE(d->Chart1->from(), from);
        QCOMPARE(d->Chart1->to(), qint64(7'200'000));
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
            QVERIFY(questions.first().contains(u"už existuje"_s) &&
                    questions.first().contains(u"zaznam.csv"_s));
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
        QCOMPARE(d->StatusBar1->panel(1)->text(),
                 u" Záznam ukončen, řádků: 2, soubor "_s + QDir::toNativeSeparators(path));
    }
    // The units are read before the first value; a record started while
    // they are not known yet takes them into its header by the first row
    // that has them, and the cycle after a failed unit read begins anew.
    void recordGetsUnits_data()
    {
        QTest::addColumn<int>("failAt");         // in the first cycle
        QTest::addColumn<bool>("failAgain");     // the first recorded cycle fails the same way
        QTest::addColumn<QList<int>>("headers"); // header lines in the file
        QTest::newRow("identification fails") << 1 << false << QList<int>{0};
        QTest::newRow("range byte fails") << 6 << false << QList<int>{0};
        QTest::newRow("thermometer fails, twice") << 14 << true << QList<int>{0, 2};
    }
    void recordGetsUnits()
    {
        QFETCH(int, failAt);
        QFETCH(bool, failAgain);
        QFETCH(QList<int>, headers);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"z.csv"_s);
        TFormPrubeh::chooseFile = [&](QWidget *, const QString &) { return path; };
        auto d = dialog();
        cycleAt(*d, 1000, 1, failAt);
        QVERIFY(!d->trendCycle().unitsKnown());
        QCOMPARE(ta.sends().last().sub, 64); // the digital inputs all the same
        d->Button3->click();
        if (failAgain)
            cycleAt(*d, 2000, 2, failAt);
        cycleAt(*d, 3000, 3);
        QCOMPARE(ta.sends().first().command, 200);
        d->Button3->click();
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = f.readAll().mid(3).split('\n');
        QList<int> found;
        for (qsizetype i = 0; i < lines.size(); ++i)
            if (lines[i].startsWith("Čas;"))
                found << int(i);
        QCOMPARE(found, headers);
        QVERIFY(lines[found.last()].contains("Vstup 0 [V];"));
        QVERIFY(lines[found.last() + 1].contains(";3,0;4,0;"));
    }

    // The window's own dialogs run nested event loops: the cycle goes on
    // under each of them, one transaction per tick, and the record that
    // starts afterwards begins with a fresh row.
    void readingGoesOnUnderDialogs_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("seamChooser"); // the question is the real one only behind a chosen path
        QTest::newRow("record file chooser") << u"Button3"_s << false;
        QTest::newRow("replace question") << u"Button3"_s << true;
        QTest::newRow("picture file chooser") << u"Button4"_s << false;
    }
    void readingGoesOnUnderDialogs()
    {
        QFETCH(QString, button);
        QFETCH(bool, seamChooser);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"stary.csv"_s);
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.close();
        if (seamChooser)
            TFormPrubeh::chooseFile = [&](QWidget *, const QString &) { return path; };
        auto d = dialog();
        d->show();
        QTRY_VERIFY(d->completedCycles() >= 1);
        quint64 during = 0;
        bool sawDialog = false;
        QTimer watcher;
        quint64 atOpen = 0;
        connect(&watcher, &QTimer::timeout, this, [&] {
            QWidget *modal = QApplication::activeModalWidget();
            if (!modal || modal == d.get())
                return;
            if (!sawDialog) {
                sawDialog = true;
                atOpen = d->history().sampleCount();
            }
            during = d->history().sampleCount() - atOpen;
            if (during >= 5)
                static_cast<QDialog *>(modal)->reject();
        });
        watcher.start(5);
        d->findChild<QPushButton *>(button)->click();
        watcher.stop();
        QVERIFY(sawDialog);
        QVERIFY2(during >= 5, qPrintable(QString::number(during)));
        QVERIFY(!d->recorder().isOpen());
    }

    // A stretch without any cycle is a gap, however the cycles came before;
    // a steady slow bus is one line.
    void stallIsGap_data()
    {
        QTest::addColumn<QList<qint64>>("times");
        QTest::addColumn<int>("pieces");
        QTest::newRow("stall of 27 s at 1 s") << QList<qint64>{1000, 2000, 3000, 30'000, 31'000} << 2;
        QTest::newRow("stall of 5 s at 300 ms")
            << QList<qint64>{1000, 1300, 1600, 1900, 2200, 7200, 7500} << 2;
        QTest::newRow("steady 3 s") << QList<qint64>{1000, 4000, 7000, 10'000, 13'000} << 1;
        QTest::newRow("jitter 0.3 to 0.9 s") << QList<qint64>{1000, 1300, 2200, 2500, 3400, 3700} << 1;
    }
    void stallIsGap()
    {
        QFETCH(QList<qint64>, times);
        QFETCH(int, pieces);
        auto d = dialog();
        int base = 1;
        for (qint64 t : times)
            cycleAt(*d, t, base++);
        d->Timer2Timer();
        QCOMPARE(d->segments(0).size(), pieces);
    }

    // One value axis per unit, titled with it, ticks in the user's locale and
    // never "-0"; the temperature beside the inputs in °C, alone in counts.
    void axisPerUnit_data()
    {
        QTest::addColumn<QByteArray>("model");
        QTest::addColumn<QList<int>>("ranges"); // 12 range bytes
        QTest::addColumn<int>("thermometer");
        QTest::addColumn<QStringList>("titles");
        const QList<int> volts(12, 6);
        QTest::newRow("3510 volts") << "RQ-3510 "_ba << volts << 0x81 << QStringList{u"V"_s, u"°C"_s};
        QList<int> mixed = volts;
        mixed[4] = mixed[7] = 8;
        QTest::newRow("3510 volts and ohms")
            << "RQ-3510 "_ba << mixed << 0x81 << QStringList{u"V"_s, u"ohm"_s, u"°C"_s};
        QList<int> couples = QList<int>(12, 2);
        couples[1] = 9;
        QTest::newRow("3520 thermocouple beside the temperature")
            << "RQ-3520 "_ba << couples << 0x81 << QStringList{u"V"_s, u"°C"_s};
        QTest::newRow("3530 four units, counts")
            << "RQ-3530 "_ba << QList<int>{0x00, 0x10, 0x20, 0x30, 0, 0, 0, 0, 0, 0, 0, 0} << 0x80
            << QStringList{u"ohm"_s, u"K"_s, u"°C"_s, u"°F"_s, u"Interní teplota [dílky]"_s};
    }
    void axisPerUnit()
    {
        QFETCH(QByteArray, model);
        QFETCH(QList<int>, ranges);
        QFETCH(int, thermometer);
        QFETCH(QStringList, titles);
        ta.model = model;
        for (int i = 0; i < 12; ++i)
            ta.memory[std::size_t(i)] = quint8(ranges[i]);
        ta.memory[31] = quint8(thermometer);
        auto d = dialog();
        showSettled(*d);
        for (int k = 0; k < 5; ++k) {
            for (int i = 0; i < 12; ++i) // around zero: -0,004 to 0,218
                ta.setValue(i, k * 50 * (i % 2 ? 1 : -1) / 10 + 3 * i * k * k, 3);
            ta.setValue(16, 200 + k, 1);
            clockNow = 1000 * (k + 1);
            runCycle(*d);
        }
        d->Timer2Timer();
        QStringList shown;
        for (const TTrendChart::Axis &a : d->Chart1->axes()) {
            shown << a.title;
            QVERIFY(a.labels.size() >= 2);
            for (const QString &label : a.labels) // a decimal comma, never a negative zero
                QVERIFY2(!label.contains(u'.') &&
                             !QRegularExpression(u"^-0(,0*)?$"_s).match(label).hasMatch(),
                         qPrintable(label));
        }
        QCOMPARE(shown, titles);
        const QStringList &volts = d->Chart1->axes().first().labels;
        QVERIFY2(std::any_of(volts.begin(), volts.end(), [](const QString &l) { return l.contains(u','); }) ||
                     model == "RQ-3530 ",
                 qPrintable(volts.join(u' ')));
        QVERIFY(!volts.contains(u"-0"_s));
        // Each axis in the colour of its first line.
        QCOMPARE(d->Chart1->axes().first().colour, d->Chart1->channels[0].colour);
    }

    // Wheel zooms around the pointer, dragging pans, the right button's
    // band zooms into a rectangle; while zoomed new data does not move the
    // view; a double click or "Živě" returns to the live window.
    void zoomPanAndLive_data()
    {
        QTest::addColumn<QString>("gesture");
        QTest::addColumn<QString>("back");
        QTest::newRow("wheel, double click") << u"wheel"_s << u"double click"_s;
        QTest::newRow("drag, Živě") << u"drag"_s << u"button"_s;
        QTest::newRow("band, double click") << u"band"_s << u"double click"_s;
    }
    void zoomPanAndLive()
    {
        QFETCH(QString, gesture);
        QFETCH(QString, back);
        auto d = dialog();
        showSettled(*d);
        for (qint64 t = 1000; t <= 60'000; t += 1000)
            cycleAt(*d, t, int(t / 1000));
        d->Timer2Timer();
        TTrendChart *c = d->Chart1;
        const QRect plot = c->plotRect();
        const int x = plot.left() + plot.width() / 4;
        const qint64 at = c->timeAt(x);
        const double perPixel = double(c->to() - c->from()) / plot.width();
        const qint64 from0 = c->from();
        qint64 from = 0, to = 0;
        if (gesture == u"wheel") {
            QWheelEvent wheel(QPointF(x, plot.center().y()), c->mapToGlobal(QPointF(x, plot.center().y())),
                              {}, {0, 120}, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(c, &wheel);
            QVERIFY(qAbs(c->to() - c->from() - 48'000) <= 1);
            QVERIFY(qAbs(c->timeAt(x) - at) <= qint64(perPixel)); // the time under the pointer stays
        } else if (gesture == u"drag") {
            QTest::mousePress(c, Qt::LeftButton, {}, QPoint(x, plot.center().y()));
            QTest::mouseMove(c, QPoint(x + 100, plot.center().y()));
            QTest::mouseRelease(c, Qt::LeftButton, {}, QPoint(x + 100, plot.center().y()));
            QVERIFY(qAbs(c->from() - (from0 - qint64(100 * perPixel))) <= qint64(perPixel) + 1);
            QCOMPARE(c->to() - c->from(), qint64(60'000));
        } else {
            QTest::mousePress(c, Qt::RightButton, {}, QPoint(x, plot.top() + 10));
            QTest::mouseMove(c, QPoint(x + 200, plot.bottom() - 10));
            QTest::mouseRelease(c, Qt::RightButton, {}, QPoint(x + 200, plot.bottom() - 10));
            QVERIFY(qAbs(c->from() - at) <= qint64(perPixel));
            QVERIFY(qAbs(c->to() - c->from() - qint64(200 * perPixel)) <= qint64(2 * perPixel));
        }
        QVERIFY(!c->isLive());
        QVERIFY(d->Button5->isEnabled());
        from = c->from();
        to = c->to();
        for (qint64 t = 61'000; t <= 70'000; t += 1000)
            cycleAt(*d, t, int(t / 1000));
        d->Timer2Timer();
        QCOMPARE(c->from(), from); // no jump to the newest data
        QCOMPARE(c->to(), to);
        if (back == u"button")
            d->Button5->click();
        else
            QTest::mouseDClick(c, Qt::LeftButton, {}, plot.center());
        QVERIFY(c->isLive());
        QVERIFY(!d->Button5->isEnabled());
        QCOMPARE(c->to(), qint64(70'000));
        QCOMPARE(c->from(), qint64(10'000));
    }

    // The cursor box at a known time: the time, the bucket width (coarser
    // in a stretch older than the finest ring), each shown line's value or
    // its range in the bucket, and the text of a failed stretch, which is
    // also shaded.
    void cursorBox_data()
    {
        QTest::addColumn<qint64>("from");
        QTest::addColumn<qint64>("at");
        QTest::addColumn<QStringList>("expected"); // lines after the time
        QTest::newRow("recent") << qint64(70'000) << qint64(72'050)
                                << QStringList{u"Úsek: 100 ms"_s, u"Vstup 0: 72,0 V"_s,
                                               u"Vstup 1: 144,0 V"_s};
        QTest::newRow("failed") << qint64(70'000) << qint64(75'150)
                                << QStringList{u"Úsek: 100 ms"_s, u"Chyba: chyba 9 (4× za sebou)"_s};
        QTest::newRow("older than the finest ring")
            << qint64(2'000) << qint64(5'500)
            << QStringList{u"Úsek: 1 s"_s, u"Vstup 0: 5,0 až 5,9 V"_s, u"Vstup 1: 10,0 až 11,8 V"_s};
    }
    void cursorBox()
    {
        QFETCH(qint64, from);
        QFETCH(qint64, at);
        QFETCH(QStringList, expected);
        auto d = dialog();
        showSettled(*d);
        cycleAt(*d, 0, 0); // the units and decimals
        TrendSample s;
        s.analogValid = s.dinValid = s.unitsKnown = true;
        s.units = d->trendCycle().units();
        for (qint64 t = 100; t < 80'000; t += 100) {
            s.time = t;
            s.values[0] = double(t / 100) / 10;
            s.values[1] = 2 * s.values[0];
            const bool failed = t >= 75'000 && t <= 75'300;
            s.analogValid = !failed;
            s.error = failed ? u"chyba 9"_s : QString();
            d->history().append(s);
        }
        clockNow = 80'000;
        for (int c = 2; c < 13; ++c)
            d->CheckBox[std::size_t(c)]->click();
        TTrendChart *c = d->Chart1;
        c->showRange(from, from + 10'000);
        // The pointer over the plot (a plain move: the test platform moves no cursor).
        const QPointF over(c->xOf(at), c->plotRect().center().y());
        QMouseEvent move(QEvent::MouseMove, over, c->mapToGlobal(over), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(c, &move);
        QVERIFY(c->cursorShown());
        const QStringList lines = c->cursorLines(at);
        const QDateTime when = QDateTime::fromMSecsSinceEpoch(at);
        QCOMPARE(lines.first(), when.toString(u"HH:mm:ss"_s) + u',' + when.toString(u"zzz"_s));
        QCOMPARE(lines.mid(1), expected);
        QCOMPARE(c->failures().size(), from == 70'000 ? 1 : 0); // shaded under the lines
    }

    // Only inputs that changed in view, and the ticked ones, get a lane
    // with their current state; every change is listed.
    void digitalLanesAndChanges_data()
    {
        QTest::addColumn<QList<int>>("words"); // DIN word per cycle, first byte only
        QTest::addColumn<int>("ticked");       // -1: none
        QTest::addColumn<QStringList>("lanes");
        QTest::addColumn<QStringList>("changes"); // newest first, after the time
        QTest::newRow("one input on")
            << QList<int>{0, 0, 8, 8} << -1 << QStringList{u"DIN3 = 1"_s} << QStringList{u"DIN3 → 1"_s};
        QTest::newRow("two change, one ticked")
            << QList<int>{1, 1, 2, 2} << 7 << QStringList{u"DIN0 = 0"_s, u"DIN1 = 1"_s, u"DIN7 = 0"_s}
            << QStringList{u"DIN1 → 1"_s, u"DIN0 → 0"_s};
        QTest::newRow("no change, ticked")
            << QList<int>{4, 4, 4} << 2 << QStringList{u"DIN2 = 1"_s} << QStringList{};
    }
    void digitalLanesAndChanges()
    {
        QFETCH(QList<int>, words);
        QFETCH(int, ticked);
        QFETCH(QStringList, lanes);
        QFETCH(QStringList, changes);
        auto d = dialog();
        for (qsizetype k = 0; k < words.size(); ++k) {
            ta.inputs = {quint8(words[k]), 0, 0, 0};
            cycleAt(*d, 1000 * (k + 1), 1);
        }
        if (ticked >= 0)
            d->ListDin->item(ticked)->setCheckState(Qt::Checked);
        d->Timer2Timer();
        QStringList shown;
        for (const TTrendChart::Lane &l : d->Chart1->lanes())
            shown << l.label;
        QCOMPARE(shown, lanes);
        QStringList listed;
        for (int i = 0; i < d->ListZmeny->count(); ++i)
            listed << d->ListZmeny->item(i)->text().section(u"  "_s, 1);
        QCOMPARE(listed, changes);
        if (!changes.isEmpty())
            QVERIFY(d->ListZmeny->item(0)->text().startsWith(
                QDateTime::fromMSecsSinceEpoch(3000).toString(u"HH:mm:ss,000"_s)));
    }

    // Closing while recording asks first, whichever way the window is
    // closed; "Ne" keeps the window and the record, "Ano" ends the record
    // and says where the file is. Without a record nothing is asked.
    void closingWhileRecordingAsks_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("recording");
        QTest::addColumn<bool>("answer");
        QTest::newRow("Esc, Ne") << u"esc"_s << true << false;
        QTest::newRow("Esc, Ano") << u"esc"_s << true << true;
        QTest::newRow("Cancel, Ano") << u"cancel"_s << true << true;
        QTest::newRow("close box, Ne") << u"close"_s << true << false;
        QTest::newRow("Esc, not recording") << u"esc"_s << false << true;
    }
    void closingWhileRecordingAsks()
    {
        QFETCH(QString, how);
        QFETCH(bool, recording);
        QFETCH(bool, answer);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"zaznam.csv"_s);
        TFormPrubeh::chooseFile = [&](QWidget *, const QString &) { return path; };
        QuestionHook questions(answer);
        auto d = dialog();
        d->show();
        QVERIFY(QTest::qWaitForWindowExposed(d.get()));
        QTRY_VERIFY(d->completedCycles() >= 1);
        if (recording) {
            d->Button3->click();
            QVERIFY(d->recorder().isOpen());
            QTRY_VERIFY(d->recorder().rows() >= 2);
        }
        if (how == u"esc")
            QTest::keyClick(d.get(), Qt::Key_Escape);
        else if (how == u"cancel")
            d->Button1->click();
        else
            d->close();
        QCOMPARE(questions.questions, recording ? QStringList{u"Ukončit záznam do souboru „"_s +
                                                              QDir::toNativeSeparators(path) + u"“?"_s}
                                                : QStringList{});
        if (recording)
            QCOMPARE(questions.buttons, (QStringList{u"Ano/5"_s, u"Ne/6"_s}));
        const bool closes = !recording || answer;
        QCOMPARE(d->isVisible(), !closes);
        QCOMPARE(d->recorder().isOpen(), recording && !answer);
        if (recording && answer)
            QVERIFY2(d->StatusBar1->text(1).startsWith(u" Záznam ukončen, řádků: "_s) &&
                         d->StatusBar1->text(1).endsWith(u", soubor "_s + QDir::toNativeSeparators(path)),
                     qPrintable(d->StatusBar1->text(1)));
        if (recording && !answer) { // the record goes on
            const quint64 rows = d->recorder().rows();
            QTRY_VERIFY(d->recorder().rows() > rows);
        }
    }

    // The cursor stays at the time the pointer chose: a live view moving on
    // carries it left, it is hidden once that time leaves the plot, and a
    // zoom takes the time under the pointer in the new view.
    void cursorFollowsPointersTime_data()
    {
        QTest::addColumn<QString>("then");
        QTest::addColumn<bool>("shown");
        QTest::addColumn<bool>("timeKept"); // else the time under the pointer now
        QTest::newRow("live view 10 s on") << u"later 10 s"_s << true << true;
        QTest::newRow("live view 50 s on: scrolled out") << u"later 50 s"_s << false << true;
        QTest::newRow("band zoom") << u"band"_s << true << false;
        QTest::newRow("wheel") << u"wheel"_s << true << false;
    }
    void cursorFollowsPointersTime()
    {
        QFETCH(QString, then);
        QFETCH(bool, shown);
        QFETCH(bool, timeKept);
        auto d = dialog();
        showSettled(*d);
        for (qint64 t = 1000; t <= 60'000; t += 1000)
            cycleAt(*d, t, int(t / 1000));
        d->Timer2Timer();
        TTrendChart *c = d->Chart1;
        const QRect plot = c->plotRect();
        const QPoint pointer(plot.left() + plot.width() / 2, plot.center().y());
        QTest::mouseMove(c, pointer);
        QMouseEvent move(QEvent::MouseMove, QPointF(pointer), c->mapToGlobal(QPointF(pointer)), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(c, &move);
        const qint64 chosen = c->timeAt(pointer.x());
        QCOMPARE(c->cursorTime(), chosen);
        QPoint at = pointer;
        if (then.startsWith(u"later"_s)) {
            const qint64 to = then == u"later 10 s"_s ? 70'000 : 110'000;
            for (qint64 t = 61'000; t <= to; t += 1000)
                cycleAt(*d, t, int(t / 1000));
            d->Timer2Timer();
        } else if (then == u"band"_s) {
            at = QPoint(pointer.x() + 150, plot.bottom() - 10);
            QTest::mousePress(c, Qt::RightButton, {}, QPoint(pointer.x() - 100, plot.top() + 10));
            QTest::mouseMove(c, at);
            QTest::mouseRelease(c, Qt::RightButton, {}, at);
        } else {
            QWheelEvent wheel(QPointF(pointer), c->mapToGlobal(QPointF(pointer)), {}, {0, 240}, Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(c, &wheel);
        }
        QCOMPARE(c->cursorShown(), shown);
        QCOMPARE(c->cursorTime(), timeKept ? chosen : c->timeAt(at.x()));
        if (shown) // the box shows the cursor's time
            QCOMPARE(c->cursorLines(c->cursorTime()).first(),
                     QDateTime::fromMSecsSinceEpoch(c->cursorTime()).toString(u"HH:mm:ss,zzz"_s));
    }

    // The legend of a saved picture names each shown line with its unit(s)
    // in view, in the line's colour.
    void legendNamesShownLines_data()
    {
        QTest::addColumn<int>("thermometer");
        QTest::addColumn<bool>("hideMost"); // only input 3 and the temperature shown
        QTest::addColumn<bool>("ohmLater"); // input 3 switched to ohm in view
        QTest::addColumn<QStringList>("entries");
        QStringList all;
        for (int i = 0; i < 12; ++i)
            all << u"Vstup %1 [V]"_s.arg(i);
        QTest::newRow("all lines") << 0x81 << false << false
                                   << (all + QStringList{u"Interní teplota [°C]"_s});
        QTest::newRow("two lines, counts")
            << 0x80 << true << false << QStringList{u"Vstup 3 [V]"_s, u"Interní teplota [dílky]"_s};
        QTest::newRow("unit changed in view")
            << 0x81 << true << true << QStringList{u"Vstup 3 [V → ohm]"_s, u"Interní teplota [°C]"_s};
    }
    void legendNamesShownLines()
    {
        QFETCH(int, thermometer);
        QFETCH(bool, hideMost);
        QFETCH(bool, ohmLater);
        QFETCH(QStringList, entries);
        ta.memory[31] = quint8(thermometer);
        auto d = dialog();
        showSettled(*d);
        cycleAt(*d, 1000, 1);
        cycleAt(*d, 2000, 2);
        if (ohmLater) {
            ta.memory[3] = 8;
            cycleAt(*d, 40'000, 3); // the period is over: the units are read again
            cycleAt(*d, 41'000, 4);
        }
        if (hideMost)
            for (int c = 0; c < 12; ++c)
                if (c != 3)
                    d->CheckBox[std::size_t(c)]->click();
        d->Timer2Timer();
        QStringList texts;
        for (const TTrendChart::LegendEntry &e : d->Chart1->legend()) {
            texts << e.text;
            const int c = e.text.startsWith(u"Interní"_s) ? 12 : e.text.section(u' ', 1, 1).toInt();
            QCOMPARE(e.colour, d->Chart1->channels[std::size_t(c)].colour);
        }
        QCOMPARE(texts, entries);
    }

    // A changed unit: the line's new piece on its own axis, its statistics
    // only since the change, and the window says what changed.
    void unitChangeStartsNewPiece_data()
    {
        QTest::addColumn<int>("input");
        QTest::addColumn<int>("range");
        QTest::addColumn<int>("thermometer");
        QTest::addColumn<QString>("said");
        QTest::newRow("input 3 to ohm") << 3 << 8 << 0x81 << u"Modul změnil jednotky: Vstup 3 V → ohm"_s;
        QTest::newRow("temperature to counts")
            << 12 << 6 << 0x80 << u"Modul změnil jednotky: Interní teplota °C → dílky"_s;
    }
    void unitChangeStartsNewPiece()
    {
        QFETCH(int, input);
        QFETCH(int, range);
        QFETCH(int, thermometer);
        QFETCH(QString, said);
        auto d = dialog();
        showSettled(*d);
        for (qint64 t = 1000; t <= 5000; t += 1000)
            cycleAt(*d, t, 100);
        ta.memory[3] = quint8(range);
        ta.memory[31] = quint8(thermometer);
        for (qint64 t = 31'000; t <= 33'000; t += 1000)
            cycleAt(*d, t, 1);
        d->Timer2Timer();
        QVERIFY2(d->LabelJednotky->text().endsWith(said), qPrintable(d->LabelJednotky->text()));
        const QList<int> axes = d->Chart1->pieceAxes(input);
        QCOMPARE(axes.size(), 2);
        QVERIFY(axes[0] != axes[1]);
        QCOMPARE(d->segments(input).at(1).size(), 3);
        const QString unit = input == 3 ? u"ohm"_s : u"dílky"_s;
        const QString low = input == 3 ? u"4,0 "_s : u"1,0 "_s;
        QCOMPARE(d->Minimum[std::size_t(input)]->text(), low + unit);
        QCOMPARE(d->Maximum[std::size_t(input)]->text(), low + unit); // never the old range's 103,0
        QCOMPARE(d->Maximum[0]->text(), u"100,0 V"_s);                // the other lines keep theirs
    }

    // "Uložit obrázek…" writes the chart whole under its caption, PNG or
    // SVG; a full disk leaves the old file as it was and says so.
    void pictureSavedWhole_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("fullDisk");
        QTest::newRow("PNG") << u"graf.png"_s << false;
        QTest::newRow("SVG") << u"graf.svg"_s << false;
        QTest::newRow("PNG, disk full") << u"graf.png"_s << true;
    }
    void pictureSavedWhole()
    {
        QFETCH(QString, name);
        QFETCH(bool, fullDisk);
        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        TFormPrubeh::chooseFile = [&](QWidget *, const QString &proposed) {
            [&] { QVERIFY(proposed.endsWith(u".png"_s)); }();
            return path;
        };
        TFormPrubeh::ask = [](QWidget *, const QString &) { return true; };
        data.identity = u"RQ-3510 v.1.08"_s;
        auto d = dialog();
        showSettled(*d);
        for (qint64 t = 1000; t <= 20'000; t += 1000)
            cycleAt(*d, t, int(t / 1000), t == 9000 ? 3 : 0);
        d->Timer2Timer();
        const QString caption = d->caption();
        QVERIFY2(caption.startsWith(u"RQ-3510 v.1.08, adresa 4, "_s), qPrintable(caption));
        if (fullDisk) {
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("old picture");
            old.close();
            // A file may not grow beyond 4 KiB: the picture cannot be written.
            const int code = RunInChild([&] {
                if (!LimitFileSize(4096))
                    return 2;
                d->Button4Click();
                return d->StatusBar1->text(1).startsWith(u" Obrázek nelze uložit: "_s) ? 0 : 1;
            });
            QCOMPARE(code, 0);
            QVERIFY(old.open(QIODevice::ReadOnly));
            QCOMPARE(old.readAll(), QByteArray("old picture"));
            QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
            return;
        }
        d->Button4Click();
        QCOMPARE(d->StatusBar1->text(1), u" Obrázek uložen: "_s + QDir::toNativeSeparators(path));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        if (name.endsWith(u".svg"_s)) {
            QVERIFY(bytes.contains("<svg"));
            QVERIFY(bytes.trimmed().endsWith("</svg>"));
            QVERIFY(bytes.contains("RQ-3510 v.1.08, adresa 4, "));
            QVERIFY(bytes.contains("Vstup 0 [V]")); // the legend
            QVERIFY(bytes.contains("Interní teplota [°C]"));
            return;
        }
        QImage image;
        QVERIFY(image.loadFromData(bytes, "PNG"));
        QCOMPARE(image.width(), d->Chart1->width());
        QVERIFY(image.height() > d->Chart1->height());
    }
};

QTEST_MAIN(TestPrubeh)
#include "tst_prubeh.moc"
