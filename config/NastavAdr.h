#ifndef RQ_CONFIG_NASTAVADR_H
#define RQ_CONFIG_NASTAVADR_H

#include <QDialog>

struct TData;

// Placeholder until the dialog is built: opens with its caption and nothing else.
class TForm12 : public QDialog
{
    Q_OBJECT
public:
    explicit TForm12(QWidget *parent = nullptr);

    TData *Data = nullptr;
};

#endif
