#include "examples/copyjob/harness/Interrupt.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>

namespace copyjob {

namespace {

volatile sig_atomic_t g_signal = 0;

void OnSignal(int signal) { g_signal = signal; }

}  // namespace

void InstallInterruptHandlers() {
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a blocked read returns at once
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

int Interrupted() {
  // A reader that has gone away shows on the pipe at once, before the
  // next line fails to be written.
  pollfd out{STDOUT_FILENO, 0, 0};
  if (g_signal == 0 && ::poll(&out, 1, 0) == 1 && (out.revents & POLLERR) != 0) g_signal = SIGPIPE;
  return g_signal;
}

void Say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  if (std::fflush(stdout) != 0 && g_signal == 0) g_signal = SIGPIPE;
}

}  // namespace copyjob
