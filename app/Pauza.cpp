#include "app/Pauza.h"

#include <QCoreApplication>

#include <chrono>
#include <thread>

namespace {
rq::PauseHook g_pause;
rq::EventsHook g_events;

void sleepMs(int ms)
{
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
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
