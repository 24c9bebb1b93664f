// A serial line that hangs up (a USB converter pulled out; rqsim's
// `hangup`) while a request waits for its reply: the transaction ends with
// code 14 instead of spinning, the program obeys SIGTERM, and reading
// resumes on its own when the line is back. The binding itself, rqtool
// values and rqgw --adapter com.
#include "GatewayProcess.h"

#include "comm/Kxxx638.h"
#include "support/SimProcess.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <csignal>
#include <thread>

namespace {
constexpr quint8 kSerialPort = 0;
constexpr quint32 kDeviceGone = 14;
const QString Python = QStringLiteral("/usr/bin/python3");
const QString Client = QStringLiteral(RQ_GW_TEST_DIR "/modbus_client.py");
const QString Rqtool = QStringLiteral(RQ_BIN_DIR "/rqtool");
const QString GoneText = QStringLiteral("Komunikační zařízení bylo odpojeno");

QString reg(quint16 port, int address)
{
    return RunTool(Python, {Client, QString::number(port), QStringLiteral("ir:1:%1:1").arg(address)})
        .trimmed();
}

// One identification request through the binding, 0 or the error code.
quint32 identify(quint32 handle)
{
    quint32 request[8] = {1, 200, 0, 0, 0, 0, 0, 0};
    quint32 response[4] = {};
    quint32 status = 0, error = 0;
    return SendRequest(kSerialPort, handle, request, response, &status, &error);
}
} // namespace

class TestHangup : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;

    // Waits until rqsim has taken a request it will not answer (a drop
    // rule hit), so that the hang-up comes while that request waits.
    static bool requestWaiting(SimProcess &sim)
    {
        static const QRegularExpression hit(QStringLiteral("hits=[1-9]"));
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 30000) {
            if (sim.command(QStringLiteral("faults")).contains(hit))
                return true;
            QTest::qWait(10);
        }
        return false;
    }
    // rqtool's next JSON row ("" after a while without one).
    static QJsonObject nextRow(QProcess &tool)
    {
        QElapsedTimer t;
        t.start();
        while (!tool.canReadLine() && t.elapsed() < 30000 && tool.state() == QProcess::Running)
            tool.waitForReadyRead(200);
        return tool.canReadLine() ? QJsonDocument::fromJson(tool.readLine()).object() : QJsonObject{};
    }

private slots:
    void lineHangsUp_data()
    {
        QTest::addColumn<QString>("program");
        QTest::newRow("the binding") << QStringLiteral("binding");
        QTest::newRow("rqtool values") << QStringLiteral("rqtool");
        QTest::newRow("rqgw --adapter com") << QStringLiteral("rqgw");
    }
    void lineHangsUp()
    {
        QFETCH(QString, program);
        if (program == u"rqgw" &&
            RunTool(Python, {QStringLiteral("-c"), QStringLiteral("import pymodbus.client")})
                .contains(QStringLiteral("Error")))
            QSKIP("python3-pymodbus is not installed (make deps)");
        const QString link = dir.filePath(QStringLiteral("tty-") + program);
        SimProcess sim;
        QVERIFY2(sim.start({QStringLiteral("--wire-time"), QStringLiteral("--module"),
                            QStringLiteral("1:3510:1.08"), QStringLiteral("--link"), link}),
                 qPrintable(sim.errorString()));
        qputenv("RQ_COM3", QFile::encodeName(link));

        if (program == u"binding") {
            InitBlock block{};
            block[0] = 3;
            quint32 handle = 0;
            QCOMPARE(OpenAdapter(kSerialPort, &handle, block), 0u);
            // A long reply timeout: only the hang-up can end the request early.
            QCOMPARE(ConfigureAdapter(kSerialPort, handle, 9600, 20000, 2), 0u);
            QCOMPARE(identify(handle), 0u);
            QVERIFY(sim.addFault(QStringLiteral("drop count=1")));
            std::atomic<quint32> result{~0u};
            std::thread request([&] { result = identify(handle); });
            QVERIFY(requestWaiting(sim));
            QVERIFY(sim.ok(QStringLiteral("hangup 1")));
            QTRY_VERIFY_WITH_TIMEOUT(result != ~0u, 15000);
            request.join();
            QCOMPARE(result.load(), kDeviceGone);
            QCOMPARE(ErrorText(kSerialPort, kDeviceGone), GoneText);
            // Opened again at the next request once the line is back.
            QTRY_COMPARE_WITH_TIMEOUT(identify(handle), 0u, 15000);
            QCOMPARE(CloseAdapter(kSerialPort, &handle), 0u);
            return;
        }

        if (program == u"rqtool") {
            QProcess tool;
            tool.start(Rqtool, {QStringLiteral("--adapter"), QStringLiteral("com"), QStringLiteral("--com"),
                                QStringLiteral("3"), QStringLiteral("--timeout"), QStringLiteral("20000"),
                                QStringLiteral("--retries"), QStringLiteral("0"), QStringLiteral("-a"),
                                QStringLiteral("1"), QStringLiteral("--json"), QStringLiteral("values"),
                                QStringLiteral("--count"), QStringLiteral("0"), QStringLiteral("--interval"),
                                QStringLiteral("100")});
            QVERIFY(tool.waitForStarted());
            QVERIFY(nextRow(tool).contains(u"inputs"));
            QVERIFY(sim.addFault(QStringLiteral("drop count=1")));
            QVERIFY(requestWaiting(sim));
            QVERIFY(sim.ok(QStringLiteral("hangup 1")));
            // Every row has one shape; a failed cycle carries its error.
            QJsonObject row;
            do
                row = nextRow(tool);
            while (!row.isEmpty() && row.value(u"error").isNull());
            QVERIFY2(row.value(u"error").toString().contains(GoneText),
                     QJsonDocument(row).toJson().constData());
            // Values again from the new line, without a restart.
            do
                row = nextRow(tool);
            while (row.value(u"error").toString().contains(GoneText));
            QVERIFY2(row.contains(u"inputs") && row.value(u"error").isNull(),
                     QJsonDocument(row).toJson().constData());
            ::kill(static_cast<pid_t>(tool.processId()), SIGTERM);
            QVERIFY(tool.waitForFinished(15000));
            QCOMPARE(tool.exitCode(), 128 + SIGTERM);
            return;
        }

        // The module named, not searched for: a search's short probes may
        // miss on a loaded machine.
        const QString ini = dir.filePath(QStringLiteral("com.ini"));
        QFile f(ini);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[gateway]\noffline-retry=1000\n[bus]\nadapter=com\ncom=3\n[module a]\naddress=1\n");
        f.close();
        GatewayProcess gw;
        QVERIFY(gw.start({QStringLiteral("--config"), ini}));
        QTRY_COMPARE_WITH_TIMEOUT(reg(gw.modbusPort, 100), QStringLiteral("ok 1"), 20000);
        // Every request times out now, so the hang-up meets one that waits.
        QVERIFY(sim.addFault(QStringLiteral("drop")));
        QVERIFY(requestWaiting(sim));
        QVERIFY(sim.ok(QStringLiteral("hangup 5")));
        QVERIFY(sim.clearFaults());
        QString log;
        QTRY_VERIFY_WITH_TIMEOUT((log += gw.log()).contains(GoneText), 20000);
        QCOMPARE(reg(gw.modbusPort, 101), QStringLiteral("ok 14"));
        QTRY_COMPARE_WITH_TIMEOUT(reg(gw.modbusPort, 100), QStringLiteral("ok 1"), 30000);
        QCOMPARE(reg(gw.modbusPort, 101), QStringLiteral("ok 0"));
        QVERIFY(gw.stop(15000));
    }
};

QTEST_GUILESS_MAIN(TestHangup)
#include "tst_hangup.moc"
