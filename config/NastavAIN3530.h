#ifndef RQ_CONFIG_NASTAVAIN3530_H
#define RQ_CONFIG_NASTAVAIN3530_H

#include <QDialog>

struct TData;

// Placeholder until the dialog is built: opens with its caption and nothing else.
class TForm13b : public QDialog
{
    Q_OBJECT
public:
    explicit TForm13b(QWidget *parent = nullptr);

    TData *Data = nullptr;
};

#endif
