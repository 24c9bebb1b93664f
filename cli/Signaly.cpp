#include "cli/Signaly.h"

#include <csignal>
#include <initializer_list>

namespace {
volatile std::sig_atomic_t g_signal = 0;

void onSignal(int signal)
{
    if (g_signal == 0)
        g_signal = signal;
}
} // namespace

void InstallStopSignals()
{
    struct sigaction action
    {
    };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a wait in progress wakes, and the adapter library goes
    // on waiting only for the reply of the transaction in flight.
    action.sa_flags = 0;
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        sigaction(s, &action, nullptr);
    std::signal(SIGXFSZ, SIG_IGN);
    // A closed pipe is a failed write, seen between two transactions, so it
    // never cuts a module's write short; rqtool then ends quietly with 141.
    std::signal(SIGPIPE, SIG_IGN);
}

int StopSignal()
{
    return g_signal;
}

int StopExitCode()
{
    return 128 + g_signal;
}
