#include "ConfigTest.h"
#include "config/NastavAdr.h"
#include "support/Hooks.h"

#include <QLabel>
#include <QLineEdit>

using Dialog = Recording<TForm12>;

class TestNastavAdr : public QObject
{
    Q_OBJECT
    TestAdapter &ta = TestAdapter::instance();
    TData data;

private slots:
    void init() { ConnectTestRecord(data); }
    void cleanup() { DisconnectTestRecord(data); }

    void defaults()
    {
        Dialog d(&data);
        QCOMPARE(d.windowTitle(), QStringLiteral("Nastavení komunikační adresy a rychlosti"));
        QCOMPARE(d.Label1->text(), QStringLiteral("Adresa modulu  (0-255)"));
        QCOMPARE(d.Label2->text(), QStringLiteral("Komunikační rychlost"));
        QCOMPARE(Items(d.ComboBox1),
                 (QStringList{QStringLiteral("600 Bd"), QStringLiteral("1200 Bd"), QStringLiteral("2400 Bd"),
                              QStringLiteral("4800 Bd"), QStringLiteral("9600 Bd"),
                              QStringLiteral("19200 Bd"), QStringLiteral("38400 Bd"),
                              QStringLiteral("57600 Bd"), QStringLiteral("115200 Bd")}));
        QVERIFY(!d.ComboBox1->isEditable());
        QCOMPARE(d.Edit1->text(), QStringLiteral("1"));
        QCOMPARE(d.ComboBox1->currentText(), QStringLiteral("9600 Bd"));
        QCOMPARE(d.statusText(), QStringLiteral(" "));
    }

    void readThenWrite()
    {
        PauseRecorder pauses;
        ta.memory[63] = 17;
        ta.memory[62] = 8;
        Dialog d(&data);
        d.Button2Click();
        QCOMPARE(ta.sends(), ReadRequests({63, 62}));
        QCOMPARE(d.texts, ProgressTexts(true, {50, 100}));
        QCOMPARE(d.Edit1->text(), QStringLiteral("17"));
        QCOMPARE(d.ComboBox1->currentText(), QStringLiteral("115200 Bd"));

        ta.calls.clear();
        d.texts.clear();
        d.Edit1->setText(QStringLiteral("200"));
        d.ComboBox1->setCurrentIndex(2);
        d.Button1Click();
        QCOMPARE(ta.sends(), WriteRequests({{63, 200}, {62, 2}}));
        QCOMPARE(d.texts, ProgressTexts(false, {50, 100}));
        QCOMPARE(ta.memory[63], 200);
        QCOMPARE(ta.memory[62], 2);
        // The module's own setting changed, not the connection's.
        QCOMPARE(data.moduleAddress, TestModule);
        QCOMPARE(data.baudRate, 9600u);
        QCOMPARE(data.cfg.configuredAddress, 1);
        d.Button3Click();
        QCOMPARE(data.cfg.configuredAddress, 200);
        QCOMPARE(data.cfg.configuredBaudIndex, 2);
    }

    void validation_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("baud");
        QTest::addColumn<QString>("message"); // empty: valid
        const QString addressMessage = QStringLiteral(" Adresa modulu musí být v rozsahu 0-255.");
        const QString baudMessage =
            QStringLiteral(" Komunikační rychlost musí být v rozsahu 600Bd-115200Bd.");
        QTest::newRow("255") << QStringLiteral("255") << 4 << QString();
        QTest::newRow("0") << QStringLiteral("0") << 0 << QString();
        QTest::newRow("$FF") << QStringLiteral("$FF") << 8 << QString();
        QTest::newRow("256") << QStringLiteral("256") << 4 << addressMessage;
        QTest::newRow("-1") << QStringLiteral("-1") << 4 << addressMessage;
        QTest::newRow("empty") << QString() << 4 << addressMessage;
        QTest::newRow("letters") << QStringLiteral("12a") << 4 << addressMessage;
        QTest::newRow("bad address, no baud") << QStringLiteral("300") << -1 << addressMessage;
        QTest::newRow("no baud") << QStringLiteral("12") << -1 << baudMessage;
    }
    void validation()
    {
        QFETCH(QString, address);
        QFETCH(int, baud);
        QFETCH(QString, message);
        PauseRecorder pauses;
        Dialog d(&data);
        d.Edit1->setText(address);
        d.ComboBox1->setCurrentIndex(baud);
        d.Button1Click();
        if (message.isEmpty()) {
            QCOMPARE(d.statusText(), QStringLiteral(" Konfigurace zapsána."));
            QCOMPARE(ta.sends().size(), 4);
        } else {
            QCOMPARE(d.statusText(), message);
            QCOMPARE(ta.sends().size(), 0);
        }
        d.Button3Click();
        QCOMPARE(d.result(), int(QDialog::Accepted));
        // "Ok" stores only a valid take; the address alone is never stored.
        QCOMPARE(data.cfg.configuredAddress, message.isEmpty() ? *ParseNumberInRange(address, 0, 255) : 1);
        QCOMPARE(data.cfg.configuredBaudIndex, message.isEmpty() ? baud : 4);
    }

    void baudIndexAboveList()
    {
        PauseRecorder pauses;
        ta.memory[62] = 9;
        Dialog d(&data);
        d.Button2Click();
        QCOMPARE(d.ComboBox1->currentIndex(), -1);
        ta.calls.clear();
        d.Button1Click();
        QCOMPARE(d.statusText(), QStringLiteral(" Komunikační rychlost musí být v rozsahu 600Bd-115200Bd."));
        QCOMPARE(ta.sends().size(), 0);
        d.ComboBox1->setCurrentIndex(5);
        d.Button1Click();
        QCOMPARE(d.statusText(), QStringLiteral(" Konfigurace zapsána."));
        QCOMPARE(ta.memory[62], 5);
    }

    // The address is written and verified, the baud step fails: the module
    // holds the new address beside its former baud index.
    void baudStepFails()
    {
        PauseRecorder pauses;
        ta.failSend[3] = 6;
        Dialog d(&data);
        d.Edit1->setText(QStringLiteral("33"));
        d.ComboBox1->setCurrentIndex(7);
        d.Button1Click();
        QCOMPARE(d.statusText(), QStringLiteral(" chyba 6"));
        QCOMPARE(ta.memory[63], 33);
        QCOMPARE(ta.memory[62], 4);
    }
};

QTEST_MAIN(TestNastavAdr)
#include "tst_nastavadr.moc"
