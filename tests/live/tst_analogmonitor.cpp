#include "EventsCounter.h"
#include "PollOnce.h"

#include "app/StatusBar.h"
#include "live/OkamAIN.h"
#include "support/Fixtures.h"

#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {
// Reply bytes a scripted module gives to a request: distinct for every
// request, so a test can see which reply a later request carries on.
std::array<quint8, 5> scriptedReply(const TaRequest &r, int index)
{
    const auto i = static_cast<quint8>(index);
    switch (r.command) {
    case 200:
        return {0x11, '5', '3', '0', ' '};
    case 102:
        return {static_cast<quint8>(0x40 + i), 0, 0, 0x25, 0};
    default:
        return {static_cast<quint8>(0x80 + i), i, static_cast<quint8>(r.sub), 0, 2};
    }
}

QStringList labelTexts(const TForm3 &d)
{
    QStringList texts;
    for (int i = 0; i < TForm3::ValueCount; ++i)
        texts << d.findChild<QLabel *>(QStringLiteral("Hodnota%1").arg(i))->text();
    return texts;
}
} // namespace

class TestAnalogMonitor : public QObject
{
    Q_OBJECT
    TestConnection link;
    TestAdapter &ta = link.ta;
    TData &data = link.data;

    // Input i reads i + 1.25 (two decimals), the thermometer 23.5 (one decimal).
    void setValues(int offset = 0)
    {
        for (int i = 0; i < 12; ++i)
            ta.setValue(i, 125 + 100 * (i + offset), 2);
        ta.setValue(16, 235 + 10 * offset, 1);
    }

    // Forgets the requests and faults so far, runs one more cycle and
    // returns its requests.
    QList<TaRequest> nextCycle(TForm3 &d)
    {
        ta.calls.clear();
        ta.failSend.clear();
        d.Timer1Timer();
        return ta.sends();
    }

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Czech, QLocale::CzechRepublic)); }

    void init() { QVERIFY(link.open(7)); }
    void cleanup() { link.close(); }

    void firstCycleReadsUnitsThenOnlyValues()
    {
        ta.script = [](const TaRequest &r, int index) {
            TaReply reply;
            reply.d = scriptedReply(r, index);
            return reply;
        };
        EventsCounter events;
        bool timerStoppedInCycle = true;
        TForm3 d;
        events.onEvents = [&](int) { timerStoppedInCycle = timerStoppedInCycle && !d.Timer1->isActive(); };
        d.Data = &data;
        d.FormShow();
        d.Timer1->start();
        d.Timer1Timer();

        const QList<TaRequest> sent = ta.sends();
        QCOMPARE(sent.size(), 26);
        QCOMPARE(sent[0], (TaRequest{7, 200, 1, {0, 0, 0, 0, 0}}));
        for (int i = 0; i < 12; ++i) {
            const auto a = static_cast<quint8>(i);
            QCOMPARE(sent[1 + i], (TaRequest{7, 102, 0, {0, a, a, 0, 0}}));
        }
        for (int i = 0; i < 13; ++i) {
            const TaRequest &r = sent[13 + i];
            QCOMPARE(r.command, 0);
            QCOMPARE(r.sub, i < 12 ? i : 16);
            // Carries on the bytes of the reply before it.
            QCOMPARE(r.d, scriptedReply(sent[12 + i], 13 + i));
        }
        QCOMPARE(events.count, 25);
        QVERIFY(timerStoppedInCycle);
        QVERIFY(d.Timer1->isActive());
        QCOMPARE(d.Timer1->interval(), 10);
        QVERIFY(d.unitsRead());

        events.count = 0;
        const QList<TaRequest> later = nextCycle(d);
        QCOMPARE(later.size(), 13);
        for (int i = 0; i < 13; ++i)
            QCOMPARE(later[i].sub, i < 12 ? i : 16);
        QCOMPARE(later[0].d, scriptedReply(sent[25], 26)); // the previous cycle's last reply
        QCOMPARE(events.count, 13);
        QCOMPARE(d.completedCycles(), 2u);
    }

    void labelsShowValueDecimalsAndUnit()
    {
        setValues();
        ta.setValue(3, -12345, 2);
        ta.setValue(4, 0, 0);
        ta.values[5] = (0x83u << 24) | 12345u; // decimals byte with bit 7 set: three decimals
        ta.memory[7] = 9;                      // a resistance range
        TForm3 d;
        PollOnce(d, data);
        const QStringList expected{u"1,25 V"_s,   u"2,25 V"_s,  u"3,25 V"_s,   u"-123,45 V"_s, u"0 V"_s,
                                   u"12,345 V"_s, u"7,25 V"_s,  u"8,25 ohm"_s, u"9,25 V"_s,    u"10,25 V"_s,
                                   u"11,25 V"_s,  u"12,25 V"_s, u"23,5 "_s};
        QCOMPARE(labelTexts(d), expected);
        QCOMPARE(d.StatusBar1->text(0), QStringLiteral(" V pořádku"));
    }

    void unitTexts_data()
    {
        QTest::addColumn<QByteArray>("model");
        QTest::addColumn<int>("range");
        QTest::addColumn<QString>("unit");
        QTest::newRow("3530 ohm") << QByteArray("RQ-3530 ") << 0xC3 << u"ohm"_s;
        QTest::newRow("3530 K") << QByteArray("RQ-3530 ") << 0x14 << u"K"_s;
        QTest::newRow("3530 0x25 C") << QByteArray("RQ-3530 ") << 0x25 << u"°C"_s;
        QTest::newRow("3530 F") << QByteArray("RQ-3530 ") << 0x38 << u"°F"_s;
        QTest::newRow("3510 6 V") << QByteArray("RQ-3510 ") << 6 << u"V"_s;
        QTest::newRow("3510 7 ohm") << QByteArray("RQ-3510 ") << 7 << u"ohm"_s;
        QTest::newRow("3510 0 V") << QByteArray("RQ-3510 ") << 0 << u"V"_s;
        QTest::newRow("3520 4 V") << QByteArray("RQ-3520 ") << 4 << u"V"_s;
        QTest::newRow("3520 5 C") << QByteArray("RQ-3520 ") << 5 << u"°C"_s;
        QTest::newRow("3520 14 C") << QByteArray("RQ-3520 ") << 14 << u"°C"_s;
        QTest::newRow("unknown") << QByteArray("RQ-3540 ") << 7 << u""_s;
        QTest::newRow("no trailing blank") << QByteArray("RQ-3510x") << 7 << u""_s;
        QTest::newRow("lower case") << QByteArray("RQ-3510") << 7 << u""_s;
    }
    void unitTexts()
    {
        QFETCH(QByteArray, model);
        QFETCH(int, range);
        QFETCH(QString, unit);
        ta.model = model;
        std::fill_n(ta.memory.begin(), 12, static_cast<quint8>(range));
        setValues();
        TForm3 d;
        PollOnce(d, data);
        for (int i = 0; i < 12; ++i)
            QCOMPARE(d.unitText(i), unit);
        QCOMPARE(d.Hodnota[0]->text(), QStringLiteral("1,25 ") + unit);
        QCOMPARE(d.Hodnota[12]->text(), QStringLiteral("23,5 "));      // the temperature never has a unit
        QCOMPARE(d.StatusBar1->text(0), QStringLiteral(" V pořádku")); // an unknown model is no error
    }

    void errorOnInputKeepsLastCompleteCycle()
    {
        setValues();
        TForm3 d;
        PollOnce(d, data);
        const QStringList first = labelTexts(d);
        setValues(1);
        ta.calls.clear();
        ta.failSend[8] = 5; // input 7 of the second cycle (Send calls count from the clear)
        d.Timer1Timer();
        QCOMPARE(labelTexts(d), first);
        QCOMPARE(d.StatusBar1->text(0), QStringLiteral(" chyba 5"));
        QCOMPARE(ta.sends().size(), 8);
        QVERIFY(d.Timer1->isActive());

        const QList<TaRequest> sent = nextCycle(d);
        QCOMPARE(sent.size(), 13);
        QCOMPARE(sent[0].sub, 0);
        QCOMPARE(sent[0].d, (std::array<quint8, 5>{})); // a failed reply leaves zeros
        QCOMPARE(d.Hodnota[0]->text(), QStringLiteral("2,25 V"));
        QCOMPARE(d.Hodnota[12]->text(), QStringLiteral("24,5 "));
        QCOMPARE(d.StatusBar1->text(0), QStringLiteral(" V pořádku"));
    }

    void errorOnTemperatureKeepsLabels()
    {
        setValues();
        ta.failSend[26] = 3;
        TForm3 d;
        PollOnce(d, data);
        QCOMPARE(labelTexts(d), QStringList(13, QString()));
        QCOMPARE(d.StatusBar1->text(0), QStringLiteral(" chyba 3"));
        QCOMPARE(d.completedCycles(), 0u);
        QVERIFY(d.unitsRead()); // the units stay read
    }

    void identificationErrorsStartAgain_data()
    {
        QTest::addColumn<int>("failing");
        QTest::newRow("model code") << 1;
        QTest::newRow("first range byte") << 2;
        QTest::newRow("range byte 5") << 7;
        QTest::newRow("last range byte") << 13;
    }
    void identificationErrorsStartAgain()
    {
        QFETCH(int, failing);
        ta.failSend[failing] = 21;
        TForm3 d;
        PollOnce(d, data);
        QCOMPARE(ta.sends().size(), failing);
        QCOMPARE(d.StatusBar1->text(0), QStringLiteral(" chyba 21"));
        QVERIFY(!d.unitsRead());
        QVERIFY(d.Timer1->isActive());
        const QList<TaRequest> sent = nextCycle(d);
        QCOMPARE(sent.size(), 26);
        QCOMPARE(sent[0].command, 200);
        QVERIFY(d.unitsRead());
    }

    void notConnectedSendsNothing_data()
    {
        QTest::addColumn<bool>("connected");
        QTest::addColumn<bool>("handle");
        QTest::newRow("not connected") << false << true;
        QTest::newRow("handle 0") << true << false;
    }
    void notConnectedSendsNothing()
    {
        QFETCH(bool, connected);
        QFETCH(bool, handle);
        data.connected = connected;
        const quint32 saved = data.handle;
        if (!handle)
            data.handle = 0;
        TForm3 d;
        PollOnce(d, data);
        data.handle = saved;
        QCOMPARE(d.StatusBar1->text(0), QStringLiteral(" Připojení k modulu není inicializováno."));
        QCOMPARE(ta.sends().size(), 0);
        QVERIFY(d.Timer1->isActive());
    }

    void addressTakenOnShow()
    {
        TForm3 d;
        d.Data = &data;
        data.moduleAddress = 9;
        d.show();
        QVERIFY(d.Timer1->isActive());
        d.Timer1Timer();
        d.hide();
        QVERIFY(!d.Timer1->isActive());
        QCOMPARE(ta.sends().first().address, 9);
    }

    // A close during a cycle stops it before its next transaction; the
    // dialog closes when the cycle has returned, never while it runs.
    void closeDuringCycleEndsIt_data()
    {
        QTest::addColumn<int>("closeAt");
        QTest::addColumn<int>("sent");
        QTest::newRow("during range bytes") << 3 << 3;
        QTest::newRow("during values") << 20 << 20;
    }
    void closeDuringCycleEndsIt()
    {
        QFETCH(int, closeAt);
        QFETCH(int, sent);
        setValues();
        EventsCounter events;
        TForm3 d;
        d.Data = &data;
        bool visibleAfterClose = false;
        events.onEvents = [&](int n) {
            if (n == closeAt) {
                d.Button1->click();
                d.close(); // the close box as well
                visibleAfterClose = d.isVisible();
            }
        };
        QTimer::singleShot(0, &d, [&d] { d.Timer1Timer(); });
        const int result = d.exec();
        QCOMPARE(result, int(QDialog::Rejected));
        QVERIFY(visibleAfterClose);
        QCOMPARE(ta.sends().size(), sent);
        QCOMPARE(events.count, closeAt);
        QVERIFY(!d.Timer1->isActive());
        QVERIFY(!d.isVisible());
        QCOMPARE(d.Hodnota[0]->text(), QString());
    }

    void destroyedDuringCycle()
    {
        setValues();
        EventsCounter events;
        auto *d = new TForm3;
        d->Data = &data;
        events.onEvents = [&](int n) {
            if (n == 5)
                delete d;
        };
        d->Timer1Timer();
        QCOMPARE(ta.sends().size(), 5);
    }
};

QTEST_MAIN(TestAnalogMonitor)
#include "tst_analogmonitor.moc"
