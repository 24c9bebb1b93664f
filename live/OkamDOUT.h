#ifndef RQ_LIVE_OKAMDOUT_H
#define RQ_LIVE_OKAMDOUT_H

#include <QDialog>

struct TData;

// Placeholder until the dialog is built: opens with its caption and nothing else.
class TForm9 : public QDialog
{
    Q_OBJECT
public:
    explicit TForm9(QWidget *parent = nullptr);

    TData *Data = nullptr;
};

#endif
