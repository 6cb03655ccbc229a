// How the demo ends when it is asked to: Ctrl-C (SIGINT), SIGTERM, or a
// reader of its output that has gone away (a closed pipe). The signal only
// sets a flag and interrupts the wait for the job; the demo then kills the
// job, removes its temporary folder and exits with 128 + the signal.
//
// Threading: one thread, with signal handlers.
#ifndef EXAMPLES_COPYJOB_HARNESS_INTERRUPT_H_
#define EXAMPLES_COPYJOB_HARNESS_INTERRUPT_H_

namespace copyjob {

// Catches SIGINT and SIGTERM without restarting interrupted reads, and
// ignores SIGPIPE, so that a failed write says so instead.
void InstallInterruptHandlers();

// The signal that asked the demo to end, or 0; SIGPIPE as soon as the
// reader of standard output has gone.
int Interrupted();

// printf to standard output, flushed; a write that fails (a closed pipe)
// counts as SIGPIPE for Interrupted().
void Say(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace copyjob

#endif  // EXAMPLES_COPYJOB_HARNESS_INTERRUPT_H_
