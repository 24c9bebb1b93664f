#ifndef RQ_CALIB_KALIBRACEDIALOG_H
#define RQ_CALIB_KALIBRACEDIALOG_H

#include "comm/Kxxx638.h"

#include <QDialog>

class QFormLayout;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class TStatusBar;

// What the two guided calibrations share: the memo of instructions, the
// four buttons, the one-panel status bar, the 500 ms timer that runs while
// the dialog shows, the verified byte write and the cancellation report.
//
// "Kalibrace" and "Potvrzení" run to completion without processing window
// messages: the measurement waits block the window, so the timer's
// transaction never comes between the steps of a procedure.
class TKalibraceDialog : public QDialog
{
    Q_OBJECT
public:
    TData *Data = nullptr;

    QLineEdit *Edit2 = nullptr;
    QPlainTextEdit *Memo1 = nullptr; // "Pokyn"
    QPushButton *Button1 = nullptr;  // "Kalibrace"
    QPushButton *Button2 = nullptr;  // "Potvrzení"
    QPushButton *Button3 = nullptr;  // "Cancel"
    QPushButton *Button4 = nullptr;  // "Zrušit"
    TStatusBar *StatusBar1 = nullptr;
    QTimer *Timer1 = nullptr;

    // 0 idle, 1 waiting for the shorted input, 2 waiting for the reference.
    quint8 state() const { return m_state; }
    QString statusText() const;

    static const QString SeparatorLine;        // 66 underscores and a blank
    static const QString WriteMismatchText;    // memo text
    static const QString WriteMismatchStatus;  // status panel text
    static const QString BadMeasurementText;
    static const QString MeasuringStatus;
    static const QString WritingStatus;

public slots:
    virtual void Button1Click() = 0; // "Kalibrace"
    virtual void Button2Click() = 0; // "Potvrzení"
    void Button3Click();             // "Cancel": closes, writes nothing
    void Button4Click();             // "Zrušit"
    virtual void Timer1Timer() = 0;
    // Logs the cancellation and returns to state 0. Sends nothing: the bytes
    // already verified stay in the module, and the text asks for a new calibration.
    void VypisKalibraceUkoncena();

protected:
    // The labelled fields go into fields(); the memo, the buttons and the
    // status bar follow below them.
    TKalibraceDialog(const QString &caption, const QString &cancelledText, const QString &startInstruction,
                     QWidget *parent);
    QFormLayout *fields() const { return m_fields; }

    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

    void appendLine(const QString &line);
    void appendLines(const QStringList &lines);
    // Sets status panel 0 and repaints it at once.
    void setStatus(const QString &text);
    // Whether the record says the connection is ready; if not, says so in the panel.
    bool checkConnection();
    // Takes the connection handle and module address for a new calibration.
    void takeConnection();
    // One transaction with the handle and address taken at "Kalibrace".
    quint8 transact(quint8 command, quint8 subCode, ModuleBytes &d);
    // One transaction with the record's own handle and a fresh address (the timer).
    quint8 transactLive(quint8 command, quint8 subCode, ModuleBytes &d);
    QString errorText(quint8 code) const;

    enum class WriteResult { Ok, TransactionError, Mismatch };
    // Writes one byte of page 0 and reads it back at once. A failed
    // transaction leaves its code in error.
    WriteResult writeVerified(quint8 memoryAddress, quint8 value, quint8 &error);
    // Shows the measuring text, waits, clears the panel and reads the
    // sub-code. On a transaction error the panel shows it, the memo logs it
    // and the cancellation report follows; the result is then false.
    bool measure(int waitMs, quint8 subCode, ModuleBytes &d);
    // Text parsed as a number with the default locale's decimal separator;
    // false for anything else, infinities and NaN included.
    static bool parseNumber(const QString &text, double &value);

    quint8 m_state = 0;

private:
    QString m_cancelledText;
    QString m_startInstruction;
    QFormLayout *m_fields = nullptr;
    quint32 m_handle = 0;
    quint8 m_address = 0;
};

#endif
