#include "ConfigTest.h"
#include "config/NastavAIN3510.h"
#include "support/Hooks.h"

#include <QLabel>
#include <QPushButton>

using Dialog = Recording<TForm13>;

namespace {
QList<int> shown(const TForm13 &d)
{
    QList<int> list;
    for (QComboBox *b : d.ComboBox)
        list << b->currentIndex();
    return list;
}
const QList<int> Figures12{8, 16, 25, 33, 41, 50, 58, 66, 75, 83, 91, 100};
const QList<int> Addresses12{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
} // namespace

class TestNastavAIN3510 : public QObject
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
        QCOMPARE(d.windowTitle(), QStringLiteral("Nastavení analogových vstupů RQ-3510"));
        for (int i = 0; i < 12; ++i) {
            const QString n = QString::number(i);
            QCOMPARE(d.findChild<QComboBox *>(QStringLiteral("ComboBox") + QString::number(i + 1)),
                     d.ComboBox[std::size_t(i)]);
            QCOMPARE(d.findChild<QLabel *>(QStringLiteral("LabelAIN") + n)->text(),
                     QStringLiteral("AIN") + n);
            // Odd inputs measure voltage only.
            QCOMPARE(d.ComboBox[std::size_t(i)]->count(), i % 2 ? 7 : 11);
            QCOMPARE(d.ComboBox[std::size_t(i)]->currentText(), QStringLiteral("+/- 2 V"));
        }
        QCOMPARE(Items(d.ComboBox[0]).last(), QStringLiteral("5 kohm"));
        QCOMPARE(Items(d.ComboBox[1]).last(), QStringLiteral("+/- 2 V"));
        int heads = 0;
        for (QLabel *l : d.findChildren<QLabel *>())
            heads += l->text() == QStringLiteral("Rozsah");
        QCOMPARE(heads, 2);
    }

    void readAndWrite()
    {
        PauseRecorder pauses;
        for (int i = 0; i < 12; ++i)
            ta.memory[std::size_t(i)] = quint8(i % 7);
        ta.memory[0] = 8;  // "500 ohm"
        ta.memory[1] = 8;  // not offered by AIN1
        ta.memory[2] = 11; // not offered by any input
        Dialog d(&data);
        d.Button2Click();
        QCOMPARE(ta.sends(), ReadRequests(Addresses12));
        QCOMPARE(d.texts, ProgressTexts(true, Figures12));
        QCOMPARE(pauses.pauses, QList<int>(12, 1));
        QCOMPARE(d.ComboBox[0]->currentText(), QStringLiteral("500 ohm"));
        QCOMPARE(shown(d), (QList<int>{8, -1, -1, 3, 4, 5, 6, 0, 1, 2, 3, 4}));

        // An empty selector keeps the module's code, so the byte goes back unchanged.
        ta.calls.clear();
        d.texts.clear();
        d.ComboBox[4]->setCurrentIndex(10);
        d.Button1Click();
        QCOMPARE(ta.sends(), WriteRequests({{0, 8},
                                            {1, 8},
                                            {2, 11},
                                            {3, 3},
                                            {4, 10},
                                            {5, 5},
                                            {6, 6},
                                            {7, 0},
                                            {8, 1},
                                            {9, 2},
                                            {10, 3},
                                            {11, 4}}));
        QCOMPARE(d.texts, ProgressTexts(false, Figures12));
        QCOMPARE(d.statusText(), QStringLiteral(" Konfigurace zapsána."));
    }

    void readFailsAtStep5()
    {
        PauseRecorder pauses;
        for (int i = 0; i < 12; ++i)
            ta.memory[std::size_t(i)] = quint8(i % 7);
        ta.failSend[5] = 2;
        Dialog d(&data);
        d.Button2Click();
        QCOMPARE(d.statusText(), QStringLiteral(" chyba 2"));
        QCOMPARE(ta.sends().size(), 5);
        QCOMPARE(shown(d), (QList<int>{0, 1, 2, 3, 6, 6, 6, 6, 6, 6, 6, 6}));
    }

    void writeMismatchAtStep3()
    {
        PauseRecorder pauses;
        ta.readBackOverride[2] = 0x77;
        Dialog d(&data);
        for (QComboBox *b : d.ComboBox)
            b->setCurrentIndex(1);
        d.Button1Click();
        QCOMPARE(d.statusText(), QStringLiteral(" Chyba zápisu dat."));
        QCOMPARE(ta.sends(), WriteRequests({{0, 1}, {1, 1}, {2, 1}}));
        QCOMPARE(ta.memory[3], 6);
    }

    void okAndCancel()
    {
        PauseRecorder pauses;
        ta.memory[0] = 9;
        {
            Dialog d(&data);
            d.Button2Click();
            d.Button4Click();
            QCOMPARE(d.result(), int(QDialog::Rejected));
        }
        QCOMPARE(data.cfg.ranges3510[0], 6);
        {
            Dialog d(&data);
            QCOMPARE(d.ComboBox[0]->currentText(), QStringLiteral("+/- 2 V"));
            d.Button2Click();
            d.ComboBox[1]->setCurrentIndex(3);
            d.Button3Click();
            QCOMPARE(d.result(), int(QDialog::Accepted));
        }
        QCOMPARE(data.cfg.ranges3510[0], 9);
        QCOMPARE(data.cfg.ranges3510[1], 3);
        // "Ok" without a connection stores and sends nothing.
        DisconnectTestRecord(data);
        ta.calls.clear();
        Dialog d(&data);
        d.ComboBox[2]->setCurrentIndex(0);
        d.Button2Click();
        QCOMPARE(d.statusText(), QStringLiteral(" Připojení k modulu není inicializováno."));
        d.Button3Click();
        QCOMPARE(data.cfg.ranges3510[2], 0);
        QCOMPARE(ta.sends().size(), 0);
    }

    // While "Přečíst" runs no second transfer starts; Cancel ends it after the
    // byte in flight and closes the dialog without storing.
    void transferGuard()
    {
        PauseRecorder pauses;
        ta.memory[0] = 1;
        Dialog d(&data);
        d.show();
        int step = 0;
        pauses.onPause = [&](int) {
            ++step;
            if (step == 2) {
                QVERIFY(!d.Button1->isEnabled());
                QVERIFY(!d.Button2->isEnabled());
                QVERIFY(!d.Button3->isEnabled());
                d.Button2Click();
                d.Button1Click();
                d.Button3Click();
                d.Button2->click();
            }
            if (step == 3)
                d.close(); // the window's close button
        };
        d.Button2Click();
        QCOMPARE(ta.sends(), ReadRequests({0, 1, 2}));
        QVERIFY(!d.isVisible());
        QCOMPARE(d.result(), int(QDialog::Rejected));
        QCOMPARE(data.cfg.ranges3510[0], 6);
        QVERIFY(d.Button2->isEnabled());
    }
};

QTEST_MAIN(TestNastavAIN3510)
#include "tst_nastavain3510.moc"
