#ifndef RQ_TESTS_CALIB_CALIBTESTUTIL_H
#define RQ_TESTS_CALIB_CALIBTESTUTIL_H

#include "app/StatusBar.h"
#include "calib/KalibraceDialog.h"
#include "support/Fixtures.h"
#include "support/Hooks.h"
#include "support/TestAdapter.h"

#include <QLabel>
#include <QList>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringList>
#include <QTest>
#include <QTimer>

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
