// Small POSIX helpers of the transports: deadlines on the monotonic clock and
// a poll that survives signals.
#ifndef RQ_DRIVERS_POSIX_H
#define RQ_DRIVERS_POSIX_H

#include <cerrno>
#include <chrono>
#include <ctime>
#include <poll.h>

namespace rqdrv {

using Clock = std::chrono::steady_clock;

inline int remainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
    if (left <= 0)
        return 0;
    return static_cast<int>((left + 999) / 1000); // round up: never wake just before the deadline
}

// Waits for events on one descriptor until the deadline, to the
// microsecond (a frame gap at 115200 Bd is 0.3 ms). Returns the revents (0 on
// timeout) or -1 with errno set. EINTR restarts with the time left.
inline int pollUntil(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now()).count();
        timespec wait{};
        if (left > 0) {
            wait.tv_sec = static_cast<time_t>(left / 1000000000);
            wait.tv_nsec = static_cast<long>(left % 1000000000);
        }
        pollfd p{fd, events, 0};
        const int n = ::ppoll(&p, 1, &wait, nullptr);
        if (n > 0)
            return p.revents;
        if (n == 0)
            return 0;
        if (errno != EINTR)
            return -1;
    }
}

} // namespace rqdrv

#endif
