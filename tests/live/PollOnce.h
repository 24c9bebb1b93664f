#ifndef RQ_TESTS_LIVE_POLLONCE_H
#define RQ_TESTS_LIVE_POLLONCE_H

#include "app/Dekl.h"
#include "live/LiveDialog.h"

// Gives a live window the record, lets it take the module address as showing
// it would, and runs one timer tick.
inline void PollOnce(TLiveDialog &d, TData &data)
{
    d.Data = &data;
    d.FormShow();
    d.Timer1Timer();
}

#endif
