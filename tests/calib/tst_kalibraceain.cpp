#include "calib/KalibraceAIN.h"

#include "CalibTestUtil.h"

#include <QComboBox>
#include <QLineEdit>
#include <QLocale>

#include <cmath>

namespace {
const QString Choose = QStringLiteral("Vyber referenční vstup a stiskni tlačítko Kalibrace.");
const QString ShortInput = QStringLiteral("Zkratuj vstup a stiskni tlačítko Potvrzení.");
const QString ApplyVoltage = QStringLiteral(
    "Připoj na vstup napětí v rozsahu 0,04-0,05V, zadej hodnotu napětí a stiskni tlačítko Potvrzení.");
const QString Done = QStringLiteral("Vstup zkalibrován.");
const QString Bad =
    QStringLiteral("Chyba naměřených hodnot. Zkontroluj připojení vstupu a proveď znovu kalibraci.");
const QString OutOfBand = QStringLiteral("Hodnota napětí musí být v rozsahu 0,04-0,05V.");
const QString NotANumber = QStringLiteral(
    "Hodnota napětí musí být v rozsahu 0,04-0,05V. Pozor na desetinnou čárku resp. tečku (nastaveno v systému).");
const QString Mismatch = QStringLiteral("Chyba zápisu do konfigurační paměti modulu.");
const QString Cancelled = QStringLiteral("Kalibrace modulu zrušena !  Je NUTNÉ provést novou kalibraci !!!");
const QStringList Report{QString(), Cancelled, QString(), Separator, QString(), Choose};

ByteWrites neutral(int input)
{
    return {{input, 1}, {23, 16}, {24, 39}, {25, 0}, {26, 0}};
}

// A module on the +/- 50 mV range with a front end error: the converter
// count of the true voltage, corrected by the gain (23/24) and the offset
// (25/26, sign and magnitude) in its memory, reported with 7 decimals.
TaReply firmware(const TaRequest &r, double volts, double gainError, double offsetError)
{
    const auto &memory = TestAdapter::instance().memory;
    TaReply reply = memoryReply(r);
    if (r.command == 0) {
        constexpr double step = 0.2384258553e-5;
        const double raw = std::round((volts * (1 + gainError) + offsetError) / step);
        const int gain = memory[23] | memory[24] << 8;
        const int offsetBits = memory[25] | memory[26] << 8;
        const int offset = offsetBits & 0x8000 ? -(offsetBits & 0x7FFF) : offsetBits;
        const double reported = (raw + offset / 2.0) * gain / 10000 * step;
        const auto magnitude = static_cast<quint32>(std::lround(std::fabs(reported) * 1e7));
        reply.d = {0, quint8(magnitude), quint8(magnitude >> 8),
                   quint8((magnitude >> 16 & 0x7F) | (reported < 0 ? 0x80 : 0)), 7};
    }
    return reply;
}
} // namespace

class TestKalibraceAIN : public QObject
{
    Q_OBJECT
    CalibConnection link;
    TestAdapter &ta = link.ta;
    TData &data = link.data;

    // Runs "Kalibrace" on input 1 and, for state 2, the zero reading of
    // 0.00002 V; the dialog then waits for the reference voltage.
    void toState(TForm6 &d, int state)
    {
        d.Button1Click();
        if (state == 2) {
            ta.setValue(1, 2, 5);
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
        TForm6 d;
        QCOMPARE(d.windowTitle(), QStringLiteral("Kalibrace analogových vstupů"));
        QCOMPARE(d.ComboBox2->count(), 12);
        QCOMPARE(d.ComboBox2->itemText(0), QStringLiteral("vstup 0"));
        QCOMPARE(d.ComboBox2->itemText(11), QStringLiteral("vstup 11"));
        QCOMPARE(d.ComboBox2->currentText(), QStringLiteral("vstup 1"));
        QVERIFY(!d.ComboBox2->isEditable());
        QCOMPARE(d.Edit2->text(), QStringLiteral("0,05"));
        QVERIFY(d.Edit3->text().isEmpty());
        QVERIFY(d.Edit3->isReadOnly());
        QCOMPARE(d.Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        checkCommonControls(d, Choose);
        QVERIFY(!d.Timer1->isActive());
        for (const char *name : {"ComboBox2", "Edit2", "Edit3", "Memo1", "StatusBar1", "Timer1"})
            QVERIFY2(d.findChild<QObject *>(QLatin1String(name)), name);
        const QStringList labels = labelTexts(d);
        for (const char *text : {"Referenční vstup", "Zadaná hodnota [V]", "Okamžitá hodnota", "Pokyn"})
            QVERIFY2(labels.contains(QString::fromUtf8(text)), text);
        QVERIFY(ta.sends().isEmpty());
    }

    void kalibraceWritesNeutralConstants()
    {
        PauseRecorder pauses;
        TForm6 d;
        d.Data = &data;
        d.ComboBox2->setCurrentIndex(3);
        ta.memory[3] = 6;
        ta.memory[25] = 0x34;
        d.Button1Click();
        QCOMPARE(ta.sends(), verifiedWrites(neutral(3)));
        QCOMPARE(ta.memory[3], quint8(1));
        QCOMPARE(ta.memory[25], quint8(0));
        QCOMPARE(memoLines(d.Memo1),
                 (QStringList{Choose, QString(), Separator + QStringLiteral("Referenční vstup 3"), QString(),
                              ShortInput}));
        QCOMPARE(d.state(), quint8(1));
        QCOMPARE(d.statusText(), QStringLiteral(" "));
        QVERIFY(pauses.pauses.isEmpty());
        // Running: a second "Kalibrace" does nothing.
        ta.calls.clear();
        d.Button1Click();
        QVERIFY(ta.sends().isEmpty());
        QCOMPARE(d.state(), quint8(1));
    }

    // Every failure of "Kalibrace" shows in the status panel only and skips
    // the remaining writes.
    void kalibraceFailures_data()
    {
        QTest::addColumn<int>("failingSend"); // a transaction error at this send, or 0
        QTest::addColumn<int>("mismatchAt");  // a read-back mismatch at this address, or -1
        QTest::addColumn<int>("sendsMade");
        QTest::addColumn<QString>("status");
        const QString error = QStringLiteral(" chyba 7");
        const QString mismatch = QStringLiteral(" Chyba zápisu do konfigurační paměti modulu.");
        for (int n = 1; n <= 10; ++n)
            QTest::addRow("transaction error at send %d", n) << n << -1 << n << error;
        const QList<int> order{1, 23, 24, 25, 26};
        for (int k = 0; k < order.size(); ++k)
            QTest::addRow("mismatch at %d", order[k]) << 0 << order[k] << 2 * (k + 1) << mismatch;
    }
    void kalibraceFailures()
    {
        QFETCH(int, failingSend);
        QFETCH(int, mismatchAt);
        QFETCH(int, sendsMade);
        TForm6 d;
        d.Data = &data;
        if (failingSend)
            ta.failSend[failingSend] = 7;
        if (mismatchAt >= 0)
            ta.readBackOverride[mismatchAt] = 0x55;
        d.Button1Click();
        QCOMPARE(ta.sends(), verifiedWrites(neutral(1)).mid(0, sendsMade));
        QTEST(d.statusText(), "status");
        QCOMPARE(memoLines(d.Memo1), QStringList{Choose});
        QCOMPARE(d.state(), quint8(0));
        // Nothing blocks a new attempt.
        ta.failSend.clear();
        ta.readBackOverride.clear();
        d.Button1Click();
        QCOMPARE(d.state(), quint8(1));
    }

    void fullCalibration_data()
    {
        QTest::addColumn<int>("input");
        QTest::addColumn<QString>("entered");
        QTest::addColumn<int>("zeroMagnitude"); // at 5 decimals
        QTest::addColumn<int>("referenceMagnitude");
        QTest::addColumn<ByteWrites>("constants");
        QTest::newRow("negative offset") << 1 << QStringLiteral("0,05") << 2 << 4990
                                         << ByteWrites{{25, 16}, {26, 128}, {23, 40}, {24, 39}};
        QTest::newRow("positive offset") << 7 << QStringLiteral("0,05") << -2 << 5010
                                         << ByteWrites{{25, 18}, {26, 0}, {23, 248}, {24, 38}};
        // 0,06 lies just inside the band; reference 0,0599 V: gain 10020.
        QTest::newRow("0,06 accepted") << 0 << QStringLiteral("0,06") << 2 << 5990
                                       << ByteWrites{{25, 16}, {26, 128}, {23, 36}, {24, 39}};
        QTest::newRow("blanks around") << 11 << QStringLiteral(" 0,05 ") << 2 << 4990
                                       << ByteWrites{{25, 16}, {26, 128}, {23, 40}, {24, 39}};
    }
    void fullCalibration()
    {
        QFETCH(int, input);
        QFETCH(QString, entered);
        QFETCH(int, zeroMagnitude);
        QFETCH(int, referenceMagnitude);
        QFETCH(ByteWrites, constants);
        PauseRecorder pauses;
        QStringList statusDuringPause;
        TForm6 d;
        d.Data = &data;
        pauses.onPause = [&](int) { statusDuringPause << d.statusText(); };
        d.ComboBox2->setCurrentIndex(input);
        d.Button1Click();
        QCOMPARE(d.state(), quint8(1));
        // Another input selected meanwhile: the reference input stays.
        d.ComboBox2->setCurrentIndex((input + 1) % 12);

        ta.calls.clear();
        ta.setValue(input, zeroMagnitude, 5);
        d.Button2Click();
        QCOMPARE(ta.sends(), QList<TaRequest>{measurement(quint8(input))});
        QCOMPARE(pauses.pauses, QList<int>{3500});
        QCOMPARE(statusDuringPause, QStringList{QStringLiteral(" Probíhá měření ...")});
        QCOMPARE(d.state(), quint8(2));
        QCOMPARE(d.statusText(), QStringLiteral(" "));
        QCOMPARE(memoLines(d.Memo1).last(), ApplyVoltage);

        ta.calls.clear();
        ta.setValue(input, referenceMagnitude, 5);
        d.Edit2->setText(entered);
        d.Button2Click();
        QCOMPARE(ta.sends(), QList<TaRequest>{measurement(quint8(input))} + verifiedWrites(constants));
        QCOMPARE(pauses.pauses, (QList<int>{3500, 3500}));
        for (const auto &[address, value] : constants)
            QCOMPARE(int(ta.memory[std::size_t(address)]), value);
        QCOMPARE(int(ta.memory[std::size_t(input)]), 1); // left on the calibration range
        QCOMPARE(d.state(), quint8(0));
        QCOMPARE(d.statusText(), QStringLiteral(" "));
        QCOMPARE(memoLines(d.Memo1),
                 (QStringList{Choose, QString(),
                              Separator + QStringLiteral("Referenční vstup ") + QString::number(input),
                              QString(), ShortInput, ApplyVoltage, QString(), Done, QString(), Separator,
                              QString(), Choose}));
    }

    void writingStatusShowsDuringTheWrites()
    {
        TForm6 d;
        d.Data = &data;
        toState(d, 2);
        ta.setValue(1, 4990, 5);
        QString during;
        ta.script = [&](const TaRequest &r, int) {
            if (r.command == 103 && during.isEmpty())
                during = d.statusText();
            TaReply reply;
            if (r.command == 0)
                reply.d = {0, 0x7E, 0x13, 0, 5};
            if (r.command == 102)
                reply.d[3] = ta.memory[r.d[1]];
            if (r.command == 103)
                ta.memory[r.d[1]] = r.d[3];
            return reply;
        };
        PauseRecorder pauses;
        d.Button2Click();
        QCOMPARE(during, QStringLiteral(" Probíhá zápis kalibračních konstant."));
        QCOMPARE(d.state(), quint8(0));
    }

    // Failures of the reference step before any write: memo text and the
    // cancellation report, state 0.
    void referenceFailures_data()
    {
        QTest::addColumn<QString>("entered");
        QTest::addColumn<int>("referenceMagnitude");
        QTest::addColumn<bool>("measured");
        QTest::addColumn<QString>("text");
        QTest::newRow("0,029") << QStringLiteral("0,029") << 4990 << false << OutOfBand;
        QTest::newRow("0,03") << QStringLiteral("0,03") << 4990 << false << OutOfBand;
        QTest::newRow("0,061") << QStringLiteral("0,061") << 4990 << false << OutOfBand;
        QTest::newRow("negative") << QStringLiteral("-0,05") << 4990 << false << OutOfBand;
        QTest::newRow("decimal point") << QStringLiteral("0.05") << 4990 << false << NotANumber;
        QTest::newRow("group separator") << QStringLiteral("0 045") << 4990 << false << NotANumber;
        QTest::newRow("letters") << QStringLiteral("abc") << 4990 << false << NotANumber;
        QTest::newRow("empty") << QString() << 4990 << false << NotANumber;
        QTest::newRow("nan") << QStringLiteral("nan") << 4990 << false << NotANumber;
        QTest::newRow("reading 0") << QStringLiteral("0,05") << 0 << true << Bad;
        QTest::newRow("equal counts") << QStringLiteral("0,05") << 2 << true << Bad;
        QTest::newRow("negative gain") << QStringLiteral("0,05") << -4990 << true << Bad;
        QTest::newRow("gain above 65535") << QStringLiteral("0,05") << 5 << true << Bad;
    }
    void referenceFailures()
    {
        QFETCH(QString, entered);
        QFETCH(int, referenceMagnitude);
        QFETCH(bool, measured);
        QFETCH(QString, text);
        TForm6 d;
        d.Data = &data;
        toState(d, 2);
        const QStringList before = memoLines(d.Memo1);
        PauseRecorder pauses;
        ta.setValue(1, referenceMagnitude, 5);
        d.Edit2->setText(entered);
        d.Button2Click();
        QCOMPARE(ta.sends(), measured ? QList<TaRequest>{measurement(1)} : QList<TaRequest>{});
        QCOMPARE(pauses.pauses, measured ? QList<int>{3500} : QList<int>{});
        QCOMPARE(memoLines(d.Memo1), before + QStringList{text} + Report);
        QCOMPARE(d.state(), quint8(0));
        // The neutral constants stay in the module.
        QCOMPARE(ta.memory[23], quint8(16));
        QCOMPARE(ta.memory[24], quint8(39));
    }

    // A failed measurement, of the shorted input or of the reference.
    void measurementFailures_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<bool>("transactionError");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("status");
        for (int state : {1, 2}) {
            QTest::addRow("state %d, reading 0", state)
                << state << false << QStringList{Bad} << QStringLiteral(" ");
            QTest::addRow("state %d, transaction error", state)
                << state << true << QStringList{QStringLiteral("chyba 9")} << QStringLiteral(" chyba 9");
        }
    }
    void measurementFailures()
    {
        QFETCH(int, state);
        QFETCH(bool, transactionError);
        QFETCH(QStringList, lines);
        TForm6 d;
        d.Data = &data;
        toState(d, state);
        const QStringList before = memoLines(d.Memo1);
        ta.setValue(1, 0, 5);
        if (transactionError)
            ta.failSend[1] = 9;
        PauseRecorder pauses;
        d.Button2Click();
        QCOMPARE(ta.sends(), QList<TaRequest>{measurement(1)});
        QCOMPARE(memoLines(d.Memo1), before + lines + Report);
        QTEST(d.statusText(), "status");
        QCOMPARE(d.state(), quint8(0));
        QCOMPARE(pauses.pauses, QList<int>{3500});
    }

    // A transaction error among the final writes keeps state 2: the next
    // "Potvrzení" puts the neutral constants back, measures the reference
    // again and writes all four bytes. Putting them back may fail as well:
    // a transaction error keeps state 2 and measures nothing, a mismatch
    // cancels.
    void finalWriteTransactionError_data()
    {
        QTest::addColumn<int>("failingSend"); // counted from the measurement
        QTest::addColumn<QString>("restoreFailure");
        for (int n = 2; n <= 9; ++n)
            QTest::addRow("send %d", n) << n << QString();
        QTest::newRow("send 8, then restoring fails") << 8 << QStringLiteral("transaction error");
        QTest::newRow("send 8, then restoring mismatches") << 8 << QStringLiteral("mismatch");
    }
    void finalWriteTransactionError()
    {
        QFETCH(int, failingSend);
        QFETCH(QString, restoreFailure);
        PauseRecorder pauses;
        TForm6 d;
        d.Data = &data;
        toState(d, 2);
        const QStringList before = memoLines(d.Memo1);
        const QList<TaRequest> expected =
            QList<TaRequest>{measurement(1)} + verifiedWrites({{25, 16}, {26, 128}, {23, 40}, {24, 39}});
        ta.setValue(1, 4990, 5);
        ta.failSend[failingSend] = 7;
        d.Button2Click();
        QCOMPARE(ta.sends(), expected.mid(0, failingSend));
        QCOMPARE(d.statusText(), QStringLiteral(" chyba 7"));
        QCOMPARE(memoLines(d.Memo1), before);
        QCOMPARE(d.state(), quint8(2));

        const QList<TaRequest> restore = verifiedWrites(neutral(1).mid(1));
        ta.calls.clear();
        ta.failSend.clear();
        if (restoreFailure == QStringLiteral("mismatch")) {
            ta.readBackOverride[24] = 0x55;
            d.Button2Click();
            QCOMPARE(ta.sends(), restore.mid(0, 4));
            QCOMPARE(memoLines(d.Memo1), before + QStringList{Mismatch} + Report);
            QCOMPARE(d.state(), quint8(0));
            return;
        }
        if (!restoreFailure.isEmpty()) {
            ta.failSend[3] = 7; // writing 24 = 39
            d.Button2Click();
            QCOMPARE(ta.sends(), restore.mid(0, 3));
            QCOMPARE(d.statusText(), QStringLiteral(" chyba 7"));
            QCOMPARE(memoLines(d.Memo1), before);
            QCOMPARE(d.state(), quint8(2));
            ta.calls.clear();
            ta.failSend.clear();
        }
        d.Button2Click();
        QCOMPARE(ta.sends(), restore + expected);
        QCOMPARE(pauses.pauses, (QList<int>{3500, 3500, 3500})); // the zero, each reference
        QCOMPARE(d.state(), quint8(0));
        QCOMPARE(memoLines(d.Memo1).mid(before.size(), 2), (QStringList{QString(), Done}));
    }

    // A module whose firmware applies the constants in memory to what it
    // measures, as a real one does: a retry after failed final writes must
    // write exactly the constants of a clean run, wherever the writes failed.
    void retryWritesTheConstantsOfACleanRun_data()
    {
        QTest::addColumn<int>("failingSend"); // counted from the reference measurement
        QTest::newRow("gain high byte not written") << 8;
        QTest::newRow("gain high byte written, read-back lost") << 9;
        QTest::newRow("offset high byte written, read-back lost") << 5;
    }
    void retryWritesTheConstantsOfACleanRun()
    {
        QFETCH(int, failingSend);
        PauseRecorder pauses;
        // Front end errors: gain +2 %, offset +200 uV; reference 0,045 V.
        double volts = 0;
        ta.script = [&](const TaRequest &r, int) { return firmware(r, volts, 0.02, 0.0002); };
        const auto run = [&](int failing) {
            TForm6 d;
            d.Data = &data;
            calibrateWithRetry(
                d, [&] { volts = 0; }, [&] { volts = 0.045; }, QStringLiteral("0,045"), failing, Done);
        };
        run(0);
        const auto constants = [this] {
            return QList<quint8>{ta.memory[23], ta.memory[24], ta.memory[25], ta.memory[26]};
        };
        const QList<quint8> clean = constants();
        QVERIFY(clean != (QList<quint8>{16, 39, 0, 0}));
        run(failingSend);
        QCOMPARE(constants(), clean);
    }

    void finalWriteMismatch_data()
    {
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("sendsMade");
        QTest::newRow("25") << 25 << 3;
        QTest::newRow("26") << 26 << 5;
        QTest::newRow("23") << 23 << 7;
        QTest::newRow("24") << 24 << 9;
    }
    void finalWriteMismatch()
    {
        QFETCH(int, address);
        QFETCH(int, sendsMade);
        TForm6 d;
        d.Data = &data;
        toState(d, 2);
        const QStringList before = memoLines(d.Memo1);
        ta.setValue(1, 4990, 5);
        ta.readBackOverride[address] = 0x55;
        PauseRecorder pauses;
        d.Button2Click();
        QCOMPARE(ta.sends().size(), sendsMade);
        QCOMPARE(memoLines(d.Memo1), before + QStringList{Mismatch} + Report);
        QCOMPARE(d.state(), quint8(0));
    }

    void zrusit_data()
    {
        QTest::addColumn<int>("state");
        QTest::newRow("1") << 1;
        QTest::newRow("2") << 2;
    }
    void zrusit()
    {
        QFETCH(int, state);
        PauseRecorder pauses;
        TForm6 d;
        d.Data = &data;
        toState(d, state);
        const QStringList before = memoLines(d.Memo1);
        // Running: "Kalibrace" does nothing, whatever input is selected.
        d.ComboBox2->setCurrentIndex(4);
        d.Button1Click();
        QCOMPARE(d.state(), quint8(state));
        d.Button4Click();
        QVERIFY(ta.sends().isEmpty());
        QCOMPARE(memoLines(d.Memo1), before + Report);
        QCOMPARE(d.state(), quint8(0));
    }

    void idleButtonsDoNothing()
    {
        PauseRecorder pauses;
        TForm6 d;
        d.Data = &data;
        d.Button2Click();
        d.Button4Click();
        QVERIFY(ta.sends().isEmpty());
        QVERIFY(pauses.pauses.isEmpty());
        QCOMPARE(memoLines(d.Memo1), QStringList{Choose});
        QVERIFY(d.statusText().isEmpty());
    }

    void notConnected_data()
    {
        QTest::addColumn<bool>("connected");
        QTest::addColumn<bool>("handle");
        QTest::newRow("flag false") << false << true;
        QTest::newRow("handle 0") << true << false;
    }
    void notConnected()
    {
        QFETCH(bool, connected);
        QFETCH(bool, handle);
        PauseRecorder pauses;
        TForm6 d;
        d.Data = &data;
        d.Button1Click(); // running, then the connection goes away
        ta.calls.clear();
        const quint32 saved = data.handle;
        data.connected = connected;
        if (!handle)
            data.handle = 0;
        checkNotConnected(d, {&TKalibraceDialog::Button1Click, &TKalibraceDialog::Button2Click,
                              &TKalibraceDialog::Button4Click, &TKalibraceDialog::Timer1Timer});
        QVERIFY(ta.sends().isEmpty());
        QCOMPARE(d.state(), quint8(1));
        data.handle = saved;
    }

    void withoutRecordNothingHappens()
    {
        TForm6 d;
        d.Button1Click();
        d.Button2Click();
        d.Button4Click();
        d.Timer1Timer();
        QVERIFY(ta.sends().isEmpty());
        QVERIFY(d.statusText().isEmpty());
    }

    void liveValue_data()
    {
        QTest::addColumn<int>("magnitude");
        QTest::addColumn<int>("decimals");
        QTest::addColumn<QString>("shown");
        QTest::newRow("4 decimals") << 12345 << 4 << QStringLiteral("1,2345");
        QTest::newRow("negative") << -499 << 5 << QStringLiteral("-0,00499");
        QTest::newRow("bit 7 of D4 ignored") << 12345 << 0x83 << QStringLiteral("12,345");
    }
    void liveValue()
    {
        QFETCH(int, magnitude);
        QFETCH(int, decimals);
        TForm6 d;
        d.Data = &data;
        d.ComboBox2->setCurrentIndex(6);
        ta.setValue(6, magnitude, decimals);
        ta.values[6] |= quint32(decimals & 0x80) << 24;
        d.Timer1Timer();
        QCOMPARE(ta.sends(), QList<TaRequest>{measurement(6)});
        QTEST(d.Edit3->text(), "shown");
    }

    // The live value follows the selector, not the reference input of a
    // running calibration; an error empties it.
    void liveValueDuringCalibrationAndOnError()
    {
        TForm6 d;
        d.Data = &data;
        d.Button1Click();
        d.ComboBox2->setCurrentIndex(9);
        data.moduleAddress = 6;
        ta.calls.clear();
        ta.setValue(9, 1, 0);
        d.Timer1Timer();
        QCOMPARE(ta.sends(), QList<TaRequest>{measurement(9, 6)});
        QCOMPARE(d.Edit3->text(), QStringLiteral("1"));
        ta.failSend[2] = 3;
        d.Timer1Timer();
        QVERIFY(d.Edit3->text().isEmpty());
        QCOMPARE(d.statusText(), QStringLiteral(" chyba 3"));
        QCOMPARE(d.state(), quint8(1));
    }

    // Minimising is no closing: the live value keeps coming, as in the
    // monitors.
    void timerRunsWhileMinimised()
    {
        struct SpontaneousHides : QObject
        {
            int count = 0;
            bool eventFilter(QObject *, QEvent *event) override
            {
                count += event->type() == QEvent::Hide && event->spontaneous();
                return false;
            }
        } hides;
        TForm6 d;
        d.Data = &data;
        d.installEventFilter(&hides);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        d.showMinimized();
        QTRY_VERIFY(hides.count > 0);
        QVERIFY(d.Timer1->isActive());
        d.showNormal();
        QTRY_VERIFY(!d.isMinimized());
        QVERIFY(d.Timer1->isActive());
        d.hide();
        QVERIFY(!d.Timer1->isActive());
    }

    void cancelClosesWithoutWriting()
    {
        TForm6 d;
        d.Data = &data;
        d.show();
        QVERIFY(d.Timer1->isActive());
        d.Button1Click();
        ta.calls.clear();
        const QStringList before = memoLines(d.Memo1);
        d.Button3Click();
        QVERIFY(!d.isVisible());
        QVERIFY(!d.Timer1->isActive());
        QCOMPARE(d.result(), int(QDialog::Rejected));
        QVERIFY(ta.sends().isEmpty());
        QCOMPARE(memoLines(d.Memo1), before);
    }
};

QTEST_MAIN(TestKalibraceAIN)
#include "tst_kalibraceain.moc"
