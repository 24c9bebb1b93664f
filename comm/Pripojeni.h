#ifndef RQ_COMM_PRIPOJENI_H
#define RQ_COMM_PRIPOJENI_H

#include <QDialog>

struct TData;

// Placeholder until the dialog is built: opens with its caption and nothing else.
class TForm2 : public QDialog
{
    Q_OBJECT
public:
    explicit TForm2(QWidget *parent = nullptr);

    TData *Data = nullptr;
};

#endif
