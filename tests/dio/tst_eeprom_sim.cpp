// Backup and restore of a simulated module over UDP through the real LAN
// converter library.
#include "app/Dekl.h"
#include "comm/Kxxx638.h"
#include "dio/KonfigEEPROM.h"
#include "support/Hooks.h"
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
        QVERIFY2(sim.start({QStringLiteral("--module"), QStringLiteral("1:3510:1.08")}), qPrintable(sim.errorString()));
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
        const QString backup = m_dir.filePath(QStringLiteral("modul1.kee"));
        QCOMPARE(run(backup, &TForm5::Button2Click), QStringLiteral(" Konfigurace přečtena."));
        QVERIFY(sim.setMemoryByte(1, 40, 0x11));
        QVERIFY(sim.addFault(QStringLiteral("mem=31 readback=0x55 count=1")));
        QCOMPARE(run(backup, &TForm5::Button1Click), QStringLiteral(" Chyba zápisu dat."));
        QCOMPARE(sim.memoryByte(1, 40), 0x11); // later bytes were not written
        QVERIFY(sim.clearFaults());
    }
};

QTEST_MAIN(TestEepromSim)
#include "tst_eeprom_sim.moc"
