#include "app/Dekl.h"
#include "app/StatusBar.h"
#include "comm/Kxxx638.h"
#include "config/NastavDialog.h"
#include "support/Fixtures.h"
#include "support/Hooks.h"
#include "support/TestAdapter.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {
// A settings dialog over the first n RQ-3510 range bytes, with a validation
// that refuses the value 99 in element 0.
class PatternDialog : public TNastavDialog
{
public:
    int n = 12;
    std::array<int, 12> shown{};
    QStringList texts;

    void ZapisOkno(const TCFGRQ &image) override
    {
        for (int i = 0; i < 12; ++i)
            shown[std::size_t(i)] = image.ranges3510[std::size_t(i)];
    }
    Validation PrectiOkno(TCFGRQ &image) override
    {
        for (int i = 0; i < 12; ++i)
            image.ranges3510[std::size_t(i)] = quint8(shown[std::size_t(i)]);
        return showValidation(shown[0] == 99 ? Validation::invalid(QStringLiteral(" Chybná hodnota"))
                                             : Validation());
    }
    QList<TransferStep> steps(TCFGRQ &image) override
    {
        QList<TransferStep> list;
        for (int i = 0; i < n; ++i)
            list.append({0, quint8(i), &image.ranges3510[std::size_t(i)]});
        return list;
    }

protected:
    void status(const QString &text) override
    {
        texts << text;
        TNastavDialog::status(text);
    }
};

// Asks for a stop once the given byte is done; keeps the last text.
class StopReport : public TransferReport
{
public:
    int stopAfter = 0; // 0: never
    int done = 0;
    QString last;
    void status(const QString &text) override { last = text; }
    void step(int k, int) override { done = k; }
    bool cancelled() const override { return stopAfter > 0 && done >= stopAfter; }
};

QStringList progress(const QString &head, const QList<int> &figures, const QString &done)
{
    QStringList list{head + QStringLiteral("0 %)")};
    for (int f : figures)
        list << head + QString::number(f) + QStringLiteral(" %)");
    list << done;
    return list;
}
} // namespace

class TestSettingsDialog : public QObject
{
    Q_OBJECT
    TestConnection link;
    TestAdapter &ta = link.ta;
    TData &data = link.data;

private slots:
    void init() { QVERIFY(link.open(5)); }
    void cleanup() { link.close(); }

    void progressTexts_data()
    {
        QTest::addColumn<int>("n");
        QTest::addColumn<QList<int>>("figures");
        QTest::newRow("1") << 1 << QList<int>{100};
        QTest::newRow("2") << 2 << QList<int>{50, 100};
        QTest::newRow("6") << 6 << QList<int>{16, 33, 50, 66, 83, 100};
        QTest::newRow("12") << 12 << QList<int>{8, 16, 25, 33, 41, 50, 58, 66, 75, 83, 91, 100};
        QTest::newRow("13") << 13 << QList<int>{7, 15, 23, 30, 38, 46, 53, 61, 69, 76, 84, 92, 100};
    }
    void progressTexts()
    {
        QFETCH(int, n);
        QFETCH(QList<int>, figures);
        PauseRecorder pauses;
        PatternDialog d;
        d.Data = &data;
        d.n = n;
        d.FormShow();
        d.texts.clear();
        d.Button2Click();
        QCOMPARE(d.texts, progress(QStringLiteral(" Probíhá čtení konfigurace z modulu ("), figures,
                                   QStringLiteral(" Konfigurace přečtena.")));
        QCOMPARE(pauses.pauses, QList<int>(n, 1));
        d.texts.clear();
        d.Button1Click();
        QCOMPARE(d.texts, progress(QStringLiteral(" Probíhá zápis konfigurace do modulu ("), figures,
                                   QStringLiteral(" Konfigurace zapsána.")));
        QCOMPARE(pauses.pauses.size(), 3 * n); // after the write and after each byte
    }

    void readSendsAddressAndPage()
    {
        PauseRecorder pauses;
        PatternDialog d;
        d.Data = &data;
        d.n = 2;
        d.FormShow();
        d.Button2Click();
        QCOMPARE(ta.sends(), (QList<TaRequest>{{5, 102, 0, {0, 0, 0, 0, 0}}, {5, 102, 0, {0, 1, 1, 0, 0}}}));
        ta.calls.clear();
        d.shown[0] = 3;
        d.shown[1] = 9;
        d.Button1Click();
        QCOMPARE(ta.sends(), (QList<TaRequest>{{5, 103, 0, {0, 0, 0, 3, 3}},
                                               {5, 102, 0, {0, 0, 0, 0, 0}},
                                               {5, 103, 0, {0, 1, 1, 9, 9}},
                                               {5, 102, 0, {0, 1, 1, 0, 0}}}));
    }

    // How far a sequence got and why it ended, beside the text it ends with.
    void outcomes_data()
    {
        using End = TransferOutcome::End;
        QTest::addColumn<bool>("write");
        QTest::addColumn<int>("failSend"); // the Send call that fails with code 4; 0 none
        QTest::addColumn<int>("differs");  // the byte that reads back otherwise; -1 none
        QTest::addColumn<int>("stopAfter");
        QTest::addColumn<bool>("connected");
        QTest::addColumn<int>("end");
        QTest::addColumn<int>("done");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("last");
        QTest::newRow("read") << false << 0 << -1 << 0 << true << int(End::Done) << 12 << 0
                              << QStringLiteral(" Konfigurace přečtena.");
        QTest::newRow("read fails at byte 5")
            << false << 5 << -1 << 0 << true << int(End::Failed) << 4 << 4 << QStringLiteral(" chyba 4");
        QTest::newRow("second write fails")
            << true << 3 << -1 << 0 << true << int(End::Failed) << 1 << 4 << QStringLiteral(" chyba 4");
        QTest::newRow("first read-back fails")
            << true << 2 << -1 << 0 << true << int(End::Failed) << 0 << 4 << QStringLiteral(" chyba 4");
        QTest::newRow("byte 3 differs") << true << 0 << 2 << 0 << true << int(End::Differs) << 2 << 0
                                        << QStringLiteral(" Chyba zápisu dat.");
        QTest::newRow("read stopped after 3") << false << 0 << -1 << 3 << true << int(End::CutShort) << 3 << 0
                                              << QStringLiteral(" Probíhá čtení konfigurace z modulu (25 %)");
        QTest::newRow("write stopped after 5")
            << true << 0 << -1 << 5 << true << int(End::CutShort) << 5 << 0
            << QStringLiteral(" Probíhá zápis konfigurace do modulu (41 %)");
        QTest::newRow("stop after the last byte") << true << 0 << -1 << 12 << true << int(End::Done) << 12
                                                  << 0 << QStringLiteral(" Konfigurace zapsána.");
        QTest::newRow("not connected")
            << true << 0 << -1 << 0 << false << int(End::Refused) << 0 << 0 << QString();
    }
    void outcomes()
    {
        QFETCH(bool, write);
        QFETCH(int, failSend);
        QFETCH(int, differs);
        QFETCH(int, stopAfter);
        QFETCH(bool, connected);
        QFETCH(int, end);
        QFETCH(int, done);
        QFETCH(int, error);
        QFETCH(QString, last);
        PauseRecorder pauses;
        if (failSend > 0)
            ta.failSend[failSend] = 4;
        if (differs >= 0)
            ta.readBackOverride[differs] = 0x77;
        data.connected = connected;
        TCFGRQ image;
        QList<TransferStep> steps;
        for (int i = 0; i < 12; ++i)
            steps.append({0, quint8(i), &image.ranges3510[std::size_t(i)]});
        StopReport report;
        report.stopAfter = stopAfter;
        const TransferOutcome outcome =
            write ? WriteSequence(&data, report, steps) : ReadSequence(&data, report, steps);
        QCOMPARE(int(outcome.end), end);
        QCOMPARE(outcome.ok(), outcome.end == TransferOutcome::End::Done);
        QCOMPARE(outcome.done, done);
        QCOMPARE(outcome.total, 12);
        QCOMPARE(int(outcome.error), error);
        QCOMPARE(report.last, last);
    }

    void readFailureLeavesMixture()
    {
        PauseRecorder pauses;
        for (int i = 0; i < 12; ++i)
            ta.memory[std::size_t(i)] = quint8(i);
        ta.failSend[5] = 2;
        PatternDialog d;
        d.Data = &data;
        d.FormShow();
        d.Button2Click();
        QCOMPARE(d.statusText(), QStringLiteral(" chyba 2"));
        QCOMPARE(d.shown, (std::array<int, 12>{0, 1, 2, 3, 6, 6, 6, 6, 6, 6, 6, 6}));
        QCOMPARE(ta.sends().size(), 5);
    }

    void mismatchStopsWrite()
    {
        PauseRecorder pauses;
        ta.readBackOverride[2] = 0x77;
        PatternDialog d;
        d.Data = &data;
        d.FormShow();
        d.Button1Click();
        QCOMPARE(d.statusText(), QStringLiteral(" Chyba zápisu dat."));
        const QList<TaRequest> sent = ta.sends();
        QCOMPARE(sent.size(), 6); // three writes, three read-backs
        QCOMPARE(sent.last().command, 102);
        QCOMPARE(sent.last().d[1], 2);
    }

    void writeErrorStops()
    {
        PauseRecorder pauses;
        ta.failSend[3] = 4; // the second write
        PatternDialog d;
        d.Data = &data;
        d.FormShow();
        d.Button1Click();
        QCOMPARE(d.statusText(), QStringLiteral(" chyba 4"));
        QCOMPARE(ta.sends().size(), 3);
    }

    void notConnected()
    {
        data.connected = false;
        PatternDialog d;
        d.Data = &data;
        d.FormShow();
        d.shown[0] = 99; // would fail validation if the controls were taken
        d.Button2Click();
        QCOMPARE(d.statusText(), QStringLiteral(" Připojení k modulu není inicializováno."));
        d.Button1Click();
        QCOMPARE(d.statusText(), QStringLiteral(" Připojení k modulu není inicializováno."));
        QCOMPARE(ta.sends().size(), 0);
        QCOMPARE(d.Work.ranges3510[0], 6); // the working copy untouched
        // "Ok" without a connection still stores.
        d.shown[0] = 2;
        d.Button3Click();
        QCOMPARE(data.cfg.ranges3510[0], 2);
        QCOMPARE(d.result(), int(QDialog::Accepted));
    }

    void okAndCancel()
    {
        PauseRecorder pauses;
        ta.memory[0] = 9;
        {
            PatternDialog d;
            d.Data = &data;
            d.FormShow();
            d.Button2Click();
            d.Button4Click();
        }
        QCOMPARE(data.cfg.ranges3510[0], 6); // Cancel keeps the record
        {
            PatternDialog d;
            d.Data = &data;
            d.FormShow();
            QCOMPARE(d.shown[0], 6);
            d.Button2Click();
            d.shown[1] = 4;
            d.Button3Click();
        }
        QCOMPARE(data.cfg.ranges3510[0], 9);
        QCOMPARE(data.cfg.ranges3510[1], 4);
        {
            PatternDialog d;
            d.Data = &data;
            d.FormShow();
            d.shown[0] = 99; // invalid: Ok closes without storing, Zapsat sends nothing
            const int sent = ta.count(QStringLiteral("Send"));
            d.Button1Click();
            QCOMPARE(d.statusText(), QStringLiteral(" Chybná hodnota"));
            QCOMPARE(ta.count(QStringLiteral("Send")), sent);
            d.shown[1] = 1;
            d.Button3Click();
            QCOMPARE(d.result(), int(QDialog::Accepted));
        }
        QCOMPARE(data.cfg.ranges3510[1], 4);
    }

    void noNestedSequenceAndSafeClose()
    {
        PauseRecorder pauses;
        PatternDialog d;
        d.Data = &data;
        d.FormShow();
        d.show();
        int step = 0;
        pauses.onPause = [&](int) {
            if (++step == 2) {
                // A second press while the first read runs is refused.
                QVERIFY(!d.Button2->isEnabled());
                QVERIFY(!d.Button1->isEnabled());
                d.Button2Click();
                d.Button1Click();
                d.Button3Click();
            }
            if (step == 4)
                d.Button4Click(); // Cancel during the transfer
        };
        d.Button2Click();
        QCOMPARE(ta.sends().size(), 4); // stopped after the byte in flight
        QVERIFY(!d.isVisible());
        QCOMPARE(d.result(), int(QDialog::Rejected));
        QVERIFY(d.Button2->isEnabled());
        QCOMPARE(data.cfg.ranges3510[0], 6);
    }

    // The close box during "Zapsat" puts the real question; "Ano" stops after
    // the byte in flight and the dialog stays open, saying how far it got.
    void closeDuringWriteAsksFirst_data()
    {
        QTest::addColumn<int>("pause");    // the pause during which the box is closed
        QTest::addColumn<int>("failSend"); // the Send call that fails; 0 none
        QTest::addColumn<int>("sends");
        QTest::addColumn<QString>("status");
        QTest::newRow("after the write of the third byte")
            << 5 << 0 << 6 << QStringLiteral(" Zápis přerušen po 3 z 12 bajtů.");
        // Of the whole write, though no byte was done.
        QTest::newRow("first read-back fails after the question")
            << 1 << 2 << 2 << QStringLiteral(" Zápis přerušen po 0 z 12 bajtů.");
    }
    void closeDuringWriteAsksFirst()
    {
        QFETCH(int, pause);
        QFETCH(int, failSend);
        QFETCH(int, sends);
        QFETCH(QString, status);
        if (failSend > 0)
            ta.failSend[failSend] = 4;
        PauseRecorder pauses;
        PatternDialog d;
        d.Data = &data;
        d.FormShow();
        d.show();
        QStringList seen;
        pauses.onPause = [&](int) {
            if (pauses.pauses.size() != pause)
                return;
            QTimer::singleShot(0, &d, [&seen] {
                for (QWidget *w : QApplication::topLevelWidgets()) {
                    auto *box = qobject_cast<QMessageBox *>(w);
                    if (!box || !box->isVisible())
                        continue;
                    seen << box->text();
                    for (QAbstractButton *b : box->buttons())
                        seen << b->text() + QLatin1Char('/') + QString::number(int(box->buttonRole(b)));
                    box->findChild<QPushButton *>(QStringLiteral("Ano"))->click();
                }
            });
            d.close();
        };
        d.Button1Click();
        QCOMPARE(seen, (QStringList{QStringLiteral("Přerušit zápis? Modul zůstane zapsán jen zčásti."),
                                    QStringLiteral("Ano/5"), QStringLiteral("Ne/6")}));
        QCOMPARE(ta.sends().size(), sends);
        QCOMPARE(d.statusText(), status);
        QVERIFY(d.isVisible());
    }
};

QTEST_MAIN(TestSettingsDialog)
#include "tst_settingsdialog.moc"
