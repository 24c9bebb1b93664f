#ifndef RQ_LIVE_OKAMDIN_H
#define RQ_LIVE_OKAMDIN_H

#include <QDialog>

#include <array>

struct TData;
class QLabel;
class QPushButton;
class QTimer;
class TStatusBar;

// Live states of the 32 digital inputs, one read every 100 ms.
class TForm11 : public QDialog
{
    Q_OBJECT
public:
    explicit TForm11(QWidget *parent = nullptr);

    TData *Data = nullptr;

    static constexpr int Period = 100; // ms

    QTimer *Timer1 = nullptr;
    QPushButton *Button1 = nullptr; // "Cancel"
    TStatusBar *StatusBar1 = nullptr;
    std::array<QLabel *, 32> Stav{}; // Stav0..Stav31: DIN0..DIN31

public slots:
    void FormShow();
    void Timer1Timer();
    void Button1Click(); // "Cancel"

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    quint8 m_address = 0;
};

#endif
