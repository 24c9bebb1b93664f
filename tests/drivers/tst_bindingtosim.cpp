// The program's own adapter binding and module transaction, through our real
// adapter libraries, to rqsim: every command of the command set over UDP
// (LAN converter) and over a pseudo-terminal (serial port).
#include "comm/Kxxx638.h"
#include "support/SimProcess.h"

#include <QTest>

namespace {

constexpr quint8 kSerialPort = 0;
constexpr quint8 kIsaCard = 1;
constexpr quint8 kPciCard = 2;
constexpr quint8 kLanConverter = 4;

struct Bytes
{
    quint8 d0 = 0, d1 = 0, d2 = 0, d3 = 0, d4 = 0;
    quint8 error = 0xEE;
};

QByteArray text(const Bytes &b)
{
    const char chars[4] = {static_cast<char>(b.d1), static_cast<char>(b.d2), static_cast<char>(b.d3),
                           static_cast<char>(b.d4)};
    return QByteArray(chars, 4);
}

} // namespace

class tst_BindingToSim : public QObject
{
    Q_OBJECT

    quint8 m_kind = 0;
    quint32 m_handle = 0;
    QByteArray m_ip = "127.0.0.1"; // kept alive for the library, as the record does

    Bytes run(quint8 command, quint8 sub, Bytes in = {})
    {
        Record response{};
        RunModuleTransaction(m_kind, m_handle, 1, command, sub, in.d0, in.d1, in.d2, in.d3, in.d4, in.error,
                             response.data());
        return in;
    }

    bool connect(const QString &transport, SimProcess &sim)
    {
        InitBlock block{};
        if (transport == u"udp") {
            m_kind = kLanConverter;
            block[0] = reinterpret_cast<std::uintptr_t>(m_ip.constData());
            block[1] = sim.udpPort();
            block[2] = 200;
        } else {
            m_kind = kSerialPort;
            qputenv("RQ_COM3", sim.ptyPath().toLocal8Bit());
            block[0] = 3;
        }
        const quint32 opened = OpenAdapter(m_kind, &m_handle, block);
        if (opened != 0) {
            qWarning("%s", qPrintable(ErrorText(m_kind, opened)));
            return false;
        }
        return ConfigureAdapter(m_kind, m_handle, 9600, 200, 2) == 0;
    }

private slots:
    void cleanup()
    {
        if (m_handle != 0)
            CloseAdapter(m_kind, &m_handle);
        QCOMPARE(m_handle, 0u);
        QVERIFY(!AdapterBound());
    }

    void everyCommand_data()
    {
        QTest::addColumn<QString>("transport");
        QTest::newRow("LAN converter over UDP") << QStringLiteral("udp");
        QTest::newRow("serial port over a pty") << QStringLiteral("pty");
    }
    void everyCommand()
    {
        QFETCH(QString, transport);
        SimProcess sim;
        QVERIFY2(sim.start({transport == u"udp" ? QStringLiteral("--udp") : QStringLiteral("--pty"),
                            transport == u"udp" ? QStringLiteral("0") : QStringLiteral("--echo"),
                            QStringLiteral("--module"), QStringLiteral("1:3510:1.08")}),
                 qPrintable(sim.errorString()));
        QVERIFY(connect(transport, sim));

        // 200: identification, sub-codes 0, 1, 2.
        Bytes r = run(200, 0);
        QCOMPARE(r.error, 0);
        QCOMPARE(text(r), QByteArray("RQ-3"));
        r = run(200, 1);
        QCOMPARE(text(r), QByteArray("510 "));
        r = run(200, 2);
        QCOMPARE(text(r), QByteArray("1.08"));

        // 0 / input: measured value.
        QVERIFY(sim.setInput(1, 11, 1.5));
        r = run(0, 11);
        QCOMPARE(r.error, 0);
        QVERIFY(qAbs(DecodeMeasuredValue(r.d1, r.d2, r.d3, r.d4) - 1.5) < 1e-4);
        QCOMPARE(r.d4 & 0x7F, 5);

        // 0 / 16: internal thermometer.
        QVERIFY(sim.setTemperature(1, -5.5));
        r = run(0, 16);
        QCOMPARE(DecodeMeasuredValue(r.d1, r.d2, r.d3, r.d4), -5.5);

        // 0 / 64: digital inputs (negation 0xFF by default).
        QVERIFY(sim.setDigitalInputs(1, 0xFFFF0000));
        r = run(0, 64);
        QCOMPARE(r.d1, 0xFF);
        QCOMPARE(r.d2, 0xFF);
        QCOMPARE(r.d3, 0x00);
        QCOMPARE(r.d4, 0x00);

        // 1 / 64: digital outputs.
        r = run(1, 64, {0, 0x01, 0x00, 0x00, 0x80});
        QCOMPARE(r.error, 0);
        QCOMPARE(sim.outputs(1), 0x80000001u);

        // 100 and 101: status register.
        r = run(100, 0);
        QCOMPARE(r.d1, 0x30);
        QCOMPARE(run(101, 0).error, 0);
        QCOMPARE(run(100, 0).d1, 0);

        // 102 and 103: configuration memory, both pages, with read-back.
        QCOMPARE(run(102, 0, {0, 63, 63, 0, 0}).d3, 1);
        QCOMPARE(run(103, 0, {0, 31, 31, 0x80, 0x80}).error, 0);
        QCOMPARE(run(102, 0, {0, 31, 31, 0, 0}).d3, 0x80);
        QCOMPARE(run(103, 1, {0, 255, 255, 0x3C, 0x3C}).error, 0);
        QCOMPARE(run(102, 1, {0, 255, 255, 0, 0}).d3, 0x3C);
        QCOMPARE(sim.memoryByte(1, 511), 0x3C);

        // A module error and its text through the binding.
        r = run(0, 12, {0, 9, 9, 9, 9});
        QCOMPARE(r.error, 32);
        QCOMPARE(r.d1, 0);
        QCOMPARE(ErrorText(m_kind, r.error), QStringLiteral("Modul hlásí neplatný podkód příkazu"));
        QCOMPARE(ErrorText(m_kind, 0), QStringLiteral("V pořádku"));
    }

    void silentModule_timesOutWithText()
    {
        SimProcess sim;
        QVERIFY(sim.start({QStringLiteral("--fault"), QStringLiteral("drop")}));
        QVERIFY(connect(QStringLiteral("udp"), sim));
        const Bytes r = run(200, 0, {0, 1, 2, 3, 4});
        QCOMPARE(r.error, 20);
        QCOMPARE(r.d1 | r.d2 | r.d3 | r.d4, 0);
        QCOMPARE(ErrorText(m_kind, r.error), QStringLiteral("Modul neodpovídá"));
    }

    void cardsThatCannotBeReached_sayWhy_data()
    {
        QTest::addColumn<quint8>("kind");
        QTest::addColumn<quint32>("code");
        QTest::addColumn<QString>("text");
        QTest::newRow("ISA") << kIsaCard << 9u
                             << QStringLiteral("ISA karta PCI-638 není v tomto počítači dostupná");
        QTest::newRow("PCI") << kPciCard << 11u
                             << QStringLiteral("PCI karta PCI-4638 není v tomto počítači dostupná");
    }
    void cardsThatCannotBeReached_sayWhy()
    {
        QFETCH(quint8, kind);
        QFETCH(quint32, code);
        QFETCH(QString, text);
        InitBlock block{};
        block[0] = 0x300;
        quint32 handle = 0;
        QCOMPARE(OpenAdapter(kind, &handle, block), code);
        QCOMPARE(handle, 0u);
        QCOMPARE(ErrorText(kind, code), text);
        m_kind = kind;
        CloseAdapter(kind, &handle); // unbinds; Done of an unknown handle is refused
    }
};

QTEST_GUILESS_MAIN(tst_BindingToSim)
#include "tst_bindingtosim.moc"
