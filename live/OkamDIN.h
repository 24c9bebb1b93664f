#ifndef RQ_LIVE_OKAMDIN_H
#define RQ_LIVE_OKAMDIN_H

#include "live/LiveDialog.h"

#include <array>

class QLabel;

// Live states of the 32 digital inputs, one read every 100 ms.
class TForm11 : public TLiveDialog
{
    Q_OBJECT
public:
    explicit TForm11(QWidget *parent = nullptr);

    static constexpr int Period = 100; // ms

    std::array<QLabel *, 32> Stav{}; // Stav0..Stav31: DIN0..DIN31

public slots:
    void Timer1Timer() override;
};

#endif
