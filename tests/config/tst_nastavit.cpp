#include "ConfigTest.h"
#include "config/NastavIT.h"
#include "support/Hooks.h"

#include <QGroupBox>
#include <QRadioButton>

using Dialog = Recording<TForm4>;

class TestNastavIT : public QObject
{
    Q_OBJECT
    TestAdapter &ta = TestAdapter::instance();
    TData data;

private slots:
    void init() { ConnectTestRecord(data); }
    void cleanup() { DisconnectTestRecord(data); }

    void controls()
    {
        Dialog d(&data);
        QCOMPARE(d.windowTitle(), QStringLiteral(" Nastavení interního teploměru"));
        QCOMPARE(d.GroupBox1->title(), QStringLiteral(" Měření teploty "));
        QCOMPARE(d.GroupBox2->title(), QStringLiteral(" Jednotka "));
        QCOMPARE(d.RadioButton1->text(), QStringLiteral("vypnuto"));
        QCOMPARE(d.RadioButton2->text(), QStringLiteral("zapnuto"));
        QCOMPARE(d.RadioButton3->text(), QStringLiteral("dílky"));
        QCOMPARE(d.RadioButton4->text(), QStringLiteral("°C"));
        QVERIFY(d.RadioButton2->isChecked());
        QVERIFY(d.RadioButton4->isChecked());
        // One choice per group.
        d.RadioButton1->click();
        QVERIFY(!d.RadioButton2->isChecked());
        QVERIFY(d.RadioButton4->isChecked());
    }

    void shownAndTaken_data()
    {
        QTest::addColumn<int>("byte");
        QTest::addColumn<bool>("on");
        QTest::addColumn<bool>("celsius");
        QTest::addColumn<int>("written");
        QTest::newRow("0x7F") << 0x7F << false << true << 0x01;
        QTest::newRow("0x80") << 0x80 << true << false << 0x80;
        QTest::newRow("0x81") << 0x81 << true << true << 0x81;
        QTest::newRow("0x00") << 0x00 << false << false << 0x00;
        QTest::newRow("0xFE") << 0xFE << true << false << 0x80;
    }
    void shownAndTaken()
    {
        QFETCH(int, byte);
        QFETCH(bool, on);
        QFETCH(bool, celsius);
        QFETCH(int, written);
        PauseRecorder pauses;
        ta.memory[31] = quint8(byte);
        Dialog d(&data);
        d.Button2Click();
        QCOMPARE(ta.sends(), ReadRequests({31}));
        QCOMPARE(d.texts, ProgressTexts(true, {100}));
        QCOMPARE(d.RadioButton2->isChecked(), on);
        QCOMPARE(d.RadioButton1->isChecked(), !on);
        QCOMPARE(d.RadioButton4->isChecked(), celsius);
        QCOMPARE(d.RadioButton3->isChecked(), !celsius);
        ta.calls.clear();
        d.texts.clear();
        d.Button1Click();
        QCOMPARE(ta.sends(), WriteRequests({{31, written}}));
        QCOMPARE(d.texts, ProgressTexts(false, {100}));
        d.Button3Click();
        QCOMPARE(data.cfg.thermometer, written);
    }
};

QTEST_MAIN(TestNastavIT)
#include "tst_nastavit.moc"
