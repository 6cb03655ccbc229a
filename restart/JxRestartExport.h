// Marks what libJxRestart.so exports; everything else in it is hidden.
#ifndef RESTART_JXRESTARTEXPORT_H_
#define RESTART_JXRESTARTEXPORT_H_

#if defined(__GNUC__)
#define JXRESTART_API __attribute__((visibility("default")))
#else
#define JXRESTART_API
#endif

#endif  // RESTART_JXRESTARTEXPORT_H_
