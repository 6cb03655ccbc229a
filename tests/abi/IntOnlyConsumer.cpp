// A job process that calls only the operations taking int and char*: it
// names no std::string symbol of the library, so nothing but the build tag
// can refuse it when it is built against another standard library.
#include <cstdio>
#include <cstring>

#include "restart/JxRestartability.h"

int main() {
  JxRestartability tracker;
  char input[] = "3|0@17|4096@";
  int32_t offset = -1;
  const bool ok = tracker.ParseRestartInputFromJM(input) && tracker.GetBMOffsetFromVolId(17, &offset) &&
                  offset == 4096 && tracker.UpdateJobRestartInfoMapAndString(3, 7);
  std::printf("%s\n", ok ? "ok" : "FAILED");
  return ok ? 0 : 1;
}
