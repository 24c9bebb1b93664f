// Adapter libraries that break their side of the interface: error codes the
// program does not know, an Error entry point that writes nothing, a Send
// that never fills the status word or the response. Every failure still
// reaches the technician as a failure with a message, never as " " (all
// well), and no byte of an earlier reply is taken for a new one.
#include "app/Dekl.h"
#include "comm/Kxxx638.h"
#include "config/Prenos.h"
#include "support/Hooks.h"
#include "support/TestAdapter.h"

#include <QTest>

namespace {

struct Recorder : TransferReport
{
    QStringList texts;
    void status(const QString &text) override { texts.append(text); }
};

} // namespace

class TestFaultyLibrary : public QObject
{
    Q_OBJECT
    TestAdapter &ta = TestAdapter::instance();
    TData data;
    PauseRecorder pauses;

    QList<TransferStep> steps(std::array<quint8, 4> &image)
    {
        QList<TransferStep> list;
        for (quint8 i = 0; i < 4; ++i)
            list.append({0, i, &image[i]});
        return list;
    }

private slots:
    void init()
    {
        ta.reset();
        SetDefaults(&data);
        QCOMPARE(OpenAdapter(4, &data.handle, InitBlock{}), 0u);
        data.adapterKind = 4;
        data.connected = true;
        rq::setEventsHook([] {});
    }
    void cleanup()
    {
        CloseAdapter(4, &data.handle);
        rq::setEventsHook({});
    }

    // Codes of every size, by the function result or by the error word.
    void unknownCodes_data()
    {
        QTest::addColumn<quint32>("code");
        QTest::addColumn<bool>("byResult");
        QTest::addColumn<int>("reported");
        QTest::addColumn<QString>("text");
        const QString unknown = QStringLiteral("neznámý chybový kód");
        for (bool byResult : {false, true}) {
            const char *how = byResult ? "result" : "error word";
            QTest::addRow("150 by %s", how) << 150u << byResult << 150 << unknown;
            QTest::addRow("255 by %s", how) << 255u << byResult << 255 << unknown;
            QTest::addRow("256 by %s", how) << 256u << byResult << 255 << unknown;
            QTest::addRow("0x10000 by %s", how) << 0x10000u << byResult << 255 << unknown;
            QTest::addRow("0xFFFFFFFF by %s", how) << 0xFFFFFFFFu << byResult << 255 << unknown;
            // A library's 104 reads like the binding's own; still a failure with a text.
            QTest::addRow("104 by %s", how)
                << 104u << byResult << 104 << QStringLiteral("chyba inicializace knihovny KRQ4638.DLL");
        }
    }
    void unknownCodes()
    {
        QFETCH(quint32, code);
        QFETCH(bool, byResult);
        QFETCH(int, reported);
        QFETCH(QString, text);
        ta.script = [&](const TaRequest &, int) {
            TaReply r;
            (byResult ? r.result : r.errorWord) = code;
            r.d = {1, 2, 3, 4, 5};
            return r;
        };
        ModuleBytes d{9, 9, 9, 9, 9};
        QCOMPARE(int(Transact(data, 1, 102, 0, d)), reported);
        QCOMPARE(d, (ModuleBytes{0, 0, 0, 0, 0}));
        QCOMPARE(ErrorText(data.adapterKind, quint8(reported)), text);

        std::array<quint8, 4> image{7, 7, 7, 7};
        Recorder report;
        QVERIFY(!ReadSequence(&data, report, steps(image)));
        QCOMPARE(report.texts.last(), QLatin1Char(' ') + text);
        QCOMPARE(image, (std::array<quint8, 4>{7, 7, 7, 7}));
        Recorder writes;
        QVERIFY(!WriteSequence(&data, writes, steps(image)));
        QCOMPARE(writes.texts.last(), QLatin1Char(' ') + text);
    }

    // An Error entry point that leaves the buffer alone: the code is the message.
    void errorWritesNothing_data()
    {
        QTest::addColumn<quint32>("code");
        QTest::newRow("1") << 1u;
        QTest::newRow("42") << 42u;
        QTest::newRow("99") << 99u;
    }
    void errorWritesNothing()
    {
        QFETCH(quint32, code);
        ta.errorWritesNothing = true;
        ta.failSend[3] = code;
        std::array<quint8, 4> image{};
        Recorder report;
        QVERIFY(!ReadSequence(&data, report, steps(image)));
        const QString expected = QStringLiteral(" chyba %1 (bez popisu)").arg(code);
        QCOMPARE(report.texts.last(), expected);
        QVERIFY(report.texts.last().size() > 1);
        // Success still has no text of its own to invent.
        QCOMPARE(ErrorText(data.adapterKind, 0), QString());
    }

    // Nothing bound any more (the library was closed under a dialog): the
    // sequence fails with code 10 and says so.
    void nothingBoundIsNotSilence()
    {
        quint32 h = data.handle;
        CloseAdapter(4, &h);
        std::array<quint8, 4> image{1, 2, 3, 4};
        Recorder report;
        QVERIFY(!ReadSequence(&data, report, steps(image)));
        QCOMPARE(report.texts.last(), QStringLiteral(" chyba 10 (bez popisu)"));
        QCOMPARE(image, (std::array<quint8, 4>{1, 2, 3, 4}));
        QCOMPARE(OpenAdapter(4, &data.handle, InitBlock{}), 0u); // for cleanup
    }

    // A Send that reports success but never fills the status word (or the
    // response): D0 (and D1..D4) read 0, never a byte of the previous reply.
    void unfilledReplyGivesZeros_data()
    {
        QTest::addColumn<bool>("fillsResponse");
        QTest::newRow("status word only") << true;
        QTest::newRow("status word and response") << false;
    }
    void unfilledReplyGivesZeros()
    {
        QFETCH(bool, fillsResponse);
        ta.script = [](const TaRequest &, int) {
            TaReply r;
            r.d = {0x55, 0x11, 0x22, 0x33, 0x44};
            return r;
        };
        ModuleBytes d{};
        QCOMPARE(int(Transact(data, 1, 0, 0, d)), 0);
        QCOMPARE(d, (ModuleBytes{0x55, 0x11, 0x22, 0x33, 0x44}));

        ta.sendFillsStatus = false;
        ta.sendFillsResponse = fillsResponse;
        QCOMPARE(int(Transact(data, 1, 0, 0, d)), 0);
        QCOMPARE(int(d[0]), 0);
        if (fillsResponse)
            QCOMPARE(d, (ModuleBytes{0, 0x11, 0x22, 0x33, 0x44}));
        else
            QCOMPARE(d, (ModuleBytes{0, 0, 0, 0, 0}));
    }

    // A library that claims success for the write but reads back something
    // else is caught by the read-back, whatever the status word says.
    void readBackCatchesSilentLibrary()
    {
        ta.sendFillsResponse = false; // every read gives 0
        std::array<quint8, 4> image{0, 0, 9, 0};
        Recorder report;
        QVERIFY(!WriteSequence(&data, report, steps(image)));
        QCOMPARE(report.texts.last(), TransferText::WriteMismatch);
    }
};

QTEST_GUILESS_MAIN(TestFaultyLibrary)
#include "tst_faultylibrary.moc"
