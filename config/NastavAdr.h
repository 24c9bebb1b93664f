#ifndef RQ_CONFIG_NASTAVADR_H
#define RQ_CONFIG_NASTAVADR_H

#include "config/NastavDialog.h"

#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;

// The bus address and baud rate the module takes from its own configuration
// memory. Changing them here does not change the connection the tool uses.
class TForm12 : public TNastavDialog
{
    Q_OBJECT
public:
    explicit TForm12(QWidget *parent = nullptr);

    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLineEdit *Edit1 = nullptr;     // configured address, decimal
    QComboBox *ComboBox1 = nullptr; // configured baud index

    void ZapisOkno(const TCFGRQ &image) override;
    Validation PrectiOkno(TCFGRQ &image) override;
    QList<TransferStep> steps(TCFGRQ &image) override;
};

// The text as an integer within low..high, as an unsigned 8-bit value; empty
// when it is no integer or lies outside.
std::optional<quint8> ParseNumberInRange(const QString &text, int low, int high);

#endif
