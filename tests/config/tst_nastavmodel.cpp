// The analog input dialogs belong to one model each: opened with another
// model connected, they say so above their controls and still work.
#include "ConfigTest.h"
#include "config/NastavAIN3510.h"
#include "config/NastavAIN3520.h"
#include "config/NastavAIN3530.h"
#include "config/NastavAdr.h"
#include "config/NastavIT.h"
#include "support/Hooks.h"

#include <QLabel>
#include <QPushButton>

#include <memory>

namespace {
std::unique_ptr<TNastavDialog> makeDialog(int model)
{
    switch (model) {
    case 3510:
        return std::make_unique<TForm13>();
    case 3520:
        return std::make_unique<TForm13a>();
    default:
        return std::make_unique<TForm13b>();
    }
}
} // namespace

class TestNastavModel : public QObject
{
    Q_OBJECT
    TestConnection link;
    TData &data = link.data;

private slots:
    void init() { QVERIFY(link.open(TestModule)); }
    void cleanup() { link.close(); }

    void warningLine_data()
    {
        QTest::addColumn<int>("dialog");
        QTest::addColumn<QString>("identity");
        QTest::addColumn<bool>("connected");
        QTest::addColumn<QString>("warning"); // empty: no warning shown
        const auto warning = [](const char *connected, const char *dialog) {
            return QStringLiteral("Pozor: připojený modul je %1, toto nastavení je určeno pro %2.")
                .arg(QLatin1String(connected), QLatin1String(dialog));
        };
        for (int model : {3510, 3520, 3530}) {
            const QString own = QStringLiteral("RQ-%1  v.1.08").arg(model);
            QTest::addRow("%d, own model", model) << model << own << true << QString();
        }
        QTest::newRow("3510 dialog, RQ-3520")
            << 3510 << QStringLiteral("RQ-3520  v.1.07") << true << warning("RQ-3520", "RQ-3510");
        QTest::newRow("3520 dialog, RQ-3530")
            << 3520 << QStringLiteral("RQ-3530  v.1.08") << true << warning("RQ-3530", "RQ-3520");
        QTest::newRow("3530 dialog, RQ-3510")
            << 3530 << QStringLiteral("RQ-3510  v.1.08") << true << warning("RQ-3510", "RQ-3530");
        QTest::newRow("unknown model")
            << 3510 << QStringLiteral("XY-99    v.2.00") << true << warning("XY-99", "RQ-3510");
        // An identity left from an earlier connection names no connected module.
        QTest::newRow("not connected") << 3510 << QStringLiteral("RQ-3520  v.1.07") << false << QString();
        QTest::newRow("no identity") << 3530 << QString() << true << QString();
    }
    void warningLine()
    {
        QFETCH(int, dialog);
        QFETCH(QString, identity);
        QFETCH(bool, connected);
        QFETCH(QString, warning);
        data.identity = identity;
        data.connected = connected;
        const std::unique_ptr<TNastavDialog> d = makeDialog(dialog);
        d->Data = &data;
        d->show();
        QVERIFY(d->LabelModel);
        QCOMPARE(d->LabelModel->isVisible(), !warning.isEmpty());
        QCOMPARE(d->LabelModel->text(), warning);
        QCOMPARE(d->LabelModel->textFormat(), Qt::PlainText);
        // Above the controls, whole.
        QVERIFY(d->LabelModel->geometry().bottom() <
                d->findChild<QComboBox *>(QStringLiteral("ComboBox1"))->y());
        QVERIFY(d->LabelModel->width() >= d->LabelModel->sizeHint().width());
        if (!connected)
            return;
        // The dialog works as ever.
        PauseRecorder pauses;
        d->Button2->click();
        QCOMPARE(d->statusText(), QStringLiteral(" Konfigurace přečtena."));
        QCOMPARE(d->LabelModel->text(), warning);
    }

    // The line follows the module connected when the dialog opens.
    void reopenedWithAnotherModule()
    {
        data.identity = QStringLiteral("RQ-3520  v.1.07");
        TForm13 d;
        d.Data = &data;
        d.FormShow();
        QVERIFY(!d.LabelModel->isHidden());
        data.identity = QStringLiteral("RQ-3510  v.1.08");
        d.FormShow();
        QVERIFY(d.LabelModel->isHidden());
    }

    // Dialogs not tied to a model have no such line.
    void otherSettingsDialogs()
    {
        data.identity = QStringLiteral("RQ-3520  v.1.07");
        TForm12 address;
        TForm4 thermometer;
        for (TNastavDialog *d : std::initializer_list<TNastavDialog *>{&address, &thermometer}) {
            d->Data = &data;
            d->FormShow();
            QVERIFY(!d->LabelModel);
            QVERIFY(!d->findChild<QLabel *>(QStringLiteral("LabelModel")));
        }
    }
};

QTEST_MAIN(TestNastavModel)
#include "tst_nastavmodel.moc"
