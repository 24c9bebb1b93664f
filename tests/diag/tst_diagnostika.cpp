// The "Diagnostika spojení" window: opened from "Ná&stroje" beside the modal
// dialogs, it shows the counters live, filters and exports the log and writes
// the map of stable port names; by itself it sends nothing.
#include "PortMap.h"
#include "app/Hlavni.h"
#include "app/Otazka.h"
#include "app/StatusBar.h"
#include "comm/Pripojeni.h"
#include "diag/Diagnostika.h"
#include "diag/LinkStats.h"
#include "support/Fixtures.h"
#include "support/QuestionHook.h"

#include <QApplication>
#include <QBarCategoryAxis>
#include <QBarSet>
#include <QCategoryAxis>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeAxis>
#include <QGraphicsTextItem>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QValueAxis>

#include <atomic>
#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

class TestDiagnostika : public QObject
{
    Q_OBJECT
    TestConnection link;
    QTemporaryDir m_dir;

    // One transaction of the given duration, as the binding reports it.
    static void record(quint32 us, quint8 error)
    {
        static qint64 now = 0;
        LinkStats &stats = LinkStats::instance();
        const auto old = stats.setClock([] { return now; });
        const quint32 request[8] = {3, 102, 0, 0, 0, 0, 0, 0};
        now = us;
        stats.record(4, request, error, {}, 0);
        stats.setClock(old);
    }

    void traffic(int count, const QMap<int, quint32> &failures)
    {
        link.ta.failSend = failures;
        for (int i = 0; i < count; ++i) {
            ModuleBytes d{0, static_cast<quint8>(i), 0, 0, 0};
            Transact(link.data, 3, 102, 0, d);
        }
    }

private slots:
    void init()
    {
        TForm1::settingsPath = m_dir.filePath(QStringLiteral("W_rq3510.ini"));
        QVERIFY(link.open(3));
    }
    void cleanup() { link.close(); }

    // The menu item shows one window, not modal, and shows it again rather than a second one.
    void openedBesideTheOthers()
    {
        TForm1::settingsPath = m_dir.filePath(QStringLiteral("W_rq3510.ini"));
        TForm1 w;
        QAction *item = nullptr;
        for (QAction *a : w.NastrojeMenu->actions())
            if (a->text() == u"Diagnostika spojení")
                item = a;
        QVERIFY(item);
        item->trigger();
        QVERIFY(w.Diagnostika);
        QVERIFY(w.Diagnostika->isVisible());
        QVERIFY(!w.Diagnostika->isModal());
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        QCOMPARE(w.Diagnostika->windowTitle(), QStringLiteral("Diagnostika spojení"));
        TFormDiagnostika *first = w.Diagnostika;
        item->trigger();
        QCOMPARE(w.Diagnostika.data(), first);
        // Closing the main window takes it along.
        w.close();
        QVERIFY(!w.Diagnostika);
    }

    // A question or a file dialog asked inside a dialog leaves it usable too.
    void usableBesideAQuestion_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("question") << 0;
        QTest::newRow("file to open") << 1;
        QTest::newRow("file to save") << 2;
    }
    void usableBesideAQuestion()
    {
        QFETCH(int, kind);
        TForm1 w;
        w.DiagnostikaSpojeniClick();
        TFormDiagnostika *diag = w.Diagnostika;
        QDialog owner(&w);
        owner.setWindowModality(Qt::WindowModal);
        owner.show();
        Qt::WindowModality modality = Qt::ApplicationModal;
        QTimer::singleShot(0, this, [&] {
            QWidget *modal = QApplication::activeModalWidget();
            modality = modal->windowModality();
            QTest::mouseClick(diag->ErrorsOnlyCheckBox, Qt::LeftButton);
            qobject_cast<QDialog *>(modal)->reject();
        });
        if (kind == 0)
            rq::ask(&owner, QStringLiteral("Titulek"), QStringLiteral("Otázka?"));
        else if (kind == 1)
            rq::openFileName(&owner, QStringLiteral("Otevřít"), QString(), QString());
        else
            rq::saveFileName(&owner, QStringLiteral("Uložit"), QString(), QString());
        QCOMPARE(modality, Qt::WindowModal);
        QVERIFY(diag->ErrorsOnlyCheckBox->isChecked());
        w.close();
    }

    // A timeout ends just past the reply timeout it waited for: drawn at
    // it. Replies and other errors stay at their time; labels stay whole.
    void histogram_data()
    {
        QTest::addColumn<quint32>("us");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("bin");
        QTest::newRow("200 ms timeout") << 200100u << 20 << "200";
        QTest::newRow("600 Bd timeout") << 1000400u << 20 << "1000";
        QTest::newRow("error at 300 ms") << 300000u << 21 << "500";
        QTest::newRow("reply at 1.2 s") << 1200000u << 0 << "víc";
    }
    void histogram()
    {
        QFETCH(quint32, us);
        QFETCH(int, error);
        QFETCH(QString, bin);
        TFormDiagnostika d;
        d.Data = &link.data;
        d.show();
        record(us, static_cast<quint8>(error));
        d.Timer1Timer();
        auto *axis =
            qobject_cast<QBarCategoryAxis *>(d.HistogramChart->chart()->axes(Qt::Horizontal).value(0));
        QCOMPARE((error ? d.ErrorsSet : d.RepliesSet)->at(static_cast<int>(axis->categories().indexOf(bin))),
                 1.0);
        QStringList shown;
        QTRY_VERIFY([&] {
            shown.clear();
            for (QGraphicsItem *item : d.HistogramChart->scene()->items())
                if (auto *t = dynamic_cast<QGraphicsTextItem *>(item))
                    shown << t->toPlainText();
            return shown.contains(bin);
        }());
        for (const QString &label : axis->categories())
            QVERIFY2(shown.contains(label), qPrintable(shown.join(QLatin1Char('|'))));
    }

    // "Logaritmická osa": one timeout beside thousands of replies is a bar
    // of a visible height, under labels 0, 1, 10, 100 ...; without it the
    // counts stand on a linear axis as before.
    void logarithmicAxis_data()
    {
        QTest::addColumn<bool>("logarithmic");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QStringList>("labels"); // of the count axis; empty for the linear one
        QTest::addColumn<double>("errorShare");  // the error bar's height in the axis' range, at least
        // Counts without group separators: "10,000" would read as ten to a Czech eye.
        const QStringList decades{u"0"_s, u"1"_s, u"10"_s, u"100"_s, u"1000"_s, u"10000"_s};
        QTest::newRow("linear") << false << u"cs_CZ"_s << QStringList{} << 0.0;
        QTest::newRow("logarithmic") << true << u"cs_CZ"_s << decades << 0.15;
        QTest::newRow("logarithmic, English settings") << true << u"en_US"_s << decades << 0.15;
    }
    void logarithmicAxis()
    {
        QFETCH(bool, logarithmic);
        QFETCH(QString, locale);
        QFETCH(QStringList, labels);
        QFETCH(double, errorShare);
        QLocale::setDefault(QLocale(locale));
        LinkStats::instance().restart();
        for (int i = 0; i < 5000; ++i)
            record(50, 0);
        record(200100, 20);
        TFormDiagnostika d;
        d.Data = &link.data;
        d.show();
        if (logarithmic)
            d.LogAxisCheckBox->click();
        d.Timer1Timer();
        const int bin = 10; // up to 200 ms: the timeout
        QAbstractAxis *axis = d.HistogramChart->chart()->axes(Qt::Vertical).value(0);
        QCOMPARE(axis->titleText(), u"Počet"_s);
        auto *categories = qobject_cast<QCategoryAxis *>(axis);
        QCOMPARE(categories != nullptr, logarithmic);
        double top = 0;
        if (categories) {
            QCOMPARE(categories->categoriesLabels(), labels);
            top = categories->max();
        } else {
            top = qobject_cast<QValueAxis *>(axis)->max();
            QVERIFY(top >= 5000);
        }
        QVERIFY2(d.ErrorsSet->at(bin) / top >= errorShare,
                 qPrintable(QString::number(d.ErrorsSet->at(bin)) + u' ' + QString::number(top) + u' ' +
                            QString::number(LinkStats::instance().errors())));
        QVERIFY(d.ErrorsSet->at(bin) > 0);
        // Back to linear: the counts as they are.
        if (logarithmic) {
            d.LogAxisCheckBox->click();
            QVERIFY(qobject_cast<QValueAxis *>(d.HistogramChart->chart()->axes(Qt::Vertical).value(0)));
            QCOMPARE(d.ErrorsSet->at(bin), 1.0);
            QCOMPARE(d.RepliesSet->at(0), 5000.0);
        }
        QLocale::setDefault(QLocale::c());
    }

    // Replies and errors in each second of the last ten minutes: a bad
    // stretch shows when it happened.
    void ratesPerSecond_data()
    {
        QTest::addColumn<QList<int>>("replies"); // second after the start, one reply each
        QTest::addColumn<QList<int>>("errors");
        QTest::newRow("steady, then bad") << QList<int>{1, 1, 2, 2, 2} << QList<int>{300, 300, 301};
        QTest::newRow("errors only") << QList<int>{} << QList<int>{5};
    }
    void ratesPerSecond()
    {
        QFETCH(QList<int>, replies);
        QFETCH(QList<int>, errors);
        static qint64 now = 0;
        LinkStats &stats = LinkStats::instance();
        const auto old = stats.setClock([] { return now; });
        now = 0;
        stats.restart();
        const qint64 start = stats.since();
        const quint32 request[8] = {3, 0, 5, 0, 0, 0, 0, 0};
        const auto at = [&](int second, quint8 error) {
            now = qint64(second) * 1'000'000;
            stats.record(4, request, error, {}, now);
        };
        for (int s : replies)
            at(s, 0);
        for (int s : errors)
            at(s, 20);
        stats.setClock(old);
        TFormDiagnostika::wallClock = [start] { return start + 400'000; };
        TFormDiagnostika d;
        d.Data = &link.data;
        d.show();
        d.Timer1Timer();
        TFormDiagnostika::wallClock = nullptr;
        const auto count = [&](QLineSeries *line, int second) {
            const qreal x = qreal((start + second * 1000LL) / 1000 * 1000);
            for (const QPointF &p : line->points())
                if (p.x() == x)
                    return int(p.y());
            return -1;
        };
        for (int s : replies + errors) {
            QCOMPARE(count(d.RepliesRate, s), int(replies.count(s)));
            QCOMPARE(count(d.ErrorsRate, s), int(errors.count(s)));
        }
        QCOMPARE(count(d.ErrorsRate, 200), 0);
        QVERIFY(d.RepliesRate->count() <= LinkStats::RateSeconds);
        auto *time = qobject_cast<QDateTimeAxis *>(d.RateChart->chart()->axes(Qt::Horizontal).value(0));
        QCOMPARE(time->max().toMSecsSinceEpoch(), start + 400'000);
        QCOMPARE(time->min().toMSecsSinceEpoch(), start + 400'000 - 600'000);
    }

    void countersLive()
    {
        TFormDiagnostika d;
        d.Data = &link.data;
        d.show();
        traffic(10, {{3, 20}, {7, 20}, {9, 21}});
        QTRY_COMPARE(d.TransactionsLabel->text(), QStringLiteral("Transakcí: 10"));
        QCOMPARE(d.ErrorsLabel->text(),
                 QStringLiteral("Chyb: 3 (30%1 %)").arg(QLocale().decimalPoint() + u'0'));
        QCOMPARE(d.ErrorTable->rowCount(), 2);
        QCOMPARE(d.ErrorTable->item(0, 0)->text(), QStringLiteral("20"));
        QCOMPARE(d.ErrorTable->item(0, 1)->text(), QStringLiteral("2"));
        QCOMPARE(d.ErrorTable->item(0, 2)->text(), QStringLiteral("chyba 20"));
        QCOMPARE(d.LogTable->rowCount(), 10);
        // Newest first.
        QCOMPARE(d.LogTable->item(0, 4)->text(), QStringLiteral("00 09 00 00 00"));
        qreal replies = 0, errors = 0;
        for (int i = 0; i < d.RepliesSet->count(); ++i) {
            replies += d.RepliesSet->at(i);
            errors += d.ErrorsSet->at(i);
        }
        QCOMPARE(replies, 7.0);
        QCOMPARE(errors, 3.0);

        d.ErrorsOnlyCheckBox->click();
        QCOMPARE(d.LogTable->rowCount(), 3);
        QCOMPARE(d.LogTable->item(0, 6)->text(), QStringLiteral("21"));
        d.ErrorsOnlyCheckBox->click();
        QCOMPARE(d.LogTable->rowCount(), 10);

        // Library texts are long: whole in the tooltip, wrapped in the table.
        QCOMPARE(d.ErrorTable->item(0, 2)->toolTip(), QStringLiteral("chyba 20"));
        QVERIFY(d.ErrorTable->wordWrap());
        QVERIFY(d.SinceLabel->text().startsWith(QStringLiteral("Od připojení: ")));

        QuestionHook yes(true);
        d.ResetButton->click();
        QVERIFY2(d.SinceLabel->text().startsWith(QStringLiteral("Od vynulování: ")),
                 qPrintable(d.SinceLabel->text()));
        QCOMPARE(d.TransactionsLabel->text(), QStringLiteral("Transakcí: 0"));
        QCOMPARE(d.LogTable->rowCount(), 0);
        QCOMPARE(d.ErrorTable->rowCount(), 0);
        // Watching sent nothing.
        link.ta.calls.clear();
        QTest::qWait(0);
        d.Timer1Timer();
        QCOMPARE(link.ta.count(QStringLiteral("Send")), 0);
    }

    // Ticks of the linear count axis at whole counts only (1, 2, 5 steps,
    // at most five), the top the first tick at or above the highest count.
    void countScale_data()
    {
        QTest::addColumn<quint64>("highest");
        QTest::addColumn<quint64>("top");
        QTest::addColumn<int>("ticks");
        QTest::newRow("nothing") << quint64(0) << quint64(1) << 2;
        QTest::newRow("2 (read 2, 1, 1, 0, 0)") << quint64(2) << quint64(2) << 3;
        QTest::newRow("5") << quint64(5) << quint64(5) << 6;
        QTest::newRow("7") << quint64(7) << quint64(8) << 5;
        QTest::newRow("12") << quint64(12) << quint64(15) << 4;
        QTest::newRow("5000") << quint64(5000) << quint64(5000) << 6;
        QTest::newRow("5001") << quint64(5001) << quint64(6000) << 4;
    }
    void countScale()
    {
        QFETCH(quint64, highest);
        const TFormDiagnostika::CountScale scale = TFormDiagnostika::countScale(highest);
        QTEST(scale.top, "top");
        QTEST(scale.ticks, "ticks");
        QCOMPARE(scale.top % quint64(scale.ticks - 1), quint64(0)); // every tick a whole count
        // The chart takes it: the axis of two replies reads 0, 1, 2.
        if (highest == 2) {
            LinkStats::instance().restart();
            record(50, 0);
            record(60, 0);
            TFormDiagnostika d;
            d.Data = &link.data;
            d.show();
            d.Timer1Timer();
            auto *axis = qobject_cast<QValueAxis *>(d.HistogramChart->chart()->axes(Qt::Vertical).value(0));
            QCOMPARE(axis->max(), 2.0);
            QCOMPARE(axis->tickCount(), 3);
        }
    }

    // The window is Czech under any settings: dates "7. 12. 2026", "0,0 %"
    // with the settings' decimal separator.
    void captionsUnderEnglishSettings()
    {
        QLocale::setDefault(QLocale(u"en_US"_s));
        const auto restore = qScopeGuard([] { QLocale::setDefault(QLocale::c()); });
        LinkStats::instance().restart();
        record(50, 0);
        TFormDiagnostika d;
        d.Data = &link.data;
        d.show();
        d.Timer1Timer();
        QCOMPARE(d.ErrorsLabel->text(), u"Chyb: 0 (0.0 %)"_s);
        const QDateTime since = QDateTime::fromMSecsSinceEpoch(LinkStats::instance().since());
        QCOMPARE(d.SinceLabel->text(), u"Od připojení: "_s + since.toString(u"d. M. yyyy HH:mm:ss"_s));
    }

    // Enter anywhere in the window wipes nothing and asks nothing: no button is the default.
    void enterNeverResets_data()
    {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("key");
        QTest::newRow("Return in the address field") << u"CheckAddressEdit"_s << int(Qt::Key_Return);
        QTest::newRow("Enter in the log") << u"LogTable"_s << int(Qt::Key_Enter);
        QTest::newRow("Return on \"Vynulovat\"") << u"ResetButton"_s << int(Qt::Key_Return);
        QTest::newRow("Return on \"Zavřít\"") << u"CloseButton"_s << int(Qt::Key_Return);
    }
    void enterNeverResets()
    {
        QFETCH(QString, focus);
        QFETCH(int, key);
        QuestionHook questions(true);
        LinkStats::instance().restart();
        record(50, 0);
        TFormDiagnostika d;
        d.Data = &link.data;
        d.show();
        d.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&d));
        auto *target = d.findChild<QWidget *>(focus);
        QVERIFY(target);
        d.PageControl1->setCurrentWidget(d.PageControl1->widget(focus == u"CheckAddressEdit" ? 1 : 0));
        target->setFocus();
        QTest::keyClick(target, Qt::Key(key));
        QCOMPARE(LinkStats::instance().transactions(), quint64(1));
        QVERIFY(questions.questions.isEmpty());
        QVERIFY(d.isVisible());
        for (QPushButton *b : d.findChildren<QPushButton *>())
            QVERIFY2(!b->autoDefault() && !b->isDefault(), qPrintable(b->objectName()));
    }

    // "Vynulovat" asks first; "Ne" keeps everything.
    void resetAsksFirst_data()
    {
        QTest::addColumn<bool>("answer");
        QTest::addColumn<quint64>("left");
        QTest::newRow("Ne") << false << quint64(2);
        QTest::newRow("Ano") << true << quint64(0);
    }
    void resetAsksFirst()
    {
        QFETCH(bool, answer);
        QuestionHook questions(answer);
        LinkStats::instance().restart();
        record(50, 0);
        record(200100, 20);
        TFormDiagnostika d;
        d.Data = &link.data;
        d.show();
        d.ResetButton->click();
        QCOMPARE(questions.questions.size(), 1);
        QVERIFY(questions.questions.first().startsWith(u"Vynulovat počítadla"_s));
        QCOMPARE(questions.buttons, (QStringList{u"Ano/5"_s, u"Ne/6"_s}));
        QTEST(LinkStats::instance().transactions(), "left");
        QCOMPARE(d.TransactionsLabel->text(), u"Transakcí: %1"_s.arg(LinkStats::instance().transactions()));
    }

    // The program's one CSV form, under both decimal separators.
    void exportCsv_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::newRow("Czech") << u"cs_CZ"_s;
        QTest::newRow("English") << u"en_US"_s;
    }
    void exportCsv()
    {
        QFETCH(QString, locale);
        QLocale::setDefault(QLocale(locale));
        const auto restore = qScopeGuard([] { QLocale::setDefault(QLocale::c()); });
        LinkStats::instance().restart();
        traffic(4, {{2, 20}});
        TFormDiagnostika d;
        d.Data = &link.data;
        const QString path = m_dir.filePath(QStringLiteral("log.csv"));
        d.chooseFile = [&] { return std::optional<QString>(path); };
        d.ExportButton->click();
        QVERIFY2(d.StatusBar1->text(0).startsWith(QStringLiteral(" Záznam uložen")),
                 qPrintable(d.StatusBar1->text(0)));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF")); // UTF-8 that spreadsheets recognise
        const QStringList lines =
            QString::fromUtf8(bytes.mid(3)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 5);
        QCOMPARE(lines.at(0), u"Čas;Adresa;Příkaz;Podkód;Odesláno D0..D4;Přijato D0..D4;Chyba;Text chyby;"
                              u"Doba [ms]"_s);
        const QStringList failed = lines.at(2).split(u';');
        QCOMPARE(failed.size(), 9);
        // The time as the trend record writes it: local, with its offset.
        QVERIFY2(
            QRegularExpression(u"^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d$"_s)
                .match(failed.at(0))
                .hasMatch(),
            qPrintable(failed.at(0)));
        QCOMPARE(failed.at(1), QStringLiteral("3"));
        QCOMPARE(failed.at(6), QStringLiteral("20"));
        QCOMPARE(failed.at(7), QStringLiteral("chyba 20"));
        QVERIFY2(QRegularExpression(u"^\\d+"_s + QRegularExpression::escape(QLocale(locale).decimalPoint()) +
                                    u"\\d{3}$"_s)
                     .match(failed.at(8))
                     .hasMatch(),
                 qPrintable(failed.at(8)));
        // A file that cannot be written is reported, not claimed.
        d.chooseFile = [&] {
            return std::optional<QString>(m_dir.filePath(QStringLiteral("no/such/folder/x.csv")));
        };
        d.ExportButton->click();
        QVERIFY(d.StatusBar1->text(0).startsWith(QStringLiteral(" Záznam se nepodařilo uložit")));
    }

    // The device list writes the map our libraries read.
    void assignStableName()
    {
        QTemporaryDir byId;
        const QString name = byId.filePath(QStringLiteral("usb-Prolific_PL2303-if00-port0"));
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), name));
        TFormDiagnostika d;
        d.Data = &link.data;
        d.serialFolder = byId.path();
        d.portMapFile = m_dir.filePath(QStringLiteral("W_RQ3510/porty.ini"));
        d.RefreshDevices();
        QCOMPARE(d.DeviceTable->rowCount(), 1);
        QCOMPARE(d.DeviceTable->item(0, 1)->text(), QStringLiteral("/dev/null"));
        d.DeviceTable->selectRow(0);
        d.PortComboBox->setCurrentText(QStringLiteral("COM3"));
        d.AssignButton->click();
        QCOMPARE(d.DeviceTable->item(0, 2)->text(), QStringLiteral("COM3"));
        const rqports::PortMap map = rqports::readPortMap(d.portMapFile.toStdString());
        QCOMPARE(QString::fromStdString(map.at("COM3")), name);
        // Another port added keeps the first.
        d.DeviceTable->selectRow(0);
        d.PortComboBox->setCurrentText(QStringLiteral("USB"));
        d.AssignButton->click();
        QCOMPARE(rqports::readPortMap(d.portMapFile.toStdString()).size(), 2u);
        QCOMPARE(d.DeviceTable->item(0, 2)->text(), QStringLiteral("COM3, USB"));
    }

    // A window of its own: the dialogs, modal to the main window only, leave
    // it usable; only the checks wait, and say why.
    void usableBesideAnotherDialog()
    {
        TForm1 w;
        w.DiagnostikaSpojeniClick();
        TFormDiagnostika *diag = w.Diagnostika;
        QVERIFY(diag && !diag->parent());
        QTimer::singleShot(0, this, [&] {
            QWidget *dialog = QApplication::activeModalWidget();
            QCOMPARE(dialog->windowModality(), Qt::WindowModal);
            QVERIFY(!diag->CheckButton->isEnabled());
            QVERIFY(diag->CheckButton->toolTip().contains(QStringLiteral("jiný dialog")));
            // Said beside the button too, where it is read without the pointer.
            diag->PageControl1->setCurrentIndex(1);
            QVERIFY(diag->CheckReasonLabel->isVisible());
            QCOMPARE(diag->CheckReasonLabel->text(), TFormDiagnostika::CheckWaitsText);
            QTest::mouseClick(diag->ErrorsOnlyCheckBox, Qt::LeftButton);
            qobject_cast<QDialog *>(dialog)->reject();
        });
        diag->PageControl1->setCurrentIndex(0);
        w.OkamAnalogoveClick();
        QVERIFY(diag->ErrorsOnlyCheckBox->isChecked());
        QVERIFY(diag->CheckButton->isEnabled());
        QVERIFY(!diag->CheckReasonLabel->isVisible());
        w.close();
        QVERIFY(!w.Diagnostika);
    }

    // The checks look where the connection dialog last tried (the record
    // keeps the last module that answered); the fields may be changed.
    void checksWhatWasTried()
    {
        link.close();
        TForm1 w;
        w.Data->adapterKind = 2; // a card: the module is the only thing to check
        for (const char *address : {"1", "9"}) {
            QTimer::singleShot(0, this, [&, address] {
                auto *d = qobject_cast<TForm2 *>(QApplication::activeModalWidget());
                if (*address == '9')
                    link.ta.failSend[link.ta.count(QStringLiteral("Send")) + 1] = 20;
                d->Edit1->setText(QLatin1String(address));
                d->Button1->click();
                d->reject();
            });
            w.PripojeniClick();
        }
        QCOMPARE(w.Data->moduleAddress, quint8(1));
        w.DiagnostikaSpojeniClick();
        TFormDiagnostika *diag = w.Diagnostika;
        QCOMPARE(diag->CheckAddressEdit->text(), QStringLiteral("9"));
        diag->CheckBaudComboBox->setCurrentIndex(5);
        diag->CheckButton->click();
        QTRY_VERIFY(!diag->checking());
        const QString found = diag->CheckTable->item(diag->CheckTable->rowCount() - 1, 2)->text();
        QVERIFY2(found.startsWith(QStringLiteral("Na adrese 9 při 19200 Bd")), qPrintable(found));
    }

    // Who holds the serial port is read off the window's thread: the window
    // answers meanwhile, and the checks go on with what was found.
    void portHoldersReadBesideTheWindow()
    {
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
        qputenv("RQ_COM7", ::ptsname(master));
        TData data;
        SetDefaults(&data);
        data.comPort = 7;
        std::atomic<bool> release{false};
        std::atomic<QThread *> ranOn{nullptr};
        TFormDiagnostika::holdersCheck = [&](const QString &) {
            ranOn = QThread::currentThread();
            while (!release)
                QThread::msleep(5);
            return CheckStep{
                QStringLiteral("Jiné programy"), CheckVerdict::Ok, QStringLiteral("prohlédnuto"), {}};
        };
        TFormDiagnostika d;
        d.Data = &data;
        d.show();
        d.CheckButton->click();
        QTRY_VERIFY(ranOn.load() && ranOn.load() != QThread::currentThread());
        QuestionHook yes(true);
        QTest::mouseClick(d.ResetButton, Qt::LeftButton);
        QCOMPARE(d.StatusBar1->text(0), QStringLiteral(" Počítadla vynulována."));
        release = true;
        QTRY_VERIFY_WITH_TIMEOUT(!d.checking(), 60000); // then every rate is probed on the silent line
        TFormDiagnostika::holdersCheck = nullptr;
        qunsetenv("RQ_COM7");
        ::close(master);
        QCOMPARE(d.CheckTable->findItems(QStringLiteral("prohlédnuto"), Qt::MatchExactly).size(), 1);
    }

    // Over the open connection: the checks use it, are not counted, and leave it open.
    void checksUseTheOpenConnection()
    {
        traffic(2, {});
        // As a PCI card: the only check before the module is the module itself.
        link.data.adapterKind = 2;
        TFormDiagnostika d;
        d.Data = &link.data;
        d.CheckButton->click();
        QVERIFY(d.CheckTable->rowCount() >= 2);
        const int last = d.CheckTable->rowCount() - 1;
        QCOMPARE(d.CheckTable->item(last, 0)->text(), QStringLiteral("Modul"));
        QCOMPARE(d.CheckTable->item(last, 1)->text(), QStringLiteral("V pořádku"));
        QVERIFY(d.CheckTable->item(last, 2)->text().contains(QStringLiteral("RQ-3510  v.1.08")));
        QCOMPARE(LinkStats::instance().transactions(), 2u);
        QVERIFY(link.data.ready());
        QCOMPARE(link.ta.count(QStringLiteral("Done")), 0);
        link.data.adapterKind = 4;
    }
};

QTEST_MAIN(TestDiagnostika)
#include "tst_diagnostika.moc"
