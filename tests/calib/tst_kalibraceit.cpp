#include "calib/KalibraceIT.h"

#include "CalibTestUtil.h"

#include <QLineEdit>
#include <QLocale>

#include <cmath>

namespace {
const QString Start = QStringLiteral("Pro zahájení kalibrování stiskni tlačítko Kalibrace.");
const QString ShortJumper =
    QStringLiteral("Zkratuj propojku interního teploměru a stiskni tlačítko Potvrzení.");
const QString RemoveShort = QStringLiteral(
    "Odstraň zkrat propojky interního teploměru, zadej hodnotu teploty a stiskni tlačítko Potvrzení.");
const QString Done = QStringLiteral("Vypni a zapni modul, interní teploměr zkalibrován.");
const QString Bad =
    QStringLiteral("Chyba naměřených hodnot. Zkontroluj připojení vstupu a proveď znovu kalibraci.");
const QString NotANumber = QStringLiteral(
    "Chybně zadaná hodnota teploty. Pozor na desetinnou čárku resp. tečku (nastaveno v systému).");
const QString Mismatch = QStringLiteral("Chyba zápisu do konfigurační paměti modulu.");
const QString MismatchStatus = QStringLiteral(" Chyba zápisu do konfigurační paměti modulu.");
// One blank after the first exclamation mark here, two in the analog calibration.
const QString Cancelled = QStringLiteral("Kalibrace modulu zrušena ! Je NUTNÉ provést novou kalibraci !!!");
const QStringList Report{QString(), Cancelled, QString(), Separator, QString(), Start};
const QStringList Started{Start, QString(), Separator, QString(), ShortJumper};

void setRaw(TestAdapter &ta, int raw)
{
    ta.values[16] = quint32(raw);
}
} // namespace

class TestKalibraceIT : public QObject
{
    Q_OBJECT
    CalibConnection link;
    TestAdapter &ta = link.ta;
    TData &data = link.data;

    // Runs "Kalibrace" and, for state 2, the zero reading of 100 counts.
    void toState(TFormIT &d, int state)
    {
        d.Button1Click();
        if (state == 2) {
            setRaw(ta, 100);
            d.Button2Click();
            QCOMPARE(d.state(), quint8(2));
        }
        ta.calls.clear();
    }

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Czech, QLocale::CzechRepublic)); }
    void init() { QVERIFY(link.open()); }
    void cleanup() { link.close(); }

    void controlsAtCreation()
    {
        TFormIT d;
        QCOMPARE(d.windowTitle(), QStringLiteral("Kalibrace interního teploměru"));
        QCOMPARE(d.Edit2->text(), QStringLiteral("20,0"));
        checkCommonControls(d, Start);
        const QStringList labels = labelTexts(d);
        QVERIFY(labels.contains(QStringLiteral("Zadaná hodnota [°C]")));
        QVERIFY(labels.contains(QStringLiteral("Pokyn")));
        d.Data = &data;
        d.show();
        QVERIFY(d.Timer1->isActive());
        d.hide();
        QVERIFY(!d.Timer1->isActive());
    }

    void kalibraceSwitchesToRawCounts()
    {
        PauseRecorder pauses;
        TFormIT d;
        d.Data = &data;
        ta.memory[27] = 16;
        d.Button1Click();
        QCOMPARE(ta.sends(), verifiedWrites({{31, 128}}));
        QCOMPARE(ta.memory[31], quint8(128));
        QCOMPARE(ta.memory[27], quint8(16)); // the old constants stay
        QCOMPARE(memoLines(d.Memo1), Started);
        QCOMPARE(d.state(), quint8(1));
        QCOMPARE(d.statusText(), QStringLiteral(" "));
        ta.calls.clear();
        d.Button1Click();
        QVERIFY(ta.sends().isEmpty());
    }

    void kalibraceFailures_data()
    {
        QTest::addColumn<int>("failingSend");
        QTest::addColumn<bool>("mismatch");
        QTest::addColumn<QString>("status");
        QTest::newRow("write fails") << 1 << false << QStringLiteral(" chyba 4");
        QTest::newRow("read-back fails") << 2 << false << QStringLiteral(" chyba 4");
        QTest::newRow("mismatch") << 0 << true << MismatchStatus;
    }
    void kalibraceFailures()
    {
        QFETCH(int, failingSend);
        QFETCH(bool, mismatch);
        TFormIT d;
        d.Data = &data;
        if (failingSend)
            ta.failSend[failingSend] = 4;
        if (mismatch)
            ta.readBackOverride[31] = 0x81;
        d.Button1Click();
        QTEST(d.statusText(), "status");
        QCOMPARE(memoLines(d.Memo1), QStringList{Start});
        QCOMPARE(d.state(), quint8(0));
    }

    void fullCalibration_data()
    {
        QTest::addColumn<QString>("entered");
        QTest::addColumn<int>("zero");
        QTest::addColumn<int>("reference");
        QTest::addColumn<ByteWrites>("writes");
        QTest::newRow("20,0") << QStringLiteral("20,0") << 100 << 3031
                              << ByteWrites{{29, 156}, {30, 127}, {27, 16}, {28, 39}, {31, 129}};
        // K = 9976.57 is truncated.
        QTest::newRow("25,0") << QStringLiteral("25,0") << 512 << 3500
                              << ByteWrites{{29, 0}, {30, 126}, {27, 248}, {28, 38}, {31, 129}};
        // 32768 - 40000 wraps modulo 65536.
        QTest::newRow("zero 40000") << QStringLiteral("20") << 40000 << 42931
                                    << ByteWrites{{29, 192}, {30, 227}, {27, 16}, {28, 39}, {31, 129}};
    }
    void fullCalibration()
    {
        QFETCH(QString, entered);
        QFETCH(int, zero);
        QFETCH(int, reference);
        QFETCH(ByteWrites, writes);
        PauseRecorder pauses;
        QStringList statusDuringPause;
        TFormIT d;
        d.Data = &data;
        pauses.onPause = [&](int) { statusDuringPause << d.statusText(); };
        d.Button1Click();

        ta.calls.clear();
        setRaw(ta, zero);
        d.Button2Click();
        QCOMPARE(ta.sends(), QList<TaRequest>{measurement(16)});
        QCOMPARE(pauses.pauses, QList<int>{4000});
        QCOMPARE(statusDuringPause, QStringList{QStringLiteral(" Probíhá měření ...")});
        QCOMPARE(d.state(), quint8(2));
        QCOMPARE(d.statusText(), QStringLiteral(" "));

        ta.calls.clear();
        setRaw(ta, reference);
        d.Edit2->setText(entered);
        d.Button2Click();
        QCOMPARE(ta.sends(), QList<TaRequest>{measurement(16)} + verifiedWrites(writes));
        QCOMPARE(pauses.pauses, (QList<int>{4000, 4000}));
        for (const auto &[address, value] : writes)
            QCOMPARE(int(ta.memory[std::size_t(address)]), value);
        QCOMPARE(d.state(), quint8(0));
        QCOMPARE(d.statusText(), QStringLiteral(" "));
        QCOMPARE(memoLines(d.Memo1), (Started + QStringList{RemoveShort, QString(), Done, QString(),
                                                            Separator, QString(), Start}));
    }

    void referenceFailures_data()
    {
        QTest::addColumn<QString>("entered");
        QTest::addColumn<int>("reference");
        QTest::addColumn<bool>("measured");
        QTest::addColumn<QString>("text");
        QTest::newRow("-300") << QStringLiteral("-300") << 3031 << true << Bad;
        QTest::newRow("equal readings") << QStringLiteral("20,0") << 100 << true << Bad;
        QTest::newRow("decimal point") << QStringLiteral("20.5") << 3031 << false << NotANumber;
        QTest::newRow("letters") << QStringLiteral("dvacet") << 3031 << false << NotANumber;
        QTest::newRow("infinity") << QStringLiteral("inf") << 3031 << false << NotANumber;
    }
    void referenceFailures()
    {
        QFETCH(QString, entered);
        QFETCH(int, reference);
        QFETCH(bool, measured);
        QFETCH(QString, text);
        PauseRecorder pauses;
        TFormIT d;
        d.Data = &data;
        toState(d, 2);
        const QStringList before = memoLines(d.Memo1);
        setRaw(ta, reference);
        d.Edit2->setText(entered);
        d.Button2Click();
        QCOMPARE(ta.sends(), measured ? QList<TaRequest>{measurement(16)} : QList<TaRequest>{});
        QCOMPARE(memoLines(d.Memo1), before + QStringList{text} + Report);
        QCOMPARE(d.state(), quint8(0));
        QCOMPARE(ta.memory[31], quint8(128)); // still raw counts
    }

    void measurementFailures_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<bool>("transactionError");
        QTest::addColumn<QStringList>("lines");
        for (int state : {1, 2}) {
            QTest::addRow("state %d, reading 0", state) << state << false << QStringList{Bad};
            QTest::addRow("state %d, transaction error", state)
                << state << true << QStringList{QStringLiteral("chyba 9")};
        }
    }
    void measurementFailures()
    {
        QFETCH(int, state);
        QFETCH(bool, transactionError);
        QFETCH(QStringList, lines);
        TFormIT d;
        d.Data = &data;
        toState(d, state);
        const QStringList before = memoLines(d.Memo1);
        setRaw(ta, 0);
        if (transactionError)
            ta.failSend[1] = 9;
        PauseRecorder pauses;
        d.Button2Click();
        QCOMPARE(ta.sends(), QList<TaRequest>{measurement(16)});
        QCOMPARE(pauses.pauses, QList<int>{4000});
        QCOMPARE(memoLines(d.Memo1), before + lines + Report);
        QCOMPARE(d.statusText(), transactionError ? QStringLiteral(" chyba 9") : QStringLiteral(" "));
        QCOMPARE(d.state(), quint8(0));
    }

    // Transaction errors among the five final writes, and a mismatch at 31,
    // keep state 2; the next "Potvrzení" reads again and writes all five.
    void finalWriteKeepsState2_data()
    {
        QTest::addColumn<int>("failingSend"); // counted from the measurement, or 0
        QTest::addColumn<bool>("mismatchAt31");
        QTest::addColumn<int>("sendsMade");
        QTest::addColumn<QString>("status");
        for (int n = 2; n <= 11; ++n)
            QTest::addRow("transaction error at send %d", n) << n << false << n << QStringLiteral(" chyba 7");
        QTest::newRow("mismatch at 31") << 0 << true << 11 << MismatchStatus;
    }
    void finalWriteKeepsState2()
    {
        QFETCH(int, failingSend);
        QFETCH(bool, mismatchAt31);
        QFETCH(int, sendsMade);
        PauseRecorder pauses;
        TFormIT d;
        d.Data = &data;
        toState(d, 2);
        const QStringList before = memoLines(d.Memo1);
        const QList<TaRequest> expected =
            QList<TaRequest>{measurement(16)} +
            verifiedWrites({{29, 156}, {30, 127}, {27, 16}, {28, 39}, {31, 129}});
        setRaw(ta, 3031);
        if (failingSend)
            ta.failSend[failingSend] = 7;
        if (mismatchAt31)
            ta.readBackOverride[31] = 0x80;
        d.Button2Click();
        QCOMPARE(ta.sends(), expected.mid(0, sendsMade));
        QTEST(d.statusText(), "status");
        QCOMPARE(memoLines(d.Memo1), before);
        QCOMPARE(d.state(), quint8(2));

        // The retry switches back to raw counts before it measures.
        ta.calls.clear();
        ta.failSend.clear();
        ta.readBackOverride.clear();
        d.Button2Click();
        QCOMPARE(ta.sends(), verifiedWrites({{31, 128}}) + expected);
        QCOMPARE(d.state(), quint8(0));
        QCOMPARE(pauses.pauses, (QList<int>{4000, 4000, 4000}));
    }

    // A module that reports °C through its constants once address 31 says
    // so: a retry after the switch to °C landed unconfirmed must still read
    // raw counts and write the constants of a clean run.
    void retryWritesTheConstantsOfACleanRun_data()
    {
        QTest::addColumn<int>("failingSend"); // counted from the reference measurement
        QTest::newRow("switch to °C written, read-back lost") << 11;
        QTest::newRow("switch to °C not written") << 10;
        QTest::newRow("gain high byte written, read-back lost") << 9;
    }
    void retryWritesTheConstantsOfACleanRun()
    {
        QFETCH(int, failingSend);
        PauseRecorder pauses;
        int raw = 0;
        ta.script = [&](const TaRequest &r, int) {
            const auto &memory = ta.memory;
            TaReply reply = memoryReply(r);
            if (r.command == 0 && (memory[31] & 1) == 0)
                reply.d = {0, quint8(raw), quint8(raw >> 8), 0, 0};
            if (r.command == 0 && (memory[31] & 1) != 0) {
                const int gain = memory[27] | memory[28] << 8, offset = memory[29] | memory[30] << 8;
                const double celsius = (raw + offset - 32768) * gain / 10000.0 / 10 - 273.1;
                const auto tenths = static_cast<quint32>(std::lround(std::fabs(celsius) * 10));
                reply.d = {0, quint8(tenths), quint8(tenths >> 8), quint8(celsius < 0 ? 0x80 : 0), 1};
            }
            return reply;
        };
        const auto run = [&](int failing) {
            TFormIT d;
            d.Data = &data;
            // The jumper shorted, then 25 °C with a gain error of +2 %.
            calibrateWithRetry(
                d, [&] { raw = 150; }, [&] { raw = 3191; }, QStringLiteral("25,0"), failing, Done);
        };
        run(0);
        const auto constants = [this] {
            return QList<quint8>{ta.memory[27], ta.memory[28], ta.memory[29], ta.memory[30], ta.memory[31]};
        };
        const QList<quint8> clean = constants();
        run(failingSend);
        QCOMPARE(constants(), clean);
    }

    void constantMismatch_data()
    {
        QTest::addColumn<int>("address");
        QTest::newRow("29") << 29;
        QTest::newRow("30") << 30;
        QTest::newRow("27") << 27;
        QTest::newRow("28") << 28;
    }
    void constantMismatch()
    {
        QFETCH(int, address);
        PauseRecorder pauses;
        TFormIT d;
        d.Data = &data;
        toState(d, 2);
        const QStringList before = memoLines(d.Memo1);
        setRaw(ta, 3031);
        ta.readBackOverride[address] = 0x55;
        d.Button2Click();
        QCOMPARE(memoLines(d.Memo1), before + QStringList{Mismatch} + Report);
        QCOMPARE(d.state(), quint8(0));
        QCOMPARE(ta.memory[31], quint8(128));
        QVERIFY(!ta.sends().contains(TaRequest{5, 103, 0, {0, 31, 31, 129, 129}}));
    }

    void zrusitAndIdleButtons()
    {
        PauseRecorder pauses;
        TFormIT d;
        d.Data = &data;
        d.Button2Click();
        d.Button4Click();
        QVERIFY(ta.sends().isEmpty());
        QCOMPARE(memoLines(d.Memo1), QStringList{Start});
        toState(d, 2);
        const QStringList before = memoLines(d.Memo1);
        d.Button1Click();
        QVERIFY(ta.sends().isEmpty());
        QCOMPARE(d.state(), quint8(2));
        d.Button4Click();
        QVERIFY(ta.sends().isEmpty());
        QCOMPARE(memoLines(d.Memo1), before + Report);
        QCOMPARE(d.state(), quint8(0));
        QCOMPARE(ta.memory[31], quint8(128));
    }

    void connectionWatch()
    {
        TFormIT d;
        d.Data = &data;
        data.moduleAddress = 9;
        d.StatusBar1->setText(0, QStringLiteral(" "));
        d.Timer1Timer();
        QCOMPARE(ta.sends(), QList<TaRequest>{measurement(16, 9)});
        QCOMPARE(d.statusText(), QStringLiteral(" "));
        ta.failSend[2] = 5;
        d.Timer1Timer();
        QCOMPARE(d.statusText(), QStringLiteral(" chyba 5"));
        data.connected = false;
        d.Timer1Timer();
        QCOMPARE(d.statusText(), QStringLiteral(" Připojení k modulu není inicializováno."));
        QCOMPARE(ta.sends().size(), 2);
    }

    void notConnected()
    {
        TFormIT d;
        d.Data = &data;
        data.connected = false;
        checkNotConnected(d, {&TKalibraceDialog::Button1Click, &TKalibraceDialog::Button2Click,
                              &TKalibraceDialog::Button4Click});
        QVERIFY(ta.sends().isEmpty());
    }
};

QTEST_MAIN(TestKalibraceIT)
#include "tst_kalibraceit.moc"
