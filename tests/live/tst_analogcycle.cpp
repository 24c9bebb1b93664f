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
