#ifndef RQ_LIVE_LIVEDIALOG_H
#define RQ_LIVE_LIVEDIALOG_H

#include "comm/Kxxx638.h"

#include <QDialog>
#include <QPointer>

#include <array>
#include <span>

struct TData;
class QGridLayout;
class QLabel;
class QPushButton;
class QTimer;
class QVBoxLayout;
class TStatusBar;

// The frame of a live-value window: its values in a grid, below them a
// button row ending in "Cancel" and a one-panel status bar, and a timer that
// polls the module while the window is shown. A minimised window keeps
// polling; only closing stops it.
class TLiveDialog : public QDialog
{
    Q_OBJECT
public:
    TData *Data = nullptr;

    QTimer *Timer1 = nullptr;
    QPushButton *Button1 = nullptr; // "Cancel"
    TStatusBar *StatusBar1 = nullptr;

public slots:
    void FormShow();
    virtual void Timer1Timer() = 0;
    void Button1Click(); // "Cancel"

protected:
    explicit TLiveDialog(QWidget *parent);

    // The grid the window puts its values into.
    QGridLayout *grid() const { return m_grid; }
    // Ends the constructor, below the values: the button row (leftButton, if
    // any, on its left, "Cancel" on its right), the status bar (one panel
    // per width, see TStatusBar) and the timer.
    void addFooter(int interval, QPushButton *leftButton = nullptr, const QList<int> &panels = {0});

    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

    // False when nothing may be sent; without a connection the status bar
    // says so.
    bool canSend();
    // The module address taken when the window was shown.
    quint8 address() const { return m_address; }
    // One transaction with that address.
    quint8 transact(quint8 command, quint8 subCode, ModuleBytes &d);
    // The adapter's text for a transaction's result code, 0 included.
    void showResult(quint8 error);
    // One transaction whose D1..D4 carry 32 states: labels[n] shows bit n % 8
    // of D(1 + n / 8). After an error the labels keep their states, greyed.
    void readBits(quint8 command, quint8 subCode, const std::array<QLabel *, 32> &labels);
    // Values that are no longer live look it: greyed (disabled) after a
    // cycle that failed, normal again after the next complete one.
    static void showStale(std::span<QLabel *const> labels, bool stale = true);

private:
    QVBoxLayout *m_layout = nullptr;
    QGridLayout *m_grid = nullptr;
    quint8 m_address = 0;
};

// A live-value window whose cycle runs several transactions and lets
// pending events be processed between them: the timer is stopped for the
// whole cycle and restarted CyclePause ms after it ends, so the refresh rate
// follows the bus. A close requested meanwhile ends the cycle before its next
// transaction, and the dialog closes only once the cycle has returned.
class TCycleDialog : public TLiveDialog
{
    Q_OBJECT
public:
    static constexpr int CyclePause = 10; // ms between the end of a cycle and the next

    bool inCycle() const { return m_inCycle; }

public slots:
    void Timer1Timer() override;
    void done(int result) override;

protected:
    explicit TCycleDialog(QWidget *parent) : TLiveDialog(parent) {}

    // One cycle. self turns null when the window is destroyed while events
    // are processed: then touch nothing.
    virtual void cycle(const QPointer<TCycleDialog> &self) = 0;
    // Processes pending events; false when the cycle must end (closed or gone).
    bool keepGoing(const QPointer<TCycleDialog> &self);

private:
    bool m_inCycle = false;
    bool m_closeRequested = false;
    int m_closeResult = Rejected;
};

#endif
