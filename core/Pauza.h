#ifndef RQ_CORE_PAUZA_H
#define RQ_CORE_PAUZA_H

#include <functional>

// The one pause and the one "process pending events" of the program. Every
// wait and every transfer sequence goes through them, so a test can record
// the pauses instead of sleeping, or act between the steps of a sequence.
namespace rq {

void pause(int ms);
void processEvents();

// Makes the calling thread's timers as exact as the kernel allows (timer
// slack 1 ns instead of 50 us), so pause(1) takes 1 ms and not 1.05 to
// 1.09. Every program's main calls it first, before any thread starts:
// threads inherit the slack of the thread that creates them.
void preciseTimers();

using PauseHook = std::function<void(int ms)>;
using EventsHook = std::function<void()>;

// An empty hook restores the real behaviour. Returns the previous hook.
PauseHook setPauseHook(PauseHook hook);
EventsHook setEventsHook(EventsHook hook);

} // namespace rq

#endif
