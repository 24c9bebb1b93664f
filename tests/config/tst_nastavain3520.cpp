#include "ConfigTest.h"
#include "config/NastavAIN3520.h"
#include "support/Hooks.h"

#include <QLabel>
#include <QLineEdit>

using Dialog = Recording<TForm13a>;

class TestNastavAIN3520 : public QObject
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
        QCOMPARE(d.windowTitle(), QStringLiteral("Nastavení analogových vstupů RQ-3520"));
        for (int i = 0; i < 12; ++i) {
            QComboBox *b = d.findChild<QComboBox *>(QStringLiteral("ComboBox") + QString::number(i + 1));
            QCOMPARE(b, d.ComboBox[std::size_t(i)]);
            QCOMPARE(b->count(), 15);
            QCOMPARE(b->currentText(), QStringLiteral("+/- 500 mV"));
        }
        QCOMPARE(Items(d.ComboBox[11]).mid(4, 2),
                 (QStringList{QStringLiteral("+/- 500 mV"), QStringLiteral("TC typ M")}));
        QCOMPARE(Items(d.ComboBox[11]).last(), QStringLiteral("TC typ A"));
        QCOMPARE(d.Label15->text(), QStringLiteral("Počet měřených vstupů (1-12)"));
        QCOMPARE(d.Edit1->text(), QStringLiteral("12"));
    }

    void countVisibility_data()
    {
        QTest::addColumn<QString>("identity");
        QTest::addColumn<bool>("visible");
        QTest::newRow("1.07") << QStringLiteral("RQ-3520  v.1.07") << true;
        QTest::newRow("1.06") << QStringLiteral("RQ-3520  v.1.06") << false;
        QTest::newRow("2.00") << QStringLiteral("RQ-3520  v.2.00") << true;
        QTest::newRow("1.10") << QStringLiteral("RQ-3520  v.1.10") << true;
        QTest::newRow("14 characters") << QStringLiteral("RQ-3520  v.1.0") << false;
        QTest::newRow("none") << QString() << false;
        QTest::newRow("not digits") << QStringLiteral("RQ-3520  v.1.0x") << false;
        QTest::newRow("blanks") << QStringLiteral("RQ-3520  v.    ") << false;
    }
    void countVisibility()
    {
        QFETCH(QString, identity);
        QFETCH(bool, visible);
        data.identity = identity;
        TForm13a d;
        d.Data = &data;
        d.show();
        QCOMPARE(d.Label15->isVisible(), visible);
        QCOMPARE(d.Edit1->isVisible(), visible);
    }

    void readAndWrite()
    {
        PauseRecorder pauses;
        for (int i = 0; i < 12; ++i)
            ta.memory[std::size_t(i)] = quint8(i + 3);
        ta.memory[16] = 7;
        Dialog d(&data);
        d.Button2Click();
        QList<int> addresses{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 16};
        QCOMPARE(ta.sends(), ReadRequests(addresses));
        const QList<int> figures{7, 15, 23, 30, 38, 46, 53, 61, 69, 76, 84, 92, 100};
        QCOMPARE(d.texts, ProgressTexts(true, figures));
        QCOMPARE(d.ComboBox[0]->currentText(), QStringLiteral("+/- 200 mV"));
        QCOMPARE(d.ComboBox[11]->currentText(), QStringLiteral("TC typ A"));
        QCOMPARE(d.Edit1->text(), QStringLiteral("7"));

        ta.calls.clear();
        d.texts.clear();
        d.ComboBox[0]->setCurrentIndex(13);
        d.Edit1->setText(QStringLiteral("12"));
        d.Button1Click();
        QList<std::pair<int, int>> bytes;
        for (int i = 0; i < 12; ++i)
            bytes.append({i, i == 0 ? 13 : i + 3});
        bytes.append({16, 12});
        QCOMPARE(ta.sends(), WriteRequests(bytes));
        QCOMPARE(d.texts, ProgressTexts(false, figures));
    }

    void codeAboveList()
    {
        PauseRecorder pauses;
        ta.memory[5] = 15;
        Dialog d(&data);
        d.Button2Click();
        QCOMPARE(d.ComboBox[5]->currentIndex(), -1);
        d.Button3Click();
        QCOMPARE(data.cfg.ranges3520[5], 15); // kept, not invented
    }

    void count_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::newRow("1") << QStringLiteral("1") << true;
        QTest::newRow("12") << QStringLiteral("12") << true;
        QTest::newRow("0") << QStringLiteral("0") << false;
        QTest::newRow("13") << QStringLiteral("13") << false;
        QTest::newRow("257") << QStringLiteral("257") << false;
        QTest::newRow("-1") << QStringLiteral("-1") << false;
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("letters") << QStringLiteral("six") << false;
    }
    void count()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        PauseRecorder pauses;
        Dialog d(&data);
        d.ComboBox[0]->setCurrentIndex(7);
        d.Edit1->setText(text);
        d.Button1Click();
        if (valid) {
            QCOMPARE(d.statusText(), QStringLiteral(" Konfigurace zapsána."));
            QCOMPARE(ta.memory[16], text.toInt());
        } else {
            QCOMPARE(d.statusText(), QStringLiteral(" Chyba Počet měřených vstupů"));
            QCOMPARE(ta.sends().size(), 0);
            // The ranges were taken before the count failed.
            QCOMPARE(d.Work.ranges3520[0], 7);
            QCOMPARE(d.Work.inputCount, 12);
        }
        d.Button3Click();
        QCOMPARE(data.cfg.ranges3520[0], valid ? 7 : 4);
        QCOMPARE(data.cfg.inputCount, valid ? text.toInt() : 12);
    }

    // The count is transferred and checked also when its controls are hidden.
    void hiddenCountZeroBlocks()
    {
        PauseRecorder pauses;
        data.identity = QStringLiteral("RQ-3520  v.1.06");
        ta.memory[16] = 0;
        Dialog d(&data);
        d.show();
        QVERIFY(!d.Edit1->isVisible());
        d.Button2Click();
        ta.calls.clear();
        d.Button1Click();
        QCOMPARE(d.statusText(), QStringLiteral(" Chyba Počet měřených vstupů"));
        QCOMPARE(ta.sends().size(), 0);
        d.Button3Click();
        QCOMPARE(data.cfg.ranges3520[0], 4);
        QCOMPARE(data.cfg.inputCount, 12);
    }

    void countStepFails()
    {
        PauseRecorder pauses;
        ta.failSend[13] = 9;
        ta.memory[11] = 14;
        Dialog d(&data);
        d.Button2Click();
        QCOMPARE(d.statusText(), QStringLiteral(" chyba 9"));
        QCOMPARE(d.ComboBox[11]->currentText(), QStringLiteral("TC typ A"));
    }
};

QTEST_MAIN(TestNastavAIN3520)
#include "tst_nastavain3520.moc"
