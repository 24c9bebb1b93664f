#ifndef RQ_TESTS_LIVE_EVENTSCOUNTER_H
#define RQ_TESTS_LIVE_EVENTSCOUNTER_H

#include "core/Pauza.h"

#include <functional>

// Counts the program's "process pending events" calls instead of processing
// events, for as long as it lives; onEvents acts at each of them.
class EventsCounter
{
public:
    EventsCounter()
    {
        m_previous = rq::setEventsHook([this] {
            ++count;
            if (onEvents)
                onEvents(count);
        });
    }
    ~EventsCounter() { rq::setEventsHook(m_previous); }
    EventsCounter(const EventsCounter &) = delete;
    EventsCounter &operator=(const EventsCounter &) = delete;

    int count = 0;
    std::function<void(int)> onEvents;

private:
    rq::EventsHook m_previous;
};

#endif
