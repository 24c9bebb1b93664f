// The compare dialog: two files, or a file and the connected module.
#include "app/Dekl.h"
#include "app/Hlavni.h"
#include "app/StatusBar.h"
#include "image/Porovnani.h"
#include "support/Fixtures.h"
#include "support/Hooks.h"
#include "support/QuestionHook.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {
QByteArray bytesOf(const std::array<quint8, 512> &memory)
{
    return QByteArray(reinterpret_cast<const char *>(memory.data()), int(memory.size()));
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
}

QStringList row(const QTableWidget *t, int r)
{
    QStringList cells;
    for (int c = 0; c < t->columnCount(); ++c)
        cells << t->item(r, c)->text();
    return cells;
}

QList<QStringList> rows(const QTableWidget *t)
{
    QList<QStringList> all;
    for (int r = 0; r < t->rowCount(); ++r)
        all << row(t, r);
    return all;
}
} // namespace

class TestPorovnani : public QObject
{
    Q_OBJECT
    TestConnection link;
    TestAdapter &ta = link.ta;
    TData &data = link.data;
    QTemporaryDir m_dir;

    QString path(const QString &name) const { return m_dir.filePath(name); }
    // Both sides from files, through "Procházet".
    void compareFiles(TFormPorovnani &d, const QString &a, const QString &b)
    {
        QString next = a;
        d.chooseFile = [&next](const QString &) { return std::optional<QString>(next); };
        d.Button1Click();
        next = b;
        d.Button2Click();
    }

private slots:
    void init()
    {
        QVERIFY(link.open(1));
        data.connected = false; // the file tests need no module
    }
    void cleanup() { link.close(); }

    void twoBackupsShowTheirDifferences()
    {
        const QByteArray a = bytesOf(ta.memory);
        QByteArray b = a;
        b[63] = char(100);
        b[62] = char(0);
        b[33] = char(0xDF); // DIN5 not negated
        b[256 + 44] = char(7);
        writeFile(path(QStringLiteral("modul1.kee")), a);
        writeFile(path(QStringLiteral("modul2.kee")), b);
        TFormPorovnani d;
        d.Data = &data;
        d.FormShow();
        QVERIFY(d.RadioButton1->isChecked()); // no module connected
        compareFiles(d, path(QStringLiteral("modul1.kee")), path(QStringLiteral("modul2.kee")));
        QCOMPARE(d.model(), ModuleModel::RQ3510); // the first model the file fits
        QCOMPARE(d.statusText(), QStringLiteral(" Liší se 4 položky."));
        QCOMPARE(d.Table1->horizontalHeaderItem(1)->text(), QStringLiteral("modul1.kee"));
        QCOMPARE(d.Table1->horizontalHeaderItem(2)->text(), QStringLiteral("modul2.kee"));
        QCOMPARE(row(d.Table1, 0), (QStringList{QStringLiteral("≠ Adresa modulu"), QStringLiteral("1"),
                                                QStringLiteral("100")}));
        QCOMPARE(row(d.Table1, 2),
                 (QStringList{QStringLiteral("AIN0"), QStringLiteral("+/- 2 V"), QStringLiteral("+/- 2 V")}));
        QVERIFY(d.Table1->item(0, 0)->font().bold());
        QVERIFY(!d.Table1->item(2, 0)->font().bold());

        d.CheckBox1->setChecked(true);
        const QList<QStringList> differences{
            {QStringLiteral("≠ Adresa modulu"), QStringLiteral("1"), QStringLiteral("100")},
            {QStringLiteral("≠ Komunikační rychlost"), QStringLiteral("9600 Bd"), QStringLiteral("600 Bd")},
            {QStringLiteral("≠ Negace DIN5"), QStringLiteral("ano"), QStringLiteral("ne")},
            {QStringLiteral("≠ Ostatní bajty"), QStringLiteral("477 bajtů, nenulových: 1"),
             QStringLiteral("477 bajtů, nenulových: 2")},
            {QStringLiteral("≠   stránka 1, adresa 44"), QStringLiteral("0x00 (0)"),
             QStringLiteral("0x07 (7)")}};
        QCOMPARE(rows(d.Table1), differences);

        d.Button5Click();
        QString expected =
            QStringLiteral("Porovnání konfigurace, model RQ-3510\nPoložka\tmodul1.kee\tmodul2.kee\n");
        for (const QStringList &r : differences)
            expected += r.join(QLatin1Char('\t')) + QLatin1Char('\n');
        QCOMPARE(QApplication::clipboard()->text(), expected);

        // Another model reads the same bytes otherwise.
        d.setModel(ModuleModel::RQ3520);
        QCOMPARE(d.statusText(), QStringLiteral(" Liší se 4 položky."));
        d.CheckBox1->setChecked(false);
        QCOMPARE(row(d.Table1, 2).at(1), QStringLiteral("TC typ T"));
        QCOMPARE(ta.count(QStringLiteral("Send")), 0);
    }

    void sameOrBrokenFiles()
    {
        writeFile(path(QStringLiteral("a.kee")), bytesOf(ta.memory));
        writeFile(path(QStringLiteral("kratky.kee")), QByteArray(100, 0));
        writeFile(path(QStringLiteral("dlouhy.kee")), bytesOf(ta.memory) + QByteArray(88, 'x'));
        TFormPorovnani d;
        d.Data = &data;
        d.FormShow();
        compareFiles(d, path(QStringLiteral("a.kee")), path(QStringLiteral("a.kee")));
        QCOMPARE(d.statusText(), QStringLiteral(" Konfigurace se shodují."));
        compareFiles(d, path(QStringLiteral("a.kee")), path(QStringLiteral("dlouhy.kee")));
        QCOMPARE(d.statusText(),
                 QStringLiteral(" Konfigurace se shodují. Soubor dlouhy.kee má 600 bajtů, ne 512."));
        compareFiles(d, path(QStringLiteral("a.kee")), path(QStringLiteral("kratky.kee")));
        QCOMPARE(d.statusText(), QStringLiteral(" Chyba načítání dat."));
        QCOMPARE(d.Table1->horizontalHeaderItem(2)->text(), QStringLiteral("Druhý"));
        QCOMPARE(d.Table1->item(0, 2)->text(), QString());
    }

    // With a module connected: its model is chosen and the module is read
    // with the backup's sequence and progress.
    void fileAgainstTheModule()
    {
        PauseRecorder pauses;
        data.connected = true;
        data.identity = QStringLiteral("RQ-3520  v.1.08");
        writeFile(path(QStringLiteral("zaloha.kee")), bytesOf(ta.memory));
        ta.memory[16] = 5;
        TFormPorovnani d;
        d.Data = &data;
        d.FormShow();
        QCOMPARE(d.model(), ModuleModel::RQ3520);
        QVERIFY(d.RadioButton2->isChecked());
        d.chooseFile = [this](const QString &) {
            return std::optional<QString>(path(QStringLiteral("zaloha.kee")));
        };
        d.Button1Click();
        QCOMPARE(d.model(), ModuleModel::RQ3520); // the module's model stays
        d.Button3Click();
        const QList<TaRequest> sent = ta.sends();
        QCOMPARE(sent.size(), 512);
        QCOMPARE(sent[300], (TaRequest{1, 102, 1, {0, 44, 44, 0, 0}}));
        QCOMPARE(d.ProgressBar1->value(), 100);
        QCOMPARE(d.statusText(), QStringLiteral(" Liší se 1 položka."));
        QCOMPARE(d.Table1->horizontalHeaderItem(2)->text(), QStringLiteral("Modul (adresa 1)"));
        d.CheckBox1->setChecked(true);
        QCOMPARE(rows(d.Table1), (QList<QStringList>{{QStringLiteral("≠ Počet měřených vstupů"),
                                                      QStringLiteral("12"), QStringLiteral("5")}}));
        // The record's image is not touched.
        QCOMPARE(data.cfg.eeprom[16], 0);
    }

    // "Přerušit" stops the read and keeps the dialog; closing ends it and
    // closes, both without a question.
    void moduleReadCanBeCancelled_data()
    {
        QTest::addColumn<bool>("close");
        QTest::newRow("Přerušit") << false;
        QTest::newRow("Zavřít") << true;
    }
    void moduleReadCanBeCancelled()
    {
        QFETCH(bool, close);
        PauseRecorder pauses;
        QuestionHook questions(false);
        data.connected = true;
        TFormPorovnani d;
        d.Data = &data;
        d.FormShow();
        d.show();
        pauses.onPause = [&](int) {
            if (pauses.pauses.size() == 3)
                QVERIFY(d.Button4->isEnabled() && !d.Button3->isEnabled() && !d.Button1->isEnabled());
            if (pauses.pauses.size() == 10)
                close ? d.Button6Click() : d.Button4Click();
        };
        d.Button3Click();
        QCOMPARE(ta.sends().size(), 10);
        QVERIFY(questions.questions.isEmpty());
        QCOMPARE(d.isVisible(), !close);
        if (!close) {
            QCOMPARE(d.statusText(), QStringLiteral(" Čtení přerušeno."));
            QVERIFY(d.Button3->isEnabled());
            QVERIFY(!d.Button4->isEnabled());
            QCOMPARE(d.Table1->rowCount(), 0);
        }
    }

    // "Porovnání konfigurace" in "Nástroje" opens the dialog.
    void toolsMenuOpensIt()
    {
        TForm1::settingsPath = path(QStringLiteral("W_rq3510.ini"));
        TForm1 w;
        QAction *item = nullptr;
        for (QAction *a : w.NastrojeMenu->actions())
            if (a->text() == u"Porovnání konfigurace")
                item = a;
        QVERIFY(item);
        QString opened;
        QTimer::singleShot(0, [&opened] {
            if (auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
                opened = QString::fromLatin1(d->metaObject()->className());
                d->reject();
            }
        });
        item->trigger();
        QCOMPARE(opened, QStringLiteral("TFormPorovnani"));
    }
};

QTEST_MAIN(TestPorovnani)
#include "tst_porovnani.moc"
