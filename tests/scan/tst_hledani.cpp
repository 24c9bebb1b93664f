#include "app/Dekl.h"
#include "app/Hlavni.h"
#include "app/StatusBar.h"
#include "comm/Pripojeni.h"
#include "scan/Hledani.h"
#include "support/Child.h"
#include "support/SimProcess.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {
constexpr int SearchMs = 60000;

void closeRecord(TData &d)
{
    if (d.connected && d.handle)
        CloseAdapter(d.adapterKind, &d.handle);
    d.connected = false;
}
} // namespace

class TestHledani : public QObject
{
    Q_OBJECT
    SimProcess sim;
    TData data;

    // The record as the settings file leaves it: the LAN converter to rqsim.
    void lanRecord()
    {
        SetDefaults(&data);
        data.adapterKind = 4;
        data.ipAddress = QStringLiteral("127.0.0.1");
        data.udpPort = sim.udpPort();
        data.udpTimeout = 0;
    }
    void onlyRates(TFormHledani &d, const QList<quint32> &rates)
    {
        for (QCheckBox *box : d.RychlostChecks)
            box->setChecked(false);
        for (quint32 rate : rates)
            d.findChild<QCheckBox *>(QStringLiteral("RychlostCheck%1").arg(rate))->setChecked(true);
    }
    void search(TFormHledani &d)
    {
        d.HledatButton->click();
        QVERIFY(d.searching());
        QTRY_VERIFY_WITH_TIMEOUT(!d.searching(), SearchMs);
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(sim.start({QStringLiteral("--module"), QStringLiteral("3:3510:1.08:9600"),
                            QStringLiteral("--module"), QStringLiteral("77:3520:1.07:115200"),
                            QStringLiteral("--module"), QStringLiteral("200:3530:2.01:19200")}),
                 qPrintable(sim.errorString()));
    }
    void init() { lanRecord(); }
    void cleanup()
    {
        closeRecord(data);
        TFormHledani::askQuestion = nullptr;
        TFormHledani::exportFileName = nullptr;
    }

    void defaultsFromRecord()
    {
        data.udpTimeout = 150;
        TFormHledani d;
        d.Data = &data;
        d.show();
        QCOMPARE(d.RozhraniCombo->currentIndex(), 4);
        QCOMPARE(d.ParametrEdit->text(), QStringLiteral("127.0.0.1"));
        QCOMPARE(d.UdpPortEdit->text(), QString::number(sim.udpPort()));
        QCOMPARE(d.UdpTimeoutEdit->text(), QStringLiteral("150"));
        QCOMPARE(d.AdresyEdit->text(), QStringLiteral("0-255"));
        QCOMPARE(d.RychlostChecks.size(), 9);
        for (QCheckBox *box : d.RychlostChecks)
            QVERIFY(box->isChecked());
        QVERIFY(!d.ZastavitButton->isEnabled());
        QVERIFY(!d.PripojitButton->isEnabled());
    }

    void invalidInputSearchesNothing_data()
    {
        QTest::addColumn<QString>("addresses");
        QTest::addColumn<QString>("udpPort");
        QTest::addColumn<bool>("anyRate");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("halfFixed"); // the addresses typed on the way, still wrong
        QTest::newRow("address") << "1,300"
                                 << "4638" << true << " Neplatná adresa \"300\" (0 až 255)"
                                 << "1,256";
        QTest::newRow("UDP port") << "1"
                                  << "70000" << true << " Neplatný UDP port"
                                  << "";
        QTest::newRow("no rate") << "1"
                                 << "4638" << false << " Zvolte alespoň jednu komunikační rychlost."
                                 << "";
    }
    void invalidInputSearchesNothing()
    {
        QFETCH(QString, addresses);
        QFETCH(QString, udpPort);
        QFETCH(bool, anyRate);
        QFETCH(QString, status);
        TFormHledani d;
        d.Data = &data;
        d.show();
        d.AdresyEdit->setText(addresses);
        d.UdpPortEdit->setText(udpPort);
        if (!anyRate)
            onlyRates(d, {});
        d.HledatButton->click();
        QVERIFY(!d.searching());
        QCOMPARE(d.StatusBar1->text(0), status);
        QCOMPARE(d.probesSent(), 0);
        // Corrected, the error leaves the screen without another "Hledat";
        // while still wrong it says what is wrong now.
        QFETCH(QString, halfFixed);
        if (!halfFixed.isEmpty()) {
            d.AdresyEdit->setText(halfFixed);
            QCOMPARE(d.StatusBar1->text(0), QStringLiteral(" Neplatná adresa \"256\" (0 až 255)"));
        }
        d.AdresyEdit->setText(QStringLiteral("1"));
        d.UdpPortEdit->setText(QString::number(sim.udpPort()));
        d.RychlostChecks.first()->setChecked(true);
        QCOMPARE(d.StatusBar1->text(0), QStringLiteral(" "));
        QCOMPARE(d.probesSent(), 0);
    }

    // Found as they come, listed, copied and exported; one click connects,
    // leaving the record exactly as the connection dialog would.
    void findsCopiesExportsConnects()
    {
        TFormHledani d;
        d.Data = &data;
        d.show();
        d.AdresyEdit->setText(QStringLiteral("1-5,75-80,199-201"));
        d.RezervaSpin->setValue(20); // rqsim may be slow to answer on a busy machine
        onlyRates(d, {9600, 19200, 115200});
        const quint64 counted = LinkStats::instance().transactions();
        search(d);
        QCOMPARE(LinkStats::instance().transactions(), counted); // probes are no connection's traffic
        QCOMPARE(d.StatusBar1->text(0), QStringLiteral(" Hledání dokončeno, nalezeno: 3."));
        QCOMPARE(d.PrubehBar->value(), d.PrubehBar->maximum());
        QCOMPARE(d.PrubehBar->maximum(), TFormHledani::ProgressSteps);
        QTableWidget *t = d.NalezeneTable;
        QCOMPARE(t->rowCount(), 3);
        QCOMPARE(t->item(0, 0)->text(), QStringLiteral("3"));
        QCOMPARE(t->item(0, 1)->text(), QStringLiteral("9600 Bd"));
        QCOMPARE(t->item(1, 0)->text(), QStringLiteral("200"));
        QCOMPARE(t->item(1, 2)->text(), QStringLiteral("RQ-3530"));
        QCOMPARE(t->item(1, 3)->text(), QStringLiteral("2.01"));
        QCOMPARE(t->item(2, 1)->text(), QStringLiteral("115200 Bd"));
        QVERIFY(t->item(2, 4)->text().endsWith(QStringLiteral(" ms")));

        d.KopirovatButton->click();
        const QStringList copied =
            QApplication::clipboard()->text().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(copied.size(), 4);
        QVERIFY(copied.at(3).startsWith(QStringLiteral("77\t115200\tRQ-3520\t1.07\t")));

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("moduly.csv"));
        TFormHledani::exportFileName = [path] { return path; };
        d.ExportButton->click();
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray csv = file.readAll();
        QVERIFY(csv.startsWith("\xEF\xBB\xBF"
                               "Adresa;Rychlost;Model;Firmware;"));
        QVERIFY(csv.contains("\r\n200;19200;RQ-3530;2.01;"));

        // What the connection dialog leaves for module 200 at 19200 Bd.
        TData expected = data;
        {
            TForm2 setup;
            setup.Data = &expected;
            setup.FormShow();
            setup.Edit1->setText(QStringLiteral("200"));
            setup.ComboBox1->setCurrentIndex(5);
            setup.Button1->click();
            QVERIFY(expected.connected);
            closeRecord(expected);
            expected.connected = true; // as it was before closing
        }

        QSignalSpy connected(&d, &TFormHledani::Pripojeno);
        t->selectRow(1);
        QVERIFY(d.PripojitButton->isEnabled());
        d.PripojitButton->click();
        QCOMPARE(connected.size(), 1);
        QCOMPARE(d.StatusBar1->text(0),
                 QStringLiteral(" Připojení úspěšně inicializováno. Připojen modul   RQ-3530  v.2.01"));
        QVERIFY(data.ready());
        QCOMPARE(data.adapterKind, expected.adapterKind);
        QCOMPARE(data.moduleAddress, expected.moduleAddress);
        QCOMPARE(data.baudRate, expected.baudRate);
        QCOMPARE(data.identity, expected.identity);
        QCOMPARE(data.statusText, expected.statusText);
        QCOMPARE(data.connected, expected.connected);
        QCOMPARE(data.ipAddress, expected.ipAddress);
        QCOMPARE(data.ipAddress8bit, expected.ipAddress8bit);
        QCOMPARE(data.udpPort, expected.udpPort);
        QCOMPARE(data.udpTimeout, expected.udpTimeout);
        QCOMPARE(data.comPort, expected.comPort);
        QCOMPARE(data.isaBase, expected.isaBase);
        QCOMPARE(data.initBlock[0], reinterpret_cast<std::uintptr_t>(data.ipAddress8bit.constData()));
        for (std::size_t i = 1; i < data.initBlock.size(); ++i)
            QCOMPARE(data.initBlock[i], expected.initBlock[i]);
        QCOMPARE(data.identity, QStringLiteral("RQ-3530  v.2.01"));
        QCOMPARE(data.moduleAddress, quint8(200));
        QCOMPARE(data.baudRate, 19200u);
    }

    // Before a search, the rates the UDP timeout cannot hear are named:
    // timeout 0, leave them out, or no search.
    void ratesBeyondUdpTimeout_data()
    {
        QTest::addColumn<QString>("timeout");
        QTest::addColumn<QString>("button"); // empty: no question
        QTest::addColumn<QString>("named");
        QTest::addColumn<QString>("after"); // UDP timeout, then the rates still ticked
        QTest::newRow("use 0") << "100"
                               << "PouzitNulu"
                               << "rychlostech 600 Bd, 1200 Bd:"
                               << "0 600 1200 9600";
        QTest::newRow("leave out") << "200"
                                   << "Vynechat"
                                   << "rychlosti 600 Bd:"
                                   << "200 1200 9600";
        QTest::newRow("cancel") << "100"
                                << "Zrusit"
                                << "rychlostech 600 Bd, 1200 Bd:"
                                << "100 600 1200 9600";
        QTest::newRow("timeout 0") << "0"
                                   << ""
                                   << ""
                                   << "0 600 1200 9600";
    }
    void ratesBeyondUdpTimeout()
    {
        QFETCH(QString, timeout);
        QFETCH(QString, button);
        QFETCH(QString, named);
        TFormHledani d;
        d.Data = &data;
        d.show();
        d.AdresyEdit->setText(QStringLiteral("3"));
        d.UdpTimeoutEdit->setText(timeout);
        onlyRates(d, {600, 1200, 9600});
        QString asked;
        QTimer::singleShot(0, this, [&] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                asked = box->text();
                box->findChild<QPushButton *>(button)->click();
            }
        });
        d.HledatButton->click();
        QVERIFY2(named.isEmpty() ? asked.isEmpty() : asked.contains(named), qPrintable(asked));
        QStringList after{d.UdpTimeoutEdit->text()};
        for (quint32 rate : {600u, 1200u, 9600u})
            if (d.findChild<QCheckBox *>(QStringLiteral("RychlostCheck%1").arg(rate))->isChecked())
                after << QString::number(rate);
        QTEST(after.join(QLatin1Char(' ')), "after");
        QCOMPARE(d.searching(), button != u"Zrusit");
        d.ZastavitButton->click();
        QTRY_VERIFY_WITH_TIMEOUT(!d.searching(), SearchMs);
    }

    // A failed export leaves the previous export as it was.
    void failedExportKeepsOldFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("moduly.csv"));
        const QByteArray old(3000, 'x');
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(old) == old.size());
        file.close();
        TFormHledani::exportFileName = [path] { return path; };
        QCOMPARE(RunInChild([&] {
                     TFormHledani d;
                     if (!LimitFileSize(16))
                         return 2;
                     d.ExportButton->click();
                     return d.StatusBar1->text(0) == QStringLiteral(" Soubor %1 nelze zapsat.").arg(path) ? 0
                                                                                                          : 1;
                 }),
                 0);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), old);
    }

    // "Zastavit" during a sweep: at most the probe in flight still goes out.
    void stopWithinOneProbe()
    {
        SimProcess slow;
        QVERIFY2(slow.start(
                     {QStringLiteral("--module"), QStringLiteral("255:3510"), QStringLiteral("--wire-time")}),
                 qPrintable(slow.errorString()));
        data.udpPort = slow.udpPort();
        TFormHledani d;
        d.Data = &data;
        d.show();
        onlyRates(d, {600});
        d.HledatButton->click();
        QTRY_VERIFY_WITH_TIMEOUT(d.probesSent() >= 2, SearchMs);
        const int atStop = d.probesSent();
        d.ZastavitButton->click();
        QTRY_VERIFY_WITH_TIMEOUT(!d.searching(), SearchMs);
        QVERIFY2(d.probesSent() - atStop <= 1,
                 qPrintable(QStringLiteral("%1 after %2").arg(d.probesSent()).arg(atStop)));
        QCOMPARE(d.StatusBar1->text(0), QStringLiteral(" Hledání zastaveno, nalezeno: 0."));
        QVERIFY(d.HledatButton->isEnabled());
        QVERIFY(!AdapterBound());
    }

    // An open connection ends only when the user agrees.
    void openConnectionAsksFirst_data()
    {
        QTest::addColumn<bool>("answer");
        QTest::newRow("Ne") << false;
        QTest::newRow("Ano") << true;
    }
    void openConnectionAsksFirst()
    {
        QFETCH(bool, answer);
        data.udpTimeout = 1000; // far above how late rqsim may answer on a busy machine
        QVERIFY(ConnectWith(data, AdapterSettingsOf(data), 3, 4, [](const QString &) {}));
        QString asked;
        TFormHledani::askQuestion = [&asked, answer](const QString &q) {
            asked = q;
            return answer;
        };
        TFormHledani d;
        d.Data = &data;
        d.show();
        d.AdresyEdit->setText(QStringLiteral("3"));
        d.RezervaSpin->setValue(1000);
        onlyRates(d, {9600});
        d.HledatButton->click();
        QCOMPARE(
            asked,
            QStringLiteral("Hledání ukončí stávající připojení k modulu RQ-3510  v.1.08 (adresa 3, 9600 Bd). "
                           "Pokračovat?"));
        QCOMPARE(d.searching(), answer);
        QCOMPARE(data.ready(), !answer);
        QTRY_VERIFY_WITH_TIMEOUT(!d.searching(), SearchMs);
        QCOMPARE(d.NalezeneTable->rowCount(), answer ? 1 : 0);
    }

    // From the Tools menu: a module connected from the list shows in the
    // main window's status bar while the search window is still open.
    void fromMainWindow()
    {
        QTemporaryDir dir;
        TForm1::settingsPath = dir.filePath(QStringLiteral("W_rq3510.ini"));
        TForm1 w;
        w.Data->adapterKind = 4;
        w.Data->ipAddress = QStringLiteral("127.0.0.1");
        w.Data->udpPort = sim.udpPort();
        w.Data->udpTimeout = 1000; // far above how late rqsim may answer on a busy machine
        QAction *item = nullptr;
        for (QAction *a : w.NastrojeMenu->actions())
            if (a->text() == QStringLiteral("Hledání modulů"))
                item = a;
        QVERIFY(item);
        QString moduleWhileOpen;
        QTimer::singleShot(0, this, [&] {
            auto *d = qobject_cast<TFormHledani *>(QApplication::activeModalWidget());
            QVERIFY(d);
            d->AdresyEdit->setText(QStringLiteral("76-78"));
            d->RezervaSpin->setValue(1000);
            onlyRates(*d, {115200});
            d->HledatButton->click();
            QTRY_VERIFY_WITH_TIMEOUT(!d->searching(), SearchMs);
            d->NalezeneTable->selectRow(0);
            d->PripojitButton->click();
            moduleWhileOpen = w.StatusBar1->text(0);
            d->ZavritButton->click();
        });
        item->trigger();
        QCOMPARE(moduleWhileOpen, QStringLiteral(" Modul  RQ-3520  v.1.07"));
        QCOMPARE(w.StatusBar1->text(1), QStringLiteral(" Adresa  77"));
        QCOMPARE(w.StatusBar1->text(2), QStringLiteral(" Rychlost  115200Bd"));
        QVERIFY(w.Data->ready());
        TForm1::settingsPath.clear();
    }
};

QTEST_MAIN(TestHledani)
#include "tst_hledani.moc"
