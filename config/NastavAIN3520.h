#ifndef RQ_CONFIG_NASTAVAIN3520_H
#define RQ_CONFIG_NASTAVAIN3520_H

#include <QDialog>

struct TData;

// Placeholder until the dialog is built: opens with its caption and nothing else.
class TForm13a : public QDialog
{
    Q_OBJECT
public:
    explicit TForm13a(QWidget *parent = nullptr);

    TData *Data = nullptr;
};

#endif
