#ifndef RQ_LIVE_STATUSBITY_H
#define RQ_LIVE_STATUSBITY_H

#include <QString>

// The name of status register bit n (0..31) as the status dialog shows it:
// "FN", "PRF", "PWR", "RST", "ERR24", "---" for a bit without a name.
QString StatusBitCaption(int n);

#endif
