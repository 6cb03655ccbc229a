// Marks what libJxRestart.so exports; everything else in it is hidden.
// Also brings in the host's EvEvent, which the exported classes hold: its
// functions live in the host library, so they keep default visibility
// whatever the including code is compiled with.
#ifndef RESTART_JXRESTARTEXPORT_H_
#define RESTART_JXRESTARTEXPORT_H_

#if defined(__GNUC__)
#pragma GCC visibility push(default)
#endif
#include "host/EvEvent.h"
#if defined(__GNUC__)
#pragma GCC visibility pop
#endif

#if defined(__GNUC__)
#define JXRESTART_API __attribute__((visibility("default")))
#else
#define JXRESTART_API
#endif

#endif  // RESTART_JXRESTARTEXPORT_H_
