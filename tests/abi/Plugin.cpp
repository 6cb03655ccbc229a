// A plugin: a shared library that uses the restart library, loaded by
// LoadPlugin.cpp. Built with other flags than the library, it must fail to
// load rather than run.
#include "restart/JxRestartability.h"

extern "C" int JxPluginRun() {
  JxRestartability tracker;
  return tracker.InsertIntoVolumeOffsetMap(17, 4096) && tracker.restartString == "-Restart 17|4096@" ? 0 : 1;
}
