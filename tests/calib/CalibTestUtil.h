#ifndef RQ_TESTS_CALIB_CALIBTESTUTIL_H
#define RQ_TESTS_CALIB_CALIBTESTUTIL_H

#include "app/StatusBar.h"
#include "calib/KalibraceDialog.h"
#include "support/Fixtures.h"
#include "support/Hooks.h"
#include "support/TestAdapter.h"

#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringList>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>
#include <utility>

using ByteWrites = QList<std::pair<int, int>>; // memory address, value

// The requests of verified byte writes to page 0 of module 5.
inline QList<TaRequest> verifiedWrites(const ByteWrites &writes, quint8 module = 5)
{
    QList<TaRequest> list;
    for (const auto &[address, value] : writes) {
        const auto a = quint8(address), v = quint8(value);
        list.append({module, 103, 0, {0, a, a, v, v}});
        list.append({module, 102, 0, {0, a, a, 0, 0}});
    }
    return list;
}

inline TaRequest measurement(quint8 sub, quint8 module = 5)
{
    return {module, 0, sub, {0, 0, 0, 0, 0}};
}

inline QStringList memoLines(const QPlainTextEdit *memo)
{
    return memo->toPlainText().split(QLatin1Char('\n'));
}

inline const QString Separator = QString(66, QLatin1Char('_')) + QLatin1Char(' ');

// Module 5 connected through the test adapter. No test sleeps through a
// measurement wait meanwhile; tests that look at the pauses keep a
// recorder of their own.
struct CalibConnection : TestConnection
{
    std::unique_ptr<PauseRecorder> noSleep;

    bool open()
    {
        noSleep = std::make_unique<PauseRecorder>();
        return TestConnection::open(5);
    }
    void close()
    {
        noSleep.reset();
        TestConnection::close();
    }
};

// Commands 102 and 103 answered from the test adapter's memory, for a
// script that models what the module measures.
inline TaReply memoryReply(const TaRequest &r)
{
    auto &memory = TestAdapter::instance().memory;
    TaReply reply;
    if (r.command == 103)
        memory[r.d[1]] = r.d[3];
    if (r.command == 102 || r.command == 103)
        reply.d[3] = memory[r.d[1]];
    return reply;
}

// A whole calibration on a module the test's script models: "Kalibrace",
// the zero reading once zero() has set the module up, the reference step
// once reference() has. With failingSend the reference step first fails
// at that send (counted from its measurement) and "Potvrzení" is pressed
// again. Ends with the done text.
inline void calibrateWithRetry(TKalibraceDialog &d, const std::function<void()> &zero,
                               const std::function<void()> &reference, const QString &entered,
                               int failingSend, const QString &done)
{
    TestAdapter &ta = TestAdapter::instance();
    d.Button1Click();
    zero();
    d.Button2Click();
    QCOMPARE(d.state(), quint8(2));
    reference();
    d.Edit2->setText(entered);
    ta.calls.clear();
    if (failingSend) {
        ta.failSend[failingSend] = 7;
        d.Button2Click();
        QCOMPARE(d.state(), quint8(2));
        ta.failSend.clear();
    }
    d.Button2Click();
    QVERIFY2(d.state() == 0, qPrintable(d.Memo1->toPlainText()));
    QVERIFY(memoLines(d.Memo1).contains(done));
}

// What both calibration dialogs show when created: the start instruction
// alone in the read-only memo, one status panel, the 500 ms timer and the
// four buttons.
inline void checkCommonControls(const TKalibraceDialog &d, const QString &startInstruction)
{
    QVERIFY(d.Memo1->isReadOnly());
    QCOMPARE(memoLines(d.Memo1), QStringList{startInstruction});
    QCOMPARE(d.state(), quint8(0));
    QCOMPARE(d.StatusBar1->panelCount(), 1);
    QCOMPARE(d.Timer1->interval(), 500);
    const QList<std::pair<const char *, QString>> buttons{{"Button1", QStringLiteral("Kalibrace")},
                                                          {"Button2", QStringLiteral("Potvrzení")},
                                                          {"Button3", QStringLiteral("Cancel")},
                                                          {"Button4", QStringLiteral("Zrušit")}};
    for (const auto &[name, text] : buttons)
        QCOMPARE(d.findChild<QPushButton *>(QLatin1String(name))->text(), text);
}

inline QStringList labelTexts(const QWidget &w)
{
    QStringList labels;
    for (const QLabel *label : w.findChildren<QLabel *>())
        labels << label->text();
    return labels;
}

// Each handler, called without a ready connection, says so in the panel.
inline void checkNotConnected(TKalibraceDialog &d, const QList<void (TKalibraceDialog::*)()> &handlers)
{
    for (auto handler : handlers) {
        d.StatusBar1->setText(0, QString());
        (d.*handler)();
        QCOMPARE(d.statusText(), QStringLiteral(" Připojení k modulu není inicializováno."));
    }
}

#endif
