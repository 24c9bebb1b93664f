// The analog monitor's cycle as an engine, and live values that are no
// longer live: greyed after a failed cycle in every monitor that shows values.
#include "EventsCounter.h"
#include "PollOnce.h"

#include "app/StatusBar.h"
#include "live/AnalogCycle.h"
#include "live/OkamAIN.h"
#include "live/OkamDIN.h"
#include "live/StatReg.h"
#include "support/Fixtures.h"

#include <QLabel>
#include <QLocale>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
using Outcome = AnalogReading::Outcome;

namespace {
// Replies that differ for every request, so carried-on bytes show.
TaReply scripted(const TaRequest &r, int index)
{
    TaReply reply;
    const auto i = static_cast<quint8>(index);
    switch (r.command) {
    case 200:
        reply.d = {0x11, '5', '2', '0', ' '};
        break;
    case 102:
        reply.d = {static_cast<quint8>(0x40 + i), 0, 0, static_cast<quint8>(r.d[1] < 6 ? 3 : 9), 0};
        break;
    default:
        reply.d = {static_cast<quint8>(0x80 + i), i, static_cast<quint8>(r.sub), 0, 0x83};
    }
    return reply;
}

QList<QLabel *> valueLabels(QWidget &w, const QString &prefix, int count)
{
    QList<QLabel *> labels;
    for (int i = 0; i < count; ++i)
        labels << w.findChild<QLabel *>(prefix + QString::number(i));
    return labels;
}

bool allEnabled(const QList<QLabel *> &labels, bool enabled)
{
    return std::all_of(labels.begin(), labels.end(),
                       [enabled](QLabel *l) { return l->isEnabled() == enabled; });
}
} // namespace

class TestAnalogCycle : public QObject
{
    Q_OBJECT
    TestConnection link;
    TestAdapter &ta = link.ta;
    TData &data = link.data;

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Czech, QLocale::CzechRepublic)); }
    void init() { QVERIFY(link.open(5)); }
    void cleanup() { link.close(); }

    // Two cycles of the engine send exactly what two cycles of the monitor
    // send, byte for byte, carried-on reply bytes included.
    void sameTransactionsAsMonitor()
    {
        ta.script = scripted;
        TForm3 monitor;
        PollOnce(monitor, data);
        monitor.Timer1Timer();
        const QList<TaRequest> fromMonitor = ta.sends();
        QCOMPARE(fromMonitor.size(), 26 + 13);

        ta.calls.clear();
        AnalogCycle cycle;
        int asked = 0;
        const auto keepGoing = [&asked] { return ++asked > 0; };
        const AnalogReading first = cycle.run(data, 5, keepGoing);
        const AnalogReading second = cycle.run(data, 5, keepGoing);
        QCOMPARE(ta.sends(), fromMonitor);
        QCOMPARE(asked, 25 + 13); // between transactions, as the monitor processes events
        QVERIFY(first.complete() && second.complete());
        QCOMPARE(second.input(0).unit, u"V"_s);   // model "520 ", range 3
        QCOMPARE(second.input(11).unit, u"°C"_s); // range 9: a thermocouple
        QCOMPARE(second.temperature().unit, QString());
        QCOMPARE(second.input(5).decimals, quint8(3)); // D4 0x83: bit 7 is not a decimal
    }

    void outcomes_data()
    {
        QTest::addColumn<int>("failAt"); // Send call that fails, 0 for none
        QTest::addColumn<int>("stopAt"); // keepGoing call that says stop, 0 for none
        QTest::addColumn<bool>("connected");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<int>("sent");
        QTest::addColumn<bool>("unitsRead");
        QTest::newRow("complete") << 0 << 0 << true << int(Outcome::Complete) << 26 << true;
        QTest::newRow("model code fails") << 1 << 0 << true << int(Outcome::Failed) << 1 << false;
        QTest::newRow("range byte fails") << 9 << 0 << true << int(Outcome::Failed) << 9 << false;
        QTest::newRow("input 7 fails") << 21 << 0 << true << int(Outcome::Failed) << 21 << true;
        QTest::newRow("temperature fails") << 26 << 0 << true << int(Outcome::Failed) << 26 << true;
        QTest::newRow("stopped in ranges") << 0 << 4 << true << int(Outcome::Stopped) << 4 << false;
        QTest::newRow("stopped in values") << 0 << 20 << true << int(Outcome::Stopped) << 20 << true;
        QTest::newRow("not connected") << 0 << 0 << false << int(Outcome::NotConnected) << 0 << false;
    }
    void outcomes()
    {
        QFETCH(int, failAt);
        QFETCH(int, stopAt);
        QFETCH(bool, connected);
        QFETCH(int, outcome);
        QFETCH(int, sent);
        QFETCH(bool, unitsRead);
        if (failAt)
            ta.failSend[failAt] = 7;
        data.connected = connected;
        int asked = 0;
        AnalogCycle cycle;
        const AnalogReading r = cycle.run(data, 5, [&] { return ++asked != stopAt; });
        QCOMPARE(int(r.outcome), outcome);
        QCOMPARE(r.error, quint8(failAt ? 7 : 0));
        QCOMPARE(ta.sends().size(), sent);
        QCOMPARE(cycle.unitsRead(), unitsRead);
        if (!connected)
            return;
        // The next run goes on from where the units stand: identification again only when they were not read.
        ta.calls.clear();
        ta.failSend.clear();
        QVERIFY(cycle.run(data, 5).complete());
        QCOMPARE(ta.sends().size(), unitsRead ? 13 : 26);
    }

    // Units that follow the module: the model code, the range bytes and the
    // thermometer setting before the first value; the range and thermometer
    // bytes again once the period is over (or the clock went back), all of
    // it after a failed cycle; what changed is reported with the cycle.
    void unitsFollowTheModule_data()
    {
        QTest::addColumn<qint64>("later");    // ms on the clock before the second cycle
        QTest::addColumn<int>("failAt");      // send of the first cycle that fails, 0 none
        QTest::addColumn<int>("range3");      // input 3's range byte before the second cycle
        QTest::addColumn<int>("thermometer"); // address 31 before the second cycle
        QTest::addColumn<int>("sent");        // by the second cycle
        QTest::addColumn<quint32>("changed");
        QTest::newRow("within the period") << qint64(29'999) << 0 << 8 << 0x81 << 13 << 0u;
        QTest::newRow("period over, same units") << qint64(30'000) << 0 << 6 << 0x81 << 26 << 0u;
        QTest::newRow("period over, input 3 in ohm") << qint64(30'000) << 0 << 8 << 0x81 << 26 << 0x8u;
        QTest::newRow("period over, temperature in counts")
            << qint64(45'000) << 0 << 6 << 0x80 << 26 << 0x1000u;
        QTest::newRow("clock set back") << qint64(-3'600'000) << 0 << 8 << 0x81 << 26 << 0x8u;
        QTest::newRow("after a failed value") << qint64(1'000) << 20 << 8 << 0x81 << 27 << 0x8u;
        QTest::newRow("after a failed identification") << qint64(1'000) << 1 << 8 << 0x81 << 27 << 0u;
    }
    void unitsFollowTheModule()
    {
        QFETCH(qint64, later);
        QFETCH(int, failAt);
        QFETCH(int, range3);
        QFETCH(int, thermometer);
        QFETCH(int, sent);
        QFETCH(quint32, changed);
        qint64 now = 100'000;
        AnalogCycle cycle(30'000, [&now] { return now; });
        if (failAt)
            ta.failSend[failAt] = 7;
        const AnalogReading first = cycle.run(data, 5);
        QCOMPARE(first.complete(), failAt == 0);
        QCOMPARE(ta.sends().size(), failAt ? failAt : 27);
        if (failAt == 0 || failAt > 14)
            QCOMPARE(ta.sends().at(13),
                     (TaRequest{5, 102, 0, {0, 31, 31, 0, 0}})); // the thermometer's setting
        QCOMPARE(cycle.unitsRead(), failAt != 1);
        ta.calls.clear();
        ta.failSend.clear();
        ta.memory[3] = quint8(range3);
        ta.memory[31] = quint8(thermometer);
        now += later;
        const AnalogReading second = cycle.run(data, 5);
        QVERIFY(second.complete());
        const QList<TaRequest> sends = ta.sends();
        QCOMPARE(sends.size(), sent);
        QCOMPARE(sends.first().command, sent == 27 ? 200 : sent == 26 ? 102 : 0);
        QCOMPARE(second.unitsChanged, changed);
        QCOMPARE(cycle.unitChanges(), changed ? 1u : 0u);
        QCOMPARE(second.input(3).unit, sent > 13 ? (range3 == 8 ? u"ohm"_s : u"V"_s) : u"V"_s);
        QCOMPARE(cycle.temperatureUnit(), sent > 13 && thermometer == 0x80 ? u"dílky"_s : u"°C"_s);
        QCOMPARE(second.temperature().unit, QString()); // the monitor's text stays without one
    }

    // A failed cycle keeps the last values, greyed; the next complete cycle
    // shows them normally again. Every monitor that shows values.
    void failedCycleGreysValues_data()
    {
        QTest::addColumn<QString>("monitor");
        QTest::addColumn<int>("sendsPerCycle");
        QTest::newRow("analog inputs") << u"ain"_s << 13;
        QTest::newRow("digital inputs") << u"din"_s << 1;
        QTest::newRow("status register") << u"status"_s << 1;
    }
    void failedCycleGreysValues()
    {
        QFETCH(QString, monitor);
        QFETCH(int, sendsPerCycle);
        for (int i = 0; i < 12; ++i)
            ta.setValue(i, 100 + i, 1);
        ta.inputs = {0x05, 0, 0, 0x80};
        ta.status = {0x32, 0, 0, 0};
        std::unique_ptr<TLiveDialog> d;
        QString prefix;
        int count = 32;
        if (monitor == u"ain") {
            d = std::make_unique<TForm3>();
            prefix = u"Hodnota"_s;
            count = 13;
        } else if (monitor == u"din") {
            d = std::make_unique<TForm11>();
            prefix = u"Stav"_s;
        } else {
            d = std::make_unique<TForm15>();
            prefix = u"Bit"_s;
        }
        const QList<QLabel *> labels = valueLabels(*d, prefix, count);
        PollOnce(*d, data);
        QVERIFY(allEnabled(labels, true));
        QStringList shown;
        for (QLabel *l : labels)
            shown << l->text();

        ta.calls.clear();
        ta.failSend[sendsPerCycle] = 3; // the cycle's last transaction
        ta.inputs = {0, 0, 0, 0};
        ta.status = {0, 0, 0, 0};
        d->Timer1Timer();
        QVERIFY(allEnabled(labels, false));
        QStringList kept;
        for (QLabel *l : labels)
            kept << l->text();
        QCOMPARE(kept, shown);
        QCOMPARE(d->StatusBar1->text(0), u" chyba 3"_s);

        ta.calls.clear();
        ta.failSend.clear();
        d->Timer1Timer();
        QVERIFY(allEnabled(labels, true));
        QCOMPARE(d->StatusBar1->text(0), u" V pořádku"_s);
    }
};

QTEST_MAIN(TestAnalogCycle)
#include "tst_analogcycle.moc"
