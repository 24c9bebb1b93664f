#ifndef RQ_CLI_NAVRAT_H
#define RQ_CLI_NAVRAT_H

// Exit codes of rqtool, for scripts to branch on. A stop by a signal exits
// 128 + the signal's number (130 SIGINT, 143 SIGTERM, 129 SIGHUP); a closed
// output pipe ends quietly with 141, as a tool killed by SIGPIPE does.
namespace ExitCode {
constexpr int Ok = 0;
constexpr int Different = 1; // diff found differences
constexpr int Usage = 2;
constexpr int Refused = 3; // refused for safety
constexpr int Comm = 4;    // communication error: nothing of the work done
constexpr int File = 5;
// Some modules of a list did not answer; every other one is done (as
// rsync's 23/24 say "partial"). Any command over a list of modules uses it.
constexpr int Partial = 6;
constexpr int ClosedPipe = 141; // 128 + SIGPIPE
} // namespace ExitCode

#endif
