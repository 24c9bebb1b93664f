#ifndef RQ_LIVE_STATREG_H
#define RQ_LIVE_STATREG_H

#include <QDialog>

struct TData;

// Placeholder until the dialog is built: opens with its caption and nothing else.
class TForm15 : public QDialog
{
    Q_OBJECT
public:
    explicit TForm15(QWidget *parent = nullptr);

    TData *Data = nullptr;
};

#endif
