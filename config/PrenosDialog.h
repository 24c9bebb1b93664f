#ifndef RQ_CONFIG_PRENOSDIALOG_H
#define RQ_CONFIG_PRENOSDIALOG_H

#include "app/Dekl.h"
#include "config/Prenos.h"

#include <QDialog>
#include <QPushButton>

#include <functional>
#include <optional>

class QProgressBar;
class TStatusBar;

namespace TransferText {
inline const QString StopWriteQuestion = QStringLiteral("Přerušit zápis? Modul zůstane zapsán jen zčásti.");
// " Zápis přerušen po 89 z 512 bajtů."
QString WriteStopped(int done, int total);
} // namespace TransferText

// What taking a form's controls found: nothing wrong, or the message that
// says what is. Status panel 0 shows " " for a valid form, else the message.
class Validation
{
public:
    Validation() = default; // valid
    static Validation invalid(const QString &message)
    {
        Validation v;
        v.m_message = message;
        return v;
    }
    bool valid() const { return !m_message.has_value(); }
    QString statusText() const { return m_message.value_or(QStringLiteral(" ")); }

private:
    std::optional<QString> m_message;
};

// A dialog that moves bytes between a working copy of the configuration
// image and the module: the settings dialogs and the EEPROM backup.
//
// While a transfer runs, the window keeps processing events so it repaints;
// the buttons that start or store are disabled and a second transfer never
// starts inside the first. Closing the dialog (Cancel, Esc, the close box)
// during a read ends the read after the byte in flight, and the dialog closes
// when it has ended. During a write it first asks, since the module would be
// left written only in part: "Ne" goes on; "Ano" stops after the byte in
// flight and the dialog stays open, saying how far the write got.
class TPrenosDialog : public QDialog, protected TransferReport
{
    Q_OBJECT
public:
    explicit TPrenosDialog(QWidget *parent = nullptr);

    TData *Data = nullptr;
    TCFGRQ Work; // the working copy

    TStatusBar *StatusBar1 = nullptr; // one panel; the dialog places it in its layout

    // Shows the image in the controls.
    virtual void ZapisOkno(const TCFGRQ &image) = 0;

    QString statusText() const;
    void setStatusText(const QString &text);
    bool busy() const { return m_busy; }

public slots:
    // Copies the record's image into the working copy and shows it.
    virtual void FormShow();
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

    // The guard above around one transfer: its outcome, refused when another
    // is running. A writing transfer is stopped only after the question.
    TransferOutcome runTransfer(const std::function<TransferOutcome()> &transfer, bool writing = false);
    // Ends the running transfer after the byte in flight, without a question;
    // the dialog stays open.
    void stopTransfer()
    {
        if (m_busy)
            m_stopRequested = true;
    }
    // A button named for what it is, calling the slot. Never a default
    // button: a stray Enter must not start a transfer.
    template <class Dialog>
    QPushButton *makeButton(const char *name, const QString &text, void (Dialog::*slot)())
    {
        auto *b = new QPushButton(text, this);
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, static_cast<Dialog *>(this), slot);
        return b;
    }
    // A progress bar that follows every transfer of the dialog, named
    // ProgressBar1; the dialog places it in its layout.
    QProgressBar *makeProgressBar();
    // The buttons disabled while a transfer runs.
    virtual QList<QPushButton *> startButtons() const = 0;
    // Whether a close was asked for during the transfer that just ran.
    bool closeRequested() const { return m_closeRequested; }
    // False, with the connection message shown, when the module cannot be reached.
    bool connectionReady();
    // Shows what taking the controls found in status panel 0, and hands it on.
    Validation showValidation(const Validation &validation);

    // TransferReport
    void status(const QString &text) override;
    void step(int k, int n) override;
    bool cancelled() const override { return m_closeRequested || m_stopRequested; }

private:
    // Cancel, Esc or the close box while a transfer runs.
    void closeDuringTransfer();

    bool m_busy = false;
    bool m_writing = false;
    bool m_asking = false;
    bool m_closeRequested = false;
    bool m_stopRequested = false; // stop the write, keep the dialog open
    bool m_textMoved = false;     // the status text changed since the last step
    QProgressBar *m_progress = nullptr;
};

#endif
