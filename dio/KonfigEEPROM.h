#ifndef RQ_DIO_KONFIGEEPROM_H
#define RQ_DIO_KONFIGEEPROM_H

#include <QDialog>

struct TData;

// Placeholder until the dialog is built: opens with its caption and nothing else.
class TForm5 : public QDialog
{
    Q_OBJECT
public:
    explicit TForm5(QWidget *parent = nullptr);

    TData *Data = nullptr;
};

#endif
