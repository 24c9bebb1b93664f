#ifndef RQ_CONFIG_NASTAVDIALOG_H
#define RQ_CONFIG_NASTAVDIALOG_H

#include "app/Dekl.h"
#include "config/Prenos.h"

#include <QDialog>

class QComboBox;
class QGridLayout;
class QLabel;
class QPushButton;
class QVBoxLayout;
class QHBoxLayout;
class TStatusBar;

// The behaviour every settings dialog shares: a working copy of the
// configuration image, "Zapsat", "Přečíst", "Ok" and "Cancel", and a
// one-panel status bar. A dialog states only its controls (ZapisOkno,
// PrectiOkno) and its bytes (steps).
//
// While a transfer runs, the window keeps processing events so it repaints;
// the buttons that start or store are disabled and a second transfer never
// starts inside the first. Closing the dialog then ends the transfer after
// the byte in flight, and the dialog closes when it has ended.
class TNastavDialog : public QDialog, protected TransferReport
{
    Q_OBJECT
public:
    explicit TNastavDialog(QWidget *parent = nullptr);

    TData *Data = nullptr;
    TCFGRQ Work; // the working copy

    TStatusBar *StatusBar1 = nullptr;
    QPushButton *Button1 = nullptr; // "Zapsat"
    QPushButton *Button2 = nullptr; // "Přečíst"
    QPushButton *Button3 = nullptr; // "Ok"
    QPushButton *Button4 = nullptr; // "Cancel"

    // Shows the image in the controls.
    virtual void ZapisOkno(const TCFGRQ &image) = 0;
    // Takes the controls into the image; ends by setting status panel 0 to
    // " " when every control was valid, or to the validation message.
    virtual void PrectiOkno(TCFGRQ &image) = 0;
    // The dialog's bytes, in transfer order, as elements of the image.
    virtual QList<TransferStep> steps(TCFGRQ &image) = 0;

    bool PrectiData(TCFGRQ &image);
    bool ZapisData(TCFGRQ &image);

    QString statusText() const;
    void setStatusText(const QString &text);
    bool busy() const { return m_busy; }

public slots:
    // Copies the record's image into the working copy and shows it.
    virtual void FormShow();
    void Button1Click(); // "Zapsat"
    void Button2Click(); // "Přečíst"
    void Button3Click(); // "Ok"
    void Button4Click(); // "Cancel"
    void reject() override;

protected:
    // The dialog's own controls go here, above the buttons.
    QVBoxLayout *body() const { return m_body; }
    QHBoxLayout *buttonRow() const { return m_buttons; }
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

    // A drop-down list that allows only its items, named ComboBox<number>.
    QComboBox *makeComboBox(int number, const QStringList &items);
    // Selects the item of the code; a code outside the list leaves no item selected.
    static void showCode(QComboBox *box, int code);
    // The selected item's index, or the previous code when no item is selected
    // (the list showed a code it does not offer; keeping it writes the
    // module's byte back unchanged instead of inventing one).
    static quint8 takeCode(const QComboBox *box, quint8 previous);

    // Twelve inputs in two columns headed "Rozsah": AIN0..AIN5 on the left,
    // AIN6..AIN11 on the right, each with its label "AINi".
    QGridLayout *twoColumnInputs(const QList<QComboBox *> &boxes);
    // Makes the status panel wide enough for these texts, so showing one
    // does not resize the window.
    void reserveStatusWidth(const QStringList &texts);
    // A bold column heading.
    QLabel *heading(const QString &text);

    // Runs one transfer with the guard described above; false when refused
    // (another is running) or when the transfer did not complete.
    bool runTransfer(const std::function<bool()> &transfer);
    // Buttons disabled while a transfer runs (Zapsat, Přečíst and Ok by default).
    virtual QList<QPushButton *> startButtons() const;

    // TransferReport
    void status(const QString &text) override;
    bool cancelled() const override { return m_closeRequested; }

private:
    QVBoxLayout *m_body = nullptr;
    QHBoxLayout *m_buttons = nullptr;
    bool m_busy = false;
    bool m_closeRequested = false;
};

#endif
