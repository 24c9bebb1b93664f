#ifndef RQ_LIVE_STATREG_H
#define RQ_LIVE_STATREG_H

#include <QDialog>

#include <array>

struct TData;
class QLabel;
class QPushButton;
class QTimer;
class TStatusBar;

// The module's 32-bit status register, read every 500 ms, and its clearing.
class TForm15 : public QDialog
{
    Q_OBJECT
public:
    explicit TForm15(QWidget *parent = nullptr);

    TData *Data = nullptr;

    static constexpr int Period = 500; // ms

    QTimer *Timer1 = nullptr;
    QPushButton *Button1 = nullptr; // "Cancel"
    QPushButton *Button2 = nullptr; // "Vynulovat"
    TStatusBar *StatusBar1 = nullptr;
    std::array<QLabel *, 32> Bit{}; // Bit0..Bit31: status bit n is bit n % 8 of D(1 + n / 8)

public slots:
    void FormShow();
    void Timer1Timer();
    void Button1Click(); // "Cancel"
    void Button2Click(); // "Vynulovat"

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    quint8 m_address = 0;
};

#endif
