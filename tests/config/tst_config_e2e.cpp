// The connection dialog and every settings dialog against the module
// simulator, through the real LAN converter library.
#include "app/Dekl.h"
#include "comm/Kxxx638.h"
#include "comm/Pripojeni.h"
#include "config/NastavAIN3510.h"
#include "config/NastavAIN3520.h"
#include "config/NastavAIN3530.h"
#include "config/NastavAdr.h"
#include "config/NastavIT.h"
#include "support/SimProcess.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>

class TestConfigEndToEnd : public QObject
{
    Q_OBJECT
    SimProcess sim;
    TData data;

    // Connects to the module at the address through TForm2, as a user would.
    bool connectTo(int address)
    {
        TForm2 d;
        d.Data = &data;
        d.FormShow();
        d.ComboBox2->setCurrentIndex(4);
        d.Edit2->setText(QStringLiteral("127.0.0.1"));
        d.Edit3->setText(QString::number(sim.udpPort()));
        d.Edit4->setText(QStringLiteral("500"));
        d.Edit1->setText(QString::number(address));
        d.ComboBox1->setCurrentIndex(4);
        d.Button1Click();
        if (!data.connected)
            qWarning() << d.Panel1->text();
        return data.connected && d.Panel1->text().startsWith(QStringLiteral("Připojení úspěšně"));
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(sim.start({QStringLiteral("--module"), QStringLiteral("1:3510:1.08"),
                            QStringLiteral("--module"), QStringLiteral("2:3520:1.07"),
                            QStringLiteral("--module"), QStringLiteral("3:3530:1.08")}),
                 qPrintable(sim.errorString()));
        SetDefaults(&data);
    }
    void cleanupTestCase()
    {
        if (data.connected)
            CloseAdapter(data.adapterKind, &data.handle);
    }

    void connectAndIdentify()
    {
        QVERIFY(connectTo(2));
        QCOMPARE(data.identity, QStringLiteral("RQ-3520  v.1.07"));
        QCOMPARE(data.moduleAddress, quint8(2));
        QCOMPARE(data.statusText, QStringLiteral("V pořádku"));
        // A second setup replaces the first connection.
        QVERIFY(connectTo(1));
        QCOMPARE(data.identity, QStringLiteral("RQ-3510  v.1.08"));
    }

    void addressAndBaud()
    {
        QVERIFY(connectTo(1));
        TForm12 d;
        d.Data = &data;
        d.FormShow();
        d.Button2Click();
        QCOMPARE(d.statusText(), QStringLiteral(" Konfigurace přečtena."));
        QCOMPARE(d.Edit1->text(), QStringLiteral("1"));
        QCOMPARE(d.ComboBox1->currentText(), QStringLiteral("9600 Bd"));
        d.Edit1->setText(QStringLiteral("77"));
        d.ComboBox1->setCurrentIndex(8);
        d.Button1Click();
        QCOMPARE(d.statusText(), QStringLiteral(" Konfigurace zapsána."));
        QCOMPARE(sim.memoryByte(1, 63), 77);
        QCOMPARE(sim.memoryByte(1, 62), 8);
        d.Edit1->setText(QStringLiteral("3"));
        d.ComboBox1->setCurrentIndex(0);
        d.Button2Click(); // the module still answers under its former address
        QCOMPARE(d.Edit1->text(), QStringLiteral("77"));
        QCOMPARE(d.ComboBox1->currentText(), QStringLiteral("115200 Bd"));
        // Put the module's own setting back for the later tests.
        d.Edit1->setText(QStringLiteral("1"));
        d.ComboBox1->setCurrentIndex(4);
        d.Button1Click();
        QCOMPARE(sim.memoryByte(1, 63), 1);
        d.Button3Click();
        QCOMPARE(data.cfg.configuredAddress, 1);
    }

    void ranges3510()
    {
        QVERIFY(connectTo(1));
        TForm13 d;
        d.Data = &data;
        d.FormShow();
        d.Button2Click();
        QCOMPARE(d.statusText(), QStringLiteral(" Konfigurace přečtena."));
        for (QComboBox *b : d.ComboBox)
            QCOMPARE(b->currentText(), QStringLiteral("+/- 2 V"));
        for (int i = 0; i < 12; ++i)
            d.ComboBox[std::size_t(i)]->setCurrentIndex(i % 2 ? i % 7 : 10 - i / 2);
        d.Button1Click();
        QCOMPARE(d.statusText(), QStringLiteral(" Konfigurace zapsána."));
        for (int i = 0; i < 12; ++i)
            QCOMPARE(sim.memoryByte(1, i), i % 2 ? i % 7 : 10 - i / 2);
        for (QComboBox *b : d.ComboBox)
            b->setCurrentIndex(0);
        d.Button2Click();
        for (int i = 0; i < 12; ++i)
            QCOMPARE(d.ComboBox[std::size_t(i)]->currentIndex(), i % 2 ? i % 7 : 10 - i / 2);
        d.Button3Click();
        QCOMPARE(data.cfg.ranges3510[0], 10);
    }

    void ranges3520()
    {
        QVERIFY(connectTo(2));
        TForm13a d;
        d.Data = &data;
        d.show();
        QVERIFY(d.Edit1->isVisible()); // firmware 1.07
        d.Button2Click();
        QCOMPARE(d.ComboBox[0]->currentText(), QStringLiteral("+/- 500 mV"));
        QCOMPARE(d.Edit1->text(), QStringLiteral("12"));
        for (int i = 0; i < 12; ++i)
            d.ComboBox[std::size_t(i)]->setCurrentIndex(14 - i);
        d.Edit1->setText(QStringLiteral("8"));
        d.Button1Click();
        QCOMPARE(d.statusText(), QStringLiteral(" Konfigurace zapsána."));
        QCOMPARE(sim.memoryByte(2, 0), 14);
        QCOMPARE(sim.memoryByte(2, 11), 3);
        QCOMPARE(sim.memoryByte(2, 16), 8);
        d.Edit1->setText(QStringLiteral("1"));
        d.ComboBox[5]->setCurrentIndex(0);
        d.Button2Click();
        QCOMPARE(d.Edit1->text(), QStringLiteral("8"));
        QCOMPARE(d.ComboBox[5]->currentText(), QStringLiteral("TC typ E"));
        d.Button3Click();
        QCOMPARE(data.cfg.inputCount, 8);
        QCOMPARE(data.cfg.ranges3520[5], 9);
    }

    void sensors3530()
    {
        QVERIFY(connectTo(3));
        TForm13b d;
        d.Data = &data;
        d.FormShow();
        d.Button2Click();
        QCOMPARE(d.sensor(0)->currentText(), QStringLiteral("5 kohm"));
        QCOMPARE(d.wiring(0)->currentText(), QStringLiteral("4 vodiče"));
        d.sensor(1)->setCurrentIndex(4);
        d.unit(1)->setCurrentIndex(2);
        d.wiring(1)->setCurrentIndex(1);
        d.sensor(4)->setCurrentIndex(8);
        d.unit(4)->setCurrentIndex(3);
        d.wiring(4)->setCurrentIndex(0);
        d.Button1Click();
        QCOMPARE(d.statusText(), QStringLiteral(" Konfigurace zapsána."));
        QCOMPARE(sim.memoryByte(3, 1), 0x64);
        QCOMPARE(sim.memoryByte(3, 4), 0x38);
        QVERIFY(sim.setMemoryByte(3, 5, 0xE9));
        d.Button2Click();
        QCOMPARE(d.sensor(1)->currentText(), QStringLiteral("Pt100 (0.00385)"));
        QCOMPARE(d.unit(4)->currentText(), QStringLiteral("°F"));
        QCOMPARE(d.sensor(5)->currentIndex(), -1);
        QCOMPARE(d.unit(5)->currentText(), QStringLiteral("°C"));
        d.Button3Click();
        QCOMPARE(data.cfg.sensors3530[5], 0xE9);
    }

    void thermometer()
    {
        QVERIFY(connectTo(1));
        QVERIFY(sim.setMemoryByte(1, 31, 0x7F));
        TForm4 d;
        d.Data = &data;
        d.FormShow();
        d.Button2Click();
        QVERIFY(d.RadioButton1->isChecked());
        QVERIFY(d.RadioButton4->isChecked());
        d.Button1Click();
        QCOMPARE(sim.memoryByte(1, 31), 0x01);
        d.RadioButton2->setChecked(true);
        d.RadioButton3->setChecked(true);
        d.Button1Click();
        QCOMPARE(sim.memoryByte(1, 31), 0x80);
        d.RadioButton1->setChecked(true);
        d.Button2Click();
        QVERIFY(d.RadioButton2->isChecked());
        QVERIFY(d.RadioButton3->isChecked());
        d.Button3Click();
        QCOMPARE(data.cfg.thermometer, 0x80);
    }

    // The serial port library over the simulator's pseudo-terminal, at the
    // module's own baud rate.
    void serialLine()
    {
        SimProcess serial;
        QVERIFY2(serial.start({QStringLiteral("--module"), QStringLiteral("4:3530:1.08"),
                               QStringLiteral("--pty"), QStringLiteral("--baud"), QStringLiteral("19200")}),
                 qPrintable(serial.errorString()));
        qputenv("RQ_COM3", serial.ptyPath().toLocal8Bit());
        {
            TForm2 d;
            d.Data = &data;
            d.FormShow();
            d.ComboBox2->setCurrentIndex(0);
            d.Edit2->setText(QStringLiteral("3"));
            d.Edit1->setText(QStringLiteral("4"));
            d.ComboBox1->setCurrentIndex(5);
            d.Button1Click();
            QCOMPARE(d.Panel1->text(),
                     QStringLiteral("Připojení úspěšně inicializováno. Připojen modul   RQ-3530  v.1.08"));
        }
        QCOMPARE(data.comPort, quint8(3));
        TForm12 d;
        d.Data = &data;
        d.FormShow();
        d.Button2Click();
        QCOMPARE(d.statusText(), QStringLiteral(" Konfigurace přečtena."));
        QCOMPARE(d.Edit1->text(), QStringLiteral("4"));
        QCOMPARE(d.ComboBox1->currentText(), QStringLiteral("19200 Bd"));
        CloseAdapter(data.adapterKind, &data.handle);
        data.connected = false;
    }

    // A module fault during a write shows the library's text and stops.
    void faultDuringWrite()
    {
        QVERIFY(connectTo(1));
        QVERIFY(sim.addFault(QStringLiteral("mem=2 readback=0x55 count=1")));
        TForm13 d;
        d.Data = &data;
        d.FormShow();
        d.Button1Click();
        QCOMPARE(d.statusText(), QStringLiteral(" Chyba zápisu dat."));
        QVERIFY(sim.clearFaults());
    }
};

QTEST_MAIN(TestConfigEndToEnd)
#include "tst_config_e2e.moc"
