#ifndef RQ_CALIB_KALIBRACEIT_H
#define RQ_CALIB_KALIBRACEIT_H

#include <QDialog>

struct TData;

// Placeholder until the dialog is built: opens with its caption and nothing else.
class TFormIT : public QDialog
{
    Q_OBJECT
public:
    explicit TFormIT(QWidget *parent = nullptr);

    TData *Data = nullptr;
};

#endif
