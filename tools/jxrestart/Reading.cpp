#include "tools/jxrestart/Reading.h"

#include <cstring>

#include "restart/JxRestartability.h"
#include "restart/internal/TextFormat.h"
#include "tools/jxrestart/Check.h"

namespace jxrestart {
namespace tool {

bool ReadJob(const std::string& text, JobState* state) {
  std::string items = JobItems(text.c_str());  // up to a NUL, as the tracker reads it
  JxRestartability tracker;
  if (!tracker.ParseRestartInputFromJM(&items[0])) return false;
  state->offsets = tracker.volumeOffsetMap;
  state->restartString = tracker.restartString;
  return true;
}

VolumeState ReadVolumes(const std::string& text) {
  VolumeState state;
  state.read = std::strlen(text.c_str()) >= jxrestart::internal::kShortestReadableText;
  ZNJxRestart table(text.c_str());
  state.valid = table.isValid;
  state.records = table.volumeInfoMap;
  if (state.valid && !state.records.empty()) table.GetCurrentRestartString(state.restartString);
  return state;
}

}  // namespace tool
}  // namespace jxrestart
