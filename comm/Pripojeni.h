#ifndef RQ_COMM_PRIPOJENI_H
#define RQ_COMM_PRIPOJENI_H

#include <QDialog>

#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
struct TData;

// Connection setup: the user picks the adapter, its parameters, the module's
// bus address and the baud rate; "Inicializace připojení" closes any open
// connection, opens the adapter, sets its speed and identifies the module.
// Only a fully successful setup leaves a connection open in the record.
class TForm2 : public QDialog
{
    Q_OBJECT
public:
    explicit TForm2(QWidget *parent = nullptr);

    TData *Data = nullptr;

    QLabel *Label1 = nullptr;       // "Adresa připojeného modulu"
    QLabel *Label2 = nullptr;       // "Komunikační rychlost"
    QLabel *Label3 = nullptr;       // per adapter kind
    QLabel *Label4 = nullptr;       // "Status připojení"
    QLabel *Label5 = nullptr;       // "Komunikační rozhraní"
    QLabel *Label6 = nullptr;       // "UDP port"
    QLabel *Label7 = nullptr;       // "UDP timeout"
    QLineEdit *Edit1 = nullptr;     // module address
    QLineEdit *Edit2 = nullptr;     // COM port, ISA base address or IP address
    QLineEdit *Edit3 = nullptr;     // UDP port
    QLineEdit *Edit4 = nullptr;     // UDP timeout
    QComboBox *ComboBox1 = nullptr; // baud rate
    QComboBox *ComboBox2 = nullptr; // adapter kind
    QLabel *Panel1 = nullptr;       // status of the connection
    QPushButton *Button1 = nullptr; // "Inicializace připojení"
    QPushButton *Button2 = nullptr; // "Cancel"

    // The address and baud rate of the last setup tried in this dialog,
    // whether it succeeded or not (the link checks look there).
    std::optional<quint8> TriedAddress;
    quint32 TriedBaud = 0;

public slots:
    void FormShow();
    void ComboBox2Change();
    void Button1Click();
    void Button2Click();

protected:
    void showEvent(QShowEvent *event) override;

private:
    // Label3/Edit2, Label6/Edit3 and Label7/Edit4.
    QList<QWidget *> adapterFields() const;
    // Shows the fields of the adapter kind, filled from the record.
    void showAdapterFields(int kind);
    void setPanel(const QString &text);
};

#endif
