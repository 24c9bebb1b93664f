#include "PollOnce.h"

#include "app/StatusBar.h"
#include "live/OkamDIN.h"
#include "live/OkamDOUT.h"
#include "live/StatReg.h"
#include "support/Fixtures.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace Qt::StringLiterals;

namespace {
using Bytes = std::array<quint8, 4>;

// The texts of the labels prefix0..prefix31.
QString bitsShown(const QWidget &w, const QString &prefix)
{
    QString bits;
    for (int n = 0; n < 32; ++n)
        bits += w.findChild<QLabel *>(prefix + QString::number(n))->text();
    return bits;
}

// 32 characters '0' with '1' at the given positions.
QString bitsWith(std::initializer_list<int> ones)
{
    QString bits(32, QLatin1Char('0'));
    for (int n : ones)
        bits[n] = QLatin1Char('1');
    return bits;
}

// The caption in the grid cell left of a value label.
QString captionOf(const QWidget &w, const QLabel *value)
{
    for (auto *grid : w.findChildren<QGridLayout *>()) {
        const int index = grid->indexOf(value);
        if (index < 0)
            continue;
        int row = 0, column = 0, rows = 0, columns = 0;
        grid->getItemPosition(index, &row, &column, &rows, &columns);
        for (int i = 0; i < grid->count(); ++i) {
            int r = 0, c = 0;
            grid->getItemPosition(i, &r, &c, &rows, &columns);
            auto *label = qobject_cast<QLabel *>(grid->itemAt(i)->widget());
            if (label && r == row && c == column - 1)
                return label->text();
        }
    }
    return {};
}
} // namespace

class TestDigitalMonitors : public QObject
{
    Q_OBJECT
    TestConnection link;
    TestAdapter &ta = link.ta;
    TData &data = link.data;

private slots:
    void init() { QVERIFY(link.open(3)); }
    void cleanup() { link.close(); }

    // ---- both windows of 32 states: one transaction a tick

    void statesFollowReply_data()
    {
        QTest::addColumn<QString>("prefix"); // Stav: the digital inputs, Bit: the status register
        QTest::addColumn<Bytes>("bytes");
        QTest::addColumn<QString>("bits");
        QTest::addColumn<TaRequest>("request");
        const TaRequest din{3, 0, 64, {0, 0, 0, 0, 0}};
        const TaRequest status{3, 100, 0, {0, 0, 0, 0, 0}};
        QTest::newRow("DIN0 DIN15 DIN24..31") << u"Stav"_s << Bytes{0x01, 0x80, 0, 0xFF}
                                              << bitsWith({0, 15, 24, 25, 26, 27, 28, 29, 30, 31}) << din;
        QTest::newRow("DIN18") << u"Stav"_s << Bytes{0, 0, 0x04, 0} << bitsWith({18}) << din;
        QTest::newRow("none") << u"Stav"_s << Bytes{} << bitsWith({}) << din;
        QTest::newRow("FN PWR RST") << u"Bit"_s << Bytes{0x32, 0, 0, 0} << bitsWith({1, 4, 5}) << status;
        QTest::newRow("last") << u"Bit"_s << Bytes{0, 0, 0, 0x80} << bitsWith({31}) << status;
        QTest::newRow("D2 bit 0") << u"Bit"_s << Bytes{0, 0x01, 0, 0} << bitsWith({8}) << status;
    }
    void statesFollowReply()
    {
        QFETCH(QString, prefix);
        QFETCH(Bytes, bytes);
        QFETCH(QString, bits);
        QFETCH(TaRequest, request);
        std::unique_ptr<TLiveDialog> d;
        if (prefix == u"Bit") {
            ta.status = bytes;
            d = std::make_unique<TForm15>();
        } else {
            ta.inputs = bytes;
            d = std::make_unique<TForm11>();
        }
        PollOnce(*d, data);
        QCOMPARE(bitsShown(*d, prefix), bits);
        QCOMPARE(ta.sends(), QList<TaRequest>{request});
        QCOMPARE(d->StatusBar1->text(0), QStringLiteral(" V pořádku"));
    }

    // ---- digital inputs

    void inputsCreated()
    {
        TForm11 d;
        QCOMPARE(bitsShown(d, QStringLiteral("Stav")), bitsWith({}));
        QCOMPARE(d.Timer1->interval(), 100);
        QCOMPARE(d.Timer1->objectName(), QStringLiteral("Timer1"));
        QCOMPARE(captionOf(d, d.Stav[0]), QStringLiteral("DIN0"));
        QCOMPARE(captionOf(d, d.Stav[15]), QStringLiteral("DIN15"));
        QCOMPARE(captionOf(d, d.Stav[31]), QStringLiteral("DIN31"));
        d.show();
        QVERIFY(d.Timer1->isActive());
        d.hide();
        QVERIFY(!d.Timer1->isActive());
    }

    void inputErrorKeepsStates()
    {
        ta.inputs = {0x05, 0, 0, 0};
        TForm11 d;
        PollOnce(d, data);
        ta.inputs = {0, 0, 0, 0};
        ta.failSend[2] = 20;
        d.Timer1Timer();
        QCOMPARE(bitsShown(d, QStringLiteral("Stav")), bitsWith({0, 2}));
        QCOMPARE(d.StatusBar1->text(0), QStringLiteral(" chyba 20"));
        d.Timer1Timer();
        QCOMPARE(bitsShown(d, QStringLiteral("Stav")), bitsWith({}));
        QCOMPARE(ta.sends().size(), 3);
    }

    // ---- status register

    void statusCaptions()
    {
        TForm15 d;
        const QStringList first{u"---"_s, u"FN"_s,  u"PRF"_s,   u"---"_s,
                                u"PWR"_s, u"RST"_s, u"ERR24"_s, u"---"_s};
        for (int n = 0; n < 32; ++n)
            QCOMPARE(captionOf(d, d.Bit[static_cast<std::size_t>(n)]), n < 8 ? first[n] : u"---"_s);
        QCOMPARE(bitsShown(d, QStringLiteral("Bit")), bitsWith({}));
        QCOMPARE(d.Timer1->interval(), 500);
        QCOMPARE(d.Button1->text(), QStringLiteral("Cancel"));
        QCOMPARE(d.Button2->text(), QStringLiteral("Vynulovat"));
    }

    void clearSendsCommandAndKeepsText()
    {
        ta.status = {0x32, 0, 0, 0};
        TForm15 d;
        PollOnce(d, data);
        ta.errorTexts[0] = QStringLiteral("Vše v pořádku");
        d.StatusBar1->setText(0, QStringLiteral(" předchozí"));
        d.Button2->click();
        QCOMPARE(ta.sends().last(), (TaRequest{3, 101, 0, {0, 0, 0, 0, 0}}));
        QCOMPARE(d.StatusBar1->text(0), QStringLiteral(" předchozí"));
        QCOMPARE(bitsShown(d, QStringLiteral("Bit")), bitsWith({1, 4, 5})); // until the next read
        d.Timer1Timer();
        QCOMPARE(bitsShown(d, QStringLiteral("Bit")), bitsWith({}));
        QCOMPARE(d.StatusBar1->text(0), QStringLiteral(" Vše v pořádku"));
    }

    void statusErrors()
    {
        ta.status = {0x02, 0, 0, 0};
        TForm15 d;
        PollOnce(d, data);
        ta.failSend[2] = 13;
        ta.failSend[3] = 14;
        d.Button2Click();
        QCOMPARE(d.StatusBar1->text(0), QStringLiteral(" chyba 13"));
        d.Timer1Timer();
        QCOMPARE(d.StatusBar1->text(0), QStringLiteral(" chyba 14"));
        QCOMPARE(bitsShown(d, QStringLiteral("Bit")), bitsWith({1}));
    }

    // ---- digital outputs

    void outputBytes_data()
    {
        QTest::addColumn<QList<int>>("checked");
        QTest::addColumn<Bytes>("bytes");
        QTest::newRow("none") << QList<int>{} << Bytes{};
        QTest::newRow("DOUT0") << QList<int>{0} << Bytes{0x01, 0, 0, 0};
        QTest::newRow("DOUT7") << QList<int>{7} << Bytes{0x80, 0, 0, 0};
        QTest::newRow("DOUT31") << QList<int>{31} << Bytes{0, 0, 0, 0x80};
        QTest::newRow("DOUT8 DOUT17 DOUT30") << QList<int>{8, 17, 30} << Bytes{0, 0x01, 0x02, 0x40};
    }
    void outputBytes()
    {
        QFETCH(QList<int>, checked);
        QFETCH(Bytes, bytes);
        TForm9 d;
        d.Data = &data;
        d.FormShow();
        for (int n : checked) {
            auto *box = d.findChild<QCheckBox *>(QStringLiteral("CheckBox%1").arg(n + 1));
            QCOMPARE(box->text(), QStringLiteral("DOUT%1").arg(n));
            box->setChecked(true);
        }
        d.Button1->click();
        const TaRequest expected{3, 1, 64, {0, bytes[0], bytes[1], bytes[2], bytes[3]}};
        QCOMPARE(ta.sends(), QList<TaRequest>{expected});
        QCOMPARE(ta.outputs, bytes);
        QCOMPARE(d.StatusBar1->text(0), QStringLiteral(" Data zapsána"));
        d.Button1->click(); // the same states again
        QCOMPARE(ta.sends(), (QList<TaRequest>{expected, expected}));
    }

    void outputErrorKeepsBoxes()
    {
        ta.failSend[1] = 12;
        TForm9 d;
        d.Data = &data;
        d.FormShow();
        d.CheckBox[4]->setChecked(true);
        d.Button1Click();
        QCOMPARE(d.StatusBar1->text(0), QStringLiteral(" chyba 12"));
        QVERIFY(d.CheckBox[4]->isChecked());
    }

    // ---- all of them without a connection

    void notConnectedSendsNothing()
    {
        data.connected = false;
        const QString message = QStringLiteral(" Připojení k modulu není inicializováno.");
        TForm11 din;
        din.Data = &data;
        din.Timer1Timer();
        QCOMPARE(din.StatusBar1->text(0), message);
        TForm15 reg;
        reg.Data = &data;
        reg.Timer1Timer();
        QCOMPARE(reg.StatusBar1->text(0), message);
        reg.StatusBar1->setText(0, QString());
        reg.Button2Click();
        QCOMPARE(reg.StatusBar1->text(0), message);
        TForm9 dout;
        dout.Data = &data;
        dout.Button1Click();
        QCOMPARE(dout.StatusBar1->text(0), message);
        QCOMPARE(ta.sends().size(), 0);
    }
};

QTEST_MAIN(TestDigitalMonitors)
#include "tst_digitalmonitors.moc"
