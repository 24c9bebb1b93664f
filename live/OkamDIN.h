#ifndef RQ_LIVE_OKAMDIN_H
#define RQ_LIVE_OKAMDIN_H

#include <QDialog>

struct TData;

// Placeholder until the dialog is built: opens with its caption and nothing else.
class TForm11 : public QDialog
{
    Q_OBJECT
public:
    explicit TForm11(QWidget *parent = nullptr);

    TData *Data = nullptr;
};

#endif
