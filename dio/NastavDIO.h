#ifndef RQ_DIO_NASTAVDIO_H
#define RQ_DIO_NASTAVDIO_H

#include <QDialog>

struct TData;

// Placeholder until the dialog is built: opens with its caption and nothing else.
class TForm14 : public QDialog
{
    Q_OBJECT
public:
    explicit TForm14(QWidget *parent = nullptr);

    TData *Data = nullptr;
};

#endif
