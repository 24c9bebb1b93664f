// An adapter maker's 32-bit Windows library reached through our adapter
// library, rqbridge32.exe and Wine: the stand-in libraries against rqsim,
// end to end through the program's binding and dialogs, and every way the
// road can break.
#include "app/Dekl.h"
#include "comm/Kxxx638.h"
#include "comm/Pripojeni.h"
#include "config/NastavAIN3510.h"
#include "dio/KonfigEEPROM.h"
#include "drivers/AdapterAbi.h"
#include "support/Hooks.h"
#include "support/SimProcess.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <dlfcn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

const QString StandinDir = QStringLiteral(RQ_STANDIN_DIR);
const QString BridgeExe = QStringLiteral(RQ_BIN_DIR "/rqbridge32.exe");
constexpr quint8 kSerialPort = 0, kUsbConverter = 3, kLanConverter = 4;

QString standin(const QString &variant)
{
    return StandinDir + u'/' + variant;
}

// Why the bridge tests cannot run here, or empty when they can.
QString missingPieces()
{
    if (!QFile::exists(BridgeExe) || !QFile::exists(standin(QStringLiteral("lan/KRQ4638.DLL"))))
        return QStringLiteral(
            "MinGW-w64 i686 cross compiler missing: make deps installs g++-mingw-w64-i686-posix");
    if (QStandardPaths::findExecutable(QStringLiteral("wine")).isEmpty())
        return QStringLiteral("Wine missing: make deps installs wine and wine32");
    return {};
}

quint16 le16(const QByteArray &b, qsizetype at)
{
    return static_cast<quint16>(static_cast<quint8>(b.at(at)) | static_cast<quint8>(b.at(at + 1)) << 8);
}
quint32 le32(const QByteArray &b, qsizetype at)
{
    return le16(b, at) | static_cast<quint32>(le16(b, at + 2)) << 16;
}

// The export names of a 32-bit PE file; empty when it is not one.
QStringList exportsOfPe32(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray b = f.readAll();
    if (b.size() < 0x40 || !b.startsWith("MZ"))
        return {};
    const qsizetype pe = le32(b, 0x3C);
    if (b.mid(pe, 4) != QByteArray("PE\0\0", 4) || le16(b, pe + 4) != 0x14C)
        return {}; // i386
    const qsizetype optional = pe + 24;
    if (le16(b, optional) != 0x10B)
        return {}; // PE32, not PE32+
    const quint32 exportRva = le32(b, optional + 96);
    const int sections = le16(b, pe + 6);
    const qsizetype sectionTable = optional + le16(b, pe + 20);
    auto offsetOf = [&](quint32 rva) -> qsizetype {
        for (int s = 0; s < sections; ++s) {
            const qsizetype h = sectionTable + 40 * s;
            const quint32 va = le32(b, h + 12), size = le32(b, h + 16), raw = le32(b, h + 20);
            if (rva >= va && rva < va + size)
                return raw + (rva - va);
        }
        return -1;
    };
    const qsizetype dir = offsetOf(exportRva);
    if (dir < 0)
        return {};
    QStringList names;
    const quint32 count = le32(b, dir + 24);
    const qsizetype table = offsetOf(le32(b, dir + 32));
    for (quint32 i = 0; i < count && table >= 0; ++i)
        names << QString::fromLatin1(b.constData() + offsetOf(le32(b, table + 4 * i)));
    names.sort();
    return names;
}

// Child processes of parent (this test) other than rqsim: a bridge left
// behind, or a zombie; each line starts with its process number.
QStringList strayChildren(pid_t parent = ::getpid())
{
    QStringList stray;
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() < 2 || fields.at(1).toInt() != parent)
            continue;
        if (line.contains("(rqsim)"))
            continue;
        stray << QString::fromLatin1(line.left(60));
    }
    return stray;
}

// Whether the process runs (a zombie nobody reaps does not).
bool runs(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    return line.mid(line.lastIndexOf(')') + 2, 1) != "Z";
}

} // namespace

class tst_Bridge : public QObject
{
    Q_OBJECT

    SimProcess sim;
    TData data;
    QTemporaryDir dir;

    // The maker's library folder the adapter libraries look in.
    void useFolder(const QString &folder) { qputenv("RQ_VENDOR_DLL_DIR", folder.toLocal8Bit()); }

    // The connection dialog, LAN converter, as a user fills it in.
    QString connectThroughDialog()
    {
        TForm2 d;
        d.Data = &data;
        d.FormShow();
        d.ComboBox2->setCurrentIndex(kLanConverter);
        d.Edit2->setText(QStringLiteral("127.0.0.1"));
        d.Edit3->setText(QString::number(sim.udpPort()));
        d.Edit4->setText(QStringLiteral("500"));
        d.Edit1->setText(QStringLiteral("1"));
        d.ComboBox1->setCurrentIndex(4);
        d.Button1Click();
        return d.Panel1->text();
    }

    void disconnect()
    {
        if (AdapterBound())
            CloseAdapter(data.adapterKind, &data.handle);
        data.connected = false;
    }

    // Opens the LAN converter kind through the binding; returns Init's code.
    quint32 openLan(const QByteArray &ip = QByteArrayLiteral("127.0.0.1"))
    {
        InitBlock block{};
        block[0] = reinterpret_cast<std::uintptr_t>(ip.constData());
        block[1] = sim.udpPort();
        block[2] = 300;
        data.adapterKind = kLanConverter;
        data.handle = 0;
        const quint32 result = OpenAdapter(kLanConverter, &data.handle, block);
        if (result == 0)
            ConfigureAdapter(kLanConverter, data.handle, 9600, 200, 2);
        return result;
    }

    quint8 identify(ModuleBytes &d)
    {
        d = {};
        return Transact(data, 1, 200, 0, d);
    }

private slots:
    void initTestCase()
    {
        if (const QString missing = missingPieces(); !missing.isEmpty())
            QSKIP(qPrintable(missing));
        QVERIFY(dir.isValid());
        QVERIFY2(sim.start({QStringLiteral("--module"), QStringLiteral("1:3510:1.08")}),
                 qPrintable(sim.errorString()));
        SetDefaults(&data);
    }
    void cleanup()
    {
        disconnect();
        qunsetenv("RQ_VENDOR_DLL_DIR");
        qunsetenv("RQ_STANDIN_PORT");
    }

    void exportTable_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("names");
        const QStringList all = {QStringLiteral("Done"),      QStringLiteral("Error"),
                                 QStringLiteral("GetConfig"), QStringLiteral("Init"),
                                 QStringLiteral("Send"),      QStringLiteral("SetConfig"),
                                 QStringLiteral("Version")};
        auto with = [&](const QString &prefix, QStringList entries) {
            for (QString &e : entries)
                e = prefix + u'_' + e;
            return entries;
        };
        QTest::newRow("LAN converter")
            << standin(QStringLiteral("lan/KRQ4638.DLL")) << with(QStringLiteral("KRQ4638"), all);
        QTest::newRow("serial port") << standin(QStringLiteral("word/KCOM638.DLL"))
                                     << with(QStringLiteral("KCOM638"), all);
        QStringList incomplete = all;
        incomplete.removeOne(QStringLiteral("GetConfig"));
        QTest::newRow("without GetConfig") << standin(QStringLiteral("nogetconfig/KRQ4638.DLL"))
                                           << with(QStringLiteral("KRQ4638"), incomplete);
    }
    void exportTable()
    {
        // 32-bit PE, stdcall names undecorated (no "_" before, no "@8" after):
        // the names the binding looks up.
        QFETCH(QString, file);
        QFETCH(QStringList, names);
        QCOMPARE(exportsOfPe32(file), names);
    }

    void connectReadWriteBackUp()
    {
        useFolder(standin(QStringLiteral("lan")));
        const QString panel = connectThroughDialog();
        QCOMPARE(panel, QStringLiteral("Připojení úspěšně inicializováno. Připojen modul   RQ-3510  v.1.08"));
        QVERIFY(data.connected);
        QCOMPARE(data.handle, 0x4638u); // the stand-in's own handle came through
        QCOMPARE(data.identity, QStringLiteral("RQ-3510  v.1.08"));

        {
            TForm13 d;
            d.Data = &data;
            d.FormShow();
            d.Button2Click();
            QCOMPARE(d.statusText(), QStringLiteral(" Konfigurace přečtena."));
            for (int i = 0; i < 12; ++i)
                d.ComboBox[std::size_t(i)]->setCurrentIndex((i * 5) % 11);
            d.Button1Click();
            QCOMPARE(d.statusText(), QStringLiteral(" Konfigurace zapsána."));
            for (int i = 0; i < 12; ++i)
                QCOMPARE(sim.memoryByte(1, i), (i * 5) % 11);
        }

        PauseRecorder pauses;
        for (int a = 0; a < 512; a += 29)
            QVERIFY(sim.setMemoryByte(1, a, (a * 7) & 0xFF));
        const QString file = dir.filePath(QStringLiteral("zaloha.kee"));
        TForm5 d;
        d.Data = &data;
        d.FormShow();
        d.chooseFile = [&](const QString &) { return std::optional<QString>(file); };
        d.Button5Click();
        d.Button2Click();
        QCOMPARE(d.statusText(), QStringLiteral(" Konfigurace přečtena."));
        QFile saved(file);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), sim.memory(1));
    }

    void otherInitForms_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<quint8>("kind");
        QTest::newRow("serial port: handle and word 0") << QStringLiteral("word") << kSerialPort;
        QTest::newRow("USB converter: handle only") << QStringLiteral("plain") << kUsbConverter;
    }
    void otherInitForms()
    {
        QFETCH(QString, folder);
        QFETCH(quint8, kind);
        useFolder(standin(folder));
        // The serial port stand-in takes rqsim's UDP port as its port number,
        // the USB one from its environment, which Wine passes on.
        qputenv("RQ_STANDIN_PORT", QByteArray::number(sim.udpPort()));
        InitBlock block{};
        block[0] = sim.udpPort();
        data.adapterKind = kind;
        QCOMPARE(OpenAdapter(kind, &data.handle, block), 0u);
        QCOMPARE(data.handle, 0x4638u);
        QCOMPARE(ConfigureAdapter(kind, data.handle, 9600, 200, 2), 0u);
        ModuleBytes d{};
        QCOMPARE(identify(d), quint8(0));
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(d.data()) + 1, 4), QByteArray("RQ-3"));
        quint32 handle = data.handle;
        QCOMPARE(CloseAdapter(kind, &handle), 0u);
        QCOMPARE(handle, 0u); // Done's handle variable came back
        QVERIFY(strayChildren().isEmpty());
    }

    void failuresAtSetup_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<quint32>("code");
        QTest::addColumn<QString>("text");
        QTest::newRow("Wine missing")
            << standin(QStringLiteral("lan")) << QByteArray("/nonexistent") << 90u
            << QStringLiteral("Chybí Wine pro KRQ4638.DLL: nainstalujte balíčky wine a wine32");
        QTest::newRow("library not loadable")
            << QStringLiteral("broken") << QByteArray() << 93u
            << QStringLiteral("Knihovnu KRQ4638.DLL nelze pod Wine načíst (chyba Windows 193)");
        QTest::newRow("entry point missing")
            << standin(QStringLiteral("nogetconfig")) << QByteArray() << 94u
            << QStringLiteral("Knihovně KRQ4638.DLL chybí vstupní bod KRQ4638_GetConfig");
        QTest::newRow("Init fails with the maker's text")
            << standin(QStringLiteral("initfails")) << QByteArray() << 77u
            << QStringLiteral("Náhradní knihovna: adaptér nenalezen");
    }
    void failuresAtSetup()
    {
        QFETCH(QString, folder);
        QFETCH(QByteArray, path);
        QFETCH(quint32, code);
        QFETCH(QString, text);
        if (folder == u"broken") {
            // Not a Windows library at all.
            folder = dir.filePath(QStringLiteral("broken"));
            QVERIFY(QDir().mkpath(folder));
            QFile bad(folder + QStringLiteral("/KRQ4638.DLL"));
            QVERIFY(bad.open(QIODevice::WriteOnly));
            bad.write("MZ but nothing else");
        }
        useFolder(folder);
        const QByteArray oldPath = qgetenv("PATH");
        if (!path.isEmpty())
            qputenv("PATH", path);
        const quint32 result = openLan();
        qputenv("PATH", oldPath);
        QCOMPARE(result, code);
        QCOMPARE(ErrorText(kLanConverter, result), text);
        // Through the connection dialog the user reads the same text.
        if (!path.isEmpty())
            qputenv("PATH", path);
        const QString panel = connectThroughDialog();
        qputenv("PATH", oldPath);
        QVERIFY2(panel.endsWith(text), qPrintable(panel));
        QVERIFY(!data.connected);
        disconnect();
        QVERIFY(strayChildren().isEmpty());
    }

    // A bridge lost in the middle of a transaction costs that transaction
    // only: one new bridge opens the connection again as it was set up, and
    // the text says so. Where the new one cannot start, the connection stays
    // lost until the next setup.
    void failuresInTransfer_data()
    {
        QTest::addColumn<quint8>("command");
        QTest::addColumn<bool>("libraryStays");
        QTest::addColumn<quint32>("code");
        QTest::addColumn<QString>("text");
        const QString gone =
            QStringLiteral("Program rqbridge32.exe s knihovnou KRQ4638.DLL skončil nebo neodpovídá");
        const QString back = QStringLiteral("; spojení obnoveno");
        QTest::newRow("bridge dies") << quint8(250) << true << 95u << gone + back;
        QTest::newRow("bridge stays silent") << quint8(251) << true << 95u << gone + back;
        QTest::newRow("answer off the protocol")
            << quint8(252) << true << 96u
            << QStringLiteral("Chybná odpověď programu rqbridge32.exe (neodpovídá protokolu)") + back;
        QTest::newRow("bridge dies, library gone meanwhile")
            << quint8(250) << false << 95u << gone + QStringLiteral("; nový se nespustil");
    }
    void failuresInTransfer()
    {
        QFETCH(quint8, command);
        QFETCH(bool, libraryStays);
        QFETCH(quint32, code);
        QFETCH(QString, text);
        const QString folder = dir.filePath(QStringLiteral("vendor"));
        QVERIFY(QDir().mkpath(folder));
        const QString library = folder + QStringLiteral("/KRQ4638.DLL");
        QFile::remove(library);
        QVERIFY(QFile::copy(standin(QStringLiteral("lan/KRQ4638.DLL")), library));
        useFolder(folder);
        QCOMPARE(openLan(), 0u);
        ModuleBytes d{};
        QCOMPARE(identify(d), quint8(0));
        if (!libraryStays)
            QVERIFY(QFile::remove(library));
        d = {1, 2, 3, 4, 5};
        QCOMPARE(Transact(data, 1, command, 0, d), quint8(code));
        QCOMPARE(d, ModuleBytes{});
        QCOMPARE(ErrorText(kLanConverter, code), text);
        // The next transaction goes through the new bridge, or says at once
        // that the connection is lost.
        QCOMPARE(identify(d), quint8(libraryStays ? 0 : 95));
        if (!libraryStays) {
            QVERIFY(QFile::copy(standin(QStringLiteral("lan/KRQ4638.DLL")), library));
            QCOMPARE(openLan(), 0u);
            QCOMPARE(identify(d), quint8(0));
        }
        disconnect();
        QVERIFY2(strayChildren().isEmpty(), qPrintable(strayChildren().join(u'\n')));
    }

    // A program killed while the maker's library hangs in Send leaves no
    // bridge behind, whichever thread started it (the kernel's parent-death
    // signal covers the main thread, the bridge's own watch of its input
    // every thread).
    void bridgeEndsWithTheProgram_data()
    {
        QTest::addColumn<bool>("mainThread");
        QTest::newRow("started on the main thread") << true;
        QTest::newRow("started on another thread") << false;
    }
    void bridgeEndsWithTheProgram()
    {
        QFETCH(bool, mainThread);
        useFolder(standin(QStringLiteral("lan")));
        int ready[2];
        QVERIFY(::pipe(ready) == 0);
        const pid_t program = ::fork();
        if (program == 0) {
            const auto work = [&] {
                ModuleBytes d{};
                if (openLan() != 0 || identify(d) != 0)
                    ::_exit(1);
                (void)!::write(ready[1], "x", 1);
                Transact(data, 1, 251, 0, d); // hangs in the maker's library
            };
            if (mainThread) {
                work();
            } else {
                std::thread thread(work);
                thread.join();
            }
            ::_exit(2);
        }
        ::close(ready[1]);
        char x = 0;
        QCOMPARE(::read(ready[0], &x, 1), ssize_t(1));
        ::close(ready[0]);
        const QStringList bridges = strayChildren(program);
        QCOMPARE(bridges.size(), 1);
        QTest::qWait(300); // the request reaches the library
        ::kill(program, SIGKILL);
        ::waitpid(program, nullptr, 0);
        QTRY_VERIFY_WITH_TIMEOUT(!runs(bridges.first().section(u' ', 0, 0).toInt()), 60000);
    }

    void libraryBesideOurs_anyLetterCase()
    {
        // As a user installs it: the maker's file beside our adapter library.
        const QString folder = dir.filePath(QStringLiteral("program"));
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QFile::copy(QStringLiteral(RQ_BIN_DIR "/libKRQ4638.so"),
                            folder + QStringLiteral("/libKRQ4638.so")));
        QVERIFY(QFile::copy(BridgeExe, folder + QStringLiteral("/rqbridge32.exe")));
        QVERIFY(
            QFile::copy(standin(QStringLiteral("lan/KRQ4638.DLL")), folder + QStringLiteral("/Krq4638.dll")));
        void *lib = ::dlopen(QFile::encodeName(folder + QStringLiteral("/libKRQ4638.so")).constData(),
                             RTLD_NOW | RTLD_LOCAL);
        QVERIFY(lib);
        auto init = reinterpret_cast<RqInitBlockFn>(::dlsym(lib, "KRQ4638_Init"));
        auto send = reinterpret_cast<RqSendFn>(::dlsym(lib, "KRQ4638_Send"));
        auto done = reinterpret_cast<RqDoneFn>(::dlsym(lib, "KRQ4638_Done"));
        QVERIFY(init && send && done);
        const QByteArray ip("127.0.0.1");
        RqInitBlock block{};
        block[0] = reinterpret_cast<std::uintptr_t>(ip.constData());
        block[1] = sim.udpPort();
        block[2] = 300;
        quint32 handle = 0;
        QCOMPARE(init(&handle, block), 0u);
        QCOMPARE(handle, 0x4638u); // the stand-in's handle, not one of ours
        Record request{}, response{};
        request[0] = 1;
        request[1] = 200;
        request[2] = 1;
        quint32 status = 0, error = 0;
        QCOMPARE(send(handle, request.data(), response.data(), &status, &error), 0u);
        QCOMPARE(response[0], quint32('5'));
        QCOMPARE(done(&handle), 0u);
        QCOMPARE(handle, 0u);
        ::dlclose(lib);
        QVERIFY(strayChildren().isEmpty());
    }
};

QTEST_MAIN(tst_Bridge)
#include "tst_bridge.moc"
