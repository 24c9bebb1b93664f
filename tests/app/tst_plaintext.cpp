// Texts from outside the program (library error texts, the module identity,
// file names) are shown as they are: "<b>x</b>" reads "<b>x</b>", not a bold x.
#include "app/Dekl.h"
#include "app/Hlavni.h"
#include "app/StatusBar.h"
#include "comm/Kxxx638.h"
#include "comm/Pripojeni.h"
#include "config/NastavAdr.h"
#include "support/Fixtures.h"
#include "support/Hooks.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

namespace {
const QString Markup = QStringLiteral("<b>x</b>");

// Every QLabel a status text can reach: the panels of a status bar.
QList<QLabel *> panels(const QWidget *w)
{
    QList<QLabel *> found;
    for (QLabel *l : w->findChildren<QLabel *>())
        if (l->objectName().startsWith(QLatin1String("Panel")))
            found << l;
    return found;
}

// Calls act with the dialog of class D as soon as one runs modally, once, for
// as long as the returned timer lives.
template <class D> std::unique_ptr<QTimer> onModal(const std::function<void(D *)> &act)
{
    auto poll = std::make_unique<QTimer>();
    QTimer *timer = poll.get();
    timer->callOnTimeout([timer, act] {
        if (auto *d = qobject_cast<D *>(QApplication::activeModalWidget())) {
            timer->stop();
            act(d);
        }
    });
    timer->start(5);
    return poll;
}
} // namespace

class TestPlainText : public QObject
{
    Q_OBJECT
    TestAdapter &ta = TestAdapter::instance();
    QTemporaryDir m_dir;

private slots:
    void init()
    {
        ta.reset();
        TForm1::settingsPath = m_dir.filePath(QStringLiteral("W_rq3510.ini"));
        TForm1::reportSaveFailure = nullptr;
    }

    // The status panels of the main window and of every dialog it opens.
    void everyStatusPanelIsPlainText()
    {
        TForm1 w;
        QList<QAction *> actions{w.PripojeniAction};
        for (QMenu *menu : w.findChildren<QMenu *>())
            actions += menu->actions();
        QStringList checked;
        for (QLabel *l : panels(&w))
            QVERIFY2(l->textFormat() == Qt::PlainText, qPrintable(l->objectName()));
        for (QAction *action : actions) {
            if (action->menu() || action == w.KonecAction)
                continue;
            QString failed;
            const auto poll = onModal<QDialog>([&](QDialog *d) {
                for (QLabel *l : panels(d))
                    if (l->textFormat() != Qt::PlainText)
                        failed += d->windowTitle() + QLatin1Char(' ') + l->objectName();
                checked << d->windowTitle();
                d->reject();
            });
            action->trigger();
            QVERIFY2(failed.isEmpty(), qPrintable(failed));
        }
        QVERIFY(checked.size() >= 14);
    }

    // A library error text, the module identity in the connection dialog
    // and in the main window, and a file name in the warning at close.
    void outsideTextsShowAsGiven()
    {
        PauseRecorder pauses;
        TData data;
        QVERIFY(ConnectThroughTestAdapter(data, 1));
        ta.errorTexts[7] = Markup;
        ta.failSend[1] = 7;
        TForm12 adr;
        adr.Data = &data;
        adr.FormShow();
        adr.Button2Click();
        QCOMPARE(adr.StatusBar1->text(0), QLatin1Char(' ') + Markup);
        QCOMPARE(adr.StatusBar1->panel(0)->textFormat(), Qt::PlainText);
        CloseAdapter(4, &data.handle);

        ta.reset();
        ta.model = Markup.toLatin1();
        TForm1 w;
        const auto poll = onModal<TForm2>([&](TForm2 *d) {
            d->ComboBox2->setCurrentIndex(4);
            d->Edit2->setText(QStringLiteral("10.0.0.7"));
            d->Button1Click();
            QVERIFY(d->Panel1->text().endsWith(Markup + QStringLiteral(" v.1.08")));
            QCOMPARE(d->Panel1->textFormat(), Qt::PlainText);
            d->reject();
        });
        w.PripojeniClick();
        QCOMPARE(w.StatusBar1->text(0), QStringLiteral(" Modul  ") + Markup + QStringLiteral(" v.1.08"));

        // A settings file that cannot be written, in a folder named with markup.
        QVERIFY(QDir(m_dir.path()).mkpath(Markup + QStringLiteral("/W_rq3510.ini")));
        TForm1::settingsPath = m_dir.filePath(Markup + QStringLiteral("/W_rq3510.ini"));
        TForm1 second;
        QString shown;
        Qt::TextFormat format = Qt::AutoText;
        const auto answer = onModal<QMessageBox>([&](QMessageBox *box) {
            shown = box->text();
            format = box->textFormat();
            box->accept();
        });
        second.close();
        QVERIFY2(shown.contains(Markup), qPrintable(shown));
        QCOMPARE(format, Qt::PlainText);
    }
};

QTEST_MAIN(TestPlainText)
#include "tst_plaintext.moc"
