#include "ConfigTest.h"
#include "config/NastavAIN3530.h"
#include "support/Hooks.h"

#include <QLabel>

using Dialog = Recording<TForm13b>;

class TestNastavAIN3530 : public QObject
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
        QCOMPARE(d.windowTitle(), QStringLiteral("Nastavení analogových vstupů RQ-3530"));
        for (int n = 1; n <= 18; ++n)
            QCOMPARE(d.findChild<QComboBox *>(QStringLiteral("ComboBox") + QString::number(n)),
                     d.ComboBox[std::size_t(n - 1)]);
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(d.sensor(i)->currentText(), QStringLiteral("5 kohm"));
            QCOMPARE(d.unit(i)->currentText(), QStringLiteral("ohm"));
            QCOMPARE(d.wiring(i)->currentText(), QStringLiteral("4 vodiče"));
        }
        QCOMPARE(d.sensor(0)->count(), 9);
        QCOMPARE(Items(d.unit(5)), (QStringList{QStringLiteral("ohm"), QStringLiteral("Kelvin"),
                                                QStringLiteral("°C"), QStringLiteral("°F")}));
        QCOMPARE(d.wiring(5)->count(), 3);
        QStringList heads;
        for (QLabel *l : d.findChildren<QLabel *>())
            if (l->objectName().isEmpty())
                heads << l->text();
        QCOMPARE(heads, (QStringList{QStringLiteral("Rozsah"), QStringLiteral("Jednotka"),
                                     QStringLiteral("Připojení")}));
    }

    void packing_data()
    {
        QTest::addColumn<int>("sensor");
        QTest::addColumn<int>("unit");
        QTest::addColumn<int>("wiring");
        QTest::addColumn<int>("byte");
        QTest::newRow("Pt100, °C, 3 wires") << 4 << 2 << 1 << 0x64;
        QTest::newRow("KTY10, °F, 2 wires") << 8 << 3 << 0 << 0x38;
        QTest::newRow("5 kohm, ohm, 4 wires") << 3 << 0 << 2 << 0x83;
        QTest::newRow("Ni1000, Kelvin, 4 wires") << 7 << 1 << 2 << 0x97;
    }
    void packing()
    {
        QFETCH(int, sensor);
        QFETCH(int, unit);
        QFETCH(int, wiring);
        QFETCH(int, byte);
        PauseRecorder pauses;
        Dialog d(&data);
        d.sensor(2)->setCurrentIndex(sensor);
        d.unit(2)->setCurrentIndex(unit);
        d.wiring(2)->setCurrentIndex(wiring);
        d.Button1Click();
        QCOMPARE(ta.sends().mid(4, 2), WriteRequests({{2, byte}}));
        QCOMPARE(ta.memory[2], byte);
        d.Button3Click();
        QCOMPARE(data.cfg.sensors3530[2], byte);
        QCOMPARE(data.cfg.sensors3530[1], 0x83);
    }

    // Codes outside the lists show no item and keep their bits when taken.
    void byteE9()
    {
        PauseRecorder pauses;
        ta.memory[0] = 0xE9;
        ta.memory[5] = 0x64;
        Dialog d(&data);
        d.Button2Click();
        QCOMPARE(ta.sends(), ReadRequests({0, 1, 2, 3, 4, 5}));
        QCOMPARE(d.texts, ProgressTexts(true, {16, 33, 50, 66, 83, 100}));
        QCOMPARE(d.sensor(0)->currentIndex(), -1);
        QCOMPARE(d.unit(0)->currentText(), QStringLiteral("°C"));
        QCOMPARE(d.wiring(0)->currentIndex(), -1);
        QCOMPARE(d.sensor(5)->currentText(), QStringLiteral("Pt100 (0.00385)"));
        QCOMPARE(d.wiring(5)->currentText(), QStringLiteral("3 vodiče"));
        d.PrectiOkno(d.Work);
        QCOMPARE(d.Work.sensors3530[0], 0xE9);
        d.unit(0)->setCurrentIndex(1);
        ta.calls.clear();
        d.texts.clear();
        d.Button1Click();
        QCOMPARE(d.texts, ProgressTexts(false, {16, 33, 50, 66, 83, 100}));
        QCOMPARE(ta.sends().mid(0, 2), WriteRequests({{0, 0xD9}}));
        QCOMPARE(ta.sends().size(), 12);
    }
};

QTEST_MAIN(TestNastavAIN3530)
#include "tst_nastavain3530.moc"
