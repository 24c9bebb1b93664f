// Shared by the benchmarks: where their processes run, exact timers, and the
// line that puts a measured ratio beside its goal.
//
// A round trip between two processes costs about 13 us when both run on one
// CPU and 40 to 52 us across two, so a benchmark pins itself to the CPU it
// starts on before it starts rqsim (a child inherits the mask) and says so.
#ifndef RQ_BENCH_BENCHCPU_H
#define RQ_BENCH_BENCHCPU_H

#include "core/Pauza.h"

#include <cstdio>
#include <cstdlib>
#include <sched.h>
#include <string>
#include <sys/types.h>

namespace bench {

// CPUs a process may run on, as "0" or "0,1"; "?" when unknown.
inline std::string cpusOf(pid_t pid)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(pid, sizeof set, &set) != 0)
        return "?";
    std::string list;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &set))
            list += (list.empty() ? "" : ",") + std::to_string(cpu);
    return list;
}

// Pins this process (and the processes it starts from now on) to the CPU it
// runs on and makes its timers exact. Returns the CPU.
inline int pinToOneCpu()
{
    rq::preciseTimers();
    const int cpu = ::sched_getcpu();
    if (std::getenv("BENCH_NO_PIN"))
        return cpu; // to compare: let the scheduler place them
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu < 0 ? 0 : cpu, &set);
    ::sched_setaffinity(0, sizeof set, &set);
    return cpu;
}

// Runs this process (and the processes it starts from now on) under the
// real-time policy SCHED_FIFO when allowed: on a shared machine the other
// load otherwise adds its wake-up delays to every transaction, which says
// nothing about our code. BENCH_NO_RT=1 measures without. True when set.
inline bool shieldFromOtherLoad()
{
    if (std::getenv("BENCH_NO_RT"))
        return false;
    sched_param p{};
    p.sched_priority = 10;
    return ::sched_setscheduler(0, SCHED_FIFO, &p) == 0;
}

// "CPUs: benchmark on 1, rqsim on 1 ...; scheduling ...".
inline void printCpus(pid_t simulator = 0)
{
    std::printf("CPUs: benchmark on %s", cpusOf(0).c_str());
    if (simulator > 0)
        std::printf(", rqsim on %s", cpusOf(simulator).c_str());
    std::printf(" (pinned: a round trip across two CPUs costs three times one on a CPU); scheduling %s\n",
                ::sched_getscheduler(0) == SCHED_FIFO
                    ? "SCHED_FIFO 10, shielded from the machine's other load"
                    : "normal, with the machine's other load");
}

// One goal: "goal  <what>  ratio 1.012  (goal <= 1.05)  met".
inline bool printGoal(const char *what, double ratio, double limit, bool atMost = true)
{
    const bool met = atMost ? ratio <= limit : ratio >= limit;
    std::printf("goal  %-52s ratio %6.3f  (goal %s %.2f)  %s\n", what, ratio, atMost ? "<=" : ">=", limit,
                met ? "met" : "NOT met");
    return met;
}

} // namespace bench

#endif
