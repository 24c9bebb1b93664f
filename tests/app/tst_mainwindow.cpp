#include "app/Dekl.h"
#include "app/Hlavni.h"
#include "app/StatusBar.h"
#include "comm/Kxxx638.h"
#include "comm/Spojeni.h"
#include "scan/Hledani.h"
#include "support/Child.h"
#include "support/TestAdapter.h"

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {
// Closes the next modal dialog as soon as it shows, and tells its class.
void closeNextDialog(QString *className)
{
    QTimer::singleShot(0, [=] {
        QWidget *w = QApplication::activeModalWidget();
        if (auto *d = qobject_cast<QDialog *>(w)) {
            *className = QString::fromLatin1(d->metaObject()->className());
            d->reject();
        }
    });
}
} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    TestAdapter &ta = TestAdapter::instance();

private slots:
    void init()
    {
        ta.reset();
        TForm1::settingsPath = m_dir.filePath(QStringLiteral("W_rq3510.ini"));
        QFile::remove(TForm1::settingsPath);
        TForm1::createRecord = nullptr;
        TForm1::reportSaveFailure = nullptr;
    }

    void captionSizeAndStatusBar()
    {
        TForm1 w;
        QCOMPARE(w.windowTitle(), QStringLiteral(" RQ-3510,3520,3530 (v.1.08) -  nastavení modulu"));
        QCOMPARE(w.size(), QSize(600, 400));
        QCOMPARE(w.StatusBar1->panelCount(), 5);
        QCOMPARE(w.StatusBar1->text(0), QStringLiteral(" Modul"));
        QCOMPARE(w.StatusBar1->text(1), QStringLiteral(" Adresa"));
        QCOMPARE(w.StatusBar1->text(2), QStringLiteral(" Rychlost"));
        QCOMPARE(w.StatusBar1->text(3), QString());
        QCOMPARE(w.StatusBar1->text(4), QStringLiteral("Nepřipojeno"));
        QCOMPARE(w.StatusBar1->panel(0)->width(), 140);
        QCOMPARE(w.StatusBar1->panel(1)->width(), 80);
        QCOMPARE(w.StatusBar1->panel(2)->width(), 120);
    }

    void menuInOrder()
    {
        TForm1 w;
        QStringList top;
        for (QAction *a : w.menuBar()->actions())
            top << a->text();
        QCOMPARE(top, (QStringList{QStringLiteral("&Připojení"), QStringLiteral("&Nastavení"),
                                   QStringLiteral("&Okamžité hodnoty"), QStringLiteral("Ná&stroje"),
                                   QStringLiteral("&Konec")}));
        QVERIFY(!w.PripojeniAction->menu());
        QVERIFY(!w.KonecAction->menu());
        QStringList settings;
        for (QAction *a : w.NastaveniMenu->actions())
            settings << a->text();
        QCOMPARE(settings,
                 (QStringList{QStringLiteral("Adresa, rychlost"), QStringLiteral("Analogové vstupy RQ-3510"),
                              QStringLiteral("Analogové vstupy RQ-3520"),
                              QStringLiteral("Analogové vstupy RQ-3530"), QStringLiteral("Interní teploměr"),
                              QStringLiteral("Digitální vstupy/výstupy"),
                              QStringLiteral("Kalibrace analogových vstupů"),
                              QStringLiteral("Kalibrace interního teploměru"),
                              QStringLiteral("Konfigurační EEPROM")}));
        QStringList live;
        for (QAction *a : w.OkamziteMenu->actions())
            live << a->text();
        QCOMPARE(live, (QStringList{QStringLiteral("Analogové vstupy"), QStringLiteral("Digitální vstupy"),
                                    QStringLiteral("Digitální výstupy"), QStringLiteral("Status registr")}));
    }

    void everyCommandOpensItsDialog_data()
    {
        QTest::addColumn<int>("menu"); // 0 settings, 1 live, 2 connection
        QTest::addColumn<int>("item");
        QTest::addColumn<QString>("className");
        const char *settings[] = {"TForm12", "TForm13", "TForm13a", "TForm13b", "TForm4",
                                  "TForm14", "TForm6",  "TFormIT",  "TForm5"};
        for (int i = 0; i < 9; ++i)
            QTest::addRow("%s", settings[i]) << 0 << i << QString::fromLatin1(settings[i]);
        const char *live[] = {"TForm3", "TForm11", "TForm9", "TForm15"};
        for (int i = 0; i < 4; ++i)
            QTest::addRow("%s", live[i]) << 1 << i << QString::fromLatin1(live[i]);
        QTest::newRow("TForm2") << 2 << 0 << "TForm2";
    }
    void everyCommandOpensItsDialog()
    {
        QFETCH(int, menu);
        QFETCH(int, item);
        QFETCH(QString, className);
        TForm1 w;
        QString opened;
        closeNextDialog(&opened);
        QAction *a = menu == 0   ? w.NastaveniMenu->actions().at(item)
                     : menu == 1 ? w.OkamziteMenu->actions().at(item)
                                 : w.PripojeniAction;
        a->trigger();
        QCOMPARE(opened, className);
        // The dialog is gone once its command returns.
        QCOMPARE(w.findChildren<QDialog *>().size(), 0);
    }

    void connectionDialogCloseUpdatesStatusBar()
    {
        {
            QFile f(TForm1::settingsPath);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("[P\xF8ipojen\xED]\r\nRozhran\xED=COMx\r\nAdresa=17\r\n");
        }
        TForm1 w;
        QString opened;
        closeNextDialog(&opened);
        w.PripojeniClick();
        QCOMPARE(w.StatusBar1->text(0), QStringLiteral(" Modul  "));
        QCOMPARE(w.StatusBar1->text(1), QStringLiteral(" Adresa  17"));
        QCOMPARE(w.StatusBar1->text(2), QStringLiteral(" Rychlost  9600Bd"));
        // Another dialog leaves the status bar alone.
        w.Data->moduleAddress = 3;
        closeNextDialog(&opened);
        w.AdresaRychlostClick();
        QCOMPARE(w.StatusBar1->text(1), QStringLiteral(" Adresa  17"));
    }

    // Panel 4 follows the connection at every change, whichever window made
    // it (here the search, ending it); panels 0 to 2 keep the last module.
    void connectedPanelFollowsEveryWindow()
    {
        TForm1 w;
        QVERIFY(ConnectWith(*w.Data, AdapterSettingsOf(*w.Data), 1, 4, [](const QString &) {}));
        QCOMPARE(w.StatusBar1->text(4), QStringLiteral("Připojeno"));
        TFormHledani::askQuestion = [](const QString &) { return true; };
        QString whileOpen;
        QTimer::singleShot(0, [&] {
            auto *scan = qobject_cast<TFormHledani *>(QApplication::activeModalWidget());
            scan->AdresyEdit->setText(QStringLiteral("1"));
            scan->HledatButton->click();
            whileOpen = w.StatusBar1->text(4);
            scan->reject();
        });
        w.HledaniModuluClick();
        TFormHledani::askQuestion = nullptr;
        QCOMPARE(whileOpen, QStringLiteral("Nepřipojeno"));
        QCOMPARE(w.StatusBar1->text(0), QStringLiteral(" Modul  RQ-3510  v.1.08"));
    }

    void closeWhileConnectedCallsDoneOnce()
    {
        {
            TForm1 w;
            QCOMPARE(OpenAdapter(4, &w.Data->handle, InitBlock{}), 0u);
            w.Data->adapterKind = 4;
            w.Data->connected = true;
            w.close();
            QVERIFY(!w.Data);
            QCOMPARE(ta.count(QStringLiteral("Done")), 1);
            QVERIFY(!AdapterBound());
        } // the destructor does not close a second time
        QCOMPARE(ta.count(QStringLiteral("Done")), 1);
        QVERIFY(QFile::exists(TForm1::settingsPath));
    }

    void closeWhileNotConnectedCallsNothing()
    {
        {
            TForm1 w;
            w.KonecAction->trigger();
        }
        QCOMPARE(ta.calls.size(), 0);
        QVERIFY(QFile::exists(TForm1::settingsPath));
    }

    void failedSaveIsReportedAndCloseGoesOn()
    {
        TForm1::settingsPath = m_dir.filePath(QStringLiteral("missing/W_rq3510.ini"));
        QString reported;
        TForm1::reportSaveFailure = [&](const QString &text) { reported = text; };
        TForm1 w;
        QCOMPARE(OpenAdapter(4, &w.Data->handle, InitBlock{}), 0u);
        w.Data->adapterKind = 4;
        w.Data->connected = true;
        w.close();
        QVERIFY(!reported.isEmpty());
        QVERIFY(!w.Data);
        QCOMPARE(ta.count(QStringLiteral("Done")), 1);
    }

    // Past a file size limit the settings are not saved: the user is told at
    // close, in Czech, and the old file stays as it was.
    void fileSizeLimitIsReportedAtClose()
    {
        const QByteArray old = QByteArray("; ") + QByteArray(200, 'x') + "\r\n";
        const int code = RunWithFullDisk(FullDisk::SizeLimit, TForm1::settingsPath, old, [&] {
            QString reported;
            TForm1::reportSaveFailure = [&](const QString &text) { reported = text; };
            TForm1 w;
            w.close();
            return reported.startsWith(QStringLiteral("Nastavení připojení se nepodařilo uložit.")) &&
                           reported.contains(QStringLiteral("velikost"))
                       ? 0
                       : 1;
        });
        QCOMPARE(code, 0);
        QFile f(TForm1::settingsPath);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), old);
    }

    void failedRecordCreation()
    {
        TForm1::createRecord = [] { return static_cast<TData *>(nullptr); };
        {
            TForm1 w;
            QCOMPARE(w.StatusBar1->text(3), QStringLiteral(" Nelze vytvořit datové struktury programu"));
            w.PripojeniClick(); // does nothing: no dialog to wait for
            w.NastaveniMenu->actions().at(0)->trigger();
            QCOMPARE(w.StatusBar1->text(0), QStringLiteral(" Modul"));
            w.close();
        }
        QVERIFY(!QFile::exists(TForm1::settingsPath));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
