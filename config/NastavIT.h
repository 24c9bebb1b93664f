#ifndef RQ_CONFIG_NASTAVIT_H
#define RQ_CONFIG_NASTAVIT_H

#include <QDialog>

struct TData;

// Placeholder until the dialog is built: opens with its caption and nothing else.
class TForm4 : public QDialog
{
    Q_OBJECT
public:
    explicit TForm4(QWidget *parent = nullptr);

    TData *Data = nullptr;
};

#endif
