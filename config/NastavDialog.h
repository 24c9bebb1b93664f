#ifndef RQ_CONFIG_NASTAVDIALOG_H
#define RQ_CONFIG_NASTAVDIALOG_H

#include "config/PrenosDialog.h"

class QComboBox;
class QGridLayout;
class QLabel;
class QPushButton;
class QVBoxLayout;
class QHBoxLayout;

// The behaviour every settings dialog shares: a working copy of the
// configuration image, "Zapsat", "Přečíst", "Ok" and "Cancel", and a
// one-panel status bar. A dialog states only its controls (ZapisOkno,
// PrectiOkno) and its bytes (steps); transfers are guarded as TPrenosDialog
// says.
class TNastavDialog : public TPrenosDialog
{
    Q_OBJECT
public:
    explicit TNastavDialog(QWidget *parent = nullptr);

    QPushButton *Button1 = nullptr; // "Zapsat"
    QPushButton *Button2 = nullptr; // "Přečíst"
    QPushButton *Button3 = nullptr; // "Ok"
    QPushButton *Button4 = nullptr; // "Cancel"

    // Takes the controls into the image and says whether every control was
    // valid; ends by showing that in status panel 0 (showValidation).
    virtual Validation PrectiOkno(TCFGRQ &image) = 0;
    // The dialog's bytes, in transfer order, as elements of the image.
    virtual QList<TransferStep> steps(TCFGRQ &image) = 0;

    TransferOutcome PrectiData(TCFGRQ &image);
    TransferOutcome ZapisData(TCFGRQ &image);

    // Above the controls of a dialog for one model: says so when the
    // connected module identifies as another. The dialog still works.
    QLabel *LabelModel = nullptr;

public slots:
    void FormShow() override;
    void Button1Click(); // "Zapsat"
    void Button2Click(); // "Přečíst"
    void Button3Click(); // "Ok"
    void Button4Click(); // "Cancel"

protected:
    // The dialog's own controls go here, above the buttons.
    QVBoxLayout *body() const { return m_body; }
    QHBoxLayout *buttonRow() const { return m_buttons; }

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

    // Makes this a dialog for the model ("RQ-3510"): on show, LabelModel
    // warns when the connected module is another one.
    void setModel(const QString &model);

    // Zapsat, Přečíst and Ok.
    QList<QPushButton *> startButtons() const override;

private:
    QVBoxLayout *m_body = nullptr;
    QHBoxLayout *m_buttons = nullptr;
    QString m_model;
};

#endif
