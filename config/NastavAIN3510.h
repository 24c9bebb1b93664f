#ifndef RQ_CONFIG_NASTAVAIN3510_H
#define RQ_CONFIG_NASTAVAIN3510_H

#include <QDialog>

struct TData;

// Placeholder until the dialog is built: opens with its caption and nothing else.
class TForm13 : public QDialog
{
    Q_OBJECT
public:
    explicit TForm13(QWidget *parent = nullptr);

    TData *Data = nullptr;
};

#endif
