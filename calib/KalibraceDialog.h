#ifndef RQ_CALIB_KALIBRACEDIALOG_H
#define RQ_CALIB_KALIBRACEDIALOG_H

#include "comm/Kxxx638.h"

#include <QDialog>
#include <QList>

#include <utility>

class QFormLayout;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class TStatusBar;

// What the two guided calibrations share: the memo of instructions, the
// four buttons, the one-panel status bar, the 500 ms timer that runs while
// the dialog shows, and the procedure itself: "Kalibrace" prepares the
// module, the first "Potvrzení" reads the calibrated input at zero, the
// second reads it at the entered reference and writes the constants.
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

    // 0 idle, 1 waiting for the zero reading, 2 waiting for the reference.
    quint8 state() const { return m_state; }
    QString statusText() const;

    static const QString SeparatorLine;       // 66 underscores and a blank
    static const QString WriteMismatchText;   // memo text
    static const QString WriteMismatchStatus; // status panel text
    static const QString BadMeasurementText;
    static const QString MeasuringStatus;
    static const QString WritingStatus;

public slots:
    virtual void Button1Click() = 0; // "Kalibrace"
    void Button2Click();             // "Potvrzení"
    void Button3Click();             // "Cancel": closes, writes nothing
    void Button4Click();             // "Zrušit"
    virtual void Timer1Timer() = 0;
    // Logs the cancellation and returns to state 0. Sends nothing: the bytes
    // already verified stay in the module, and the text asks for a new calibration.
    void VypisKalibraceUkoncena();

protected:
    // What tells one calibration from the other.
    struct Procedure
    {
        QString caption;
        QString startInstruction;     // the memo's first line, again after every end
        QString referenceInstruction; // after the zero reading
        QString notANumberText;       // the entered value is no number
        QString doneText;
        QString cancelledText;
        int measuringWaitMs = 0;
    };
    using ByteWrites = QList<std::pair<quint8, quint8>>; // page 0 address, value

    // The labelled fields go into fields(); the memo, the buttons and the
    // status bar follow below them.
    TKalibraceDialog(const Procedure &procedure, QWidget *parent);
    QFormLayout *fields() const { return m_fields; }

    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

    // The writes after which the module measures uncalibrated, as both
    // readings must be taken: "Kalibrace" makes them, and a retry after
    // failed final writes makes them again before it measures.
    virtual ByteWrites uncalibratedWrites() const = 0;
    // The measured value of the calibrated input, in what the constants are
    // computed from.
    virtual double reading(const ModuleBytes &d) const = 0;
    // Whether the entered value may be used; if not, cancels with the reason.
    virtual bool acceptEntered(double) { return true; }
    // Computes and writes the constants from the entered value and the two
    // readings; false when they were not all written (the failure is shown).
    virtual bool writeCalibration(double entered, double zeroReading, double referenceReading) = 0;

    // Clears the memo to the start instruction, state 0.
    void resetMemo();
    // The adapter's text for a transaction error, in the status panel.
    void showError(quint8 code);
    // Whether there is a record and it says the connection is ready; with a
    // record that is not ready, says so in the panel.
    bool checkConnection();
    // Whether a new calibration of the input with this sub-code may start
    // (connection ready, state 0); if so, takes the connection handle and
    // module address for it.
    bool beginCalibration(quint8 input);
    // Logs the start of the procedure under the header line and waits for
    // the zero reading.
    void awaitZeroReading(const QString &header, const QString &instruction);
    // One transaction with the record's own handle and a fresh address (the timer).
    quint8 transactLive(quint8 command, quint8 subCode, ModuleBytes &d);
    // Verified writes in order, up to the first failure, which the status
    // panel shows: the transaction's error or the mismatch.
    bool writeBytes(const ByteWrites &writes);
    // Verified writes of the constants under the writing status: the offset,
    // then the gain, each low byte first at its address and high byte after.
    // A transaction error shows in the panel and keeps the state (another
    // "Potvrzení" makes the uncalibrated writes again, then measures again);
    // a mismatch cancels the calibration.
    bool writeConstants(quint8 gainAddress, quint16 gain, quint8 offsetAddress, quint16 offset);
    // Logs the reason and the cancellation report.
    void cancelCalibration(const QString &reason);

private:
    void appendLine(const QString &line);
    // Sets status panel 0 and repaints it at once.
    void setStatus(const QString &text);

    enum class WriteResult { Ok, TransactionError, Mismatch };
    // One transaction with the handle and address taken at "Kalibrace".
    quint8 transact(quint8 command, quint8 subCode, ModuleBytes &d);
    // Writes one byte of page 0 and reads it back at once. A failed
    // transaction leaves its code in error.
    WriteResult writeVerified(quint8 memoryAddress, quint8 value, quint8 &error);
    // writeVerified over the list, up to the first failure; a transaction
    // error is shown in the panel.
    WriteResult writeAll(const ByteWrites &writes);
    // Shows the measuring text, waits, clears the panel and reads the
    // calibrated input. A transaction error shows in the panel and the memo,
    // a reading of exactly 0 is a bad measurement; both cancel, false then.
    bool measureInput(double &value);
    void referenceStep();
    // The memo's closing lines: the text, the separator, the start
    // instruction; state 0.
    void logEnd(const QString &text);

    Procedure m_procedure;
    QFormLayout *m_fields = nullptr;
    quint8 m_state = 0;
    quint8 m_input = 0;
    double m_zeroReading = 0;
    // Final writes failed in state 2: the module may hold some new constants.
    bool m_restoreNeeded = false;
    quint32 m_handle = 0;
    quint8 m_address = 0;
};

#endif
