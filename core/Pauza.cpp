#include "core/Pauza.h"

#include <QCoreApplication>

#include <cerrno>
#include <ctime>
#include <sys/prctl.h>

namespace {
rq::PauseHook g_pause;
rq::EventsHook g_events;

// Sleeps to an absolute deadline: a signal that interrupts the sleep does not
// stretch it by the time already slept.
void sleepMs(int ms)
{
    if (ms <= 0)
        return;
    timespec until{};
    clock_gettime(CLOCK_MONOTONIC, &until);
    until.tv_sec += ms / 1000;
    until.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    if (until.tv_nsec >= 1000000000L) {
        until.tv_nsec -= 1000000000L;
        ++until.tv_sec;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}
} // namespace

namespace rq {

void pause(int ms)
{
    if (g_pause)
        g_pause(ms);
    else
        sleepMs(ms);
}

void processEvents()
{
    if (g_events)
        g_events();
    else if (QCoreApplication::instance())
        QCoreApplication::processEvents();
}

void preciseTimers()
{
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}

PauseHook setPauseHook(PauseHook hook)
{
    std::swap(hook, g_pause);
    return hook;
}

EventsHook setEventsHook(EventsHook hook)
{
    std::swap(hook, g_events);
    return hook;
}

} // namespace rq
