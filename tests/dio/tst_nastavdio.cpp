#include "app/Dekl.h"
#include "app/StatusBar.h"
#include "comm/Kxxx638.h"
#include "dio/NastavDIO.h"
#include "support/Fixtures.h"
#include "support/Hooks.h"
#include "support/TestAdapter.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>
#include <QTest>

namespace {
using Field = std::array<quint8, 4>;

// Records every status text of a transfer.
class RecordingForm : public TForm14
{
public:
    QStringList texts;

protected:
    void status(const QString &text) override
    {
        texts << text;
        TForm14::status(text);
    }
};

QCheckBox *box(TForm14 &d, int number)
{
    return d.findChild<QCheckBox *>(QStringLiteral("CheckBox") + QString::number(number));
}
} // namespace

class TestNastavDio : public QObject
{
    Q_OBJECT
    TestConnection link;
    TestAdapter &ta = link.ta;
    TData &data = link.data;

private slots:
    void init() { QVERIFY(link.open(7)); }
    void cleanup() { link.close(); }

    void controls()
    {
        TForm14 d;
        QCOMPARE(d.windowTitle(), QStringLiteral("Nastavení digitálních vstupů/výstupů"));
        const QStringList captions{QStringLiteral(" Negace DIN "), QStringLiteral("Negace DOUT "),
                                   QStringLiteral(" Počáteční stav DOUT ")};
        QStringList found;
        for (const QGroupBox *g : d.findChildren<QGroupBox *>())
            found << g->title();
        QCOMPARE(found, captions);
        for (int i = 1; i <= 96; ++i) {
            QCheckBox *b = box(d, i);
            QVERIFY2(b, qPrintable(QString::number(i)));
            QCOMPARE(b, d.CheckBoxes[std::size_t(i - 1)]);
            const int channel = (i - 1) % 32;
            QCOMPARE(b->text(),
                     (i <= 32 ? QStringLiteral("DIN") : QStringLiteral("DOUT")) + QString::number(channel));
            QCOMPARE(qobject_cast<QGroupBox *>(b->parentWidget())->title(), captions.at((i - 1) / 32));
        }
        QCOMPARE(d.findChild<QPushButton *>(QStringLiteral("Button1"))->text(), QStringLiteral("Zapsat"));
        QCOMPARE(d.findChild<QPushButton *>(QStringLiteral("Button2"))->text(), QStringLiteral("Přečíst"));
        QCOMPARE(d.findChild<TStatusBar *>(QStringLiteral("StatusBar1"))->panelCount(), 1);
    }

    void twoColumnsWithGaps()
    {
        TForm14 d;
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        for (int g = 0; g < 3; ++g) {
            const auto at = [&](int channel) {
                return d.CheckBoxes[std::size_t(32 * g + channel)]->geometry();
            };
            QCOMPARE(at(16).top(), at(0).top());     // channel 16 beside channel 0
            QVERIFY(at(16).left() > at(15).right()); // ... in the right column
            QCOMPARE(at(15).left(), at(0).left());
            const int pitch = at(1).top() - at(0).top();
            QVERIFY(at(8).top() - at(7).top() > pitch);   // the gap after 7
            QVERIFY(at(24).top() - at(23).top() > pitch); // and after 23
            QCOMPARE(at(9).top() - at(8).top(), pitch);
        }
    }

    void bitMapping_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<int>("g");
        QTest::addColumn<Field>("expected");
        QTest::newRow("DIN0") << 1 << 0 << Field{0x01, 0, 0, 0};
        QTest::newRow("DIN7") << 8 << 0 << Field{0x80, 0, 0, 0};
        QTest::newRow("DIN8") << 9 << 0 << Field{0, 0x01, 0, 0};
        QTest::newRow("DOUT0 negation") << 33 << 1 << Field{0x01, 0, 0, 0};
        QTest::newRow("DOUT19 negation") << 52 << 1 << Field{0, 0, 0x08, 0};
        QTest::newRow("DOUT0 initial") << 65 << 2 << Field{0x01, 0, 0, 0};
        QTest::newRow("DOUT31 initial") << 96 << 2 << Field{0, 0, 0, 0x80};
    }
    void bitMapping()
    {
        QFETCH(int, number);
        QFETCH(int, g);
        QFETCH(Field, expected);
        TForm14 d;
        d.Data = &data;
        for (QCheckBox *b : d.CheckBoxes)
            b->setChecked(false);
        box(d, number)->setChecked(true);
        TCFGRQ image;
        image.dinNegation = image.doutNegation = image.doutInitial = {0x5A, 0x5A, 0x5A, 0x5A};
        d.PrectiOkno(image);
        QCOMPARE(d.statusText(), QStringLiteral(" "));
        for (int f = 0; f < 3; ++f)
            QCOMPARE(TForm14::field(image, f), f == g ? expected : Field{});
        // And back: exactly that box is checked.
        d.ZapisOkno(image);
        for (int i = 1; i <= 96; ++i)
            QCOMPARE(box(d, i)->isChecked(), i == number);
    }

    void freshImageShowsDefaults()
    {
        TForm14 d;
        d.Data = &data;
        d.FormShow();
        QCOMPARE(d.statusText(), QStringLiteral(" "));
        for (int i = 1; i <= 96; ++i)
            QCOMPARE(box(d, i)->isChecked(), i <= 64);
    }

    void writeOrder()
    {
        PauseRecorder pauses;
        RecordingForm d;
        d.Data = &data;
        d.FormShow();
        box(d, 1)->setChecked(false);  // DIN negation 0: 0xFE
        box(d, 96)->setChecked(true);  // DOUT initial 3: 0x80
        box(d, 40)->setChecked(false); // DOUT negation 0: 0x7F
        d.Button1Click();
        const QList<int> addresses{32, 35, 38, 41, 33, 36, 39, 42, 34, 37, 40, 43};
        const QList<int> values{0, 0, 0, 0x80, 0xFE, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF};
        QList<TaRequest> expected;
        for (int k = 0; k < 12; ++k) {
            const auto a = quint8(addresses[k]), v = quint8(values[k]);
            expected << TaRequest{7, 103, 0, {0, a, a, v, v}} << TaRequest{7, 102, 0, {0, a, a, 0, 0}};
        }
        QCOMPARE(ta.sends(), expected);
        QStringList texts{QStringLiteral(" Probíhá zápis konfigurace do modulu (0 %)")};
        for (int p : {8, 16, 25, 33, 41, 50, 58, 66, 75, 83, 91, 100})
            texts << QStringLiteral(" Probíhá zápis konfigurace do modulu (%1 %)").arg(p);
        texts << QStringLiteral(" Konfigurace zapsána.");
        QCOMPARE(d.texts.mid(d.texts.indexOf(texts.first())), texts);
        QCOMPARE(data.cfg.dinNegation[0], 0xFF); // "Zapsat" leaves the record alone
    }

    void readFailureAtFifthStepShowsMixture()
    {
        PauseRecorder pauses;
        for (int a = 32; a <= 43; ++a)
            ta.memory[std::size_t(a)] = quint8(a);
        ta.failSend[5] = 3;
        TForm14 d;
        d.Data = &data;
        d.FormShow();
        d.Button2Click();
        QCOMPARE(d.statusText(), QStringLiteral(" chyba 3"));
        QCOMPARE(ta.sends().size(), 5);
        QCOMPARE(d.Work.doutInitial, (Field{32, 35, 38, 41}));
        QCOMPARE(d.Work.dinNegation, (Field{0xFF, 0xFF, 0xFF, 0xFF}));
        QCOMPARE(d.Work.doutNegation, (Field{0xFF, 0xFF, 0xFF, 0xFF}));
        // The boxes show that mixture: DOUT initial element 0 = 32 = bit 5.
        for (int j = 0; j < 8; ++j)
            QCOMPARE(box(d, 65 + j)->isChecked(), j == 5);
        QVERIFY(box(d, 1)->isChecked());
        QVERIFY(box(d, 64)->isChecked());
    }

    void noRecord()
    {
        TForm14 d;
        d.FormShow();
        for (QCheckBox *b : d.CheckBoxes)
            QVERIFY(!b->isChecked());
        d.Button1Click();
        d.Button2Click();
        d.Button3Click();
        QCOMPARE(ta.count(QStringLiteral("Send")), 0);
    }
};

QTEST_MAIN(TestNastavDio)
#include "tst_nastavdio.moc"
