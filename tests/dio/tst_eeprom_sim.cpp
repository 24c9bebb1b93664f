// Backup and restore of a simulated module over UDP through the real LAN
// converter library.
#include "app/Dekl.h"
#include "comm/Kxxx638.h"
#include "dio/KonfigEEPROM.h"
#include "support/Hooks.h"
#include "support/QuestionHook.h"
#include "support/SimProcess.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {
QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
} // namespace

class TestEepromSim : public QObject
{
    Q_OBJECT
    SimProcess sim;
    TData data;
    QByteArray ip = QByteArrayLiteral("127.0.0.1");
    QTemporaryDir m_dir;

    // One dialog run against the record, as the main window would open it.
    QString run(const QString &file, void (TForm5::*button)())
    {
        TForm5 d;
        d.Data = &data;
        d.FormShow();
        d.chooseFile = [&](const QString &) { return std::optional<QString>(file); };
        d.Button5Click();
        (d.*button)();
        return d.statusText();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY2(sim.start({QStringLiteral("--module"), QStringLiteral("1:3510:1.08"),
                            QStringLiteral("--module"), QStringLiteral("4:3530:1.08")}),
                 qPrintable(sim.errorString()));
        SetDefaults(&data);
        InitBlock block{};
        block[0] = reinterpret_cast<std::uintptr_t>(ip.constData());
        block[1] = sim.udpPort();
        block[2] = 500;
        data.adapterKind = 4;
        QCOMPARE(OpenAdapter(4, &data.handle, block), 0u);
        QCOMPARE(ConfigureAdapter(4, data.handle, 9600, 500, 0), 0u);
        data.connected = true;
        data.moduleAddress = 1;
        data.baudRate = 9600;
    }
    void cleanupTestCase() { CloseAdapter(4, &data.handle); }

    void backupChangeRestoreReadBack()
    {
        PauseRecorder pauses; // the pauses are recorded, not slept
        for (int a = 0; a < 512; a += 37)
            QVERIFY(sim.setMemoryByte(1, 256 + a % 256, a & 0xFF));
        const QByteArray original = sim.memory(1);
        QCOMPARE(original.size(), 512);

        const QString backup = m_dir.filePath(QStringLiteral("modul1.kee"));
        QCOMPARE(run(backup, &TForm5::Button2Click), QStringLiteral(" Konfigurace přečtena."));
        QCOMPARE(readFile(backup), original);

        // The module changes on both pages...
        for (int a : {0, 5, 33, 200, 256, 300, 511})
            QVERIFY(sim.setMemoryByte(1, a, 0xA5));
        QVERIFY(sim.memory(1) != original);

        // ... and the backup brings it back.
        QCOMPARE(run(backup, &TForm5::Button1Click), QStringLiteral(" Konfigurace zapsána."));
        QCOMPARE(sim.memory(1), original);

        const QString check = m_dir.filePath(QStringLiteral("kontrola.kee"));
        QCOMPARE(run(check, &TForm5::Button2Click), QStringLiteral(" Konfigurace přečtena."));
        QCOMPARE(readFile(check), original);
    }

    void readBackDifferenceStopsRestore()
    {
        PauseRecorder pauses;
        QuestionHook questions(true); // the backup of the test before is replaced
        const QString backup = m_dir.filePath(QStringLiteral("modul1.kee"));
        QCOMPARE(run(backup, &TForm5::Button2Click), QStringLiteral(" Konfigurace přečtena."));
        QVERIFY(sim.setMemoryByte(1, 40, 0x11));
        QVERIFY(sim.addFault(QStringLiteral("mem=31 readback=0x55 count=1")));
        QCOMPARE(run(backup, &TForm5::Button1Click), QStringLiteral(" Chyba zápisu dat."));
        QCOMPARE(sim.memoryByte(1, 40), 0x11); // later bytes were not written
        QVERIFY(sim.clearFaults());
    }

    // An RQ-3530's backup and a text file renamed to .kee, restored into the
    // RQ-3510 at address 1: each stops at a question that says what would
    // happen, and "Ne" sends nothing. After "Ano" the module takes the
    // backup's address at its next power-up. Last, as it leaves two modules
    // on address 4.
    void foreignRestoreStopsAtQuestion()
    {
        PauseRecorder pauses;
        const QString foreign = m_dir.filePath(QStringLiteral("RQ-3530_a4.kee"));
        data.moduleAddress = 4;
        QCOMPARE(run(foreign, &TForm5::Button2Click), QStringLiteral(" Konfigurace přečtena."));
        const QString text = m_dir.filePath(QStringLiteral("README.kee"));
        {
            QFile f(text);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QByteArray bytes;
            while (bytes.size() < 600)
                bytes += "# W_RQ3510\nConfiguration and service tool for RQ modules. ";
            f.write(bytes.left(600));
        }
        data.moduleAddress = 1;
        data.identity = QStringLiteral("RQ-3510  v.1.08");
        const QByteArray before = sim.memory(1);
        const qint64 requests = sim.counters().value(QStringLiteral("requests"));
        {
            QuestionHook no(false);
            QCOMPARE(run(foreign, &TForm5::Button1Click), QStringLiteral(" Zápis zrušen."));
            QCOMPARE(run(text, &TForm5::Button1Click), QStringLiteral(" Zápis zrušen."));
            QCOMPARE(no.questions.size(), 2);
            QVERIFY(no.questions[0].contains(QStringLiteral("Adresa modulu: 1 → 4")));
            QVERIFY(no.questions[0].contains(QStringLiteral("Soubor neodpovídá modelu RQ-3510")));
            QVERIFY(no.questions[1].contains(QStringLiteral("Soubor má 600 bajtů, ne 512.")));
            QVERIFY(no.questions[1].contains(QStringLiteral("Adresa modulu: 1 → ")));
        }
        QCOMPARE(sim.counters().value(QStringLiteral("requests")), requests);
        QCOMPARE(sim.memory(1), before);

        QuestionHook yes(true);
        QCOMPARE(run(foreign, &TForm5::Button1Click), QStringLiteral(" Konfigurace zapsána."));
        QCOMPARE(yes.questions.size(), 1);
        QCOMPARE(sim.memory(1), readFile(foreign));
        QVERIFY(sim.command(QStringLiteral("power 1")).contains(QStringLiteral("address=4")));
    }
};

QTEST_MAIN(TestEepromSim)
#include "tst_eeprom_sim.moc"
