#ifndef RQ_LIVE_OKAMDOUT_H
#define RQ_LIVE_OKAMDOUT_H

#include "comm/Kxxx638.h"

#include <QDialog>

#include <array>

struct TData;
class QCheckBox;
class QPushButton;
class TStatusBar;

// Writes all 32 digital outputs at once: a checked box is a 1.
class TForm9 : public QDialog
{
    Q_OBJECT
public:
    explicit TForm9(QWidget *parent = nullptr);

    TData *Data = nullptr;

    std::array<QCheckBox *, 32> CheckBox{}; // CheckBox[n] is CheckBox(n + 1), DOUTn
    QPushButton *Button1 = nullptr;         // "Zapsat"
    QPushButton *Button2 = nullptr;         // "Cancel"
    TStatusBar *StatusBar1 = nullptr;

    // D0..D4 of the write: DOUTn is bit n % 8 of D(1 + n / 8).
    ModuleBytes outputBytes() const;

public slots:
    void FormCreate();
    void FormShow();
    void Button1Click(); // "Zapsat"
    void Button2Click(); // "Cancel"

protected:
    void showEvent(QShowEvent *event) override;

private:
    quint8 m_address = 0;
};

#endif
