// The library's version. The build reads it from here, so this is the one
// place to change it. See README.md for what each part may change.
#ifndef RESTART_JXRESTARTVERSION_H_
#define RESTART_JXRESTARTVERSION_H_

#define JXRESTART_VERSION_MAJOR 1
#define JXRESTART_VERSION_MINOR 0
#define JXRESTART_VERSION_PATCH 0
#define JXRESTART_VERSION_STRING "1.0.0"

#endif  // RESTART_JXRESTARTVERSION_H_
