// A minimal job process: tracks two volumes, restarts from the string it
// built, tracks a volume by name (a std::string crosses the interface), and
// round-trips a volume restart string. It never calls the host log itself.
// Exits 0 when every step gave the documented result.
#include <cstdio>
#include <string>
#include <vector>

#include "restart/JxRestartVersion.h"
#include "restart/JxRestartability.h"
#include "restart/ZNJxRestart.h"

int main() {
  JxRestartability first;
  std::vector<RecoveryVolData_t> volumes(2);
  volumes[0].volId = 17;
  volumes[1].volId = 3;
  bool ok = first.PopulateVolumeOffsetMap(volumes) && first.UpdateJobRestartInfoMapAndString(17, 4096) &&
            first.restartString == "-Restart 3|0@17|4096@";

  JxRestartability restarted;
  std::string input = first.restartString.substr(9);  // the items, as the job manager hands them back
  int32_t offset = -1;
  ok = ok && restarted.ParseRestartInputFromJM(&input[0]) && restarted.GetBMOffsetFromVolId(17, &offset) &&
       offset == 4096;

  JxRestartability byName;
  ok = ok && byName.SetRestartType(jxrestart::kRestartStringBased) &&
       byName.InsertIntoVolumeOffsetMap(std::string("vol-a"), 5) && byName.restartString == "-Restart vol-a|5@";

  ZNJxRestart records("2|-5|7|-1$1|100|200|4096$");
  std::string text;
  ok = ok && records.isValid && records.GetCurrentRestartString(text) && text == "2|-5|7|-1$1|100|200|4096$";

  std::printf("jx-consumer with JxRestart %s: %s\n", JXRESTART_VERSION_STRING, ok ? "ok" : "FAILED");
  return ok ? 0 : 1;
}
