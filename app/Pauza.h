#ifndef RQ_APP_PAUZA_H
#define RQ_APP_PAUZA_H

#include <functional>

// The one pause and the one "process pending events" of the program. Every
// wait and every transfer sequence goes through them, so a test can record
// the pauses instead of sleeping, or act between the steps of a sequence.
namespace rq {

void pause(int ms);
void processEvents();

using PauseHook = std::function<void(int ms)>;
using EventsHook = std::function<void()>;

// An empty hook restores the real behaviour. Returns the previous hook.
PauseHook setPauseHook(PauseHook hook);
EventsHook setEventsHook(EventsHook hook);

} // namespace rq

#endif
