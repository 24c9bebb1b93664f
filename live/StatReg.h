#ifndef RQ_LIVE_STATREG_H
#define RQ_LIVE_STATREG_H

#include "live/LiveDialog.h"

#include <array>

class QLabel;
class QPushButton;

// The module's 32-bit status register, read every 500 ms, and its clearing.
class TForm15 : public TLiveDialog
{
    Q_OBJECT
public:
    explicit TForm15(QWidget *parent = nullptr);

    static constexpr int Period = 500; // ms

    QPushButton *Button2 = nullptr; // "Vynulovat"
    std::array<QLabel *, 32> Bit{}; // Bit0..Bit31: status bit n is bit n % 8 of D(1 + n / 8)

public slots:
    void Timer1Timer() override;
    void Button2Click(); // "Vynulovat"
};

#endif
