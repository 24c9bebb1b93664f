#ifndef RQ_LIVE_OKAMAIN_H
#define RQ_LIVE_OKAMAIN_H

#include <QDialog>

struct TData;

// Placeholder until the dialog is built: opens with its caption and nothing else.
class TForm3 : public QDialog
{
    Q_OBJECT
public:
    explicit TForm3(QWidget *parent = nullptr);

    TData *Data = nullptr;
};

#endif
