#ifndef RQ_LIVE_LIVEDIALOG_H
#define RQ_LIVE_LIVEDIALOG_H

#include "comm/Kxxx638.h"

#include <QDialog>

#include <array>

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
    // any, on its left, "Cancel" on its right), the status bar and the timer.
    void addFooter(int interval, QPushButton *leftButton = nullptr);

    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

    // False when nothing may be sent; without a connection the status bar
    // says so.
    bool canSend();
    // One transaction with the module address taken when the window was shown.
    quint8 transact(quint8 command, quint8 subCode, ModuleBytes &d);
    // The adapter's text for a transaction's result code, 0 included.
    void showResult(quint8 error);
    // One transaction whose D1..D4 carry 32 states: labels[n] shows bit n % 8
    // of D(1 + n / 8). After an error the labels keep their states.
    void readBits(quint8 command, quint8 subCode, const std::array<QLabel *, 32> &labels);

private:
    QVBoxLayout *m_layout = nullptr;
    QGridLayout *m_grid = nullptr;
    quint8 m_address = 0;
};

#endif
