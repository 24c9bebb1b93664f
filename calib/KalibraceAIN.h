#ifndef RQ_CALIB_KALIBRACEAIN_H
#define RQ_CALIB_KALIBRACEAIN_H

#include <QDialog>

struct TData;

// Placeholder until the dialog is built: opens with its caption and nothing else.
class TForm6 : public QDialog
{
    Q_OBJECT
public:
    explicit TForm6(QWidget *parent = nullptr);

    TData *Data = nullptr;
};

#endif
