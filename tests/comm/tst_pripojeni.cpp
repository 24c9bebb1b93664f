#include "app/Dekl.h"
#include "comm/Kxxx638.h"
#include "comm/Pripojeni.h"
#include "support/TestAdapter.h"

#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>

namespace {
const QString ConnectedHead = QStringLiteral("Připojení úspěšně inicializováno. Připojen modul   ");

QList<TaCall> callsOf(const QString &entry)
{
    QList<TaCall> list;
    for (const TaCall &c : TestAdapter::instance().calls)
        if (c.entry == entry)
            list.append(c);
    return list;
}

int indexOf(const QString &entry, int nth = 0)
{
    const QList<TaCall> &calls = TestAdapter::instance().calls;
    for (int i = 0; i < calls.size(); ++i)
        if (calls.at(i).entry == entry && nth-- == 0)
            return i;
    return -1;
}
} // namespace

class TestPripojeni : public QObject
{
    Q_OBJECT
    TestAdapter &ta = TestAdapter::instance();
    TData data;

    // A dialog on the record, shown as the main window shows it.
    void open(TForm2 &d)
    {
        d.Data = &data;
        d.FormShow();
    }
    // The LAN converter with valid parameters.
    void lan(TForm2 &d)
    {
        d.ComboBox2->setCurrentIndex(4);
        d.Edit2->setText(QStringLiteral("10.0.0.7"));
        d.Edit3->setText(QStringLiteral("5001"));
        d.Edit4->setText(QStringLiteral("150"));
    }
    // A record that holds an earlier connection's results.
    void earlierResults()
    {
        data.statusText = QStringLiteral("dřívější stav");
        data.identity = QStringLiteral("RQ-3520  v.1.07");
        data.moduleAddress = 9;
        data.baudRate = 19200;
    }
    void verifyEarlierResultsKept()
    {
        QCOMPARE(data.statusText, QStringLiteral("dřívější stav"));
        QCOMPARE(data.identity, QStringLiteral("RQ-3520  v.1.07"));
        QCOMPARE(data.moduleAddress, quint8(9));
        QCOMPARE(data.baudRate, 19200u);
        QVERIFY(!data.connected);
    }

private slots:
    void init()
    {
        ta.reset();
        SetDefaults(&data);
    }
    void cleanup()
    {
        if (data.connected && data.handle)
            CloseAdapter(data.adapterKind, &data.handle);
        data.connected = false;
    }

    void showsRecord_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("shownKind");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("edit2");
        QTest::addColumn<bool>("udp");
        QTest::newRow("serial") << 0 << 0 << QStringLiteral("Číslo portu COMx") << QStringLiteral("3")
                                << false;
        QTest::newRow("isa") << 1 << 1 << QStringLiteral("Bázová adresa PCI-638") << QStringLiteral("2A0h")
                             << false;
        QTest::newRow("pci") << 2 << 2 << QString() << QString() << false;
        QTest::newRow("usb") << 3 << 3 << QString() << QString() << false;
        QTest::newRow("lan") << 4 << 4 << QStringLiteral("IP adresa") << QStringLiteral("192.168.7.8")
                             << true;
        QTest::newRow("kind 12 is 4")
            << 12 << 4 << QStringLiteral("IP adresa") << QStringLiteral("192.168.7.8") << true;
    }
    void showsRecord()
    {
        QFETCH(int, kind);
        QFETCH(int, shownKind);
        QFETCH(QString, caption);
        QFETCH(QString, edit2);
        QFETCH(bool, udp);
        data.adapterKind = quint8(kind);
        data.comPort = 3;
        data.isaBase = 0x2A0;
        data.ipAddress = QStringLiteral("192.168.7.8");
        data.udpPort = 6000;
        data.udpTimeout = 250;
        data.moduleAddress = 17;
        data.baudRate = 57600;
        TForm2 d;
        d.Data = &data;
        d.show();
        QCOMPARE(d.Edit1->text(), QStringLiteral("17"));
        QCOMPARE(d.ComboBox1->currentIndex(), 7);
        QCOMPARE(data.adapterKind, quint8(shownKind));
        QCOMPARE(d.ComboBox2->currentIndex(), shownKind);
        QCOMPARE(d.Label3->isVisible(), !caption.isEmpty());
        QCOMPARE(d.Edit2->isVisible(), !caption.isEmpty());
        if (!caption.isEmpty()) {
            QCOMPARE(d.Label3->text(), caption);
            QCOMPARE(d.Edit2->text(), edit2);
        }
        for (QWidget *w : {static_cast<QWidget *>(d.Label6), static_cast<QWidget *>(d.Edit3),
                           static_cast<QWidget *>(d.Label7), static_cast<QWidget *>(d.Edit4)})
            QCOMPARE(w->isVisible(), udp);
        if (udp) {
            QCOMPARE(d.Edit3->text(), QStringLiteral("6000"));
            QCOMPARE(d.Edit4->text(), QStringLiteral("250"));
        }
        QCOMPARE(d.Panel1->text(), QStringLiteral("Připojení modulu dosud neinicializováno"));
    }

    void controlsAndDefaults()
    {
        TForm2 d;
        QCOMPARE(d.windowTitle(), QStringLiteral("Připojení modulu"));
        QCOMPARE(d.ComboBox1->count(), 9);
        QCOMPARE(d.ComboBox1->itemText(8), QStringLiteral("115200 Bd"));
        QCOMPARE(d.ComboBox1->currentIndex(), 4);
        QCOMPARE(d.ComboBox2->itemText(4), QStringLiteral("LAN konvertor RQ-4638"));
        QCOMPARE(d.Panel1->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
        QCOMPARE(d.Panel1->frameShadow(), QFrame::Sunken);
        QCOMPARE(d.Panel1->palette().color(QPalette::Window), QColor(Qt::white));
        for (const char *name :
             {"Label1", "Label2", "Label3", "Label4", "Label5", "Label6", "Label7", "Edit1", "Edit2", "Edit3",
              "Edit4", "ComboBox1", "ComboBox2", "Panel1", "Button1", "Button2"})
            QVERIFY2(d.findChild<QWidget *>(QLatin1String(name)), name);
        QCOMPARE(d.Button1->text(), QStringLiteral("Inicializace připojení"));
    }

    // Another adapter fills its fields from the record, which stays as it was.
    void changeAdapterThenCancel()
    {
        data.ipAddress = QStringLiteral("10.1.1.1");
        {
            TForm2 d;
            open(d);
            d.ComboBox2->setCurrentIndex(4);
            QCOMPARE(d.Edit2->text(), QStringLiteral("10.1.1.1"));
            QCOMPARE(d.Label6->isHidden(), false);
            d.ComboBox2->setCurrentIndex(2);
            QVERIFY(d.Edit2->isHidden());
            d.ComboBox2->setCurrentIndex(-1);
            QCOMPARE(d.Panel1->text(), QStringLiteral("Neznámý typ rozhraní"));
            QVERIFY(!d.Edit2->isHidden());
            QVERIFY(d.Edit3->isHidden());
            d.Button2->click();
            QCOMPARE(d.result(), int(QDialog::Rejected));
        }
        QCOMPARE(data.adapterKind, quint8(0));
        QCOMPARE(ta.calls.size(), 0);
        TForm2 again;
        open(again);
        QCOMPARE(again.ComboBox2->currentIndex(), 0);
    }

    void lanSetup()
    {
        ta.model = QByteArrayLiteral("RQ-3510 ");
        ta.version = QByteArrayLiteral("1.08");
        TForm2 d;
        open(d);
        lan(d);
        d.Edit1->setText(QStringLiteral("5"));
        d.Button1Click();
        QCOMPARE(d.Panel1->text(), ConnectedHead + QStringLiteral("RQ-3510  v.1.08"));
        QCOMPARE(data.identity, QStringLiteral("RQ-3510  v.1.08"));
        QCOMPARE(data.identity.size(), 15);
        QVERIFY(data.connected);
        QCOMPARE(data.handle, 0x1234u);
        QCOMPARE(data.adapterKind, quint8(4));
        QCOMPARE(data.moduleAddress, quint8(5));
        QCOMPARE(data.baudRate, 9600u);
        QCOMPARE(data.statusText, QStringLiteral("V pořádku"));
        QCOMPARE(data.ipAddress, QStringLiteral("10.0.0.7"));
        QCOMPARE(data.udpPort, 5001u);
        QCOMPARE(data.udpTimeout, 150u);
        // The init block points at the record's zero-terminated IP text.
        QCOMPARE(data.ipAddress8bit, QByteArrayLiteral("10.0.0.7"));
        QCOMPARE(data.ipAddress8bit.constData()[data.ipAddress8bit.size()], '\0');
        QCOMPARE(data.initBlock[0], reinterpret_cast<std::uintptr_t>(data.ipAddress8bit.constData()));
        QCOMPARE(data.initBlock[1], std::uintptr_t(5001));
        QCOMPARE(data.initBlock[2], std::uintptr_t(150));
        const TaCall init = callsOf(QStringLiteral("Init")).value(0);
        QCOMPARE(init.prefix, QStringLiteral("KRQ4638"));
        QCOMPARE(init.ip, QByteArrayLiteral("10.0.0.7"));
        QCOMPARE(init.block[1], quintptr(5001));
        QCOMPARE(init.block[2], quintptr(150));
        const TaCall config = callsOf(QStringLiteral("SetConfig")).value(0);
        QCOMPARE(config.args[0], quintptr(0x1234));
        QCOMPARE(config.args[3], quintptr(2));
        QCOMPARE(ta.sends(), (QList<TaRequest>{{5, 200, 0, {}}, {5, 200, 1, {}}, {5, 200, 2, {}}}));
        QCOMPARE(ta.count(QStringLiteral("Done")), 0);

        TForm2 next;
        open(next);
        QCOMPARE(next.Panel1->text(), QStringLiteral("V pořádku"));
    }

    // D0 of each reply goes out again with the next identification request;
    // bytes become characters through Windows-1250.
    void identificationBytes()
    {
        ta.script = [](const TaRequest &r, int) {
            TaReply reply;
            const std::array<std::array<quint8, 4>, 3> texts{
                {{'R', 'Q', '-', '3'}, {'5', '3', '0', 0x8A}, {'1', '.', '1', '0'}}};
            reply.d = {quint8(0x40 + r.sub), texts[r.sub][0], texts[r.sub][1], texts[r.sub][2],
                       texts[r.sub][3]};
            return reply;
        };
        TForm2 d;
        open(d);
        lan(d);
        d.Button1Click();
        const QList<TaRequest> sent = ta.sends();
        QCOMPARE(sent.size(), 3);
        QCOMPARE(sent[0].d[0], 0);
        QCOMPARE(sent[1].d[0], 0x40);
        QCOMPARE(sent[2].d[0], 0x41);
        QCOMPARE(data.identity, QStringLiteral("RQ-3530Š v.1.10"));
    }

    void moduleAddressText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("address");
        QTest::newRow("300") << QStringLiteral("300") << 44;
        QTest::newRow("$1F") << QStringLiteral("$1F") << 31;
        QTest::newRow("letters") << QStringLiteral("abc") << 0;
        QTest::newRow("-1") << QStringLiteral("-1") << 255;
        QTest::newRow("blanks") << QStringLiteral("  12") << 12;
    }
    void moduleAddressText()
    {
        QFETCH(QString, text);
        QFETCH(int, address);
        TForm2 d;
        open(d);
        lan(d);
        d.Edit1->setText(text);
        d.Button1Click();
        QCOMPARE(d.Edit1->text(), QString::number(address));
        QCOMPARE(ta.sends().value(0).address, address);
        QCOMPARE(data.moduleAddress, quint8(address));
    }

    void serialPort_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("word");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("stored");
        QTest::newRow("letters") << QStringLiteral("COM2") << 1 << QStringLiteral("1") << 1;
        QTest::newRow("300") << QStringLiteral("300") << 300 << QStringLiteral("300") << 44;
        QTest::newRow("70000") << QStringLiteral("70000") << 4464 << QStringLiteral("4464") << 112;
        QTest::newRow("2") << QStringLiteral("2") << 2 << QStringLiteral("2") << 2;
    }
    void serialPort()
    {
        QFETCH(QString, text);
        QFETCH(int, word);
        QFETCH(QString, shown);
        QFETCH(int, stored);
        TForm2 d;
        open(d);
        d.ComboBox2->setCurrentIndex(0);
        d.Edit2->setText(text);
        d.Button1Click();
        const TaCall init = callsOf(QStringLiteral("Init")).value(0);
        QCOMPARE(init.prefix, QStringLiteral("KCOM638"));
        QCOMPARE(init.args[1], quintptr(word));
        QCOMPARE(d.Edit2->text(), shown);
        QCOMPARE(data.comPort, quint8(stored));
        QCOMPARE(data.initBlock[0], std::uintptr_t(word));
        QVERIFY(data.connected);
    }

    // The ISA card's library is absent from the test adapters, so every setup
    // ends at Init; the address is taken and shown before that.
    void isaBase_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("base");
        QTest::addColumn<QString>("shown");
        QTest::newRow("2A0h") << QStringLiteral("2A0h") << 0x2A0 << QStringLiteral("2A0h");
        QTest::newRow("lower case") << QStringLiteral("2a0h") << 0x2A0 << QStringLiteral("2A0h");
        QTest::newRow("300") << QStringLiteral("300") << 0x300 << QStringLiteral("300h");
        QTest::newRow("0x2A0") << QStringLiteral("0x2A0") << 0x300 << QStringLiteral("300h");
        QTest::newRow("0300") << QStringLiteral("0300") << 0x30 << QStringLiteral("030h");
        QTest::newRow("not hex plus one") << QStringLiteral("zzzzh") << 0x300 << QStringLiteral("300h");
        QTest::newRow("four not hex") << QStringLiteral("zzzz") << 0x300 << QStringLiteral("300h");
        QTest::newRow("empty") << QString() << 0x300 << QStringLiteral("300h");
    }
    void isaBase()
    {
        QFETCH(QString, text);
        QFETCH(int, base);
        QFETCH(QString, shown);
        TForm2 d;
        open(d);
        d.ComboBox2->setCurrentIndex(1);
        QCOMPARE(d.Edit2->text(), QStringLiteral("300h"));
        d.Edit2->setText(text);
        d.Button1Click();
        QCOMPARE(d.Edit2->text(), shown);
        QCOMPARE(data.isaBase, quint16(base));
        QCOMPARE(data.initBlock[0], std::uintptr_t(base));
        QCOMPARE(d.Panel1->text(),
                 QStringLiteral("Chyba inicializace připojení - chyba inicializace knihovny KPCI638.DLL"));
        QCOMPARE(data.adapterKind, quint8(1));
        QVERIFY(!data.connected);
    }

    void lanInput_data()
    {
        QTest::addColumn<QString>("ip");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("timeout");
        QTest::addColumn<QString>("panel"); // empty: accepted
        QTest::newRow("port -1") << QStringLiteral("10.0.0.7") << QStringLiteral("-1")
                                 << QStringLiteral("100") << QStringLiteral("Neplatný UDP port");
        QTest::newRow("port 70000") << QStringLiteral("10.0.0.7") << QStringLiteral("70000")
                                    << QStringLiteral("100") << QStringLiteral("Neplatný UDP port");
        QTest::newRow("port letters") << QStringLiteral("10.0.0.7") << QStringLiteral("port")
                                      << QStringLiteral("100") << QStringLiteral("Neplatný UDP port");
        QTest::newRow("port empty") << QStringLiteral("10.0.0.7") << QString() << QStringLiteral("100")
                                    << QStringLiteral("Neplatný UDP port");
        QTest::newRow("port 65535") << QStringLiteral("10.0.0.7") << QStringLiteral("65535")
                                    << QStringLiteral("100") << QString();
        QTest::newRow("port $FFFF") << QStringLiteral("10.0.0.7") << QStringLiteral("$FFFF")
                                    << QStringLiteral("0") << QString();
        QTest::newRow("timeout 65536") << QStringLiteral("10.0.0.7") << QStringLiteral("5000")
                                       << QStringLiteral("65536") << QStringLiteral("Neplatný UDP timeout");
        QTest::newRow("timeout -5") << QStringLiteral("10.0.0.7") << QStringLiteral("5000")
                                    << QStringLiteral("-5") << QStringLiteral("Neplatný UDP timeout");
        QTest::newRow("no ip") << QString() << QStringLiteral("5000") << QStringLiteral("100")
                               << QStringLiteral("Neplatná IP adresa");
    }
    void lanInput()
    {
        QFETCH(QString, ip);
        QFETCH(QString, port);
        QFETCH(QString, timeout);
        QFETCH(QString, panel);
        data.adapterKind = 0;
        data.ipAddress = QStringLiteral("192.168.0.1");
        data.udpPort = 1;
        data.udpTimeout = 2;
        earlierResults();
        TForm2 d;
        open(d);
        d.ComboBox2->setCurrentIndex(4);
        d.Edit2->setText(ip);
        d.Edit3->setText(port);
        d.Edit4->setText(timeout);
        d.Button1Click();
        if (panel.isEmpty()) {
            QVERIFY(data.connected);
            QCOMPARE(d.Panel1->text(), ConnectedHead + QStringLiteral("RQ-3510  v.1.08"));
            return;
        }
        QCOMPARE(d.Panel1->text(), panel);
        QCOMPARE(ta.calls.size(), 0);
        QCOMPARE(data.adapterKind, quint8(4));
        verifyEarlierResultsKept();
        // What was read before the faulty field is kept, nothing after it.
        QCOMPARE(data.ipAddress, ip.isEmpty() ? QStringLiteral("192.168.0.1") : ip);
        QCOMPARE(data.udpPort, panel == QStringLiteral("Neplatný UDP timeout") ? 5000u : 1u);
        QCOMPARE(data.udpTimeout, 2u);
    }

    void baudRate_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("timeout");
        QTest::newRow("0") << 0 << 600 << 1000;
        QTest::newRow("1") << 1 << 1200 << 500;
        QTest::newRow("2") << 2 << 2400 << 500;
        QTest::newRow("3") << 3 << 4800 << 200;
        QTest::newRow("4") << 4 << 9600 << 200;
        QTest::newRow("8") << 8 << 115200 << 200;
    }
    void baudRate()
    {
        QFETCH(int, index);
        QFETCH(int, rate);
        QFETCH(int, timeout);
        TForm2 d;
        open(d);
        lan(d);
        d.ComboBox1->setCurrentIndex(index);
        d.Button1Click();
        const TaCall config = callsOf(QStringLiteral("SetConfig")).value(0);
        QCOMPARE(config.args[1], quintptr(rate));
        QCOMPARE(config.args[2], quintptr(timeout));
        QCOMPARE(data.baudRate, quint32(rate));
    }

    void secondSetupClosesFirstOnce()
    {
        ta.doneSetsHandleTo = 0;
        TForm2 d;
        open(d);
        lan(d);
        d.Button1Click();
        QVERIFY(data.connected);
        ta.handleToIssue = 0x5678;
        d.Button1Click();
        QCOMPARE(ta.count(QStringLiteral("Done")), 1);
        QCOMPARE(ta.count(QStringLiteral("Init")), 2);
        QVERIFY(indexOf(QStringLiteral("Done")) < indexOf(QStringLiteral("Init"), 1));
        QVERIFY(data.connected);
        QCOMPARE(data.handle, 0x5678u);
    }

    // An invalid input still ends the open connection first.
    void invalidInputAfterConnection()
    {
        ta.doneSetsHandleTo = 0x99;
        TForm2 d;
        open(d);
        lan(d);
        d.Button1Click();
        const QString identity = data.identity;
        d.Edit3->setText(QStringLiteral("70000"));
        d.Button1Click();
        QCOMPARE(d.Panel1->text(), QStringLiteral("Neplatný UDP port"));
        QCOMPARE(ta.count(QStringLiteral("Done")), 1);
        QVERIFY(!data.connected);
        QCOMPARE(data.handle, 0x99u); // as Done left it
        QCOMPARE(data.statusText, QStringLiteral("V pořádku"));
        QCOMPARE(data.identity, identity);
    }

    void failures_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("initResult");
        QTest::addColumn<int>("setConfigResult");
        QTest::addColumn<int>("failingSend");
        QTest::addColumn<int>("handle"); // issued by Init
        QTest::addColumn<QString>("panel");
        QTest::addColumn<int>("dones");
        QTest::addColumn<int>("sends");
        QTest::newRow("Init") << 4 << 7 << 0 << 0 << 0x1234
                              << QStringLiteral("Chyba inicializace připojení - chyba 7") << 0 << 0;
        QTest::newRow("incomplete library")
            << 3 << 0 << 0 << 0 << 0x1234
            << QStringLiteral("Chyba inicializace připojení - chybná knihovna "
                              "KUSB4638.DLL")
            << 0 << 0;
        QTest::newRow("SetConfig") << 2 << 0 << 5 << 0 << 0x1234
                                   << QStringLiteral("Chyba inicializace připojení - chyba 5") << 1 << 0;
        QTest::newRow("identification 1")
            << 4 << 0 << 0 << 1 << 0x1234 << QStringLiteral("chyba 3") << 1 << 1;
        QTest::newRow("identification 3")
            << 0 << 0 << 0 << 3 << 0x1234 << QStringLiteral("chyba 3") << 1 << 3;
        QTest::newRow("handle 0") << 4 << 0 << 0 << 0 << 0 << QStringLiteral("chyba 10") << 1 << 0;
    }
    void failures()
    {
        QFETCH(int, kind);
        QFETCH(int, initResult);
        QFETCH(int, setConfigResult);
        QFETCH(int, failingSend);
        QFETCH(int, handle);
        QFETCH(QString, panel);
        QFETCH(int, dones);
        QFETCH(int, sends);
        ta.initResult = quint32(initResult);
        ta.setConfigResult = quint32(setConfigResult);
        ta.handleToIssue = quint32(handle);
        ta.doneSetsHandleTo = 0x77;
        if (failingSend)
            ta.failSend[failingSend] = 3;
        earlierResults();
        data.handle = 0x4321; // left from an earlier, already closed connection
        TForm2 d;
        open(d);
        lan(d);
        d.ComboBox2->setCurrentIndex(kind);
        d.Edit1->setText(QStringLiteral("3"));
        d.ComboBox1->setCurrentIndex(0);
        d.Button1Click();
        QCOMPARE(d.Panel1->text(), panel);
        QCOMPARE(ta.count(QStringLiteral("Done")), dones);
        QCOMPARE(ta.sends().size(), sends);
        QCOMPARE(data.adapterKind, quint8(kind));
        verifyEarlierResultsKept();
        // Closed: the handle as Done left it; not opened: as it was.
        QCOMPARE(data.handle, dones ? 0x77u : 0x4321u);
        QCOMPARE(AdapterBound(), initResult != 0); // a failed Init leaves its library bound

        // The next setup replaces whatever stayed bound and succeeds.
        ta.reset();
        d.ComboBox2->setCurrentIndex(4);
        lan(d);
        d.Button1Click();
        QVERIFY(data.connected);
        QCOMPARE(data.statusText, QStringLiteral("V pořádku"));
        QCOMPARE(data.moduleAddress, quint8(3));
        QCOMPARE(data.baudRate, 600u);
    }

    // The setup blocks the window: a busy cursor from before the open
    // connection is closed until the identification ends, over every library
    // call, and gone again on every way out.
    void busyCursorThroughoutTheSetup_data()
    {
        QTest::addColumn<int>("initResult");
        QTest::addColumn<int>("setConfigResult");
        QTest::addColumn<int>("failingSend");
        QTest::addColumn<QString>("udpPort");
        QTest::addColumn<bool>("connectedBefore");
        QTest::addColumn<int>("calls"); // library calls the setup makes
        QTest::newRow("success") << 0 << 0 << 0 << QStringLiteral("5001") << false << 10;
        QTest::newRow("reconnect") << 0 << 0 << 0 << QStringLiteral("5001") << true << 11;
        QTest::newRow("Init fails") << 7 << 0 << 0 << QStringLiteral("5001") << false << 2;
        QTest::newRow("SetConfig fails") << 0 << 5 << 0 << QStringLiteral("5001") << false << 5;
        QTest::newRow("identification fails") << 0 << 0 << 2 << QStringLiteral("5001") << false
                                              << 10; // the link counters ask once for the new code's text
        QTest::newRow("bad UDP port after a connection") << 0 << 0 << 0 << QStringLiteral("x") << true << 1;
    }
    void busyCursorThroughoutTheSetup()
    {
        QFETCH(int, initResult);
        QFETCH(int, setConfigResult);
        QFETCH(int, failingSend);
        QFETCH(QString, udpPort);
        QFETCH(bool, connectedBefore);
        QFETCH(int, calls);
        TForm2 d;
        open(d);
        lan(d);
        if (connectedBefore) {
            d.Button1Click();
            QVERIFY(data.connected);
        }
        ta.calls.clear();
        ta.initResult = quint32(initResult);
        ta.setConfigResult = quint32(setConfigResult);
        if (failingSend)
            ta.failSend[failingSend] = 3;
        QStringList notBusy;
        ta.onCall = [&notBusy](const TaCall &c) {
            const QCursor *cursor = QApplication::overrideCursor();
            if (!cursor || cursor->shape() != Qt::WaitCursor)
                notBusy << c.entry;
        };
        const auto forget = qScopeGuard([this] { ta.onCall = nullptr; });
        d.Edit3->setText(udpPort);
        d.Button1Click();
        QCOMPARE(ta.calls.size(), calls);
        QCOMPARE(notBusy, QStringList());
        QVERIFY(!QApplication::overrideCursor());
    }

    // Enter in any field sets up the connection; Enter on the focused
    // "Cancel" closes the dialog.
    void enterSetsUpTheConnection_data()
    {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<bool>("setUp");
        for (const char *name : {"Edit1", "Edit2", "Edit3", "Edit4", "ComboBox1", "ComboBox2", "Button1"})
            QTest::newRow(name) << QString::fromLatin1(name) << true;
        QTest::newRow("Button2") << QStringLiteral("Button2") << false;
    }
    void enterSetsUpTheConnection()
    {
        QFETCH(QString, focus);
        QFETCH(bool, setUp);
        TForm2 d;
        d.Data = &data;
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        lan(d);
        QWidget *field = d.findChild<QWidget *>(focus);
        QVERIFY(field);
        field->setFocus();
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(ta.count(QStringLiteral("Init")), setUp ? 1 : 0);
        QCOMPARE(data.connected, setUp);
        QCOMPARE(d.isVisible(), setUp);
    }

    void noRecordDoesNothing()
    {
        TForm2 d;
        d.FormShow();
        d.Button1Click();
        QCOMPARE(ta.calls.size(), 0);
    }
};

QTEST_MAIN(TestPripojeni)
#include "tst_pripojeni.moc"
