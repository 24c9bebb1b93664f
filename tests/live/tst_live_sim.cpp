// The live value dialogs against the module simulator through the real LAN
// converter library.
#include "PollOnce.h"
#include "SimConnection.h"

#include "app/StatusBar.h"
#include "live/FixedPoint.h"
#include "live/OkamAIN.h"
#include "live/OkamDIN.h"
#include "live/OkamDOUT.h"
#include "live/StatReg.h"

#include <QCheckBox>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {
QString bitsShown(const std::array<QLabel *, 32> &labels)
{
    QString bits;
    for (const QLabel *label : labels)
        bits += label->text();
    return bits;
}

QString bitsOf(quint32 word)
{
    QString bits;
    for (int n = 0; n < 32; ++n)
        bits += (word >> n) & 1 ? QLatin1Char('1') : QLatin1Char('0');
    return bits;
}

// The number of a label "12,5 °C" (Czech separator).
double numberOf(const QString &label, bool *ok)
{
    return QLocale().toDouble(label.section(QLatin1Char(' '), 0, 0), ok);
}
} // namespace

class TestLiveSim : public QObject
{
    Q_OBJECT
    TData data;

    bool startSim(SimProcess &sim, const QString &module)
    {
        if (!sim.start({QStringLiteral("--module"), module})) {
            qWarning("%s", qPrintable(sim.errorString()));
            return false;
        }
        const QString error = ConnectToSim(data, sim, 1);
        if (!error.isEmpty())
            qWarning("%s", qPrintable(error));
        return error.isEmpty();
    }

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Czech, QLocale::CzechRepublic)); }
    void cleanup() { DisconnectFromSim(data); }

    void analogValuesFollowSimulator_data()
    {
        QTest::addColumn<QString>("module");
        QTest::addColumn<int>("range");
        QTest::addColumn<QString>("unit");
        QTest::addColumn<double>("first");
        QTest::addColumn<QString>("firstText");
        QTest::addColumn<double>("second");
        QTest::addColumn<QString>("secondText");
        QTest::newRow("3510 500 ohm")
            << u"1:3510:1.08"_s << 8 << u"ohm"_s << 123.45 << u"123,45 ohm"_s << 234.5 << u"234,50 ohm"_s;
        QTest::newRow("3520 TC K") << u"1:3520:1.08"_s << 10 << u"C"_s << 345.6 << u"345,6 °C"_s << -12.3
                                   << u"-12,3 °C"_s;
    }
    void analogValuesFollowSimulator()
    {
        QFETCH(QString, module);
        QFETCH(int, range);
        QFETCH(QString, unit);
        QFETCH(double, first);
        QFETCH(QString, firstText);
        QFETCH(double, second);
        QFETCH(QString, secondText);
        SimProcess sim;
        QVERIFY(startSim(sim, module));
        QVERIFY(sim.setMemoryByte(1, 0, range));
        QVERIFY(sim.setInput(1, 0, first, unit));
        QVERIFY(sim.setTemperature(1, 23.5));

        TForm3 d;
        PollOnce(d, data);
        QCOMPARE(d.StatusBar1->text(0).size() > 1, true);
        QCOMPARE(d.completedCycles(), 1u);
        QCOMPARE(d.Hodnota[0]->text(), firstText);
        bool ok = false;
        const double t = numberOf(d.Hodnota[12]->text(), &ok);
        QVERIFY2(ok && qAbs(t - 23.5) < 0.3, qPrintable(d.Hodnota[12]->text()));
        QVERIFY(d.Hodnota[12]->text().endsWith(QLatin1Char(' ')));

        QVERIFY(sim.setInput(1, 0, second, unit));
        d.Timer1Timer();
        QCOMPARE(d.Hodnota[0]->text(), secondText);
        QCOMPARE(sim.counters().value(QStringLiteral("requests")), 26 + 13);
    }

    void voltageMatchesSimulator()
    {
        SimProcess sim;
        QVERIFY(startSim(sim, QStringLiteral("1:3510:1.08")));
        QVERIFY(sim.setMemoryByte(1, 5, 6)); // +/- 2 V
        QVERIFY(sim.setInput(1, 5, 1.2345));
        TForm3 d;
        PollOnce(d, data);
        bool ok = false;
        const double v = numberOf(d.Hodnota[5]->text(), &ok);
        QVERIFY2(ok && qAbs(v - 1.2345) < 0.0005, qPrintable(d.Hodnota[5]->text()));
        QVERIFY(d.Hodnota[5]->text().endsWith(QStringLiteral(" V")));
    }

    void moduleErrorKeepsValues()
    {
        SimProcess sim;
        QVERIFY(startSim(sim, QStringLiteral("1:3510:1.08")));
        QVERIFY(sim.setMemoryByte(1, 0, 8));
        QVERIFY(sim.setInput(1, 0, 100.0, QStringLiteral("ohm")));
        TForm3 d;
        PollOnce(d, data);
        QCOMPARE(d.Hodnota[0]->text(), QStringLiteral("100,00 ohm"));
        const QString okText = d.StatusBar1->text(0);
        QVERIFY(sim.setInput(1, 0, 200.0, QStringLiteral("ohm")));
        QVERIFY(sim.addFault(QStringLiteral("cmd=0 sub=7 error=2")));
        d.Timer1Timer();
        QCOMPARE(d.Hodnota[0]->text(), QStringLiteral("100,00 ohm"));
        QVERIFY(d.StatusBar1->text(0) != okText);
        QVERIFY(d.StatusBar1->text(0).startsWith(QLatin1Char(' ')));
        QVERIFY(sim.clearFaults());
        d.Timer1Timer();
        QCOMPARE(d.Hodnota[0]->text(), QStringLiteral("200,00 ohm"));
        QCOMPARE(d.StatusBar1->text(0), okText);
    }

    void digitalInputsFollowSimulator()
    {
        SimProcess sim;
        QVERIFY(startSim(sim, QStringLiteral("1:3510:1.08")));
        for (int k = 0; k < 4; ++k)
            QVERIFY(sim.setMemoryByte(1, 33 + 3 * k, 0)); // no negation
        QVERIFY(sim.setDigitalInputs(1, 0x80008001u));
        TForm11 d;
        PollOnce(d, data);
        QCOMPARE(bitsShown(d.Stav), bitsOf(0x80008001u));
        QVERIFY(sim.setDigitalInputs(1, 0x00040000u));
        d.Timer1Timer();
        QCOMPARE(bitsShown(d.Stav), bitsOf(0x00040000u));
    }

    void outputsAreLatched()
    {
        SimProcess sim;
        QVERIFY(startSim(sim, QStringLiteral("1:3510:1.08")));
        TForm9 d;
        d.Data = &data;
        d.FormShow();
        for (int n : {0, 9, 31})
            d.CheckBox[static_cast<std::size_t>(n)]->setChecked(true);
        d.Button1->click();
        QCOMPARE(d.StatusBar1->text(0), QStringLiteral(" Data zapsána"));
        QCOMPARE(sim.outputs(1), 0x80000201u);
        d.CheckBox[9]->setChecked(false);
        d.Button1->click();
        QCOMPARE(sim.outputs(1), 0x80000001u);
    }

    void statusRegisterReadAndCleared()
    {
        SimProcess sim;
        QVERIFY(startSim(sim, QStringLiteral("1:3510:1.08")));
        QVERIFY(sim.ok(QStringLiteral("status 1 80000032")));
        const quint32 status = sim.status(1);
        QCOMPARE(status, 0x80000032u);
        TForm15 d;
        PollOnce(d, data);
        QCOMPARE(bitsShown(d.Bit), bitsOf(status));
        d.Button2->click();
        QCOMPARE(sim.status(1), 0u);
        d.Timer1Timer();
        QCOMPARE(bitsShown(d.Bit), bitsOf(0));
    }
};

QTEST_MAIN(TestLiveSim)
#include "tst_live_sim.moc"
