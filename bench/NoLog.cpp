// An empty debug log in the program itself: the dynamic linker binds the
// library's calls here instead of to libZnLib.so.
#include "host/EvEvent.h"

void EvDebug::Debug(const char*, const char*, ...) {}
