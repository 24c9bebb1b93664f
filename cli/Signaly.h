#ifndef RQ_CLI_SIGNALY_H
#define RQ_CLI_SIGNALY_H

// Stopping rqtool from outside: SIGINT, SIGTERM and SIGHUP only raise a
// flag, so every command ends after the transaction in flight and says what
// it did. SIGXFSZ is ignored, so a file size limit is a failed write (exit 5)
// and never a kill that leaves a half-written file behind.
void InstallStopSignals();
// The signal that asked to stop, 0 while none did.
int StopSignal();
// Exit code of a stop by the signal: 128 + its number (130, 143, 129).
int StopExitCode();

#endif
