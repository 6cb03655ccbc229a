// The library's own reading of a text: what a job restarted with it gets.
// Everything the tool shows as a state comes from here.
#ifndef TOOLS_JXRESTART_READING_H_
#define TOOLS_JXRESTART_READING_H_

#include <cstdint>
#include <map>
#include <string>

#include "restart/ZNJxRestart.h"

namespace jxrestart {
namespace tool {

struct JobState {
  std::map<int32_t, int32_t> offsets;
  std::string restartString;  // as the tracker rebuilds it
};

// Hands the items of a job restart string (or of a restart input, which
// lacks the "-Restart " that the job manager strips) to a tracker. Returns
// false when the tracker stores nothing.
bool ReadJob(const std::string& text, JobState* state);

struct VolumeState {
  bool read = false;   // long enough for the text constructor to read it
  bool valid = false;  // the object the text makes is valid
  std::map<int32_t, _JxRestartVolumeInfo> records;
  std::string restartString;  // as the object writes it; empty when it refuses
};

VolumeState ReadVolumes(const std::string& text);

}  // namespace tool
}  // namespace jxrestart

#endif  // TOOLS_JXRESTART_READING_H_
