#include "app/Dekl.h"
#include "comm/Kxxx638.h"
#include "comm/Linka.h"
#include "support/TestAdapter.h"

#include <QTest>

class TestBinding : public QObject
{
    Q_OBJECT
    TestAdapter &ta = TestAdapter::instance();

    quint32 openLan(quint32 *handle)
    {
        static QByteArray ip = QByteArrayLiteral("10.0.0.7");
        InitBlock block{};
        block[0] = reinterpret_cast<std::uintptr_t>(ip.constData());
        block[1] = 5001;
        block[2] = 150;
        return OpenAdapter(4, handle, block);
    }

private slots:
    void init() { ta.reset(); }
    void cleanup()
    {
        quint32 h = 1;
        for (quint8 k = 0; k < 5; ++k)
            CloseAdapter(k, &h);
    }

    void lanInitGetsBlockCopy()
    {
        quint32 handle = 0;
        QCOMPARE(openLan(&handle), 0u);
        QCOMPARE(handle, 0x1234u);
        QVERIFY(AdapterBound());
        QCOMPARE(ta.count(QStringLiteral("Init")), 1);
        const TaCall init = ta.calls.first();
        QCOMPARE(init.prefix, QStringLiteral("KRQ4638"));
        QCOMPARE(init.ip, QByteArrayLiteral("10.0.0.7"));
        QCOMPARE(init.block[1], quintptr(5001));
        QCOMPARE(init.block[2], quintptr(150));
        QCOMPARE(init.block[3], quintptr(0));
        // A 64-bit address passes whole.
        QCOMPARE(init.block[0] == 0, false);
    }

    void initForms()
    {
        quint32 handle = 0;
        InitBlock block{};
        block[0] = 300;
        QCOMPARE(OpenAdapter(0, &handle, block), 0u);
        QCOMPARE(ta.calls.last().args[1], quintptr(300));
        QCOMPARE(OpenAdapter(2, &handle, block), 0u);
        QCOMPARE(ta.calls.last().prefix, QStringLiteral("KPCI4638"));
        QCOMPARE(ta.calls.last().args[1], quintptr(0));
    }

    void initFailureKeepsLibraryBoundForItsText()
    {
        ta.initResult = 42;
        ta.errorTexts[42] = QStringLiteral("port nelze otevřít");
        quint32 handle = 0;
        QCOMPARE(openLan(&handle), 42u);
        QCOMPARE(handle, 0u);
        QCOMPARE(ErrorText(4, 42), QStringLiteral("port nelze otevřít"));
    }

    void failures_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<quint32>("code");
        QTest::addColumn<QString>("text");
        QTest::newRow("missing library") << 1 << 101u << "chyba inicializace knihovny KPCI638.DLL";
        QTest::newRow("lacks GetConfig") << 3 << 113u << "chybná knihovna KUSB4638.DLL";
        QTest::newRow("kind 7") << 7 << 10u << "chyba 10 (bez popisu)";
    }
    void failures()
    {
        QFETCH(int, kind);
        QFETCH(quint32, code);
        QFETCH(QString, text);
        quint32 handle = 0;
        QCOMPARE(openLan(&handle), 0u); // something bound before
        QCOMPARE(OpenAdapter(quint8(kind), &handle, InitBlock{}), code);
        QVERIFY(!AdapterBound());
        QCOMPARE(ta.count(QStringLiteral("Init")), 1); // only the first
        QCOMPARE(ErrorText(quint8(kind), code), text);
        // Nothing bound: every forwarding operation gives 10 and calls nothing.
        quint32 req[100] = {}, resp[100] = {}, st = 0, er = 0;
        QCOMPARE(ConfigureAdapter(4, handle, 9600, 200, 2), 10u);
        QCOMPARE(SendRequest(4, handle, req, resp, &st, &er), 10u);
        QCOMPARE(CloseAdapter(4, &handle), 10u);
        QCOMPARE(ta.count(QStringLiteral("Send")), 0);
    }

    void configureAndClose()
    {
        quint32 handle = 0;
        QCOMPARE(openLan(&handle), 0u);
        ta.setConfigResult = 5;
        QCOMPARE(ConfigureAdapter(4, handle, 57600, 200, 2), 5u);
        const TaCall cfg = ta.calls.last();
        QCOMPARE(cfg.entry, QStringLiteral("SetConfig"));
        QCOMPARE(cfg.args[0], quintptr(0x1234));
        QCOMPARE(cfg.args[1], quintptr(57600));
        QCOMPARE(cfg.args[2], quintptr(200));
        QCOMPARE(cfg.args[3], quintptr(2));
        QCOMPARE(ConfigureAdapter(9, handle, 9600, 200, 2), 10u); // kind above 4
        ta.doneResult = 3;
        ta.doneSetsHandleTo = 0;
        QCOMPARE(CloseAdapter(4, &handle), 3u);
        QCOMPARE(handle, 0u);
        QCOMPARE(ta.count(QStringLiteral("Done")), 1);
        QVERIFY(!AdapterBound());
        QCOMPARE(CloseAdapter(4, &handle), 10u);
        QCOMPARE(ta.count(QStringLiteral("Done")), 1);
    }

    void errorCodeTexts_data()
    {
        QTest::addColumn<quint32>("code");
        QTest::addColumn<QString>("text");
        const char *prefixes[] = {"KCOM638", "KPCI638", "KPCI4638", "KUSB4638", "KRQ4638"};
        for (quint32 k = 0; k < 5; ++k) {
            QTest::addRow("%u", 100 + k)
                << 100 + k
                << QStringLiteral("chyba inicializace knihovny %1.DLL").arg(QLatin1String(prefixes[k]));
            QTest::addRow("%u", 110 + k)
                << 110 + k << QStringLiteral("chybná knihovna %1.DLL").arg(QLatin1String(prefixes[k]));
        }
        QTest::newRow("107") << 107u << "neznámý chybový kód";
        QTest::newRow("115") << 115u << "neznámý chybový kód";
        QTest::newRow("200") << 200u << "neznámý chybový kód";
    }
    void errorCodeTexts()
    {
        QFETCH(quint32, code);
        QFETCH(QString, text);
        for (quint8 kind : {quint8(0), quint8(2), quint8(4), quint8(9)}) {
            ErrorBuffer buffer{};
            ErrorCodeText(kind, code, buffer);
            QCOMPARE(BufferToText(buffer), text);
        }
    }

    void libraryCodesNeedBinding()
    {
        ErrorBuffer buffer = TextToBuffer(QStringLiteral("předchozí"));
        QCOMPARE(ErrorCodeText(4, 5, buffer), 10u);
        QCOMPARE(BufferToText(buffer), QStringLiteral("předchozí"));
        quint32 handle = 0;
        QCOMPARE(openLan(&handle), 0u);
        ErrorCodeText(4, 5, buffer);
        QCOMPARE(BufferToText(buffer), QStringLiteral("chyba 5"));
        QCOMPARE(ErrorCodeText(7, 5, buffer), 10u); // kind above 4
    }

    void buffers()
    {
        QString long120;
        for (int i = 0; i < 120; ++i)
            long120.append(QChar(u'a' + i % 26));
        const ErrorBuffer b = TextToBuffer(long120);
        QCOMPARE(b[0], 0u);
        QCOMPARE(b[1], quint32('a'));
        QCOMPARE(b[99], quint32(long120.at(98).unicode()));
        QCOMPARE(BufferToText(b), long120.left(99));

        ErrorBuffer fromZero{};
        for (int i = 0; i < 5; ++i)
            fromZero[std::size_t(i)] = quint32('A' + i);
        QCOMPARE(BufferToText(fromZero), QStringLiteral("ABCDE"));

        ErrorBuffer empty{};
        empty[2] = 'x';
        QCOMPARE(BufferToText(empty), QString());

        // Czech letters travel as Windows-1250 codes.
        const ErrorBuffer cz = TextToBuffer(QStringLiteral("čř"));
        QCOMPARE(cz[1], 0xE8u);
        QCOMPARE(cz[2], 0xF8u);
        QCOMPARE(BufferToText(cz), QStringLiteral("čř"));
        QCOMPARE(BufferToText(TextToBuffer(QString())), QString());
    }

    void transactionWithHandleZeroChangesNothing()
    {
        quint32 handle = 0;
        QCOMPARE(openLan(&handle), 0u);
        quint8 d0 = 1, d1 = 2, d2 = 3, d3 = 4, d4 = 5, err = 77;
        Record resp{};
        RunModuleTransaction(4, 0, 1, 102, 0, d0, d1, d2, d3, d4, err, resp.data());
        QCOMPARE(QList<int>({d0, d1, d2, d3, d4, err}), QList<int>({1, 2, 3, 4, 5, 77}));
        QCOMPARE(ta.count(QStringLiteral("Send")), 0);
    }

    void transactionWordOrder()
    {
        quint32 handle = 0;
        QCOMPARE(openLan(&handle), 0u);
        ta.script = [](const TaRequest &, int) {
            TaReply r;
            r.d = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4};
            return r;
        };
        quint8 d0 = 10, d1 = 11, d2 = 12, d3 = 13, d4 = 14, err = 9;
        Record resp{};
        RunModuleTransaction(4, handle, 0x21, 103, 1, d0, d1, d2, d3, d4, err, resp.data());
        const TaRequest sent = ta.sends().constFirst();
        QCOMPARE(sent.address, 0x21);
        QCOMPARE(sent.command, 103);
        QCOMPARE(sent.sub, 1);
        QCOMPARE(sent.d, (std::array<quint8, 5>{10, 11, 12, 13, 14}));
        QCOMPARE(err, 0);
        QCOMPARE(QList<int>({d0, d1, d2, d3, d4}), QList<int>({0xA0, 0xA1, 0xA2, 0xA3, 0xA4}));
    }

    void transactionErrors_data()
    {
        QTest::addColumn<quint32>("result");
        QTest::addColumn<quint32>("errorWord");
        QTest::addColumn<int>("code");
        QTest::newRow("function result") << 7u << 0u << 7;
        QTest::newRow("error word") << 0u << 9u << 9;
        QTest::newRow("result wins") << 7u << 9u << 7;
        QTest::newRow("256 never reads as success") << 256u << 0u << 255;
        QTest::newRow("error word above 255") << 0u << 0x300u << 255;
    }
    void transactionErrors()
    {
        QFETCH(quint32, result);
        QFETCH(quint32, errorWord);
        QFETCH(int, code);
        quint32 handle = 0;
        QCOMPARE(openLan(&handle), 0u);
        ta.script = [&](const TaRequest &, int) {
            TaReply r;
            r.result = result;
            r.errorWord = errorWord;
            return r;
        };
        quint8 d0 = 1, d1 = 2, d2 = 3, d3 = 4, d4 = 5, err = 0;
        Record resp{};
        RunModuleTransaction(4, handle, 1, 0, 3, d0, d1, d2, d3, d4, err, resp.data());
        QCOMPARE(int(err), code);
        QCOMPARE(QList<int>({d0, d1, d2, d3, d4}), QList<int>({0, 0, 0, 0, 0}));
    }

    void transactionUnbound()
    {
        quint8 d0 = 1, d1 = 2, d2 = 3, d3 = 4, d4 = 5, err = 0;
        Record resp{};
        RunModuleTransaction(4, 99, 1, 0, 3, d0, d1, d2, d3, d4, err, resp.data());
        QCOMPARE(int(err), 10);
        QCOMPARE(QList<int>({d0, d1, d2, d3, d4}), QList<int>({0, 0, 0, 0, 0}));
    }

    // The one retry loop: transient errors are sent again while retries are
    // left, final ones never; the stop check ends it before and after a try.
    void linkRetries_data()
    {
        QTest::addColumn<QList<int>>("errors"); // per try; the last repeats
        QTest::addColumn<int>("retries");
        QTest::addColumn<int>("stopAfter"); // tries after which the stop check says stop; -1 never
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("tries");
        QTest::addColumn<int>("retried");
        QTest::newRow("timeout, then the reply") << QList<int>{20, 0} << 2 << -1 << 0 << 2 << 1;
        QTest::newRow("retries used up") << QList<int>{20} << 2 << -1 << 20 << 3 << 2;
        QTest::newRow("busy module asked again") << QList<int>{35, 0} << 1 << -1 << 0 << 2 << 1;
        QTest::newRow("module error is final") << QList<int>{33} << 3 << -1 << 33 << 1 << 0;
        QTest::newRow("no retries: one try") << QList<int>{20} << 0 << -1 << 20 << 1 << 0;
        QTest::newRow("stop after a failed try") << QList<int>{20} << 3 << 1 << 20 << 1 << 0;
        QTest::newRow("stopped before sending") << QList<int>{0} << 3 << 0 << 10 << 0 << 0;
    }
    void linkRetries()
    {
        QFETCH(QList<int>, errors);
        QFETCH(int, retries);
        QFETCH(int, stopAfter);
        QFETCH(int, code);
        QFETCH(int, tries);
        QFETCH(int, retried);
        BusLink link;
        link.kind = 4;
        QCOMPARE(openLan(&link.handle), 0u);
        int sent = 0, told = 0;
        ta.script = [&](const TaRequest &request, int) {
            TaReply r;
            r.errorWord = quint32(errors.value(sent, errors.last()));
            r.d = request.d; // echoed: every try must send the bytes given
            ++sent;
            return r;
        };
        link.retries = retries;
        link.stopped = [&] { return stopAfter >= 0 && sent >= stopAfter; };
        link.retrying = [&] { ++told; };
        const BusReply reply = link.transact({1, 0, 3, {1, 2, 3, 4, 5}});
        QCOMPARE(int(reply.error), code);
        QCOMPARE(sent, tries);
        QCOMPARE(told, retried);
        QCOMPARE(reply.d, code == 0 || tries == 0 ? (ModuleBytes{1, 2, 3, 4, 5}) : ModuleBytes{});
    }

    void transactConvenience()
    {
        TData data;
        SetDefaults(&data);
        data.adapterKind = 4;
        ModuleBytes d{1, 2, 3, 4, 5};
        QCOMPARE(Transact(data, 1, 0, 0, d), 10); // no handle: nothing sent, not success
        QCOMPARE(d, (ModuleBytes{1, 2, 3, 4, 5}));
        QCOMPARE(openLan(&data.handle), 0u);
        ta.memory[256 + 7] = 0x5A;
        d = {0, 7, 7, 0, 0};
        QCOMPARE(Transact(data, 1, 102, 1, d), 0);
        QCOMPARE(d[3], 0x5A);
    }
};

QTEST_GUILESS_MAIN(TestBinding)
#include "tst_binding.moc"
