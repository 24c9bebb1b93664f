// Both calibrations end to end: the dialogs drive the simulated module
// through the LAN converter library, and the module's readings afterwards
// must be closer to the truth than before.
#include "app/Dekl.h"
#include "calib/KalibraceAIN.h"
#include "calib/KalibraceIT.h"
#include "comm/Kxxx638.h"
#include "support/Hooks.h"
#include "support/SimProcess.h"

#include <QComboBox>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QTest>

namespace {
constexpr int Module = 1;
}

class TestKalibraceSim : public QObject
{
    Q_OBJECT
    SimProcess sim;
    TData data;
    QByteArray ip = QByteArrayLiteral("127.0.0.1");

    double read(quint8 sub)
    {
        ModuleBytes d{};
        const quint8 error = Transact(data, Module, 0, sub, d);
        if (error != 0)
            qWarning("measurement of %d failed with %d", sub, error);
        return DecodeMeasuredValue(d[1], d[2], d[3], d[4]);
    }

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Czech, QLocale::CzechRepublic)); }
    void init()
    {
        QVERIFY2(sim.start({QStringLiteral("--module"), QStringLiteral("1:3510:1.08")}),
                 qPrintable(sim.errorString()));
        SetDefaults(&data);
        data.adapterKind = 4;
        data.moduleAddress = Module;
        InitBlock block{};
        block[0] = reinterpret_cast<std::uintptr_t>(ip.constData());
        block[1] = sim.udpPort();
        block[2] = 200;
        QCOMPARE(OpenAdapter(4, &data.handle, block), 0u);
        QCOMPARE(ConfigureAdapter(4, data.handle, 9600, ReplyTimeoutOfRate(9600), 0), 0u);
        data.connected = true;
    }
    void cleanup()
    {
        CloseAdapter(4, &data.handle);
        sim.stop();
    }

    void analogCalibrationReducesTheError_data()
    {
        QTest::addColumn<int>("input");
        QTest::addColumn<double>("gainError");
        QTest::addColumn<double>("offsetError");
        QTest::addColumn<double>("reference");
        QTest::newRow("gain +1 %, offset +200 uV") << 1 << 0.01 << 0.0002 << 0.045;
        QTest::newRow("gain -2 %, offset -150 uV") << 4 << -0.02 << -0.00015 << 0.05;
        QTest::newRow("gain +0.5 %, offset +50 uV, 0,04 V") << 11 << 0.005 << 0.00005 << 0.04;
    }
    void analogCalibrationReducesTheError()
    {
        QFETCH(int, input);
        QFETCH(double, gainError);
        QFETCH(double, offsetError);
        QFETCH(double, reference);
        PauseRecorder pauses;
        QVERIFY(sim.setAnalogErrors(Module, gainError, offsetError));

        TForm6 d;
        d.Data = &data;
        d.ComboBox2->setCurrentIndex(input);
        d.Button1Click();
        QCOMPARE(d.state(), quint8(1));
        QCOMPARE(sim.memoryByte(Module, input), 1);

        QVERIFY(sim.setInput(Module, input, reference, QStringLiteral("V")));
        const double before = read(quint8(input));
        d.Timer1Timer();
        QVERIFY(!d.Edit3->text().isEmpty());

        QVERIFY(sim.setInput(Module, input, 0.0, QStringLiteral("V")));
        d.Button2Click();
        QCOMPARE(d.state(), quint8(2));

        QVERIFY(sim.setInput(Module, input, reference, QStringLiteral("V")));
        d.Edit2->setText(QLocale().toString(reference));
        d.Button2Click();
        QVERIFY2(d.state() == 0, qPrintable(d.Memo1->toPlainText()));
        QVERIFY(d.Memo1->toPlainText().contains(QStringLiteral("Vstup zkalibrován.")));

        const double after = read(quint8(input));
        QVERIFY2(qAbs(after - reference) < qAbs(before - reference),
                 qPrintable(QStringLiteral("before %1, after %2").arg(before).arg(after)));
        QVERIFY2(qAbs(after - reference) < 0.0001, qPrintable(QString::number(after)));
        // And a value off the calibration point is corrected as well.
        QVERIFY(sim.setInput(Module, input, 0.02, QStringLiteral("V")));
        QVERIFY(qAbs(read(quint8(input)) - 0.02) < 0.0001);
    }

    void thermometerCalibrationReducesTheError_data()
    {
        QTest::addColumn<double>("gainError");
        QTest::addColumn<double>("zeroError"); // raw counts with the jumper shorted
        QTest::addColumn<double>("celsius");
        QTest::newRow("gain +2 %, zero 150") << 0.02 << 150.0 << 25.0;
        QTest::newRow("gain -3 %, zero 40") << -0.03 << 40.0 << 21.5;
    }
    void thermometerCalibrationReducesTheError()
    {
        QFETCH(double, gainError);
        QFETCH(double, zeroError);
        QFETCH(double, celsius);
        PauseRecorder pauses;
        QVERIFY(sim.ok(QStringLiteral("terr %1 %2 %3").arg(Module).arg(gainError).arg(zeroError)));
        QVERIFY(sim.setTemperature(Module, celsius));
        QVERIFY(sim.setMemoryByte(Module, 31, 0x81));
        const double before = read(16);

        TFormIT d;
        d.Data = &data;
        d.Button1Click();
        QCOMPARE(d.state(), quint8(1));
        QCOMPARE(sim.memoryByte(Module, 31), 0x80);
        QVERIFY(sim.ok(QStringLiteral("jumper %1 1").arg(Module)));
        d.Button2Click();
        QCOMPARE(d.state(), quint8(2));
        QVERIFY(sim.ok(QStringLiteral("jumper %1 0").arg(Module)));
        d.Edit2->setText(QLocale().toString(celsius, 'f', 1));
        d.Button2Click();
        QVERIFY2(d.state() == 0, qPrintable(d.Memo1->toPlainText()));
        QCOMPARE(sim.memoryByte(Module, 31), 0x81);

        const double after = read(16);
        QVERIFY2(qAbs(after - celsius) < qAbs(before - celsius),
                 qPrintable(QStringLiteral("before %1, after %2").arg(before).arg(after)));
        QVERIFY2(qAbs(after - celsius) <= 0.2, qPrintable(QString::number(after)));
    }

    // The module fails one of the final writes (its gain's high byte not
    // taken, or taken with the reply lost): the retry writes exactly what a
    // clean calibration writes, and the module measures right.
    void retryAfterAFailedFinalWrite_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("gain high byte refused") << QStringLiteral("cmd=103 mem=24 error=5 count=1");
        QTest::newRow("gain high byte read-back lost") << QStringLiteral("cmd=102 mem=24 error=5 count=1");
    }
    void retryAfterAFailedFinalWrite()
    {
        QFETCH(QString, fault);
        PauseRecorder pauses;
        QVERIFY(sim.setAnalogErrors(Module, 0.02, 0.0002));
        const auto calibrate = [&](const QString &rule) {
            TForm6 d;
            d.Data = &data;
            d.Button1Click();
            QVERIFY(sim.setInput(Module, 1, 0.0, QStringLiteral("V")));
            d.Button2Click();
            QCOMPARE(d.state(), quint8(2));
            QVERIFY(sim.setInput(Module, 1, 0.045, QStringLiteral("V")));
            d.Edit2->setText(QStringLiteral("0,045"));
            if (!rule.isEmpty()) {
                QVERIFY(sim.addFault(rule));
                d.Button2Click();
                QCOMPARE(d.state(), quint8(2));
            }
            d.Button2Click();
            QVERIFY2(d.state() == 0, qPrintable(d.Memo1->toPlainText()));
            QVERIFY(d.Memo1->toPlainText().contains(QStringLiteral("Vstup zkalibrován.")));
        };
        const auto constants = [this] {
            QList<int> bytes;
            for (int address = 23; address <= 26; ++address)
                bytes << sim.memoryByte(Module, address);
            return bytes;
        };
        calibrate(QString());
        const QList<int> clean = constants();
        calibrate(fault);
        QCOMPARE(constants(), clean);
        QVERIFY(qAbs(read(1) - 0.045) < 0.0001);
    }

    // A failing read-back from the module: the mismatch reaches the memo
    // and the calibration is cancelled.
    void mismatchFromTheModule()
    {
        PauseRecorder pauses;
        TForm6 d;
        d.Data = &data;
        d.Button1Click();
        QVERIFY(sim.setInput(Module, 1, 0.0, QStringLiteral("V")));
        QVERIFY(sim.setAnalogErrors(Module, 0, 0.0002));
        d.Button2Click();
        QCOMPARE(d.state(), quint8(2));
        QVERIFY(sim.addFault(QStringLiteral("mem=23 readback=0x55 count=1")));
        QVERIFY(sim.setInput(Module, 1, 0.05, QStringLiteral("V")));
        d.Button2Click();
        QCOMPARE(d.state(), quint8(0));
        QVERIFY(
            d.Memo1->toPlainText().contains(QStringLiteral("Chyba zápisu do konfigurační paměti modulu.")));
    }
};

QTEST_MAIN(TestKalibraceSim)
#include "tst_kalibrace_sim.moc"
