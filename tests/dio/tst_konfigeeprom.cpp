#include "app/Dekl.h"
#include "app/StatusBar.h"
#include "comm/Kxxx638.h"
#include "core/Slozky.h"
#include "dio/KonfigEEPROM.h"
#include "support/Child.h"
#include "support/Hooks.h"
#include "support/QuestionHook.h"
#include "support/TestAdapter.h"

#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/wait.h>
#include <unistd.h>

namespace {
class RecordingForm : public TForm5
{
public:
    QStringList texts;

protected:
    void status(const QString &text) override
    {
        texts << text;
        TForm5::status(text);
    }
};

QByteArray pattern(int size, int seed = 0)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 13 + seed) & 0xFF);
    return bytes;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray bytesOf(const std::array<quint8, 512> &memory)
{
    return QByteArray(reinterpret_cast<const char *>(memory.data()), int(memory.size()));
}

QString progress(const QString &head, int figure)
{
    return head + QString::number(figure) + QStringLiteral(" %)");
}

const QString Reading = QStringLiteral(" Probíhá čtení konfigurace z modulu (");
const QString Writing = QStringLiteral(" Probíhá zápis konfigurace do modulu (");
const QString SaveFailed = QStringLiteral(" Chyba ukládání dat.");
} // namespace

class TestKonfigEeprom : public QObject
{
    Q_OBJECT
    TestAdapter &ta = TestAdapter::instance();
    TData data;
    QTemporaryDir m_dir;
    QTemporaryDir m_config; // the folders the file dialogs remember
    QString m_oldCwd;

    QString path(const QString &name = DefaultEepromFileName) const { return m_dir.filePath(name); }
    void show(TForm5 &d)
    {
        d.Data = &data;
        d.FormShow();
    }
    int sends(quint8 command) const
    {
        int n = 0;
        for (const TaRequest &r : ta.sends())
            n += r.command == command;
        return n;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_oldCwd = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_dir.path())); // where the bare default name lands
        rq::FolderMemory::file = m_config.filePath(QStringLiteral("slozky.ini"));
    }
    void cleanupTestCase()
    {
        QDir::setCurrent(m_oldCwd);
        rq::FolderMemory::file.clear();
    }
    void init()
    {
        QDir dir(m_dir.path());
        for (const QString &name : dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot)) {
            if (!QFile::remove(dir.filePath(name)))
                QDir(dir.filePath(name)).removeRecursively();
        }
        ta.reset();
        QFile::remove(rq::FolderMemory::file);
        SetDefaults(&data);
        data.adapterKind = 4;
        QCOMPARE(OpenAdapter(4, &data.handle, InitBlock{}), 0u);
        data.connected = true;
        data.moduleAddress = 3;
    }
    void cleanup() { CloseAdapter(4, &data.handle); }

    void controls()
    {
        TForm5 d;
        show(d);
        QCOMPARE(d.windowTitle(), QStringLiteral(" Konfigurační EEPROM"));
        const QStringList texts{QStringLiteral("Zapsat do EEPROM"), QStringLiteral("Načíst z EEPROM"),
                                QStringLiteral("Ok"), QStringLiteral("Cancel"), QStringLiteral("Procházet")};
        for (int i = 0; i < 5; ++i)
            QCOMPARE(d.findChild<QPushButton *>(QStringLiteral("Button%1").arg(i + 1))->text(), texts[i]);
        QCOMPARE(d.Label1->text(), QStringLiteral("Název souboru"));
        QCOMPARE(d.findChild<QLineEdit *>(QStringLiteral("Edit1"))->text(), QStringLiteral("Rq3510.kee"));
        QCOMPARE(d.findChild<TStatusBar *>(QStringLiteral("StatusBar1"))->panelCount(), 1);
        QCOMPARE(d.statusText(), QStringLiteral(" "));
        QVERIFY(!d.findChild<QFileDialog *>());
        auto *open = d.openDialog();
        QCOMPARE(d.findChild<QFileDialog *>(QStringLiteral("OpenDialog1")), open);
        auto *types = open->findChild<QComboBox *>(QStringLiteral("fileTypeCombo")); // the filters as shown
        QCOMPARE(QStringList({types->itemText(0), types->itemText(1)}),
                 (QStringList{QStringLiteral("Konfigurační soubor (*.kee)"),
                              QStringLiteral("Všechny soubory (*.*)")}));
        QCOMPARE(open->defaultSuffix(), QStringLiteral("kee"));
        QCOMPARE(open->fileMode(), QFileDialog::AnyFile);
    }

    // A module answering D3 = address: the file's two halves both run 0..255.
    void readSavesBothPagesWithProgress()
    {
        PauseRecorder pauses;
        ta.script = [](const TaRequest &r, int) {
            TaReply reply;
            reply.d = {0, r.d[1], r.d[2], r.d[1], 0};
            return reply;
        };
        RecordingForm d;
        show(d);
        d.Button2Click();
        QCOMPARE(d.statusText(), QStringLiteral(" Konfigurace přečtena."));
        QByteArray half(256, Qt::Uninitialized);
        for (int i = 0; i < 256; ++i)
            half[i] = char(i);
        QCOMPARE(readFile(path()), half + half);
        const QList<TaRequest> sent = ta.sends();
        QCOMPARE(sent.size(), 512);
        QCOMPARE(sent[255], (TaRequest{3, 102, 0, {0, 255, 255, 0, 0}}));
        QCOMPARE(sent[256], (TaRequest{3, 102, 1, {0, 0, 0, 0, 0}}));
        QCOMPARE(pauses.pauses, QList<int>(512, 1));

        // (k - 1) x 100 / 512 after step k, then the closing text at once.
        QCOMPARE(d.texts.size(), 1 + 512 + 1);
        for (int k = 0; k <= 6; ++k)
            QCOMPARE(d.texts[k], progress(Reading, 0));
        QCOMPARE(d.texts[7], progress(Reading, 1));
        QCOMPARE(d.texts[256], progress(Reading, 49));
        QCOMPARE(d.texts[257], progress(Reading, 50));
        QCOMPARE(d.texts[512], progress(Reading, 99));
        QCOMPARE(d.texts[513], QStringLiteral(" Konfigurace přečtena."));
        QCOMPARE(d.ProgressBar1->value(), 100);
        // The record takes the block only on "Ok".
        QCOMPARE(data.cfg.eeprom[1], 0);
        d.Button3Click();
        QCOMPARE(data.cfg.eeprom[257], 1);
    }

    void readErrorWritesNoFile()
    {
        PauseRecorder pauses;
        writeFile(path(), pattern(512, 1));
        ta.failSend[300] = 6;
        QuestionHook questions(true); // replace the old backup
        TForm5 d;
        show(d);
        d.Button2Click();
        QCOMPARE(d.statusText(), QStringLiteral(" chyba 6"));
        QCOMPARE(readFile(path()), pattern(512, 1));
        QCOMPARE(d.ProgressBar1->value(), 299 * 100 / 512);
    }

    void writeTakesTheFirst512Bytes()
    {
        PauseRecorder pauses;
        const QByteArray bytes = pattern(600, 7);
        writeFile(path(), bytes);
        QuestionHook questions(true); // 600 bytes, another address and baud rate
        RecordingForm d;
        show(d);
        d.Button1Click();
        QCOMPARE(questions.questions.size(), 1);
        QCOMPARE(d.statusText(), QStringLiteral(" Konfigurace zapsána."));
        QCOMPARE(bytesOf(ta.memory), bytes.left(512));
        QCOMPARE(sends(103), 512);
        QCOMPARE(sends(102), 512);
        const auto v = quint8(bytes[256]);
        QCOMPARE(ta.sends()[512], (TaRequest{3, 103, 1, {0, 0, 0, v, v}}));
        QCOMPARE(ta.sends()[513], (TaRequest{3, 102, 1, {0, 0, 0, 0, 0}}));
        QCOMPARE(d.texts[256], progress(Writing, 49));
        QCOMPARE(d.texts[512], progress(Writing, 99));
        QCOMPARE(d.texts.size(), 514);
        QCOMPARE(pauses.pauses.size(), 1024);
    }

    void unloadableFileSendsNothing_data()
    {
        QTest::addColumn<int>("size"); // -1: no file, -2: a folder under the name
        QTest::newRow("511 bytes") << 511;
        QTest::newRow("missing") << -1;
        QTest::newRow("folder") << -2;
    }
    void unloadableFileSendsNothing()
    {
        QFETCH(int, size);
        if (size >= 0)
            writeFile(path(), pattern(size));
        if (size == -2)
            QVERIFY(QDir(m_dir.path()).mkdir(DefaultEepromFileName));
        TForm5 d;
        show(d);
        d.Button1Click();
        QCOMPARE(d.statusText(), QStringLiteral(" Chyba načítání dat."));
        QCOMPARE(ta.count(QStringLiteral("Send")), 0);
    }

    void readBackDifferenceOnPage1StopsThere()
    {
        PauseRecorder pauses;
        const QByteArray bytes = pattern(512, 2);
        writeFile(path(), bytes);
        QuestionHook questions(true); // another address
        ta.readBackOverride[256] = quint8(~quint8(bytes[256]));
        TForm5 d;
        show(d);
        d.Button1Click();
        QCOMPARE(d.statusText(), QStringLiteral(" Chyba zápisu dat."));
        QCOMPARE(sends(103), 257);
        QCOMPARE(sends(102), 257);
        QCOMPARE(bytesOf(ta.memory).left(256), bytes.left(256));
    }

    void browse()
    {
        TForm5 d;
        show(d);
        QStringList presets;
        std::optional<QString> answer = QStringLiteral("/data/modul 7.kee");
        d.chooseFile = [&](const QString &preset) {
            presets << preset;
            return answer;
        };
        d.Button5Click();
        QCOMPARE(d.Edit1->text(), QStringLiteral("/data/modul 7.kee"));
        answer = std::nullopt; // cancelled: the name stays
        d.Button5Click();
        QCOMPARE(d.Work.eepromFileName, QStringLiteral("/data/modul 7.kee"));
        answer = QString(); // confirmed empty
        d.Button5Click();
        QCOMPARE(d.Work.eepromFileName, QStringLiteral("Rq3510.kee"));
        QCOMPARE(d.Edit1->text(), QStringLiteral("Rq3510.kee"));
        QCOMPARE(presets, (QStringList{d.proposedFileName(), QStringLiteral("/data/modul 7.kee"),
                                       QStringLiteral("/data/modul 7.kee")}));
        QCOMPARE(ta.count(QStringLiteral("Send")), 0);
    }

    // The real file dialog: a new name without extension gets ".kee".
    void openDialogAcceptsNewNameWithSuffix()
    {
        data.lastEepromFile = path(QStringLiteral("posledni.kee")); // the dialog opens in its folder
        TForm5 d;
        show(d);
        QTimer::singleShot(0, &d, [&d] {
            d.OpenDialog1->selectFile(QStringLiteral("zaloha"));
            static_cast<QDialog *>(d.OpenDialog1)->accept(); // as the user pressing the button
        });
        d.Button5Click();
        QCOMPARE(QFileInfo(d.Work.eepromFileName).absoluteFilePath(),
                 QFileInfo(path(QStringLiteral("zaloha.kee"))).absoluteFilePath());
        QTimer::singleShot(0, &d, [&d] { d.OpenDialog1->reject(); });
        d.Button5Click();
        QCOMPARE(QFileInfo(d.Work.eepromFileName).fileName(), QStringLiteral("zaloha.kee"));
    }

    void typedNameIsNotUsed()
    {
        PauseRecorder pauses;
        TForm5 d;
        show(d);
        QVERIFY(d.Edit1->isReadOnly());
        d.Edit1->setText(QStringLiteral("jiny.kee"));
        d.Button2Click();
        QVERIFY(QFile::exists(path()));
        QVERIFY(!QFile::exists(path(QStringLiteral("jiny.kee"))));
        QCOMPARE(d.Edit1->text(), QStringLiteral("Rq3510.kee"));
        d.Edit1->clear(); // refilled by "Ok"
        d.Button3Click();
        QCOMPARE(d.Edit1->text(), QStringLiteral("Rq3510.kee"));
    }

    void okKeepsBlockAndNameCancelDiscards()
    {
        writeFile(path(QStringLiteral("a.kee")), pattern(512, 4));
        for (bool ok : {false, true}) {
            TForm5 d;
            show(d);
            d.chooseFile = [this](const QString &) {
                return std::optional<QString>(path(QStringLiteral("a.kee")));
            };
            d.Button5Click();
            QVERIFY(d.NactiSoubor(d.Work));
            ok ? d.Button3Click() : d.Button4Click();
            QCOMPARE(data.cfg.eepromFileName,
                     ok ? path(QStringLiteral("a.kee")) : QStringLiteral("Rq3510.kee"));
            QCOMPARE(bytesOf(data.cfg.eeprom), ok ? pattern(512, 4) : QByteArray(512, 0));
        }
        QCOMPARE(ta.count(QStringLiteral("Send")), 0);
    }

    void notConnectedTouchesNothing()
    {
        data.connected = false;
        TForm5 d;
        show(d);
        d.Button2Click();
        QCOMPARE(d.statusText(), QStringLiteral(" Připojení k modulu není inicializováno."));
        QVERIFY(!QFile::exists(path()));
        writeFile(path(), pattern(512));
        d.Button1Click();
        QCOMPARE(d.statusText(), QStringLiteral(" Připojení k modulu není inicializováno."));
        QCOMPARE(d.Work.eeprom[1], 0);
        QCOMPARE(ta.count(QStringLiteral("Send")), 0);
    }

    void emptyNameFallsBackToDefault()
    {
        PauseRecorder pauses;
        data.cfg.eepromFileName.clear();
        QuestionHook questions(true); // the module's memory says address 1, not 3
        TForm5 d;
        show(d);
        d.Button2Click(); // saves under the default name; the working copy keeps its empty name
        QCOMPARE(readFile(path()).size(), 512);
        QVERIFY(d.Work.eepromFileName.isEmpty());
        d.Button1Click(); // loading sets it
        QCOMPARE(d.Work.eepromFileName, QStringLiteral("Rq3510.kee"));
        QCOMPARE(d.statusText(), QStringLiteral(" Konfigurace zapsána."));
    }

    // A folder that refuses new files keeps the old backup, although the old
    // file itself could be truncated. Permissions do not stop root, so the
    // dialog runs as nobody in a child process.
    void refusedSaveKeepsOldFile()
    {
        PauseRecorder pauses;
        QVERIFY(QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                        QFile::ReadOther | QFile::ExeOther));
        QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("locked")));
        const QString target = path(QStringLiteral("locked/modul.kee"));
        writeFile(target, pattern(512, 8));
        QVERIFY(QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther |
                                                  QFile::WriteOther));
        QVERIFY(QFile::setPermissions(path(QStringLiteral("locked")), QFile::ReadOwner | QFile::ExeOwner |
                                                                          QFile::ReadOther |
                                                                          QFile::ExeOther));
        data.cfg.eepromFileName = target;
        QuestionHook questions(true); // replace the old backup
        TForm5 d;
        show(d);
        const pid_t pid = fork();
        if (pid == 0) {
            if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
                _exit(3);
            d.Button2Click();
            _exit(d.statusText() == SaveFailed ? 0 : 1);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
        QCOMPARE(readFile(target), pattern(512, 8));
        QCOMPARE(QDir(path(QStringLiteral("locked"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("modul.kee")});
        // And where no folder can be: the read is kept in the working copy.
        d.Work.eepromFileName = target + QStringLiteral("/x.kee");
        d.Button2Click();
        QCOMPARE(d.statusText(), SaveFailed);
    }

    // Past a file size limit the save fails: the dialog says so and the old
    // backup stays as it was.
    void fileSizeLimitShowsSaveFailed()
    {
        PauseRecorder pauses;
        QuestionHook questions(true); // replace the existing backup
        const QString target = path(QStringLiteral("modul.kee"));
        data.cfg.eepromFileName = target;
        TForm5 d;
        show(d);
        const int code = RunWithFullDisk(FullDisk::SizeLimit, target, pattern(512, 9), [&] {
            d.Button2Click();
            return d.statusText() == SaveFailed ? 0 : 1;
        });
        QCOMPARE(code, 0);
        QCOMPARE(readFile(target), pattern(512, 9));
        QCOMPARE(FilesIn(m_dir.path()), QStringList{QStringLiteral("modul.kee")});
    }

    void cancelDuringReadEndsSafely()
    {
        PauseRecorder pauses;
        QuestionHook questions(false); // a read is cancelled without one
        TForm5 d;
        show(d);
        d.show();
        int step = 0;
        pauses.onPause = [&](int) {
            if (++step == 3) {
                // Nothing else starts while the read runs.
                for (QPushButton *b : {d.Button1, d.Button2, d.Button3, d.Button5})
                    QVERIFY(!b->isEnabled());
                d.chooseFile = [](const QString &) -> std::optional<QString> {
                    QTest::qFail("browse during a transfer", __FILE__, __LINE__);
                    return std::nullopt;
                };
                d.Button1Click();
                d.Button5Click();
                d.Button3Click();
            }
            if (step == 10)
                d.Button4Click();
        };
        d.Button2Click();
        QCOMPARE(ta.count(QStringLiteral("Send")), 10);
        QVERIFY(!QFile::exists(path()));
        QVERIFY(!d.isVisible());
        QCOMPARE(d.result(), int(QDialog::Rejected));
        QVERIFY(d.Button2->isEnabled());
        QCOMPARE(data.cfg.eeprom[0], 0);
        QVERIFY(questions.questions.isEmpty());
    }

    // The module's own backup: no question, and exactly the transactions and
    // texts a restore always had.
    void ownBackupRestoresWithoutQuestion()
    {
        PauseRecorder pauses;
        QuestionHook questions(false);
        data.identity = QStringLiteral("RQ-3510  v.1.08");
        data.moduleAddress = 1;
        data.baudRate = 9600;
        std::array<quint8, 512> own = ta.memory;
        for (int i = 64; i < 512; ++i)
            own[std::size_t(i)] = quint8(i * 7);
        writeFile(path(), bytesOf(own));
        RecordingForm d;
        show(d);
        d.Button1Click();
        QVERIFY(questions.questions.isEmpty());
        QCOMPARE(d.statusText(), QStringLiteral(" Konfigurace zapsána."));
        const QList<TaRequest> sent = ta.sends();
        QCOMPARE(sent.size(), 1024);
        for (int i = 0; i < 512; ++i) {
            const auto p = quint8(i / 256), a = quint8(i % 256), v = own[std::size_t(i)];
            QCOMPARE(sent[2 * i], (TaRequest{1, 103, p, {0, a, a, v, v}}));
            QCOMPARE(sent[2 * i + 1], (TaRequest{1, 102, p, {0, a, a, 0, 0}}));
        }
        QCOMPARE(d.texts.size(), 514);
        QCOMPARE(pauses.pauses, QList<int>(1024, 1));
    }

    // Each reason alone, and all together: the question lists them; "Ne"
    // sends nothing, "Ano" writes as always.
    void riskyRestoreAsksFirst_data()
    {
        QTest::addColumn<int>("address"); // byte 63 of the file
        QTest::addColumn<int>("baud");    // byte 62
        QTest::addColumn<int>("range1");  // byte 1 (AIN1)
        QTest::addColumn<int>("size");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<bool>("answer");
        const QString address = QStringLiteral("Adresa modulu: 1 → 100");
        const QString baud = QStringLiteral("Komunikační rychlost: 9600 Bd → 600 Bd");
        const QString model = QStringLiteral("Soubor neodpovídá modelu RQ-3510 (AIN1)");
        const QString size = QStringLiteral("Soubor má 600 bajtů, ne 512.");
        for (bool answer : {false, true}) {
            const char *a = answer ? "Ano" : "Ne";
            QTest::addRow("address, %s", a) << 100 << 4 << 6 << 512 << QStringList{address} << answer;
            QTest::addRow("baud, %s", a) << 1 << 0 << 6 << 512 << QStringList{baud} << answer;
            QTest::addRow("model, %s", a) << 1 << 4 << 8 << 512 << QStringList{model} << answer;
            QTest::addRow("size, %s", a) << 1 << 4 << 6 << 600 << QStringList{size} << answer;
            QTest::addRow("all, %s", a)
                << 100 << 0 << 8 << 600 << QStringList{address, baud, model, size} << answer;
        }
    }
    void riskyRestoreAsksFirst()
    {
        QFETCH(int, address);
        QFETCH(int, baud);
        QFETCH(int, range1);
        QFETCH(int, size);
        QFETCH(QStringList, lines);
        QFETCH(bool, answer);
        PauseRecorder pauses;
        QuestionHook questions(answer);
        data.identity = QStringLiteral("RQ-3510  v.1.08");
        data.moduleAddress = 1;
        data.baudRate = 9600;
        QByteArray bytes = bytesOf(ta.memory) + QByteArray(size - 512, 'x');
        bytes[63] = char(address);
        bytes[62] = char(baud);
        bytes[1] = char(range1);
        writeFile(path(), bytes);
        TForm5 d;
        show(d);
        d.Button1Click();
        QCOMPARE(questions.questions.size(), 1);
        for (const QString &line : lines)
            QVERIFY2(questions.questions[0].contains(line), qPrintable(questions.questions[0]));
        QCOMPARE(questions.questions[0].count(QStringLiteral("• ")), lines.size());
        QCOMPARE(questions.buttons, (QStringList{QStringLiteral("Ano/5"), QStringLiteral("Ne/6")}));
        if (!answer) {
            QCOMPARE(ta.count(QStringLiteral("Send")), 0);
            QCOMPARE(d.statusText(), QStringLiteral(" Zápis zrušen."));
            return;
        }
        QCOMPARE(d.statusText(), QStringLiteral(" Konfigurace zapsána."));
        QCOMPARE(sends(103), 512);
        QCOMPARE(sends(102), 512);
        QCOMPARE(bytesOf(ta.memory), bytes.left(512));
    }

    // An RQ-3510's backup, named as such, restored into an RQ-3530 asks first.
    void otherModelsBackupAsksFirst()
    {
        QuestionHook questions(false);
        data.identity = QStringLiteral("RQ-3530  v.2.01");
        data.moduleAddress = 1;
        data.cfg.eepromFileName = path(QStringLiteral("RQ-3510_a1_2026-12-07.kee"));
        writeFile(data.cfg.eepromFileName, bytesOf(ta.memory));
        TForm5 d;
        show(d);
        d.Button1Click();
        QVERIFY2(questions.questions.value(0).contains(QStringLiteral("Název souboru patří modelu RQ-3510")),
                 qPrintable(questions.questions.value(0)));
        QCOMPARE(ta.count(QStringLiteral("Send")), 0);
    }

    // Cancel, Esc or the close box during a write: "Ne" goes on, "Ano" stops
    // after the byte in flight and the dialog stays open.
    void closingDuringWriteAsks_data()
    {
        QTest::addColumn<int>("way"); // 0 Cancel, 1 Esc, 2 close box
        QTest::addColumn<bool>("answer");
        for (bool answer : {false, true}) {
            QTest::addRow("Cancel, %s", answer ? "Ano" : "Ne") << 0 << answer;
            QTest::addRow("Esc, %s", answer ? "Ano" : "Ne") << 1 << answer;
            QTest::addRow("close box, %s", answer ? "Ano" : "Ne") << 2 << answer;
        }
    }
    void closingDuringWriteAsks()
    {
        QFETCH(int, way);
        QFETCH(bool, answer);
        PauseRecorder pauses;
        QuestionHook questions(answer);
        data.moduleAddress = 1;
        writeFile(path(), bytesOf(ta.memory));
        TForm5 d;
        show(d);
        d.show();
        // Pause 177 follows the write of byte 89, before its read-back.
        pauses.onPause = [&](int) {
            if (pauses.pauses.size() != 177)
                return;
            if (way == 0)
                d.Button4Click();
            else if (way == 1)
                QTest::keyClick(&d, Qt::Key_Escape);
            else
                d.close();
        };
        d.Button1Click();
        QCOMPARE(questions.questions,
                 QStringList{QStringLiteral("Přerušit zápis? Modul zůstane zapsán jen zčásti.")});
        QVERIFY(d.isVisible());
        if (!answer) {
            QCOMPARE(d.statusText(), QStringLiteral(" Konfigurace zapsána."));
            QCOMPARE(sends(103), 512);
            return;
        }
        QCOMPARE(sends(103), 89);
        QCOMPARE(sends(102), 89);
        QCOMPARE(d.statusText(), QStringLiteral(" Zápis přerušen po 89 z 512 bajtů."));
        QVERIFY(d.Button1->isEnabled());
        // Now it closes without a question.
        d.Button4Click();
        QVERIFY(!d.isVisible());
        QCOMPARE(questions.questions.size(), 1);
    }

    // A backup replaces an existing file only when asked; a link that leads
    // nowhere is a name in use too (the save would create its target).
    void readIntoExistingFileAsks_data()
    {
        QTest::addColumn<bool>("exists");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<bool>("dangling");
        QTest::newRow("new file") << false << false << false;
        QTest::newRow("existing, Ne") << true << false << false;
        QTest::newRow("existing, Ano") << true << true << false;
        QTest::newRow("link to nowhere, Ne") << true << false << true;
    }
    void readIntoExistingFileAsks()
    {
        QFETCH(bool, exists);
        QFETCH(bool, answer);
        QFETCH(bool, dangling);
        PauseRecorder pauses;
        QuestionHook questions(answer);
        const QString file = path(QStringLiteral("RQ-3510_a3_2026-12-07.kee"));
        if (dangling)
            QVERIFY(QFile::link(path(QStringLiteral("nikde.kee")), file));
        else if (exists)
            writeFile(file, pattern(512, 9));
        TForm5 d;
        show(d);
        d.chooseFile = [&](const QString &) { return std::optional<QString>(file); };
        d.Button5Click();
        d.Button2Click();
        QCOMPARE(questions.questions.size(), exists ? 1 : 0);
        if (exists) {
            QVERIFY(
                questions.questions[0].contains(QStringLiteral("RQ-3510_a3_2026-12-07.kee“ už existuje")));
            QCOMPARE(questions.buttons, (QStringList{QStringLiteral("Ano/5"), QStringLiteral("Ne/6")}));
        }
        if (exists && !answer) {
            QCOMPARE(d.statusText(), QStringLiteral(" Načtení zrušeno."));
            QCOMPARE(ta.count(QStringLiteral("Send")), 0);
            QCOMPARE(readFile(file), dangling ? QByteArray() : pattern(512, 9));
            QCOMPARE(QFile::exists(path(QStringLiteral("nikde.kee"))), false);
            QFile::remove(file); // a dangling link escapes the folder listing that init() clears
            return;
        }
        QCOMPARE(d.statusText(), QStringLiteral(" Konfigurace přečtena."));
        QCOMPARE(readFile(file), bytesOf(ta.memory));
        QCOMPARE(data.lastEepromFile, QFileInfo(file).absoluteFilePath());
    }

    // Each action starts its bar at 0: after "Ne" no figure of the transfer
    // before is left.
    void barStartsAtZeroWithEachAction_data()
    {
        QTest::addColumn<bool>("restore"); // "Zapsat do EEPROM", else "Načíst z EEPROM"
        QTest::addColumn<QString>("status");
        QTest::newRow("another model's backup, Ne") << true << QStringLiteral(" Zápis zrušen.");
        QTest::newRow("replacing the file, Ne") << false << QStringLiteral(" Načtení zrušeno.");
    }
    void barStartsAtZeroWithEachAction()
    {
        QFETCH(bool, restore);
        PauseRecorder pauses;
        data.identity = QStringLiteral("RQ-3530  v.2.01");
        data.moduleAddress = 1;
        TForm5 d;
        show(d);
        const QString file = path(QStringLiteral("RQ-3510_a1_2026-12-07.kee"));
        d.chooseFile = [&](const QString &) { return std::optional<QString>(file); };
        d.Button5Click();
        d.Button2Click(); // a backup: the bar at its end
        QCOMPARE(d.statusText(), QStringLiteral(" Konfigurace přečtena."));
        QCOMPARE(d.ProgressBar1->value(), 100);
        QuestionHook questions(false);
        if (restore)
            d.Button1Click();
        else
            d.Button2Click();
        QCOMPARE(questions.questions.size(), 1);
        QTEST(d.statusText(), "status");
        QCOMPARE(d.ProgressBar1->value(), 0);
    }

    // "Procházet" starts where it last went, in a later dialog too; the name
    // chosen stays as chosen and resolves as it always did.
    void browseStartsWhereItLastWent()
    {
        QVERIFY(QDir().mkpath(path(QStringLiteral("zalohy"))));
        QStringList presets;
        QStringList answers{path(QStringLiteral("zalohy/modul.kee")), QStringLiteral("jen_nazev.kee")};
        QStringList chosen;
        for (int i = 0; i < 3; ++i) {
            TForm5 d;
            show(d);
            d.chooseFile = [&](const QString &preset) {
                presets << preset;
                return answers.isEmpty() ? std::optional<QString>()
                                         : std::optional<QString>(answers.takeFirst());
            };
            d.Button5Click();
            chosen << d.Work.eepromFileName;
        }
        QCOMPARE(QFileInfo(presets.at(0)).absolutePath(), QDir::homePath());
        QCOMPARE(QFileInfo(presets.at(1)).absolutePath(), path(QStringLiteral("zalohy")));
        QCOMPARE(QFileInfo(presets.at(2)).absolutePath(), m_dir.path()); // where the bare name lies
        QCOMPARE(chosen, (QStringList{path(QStringLiteral("zalohy/modul.kee")),
                                      QStringLiteral("jen_nazev.kee"), DefaultEepromFileName}));
    }

    // In place of the default name "Procházet" offers model, address and
    // date, beside the last file used, else in the home folder.
    void browseProposesNameThatTellsModulesApart()
    {
        data.identity = QStringLiteral("RQ-3530  v.1.02");
        data.moduleAddress = 12;
        const QString name = QStringLiteral("RQ-3530_a12_") + QDate::currentDate().toString(Qt::ISODate) +
                             QStringLiteral(".kee");
        QStringList presets;
        const auto browse = [&](TForm5 &d) {
            d.chooseFile = [&](const QString &preset) {
                presets << preset;
                return std::optional<QString>();
            };
            d.Button5Click();
        };
        {
            TForm5 d;
            show(d);
            browse(d);
        }
        data.lastEepromFile = path(QStringLiteral("zalohy/stara.kee"));
        {
            TForm5 d;
            show(d);
            browse(d);
            d.Work.eepromFileName = path(QStringLiteral("jiny.kee")); // a name of the user's own stays
            browse(d);
        }
        data.identity.clear(); // model unknown
        {
            TForm5 d;
            show(d);
            browse(d);
        }
        QCOMPARE(presets, (QStringList{QDir::home().filePath(name), path(QStringLiteral("zalohy/")) + name,
                                       path(QStringLiteral("jiny.kee")),
                                       path(QStringLiteral("zalohy/RQ_a12_")) + name.mid(12)}));
    }
};

QTEST_MAIN(TestKonfigEeprom)
#include "tst_konfigeeprom.moc"
