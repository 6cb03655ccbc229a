// set: the changes that `job set` and `volumes set` make to a state, read
// from the command line and made through the library's own operations, so
// that the state printed is well formed by construction.
#ifndef TOOLS_JXRESTART_SET_H_
#define TOOLS_JXRESTART_SET_H_

#include <cstdint>
#include <string>
#include <vector>

#include "tools/jxrestart/Examination.h"
#include "tools/jxrestart/Invocation.h"

namespace jxrestart {
namespace tool {

// One volume's new offset; `add` for a volume the text does not hold.
struct JobEdit {
  int32_t volume;
  int32_t offset;
  bool add;
};

// The fields of one record to set, or, with `add`, the record to add.
struct VolumeEdit {
  int32_t source = 0;
  bool add = false;
  bool setOffset = false, setDestination = false, setCopyType = false;
  uint64_t offset = 0;
  int32_t destination = 0;
  uint8_t copyType = 0;
};

// Reads "[add] VOLUME=OFFSET..." (after "add", the volumes are added).
// Returns false with what is wrong.
bool ParseJobEdits(const std::vector<std::string>& words, std::vector<JobEdit>* edits, std::string* error);
// Reads "[add] SOURCE FIELD=VALUE...", FIELD offset, dest or copytype.
bool ParseVolumeEdits(const std::vector<std::string>& words, VolumeEdit* edit, std::string* error);

enum class Edited {
  kDone,
  kNothingRead,  // the library reads no state from the text
  kRefused,      // the library refuses an edit, or an edit names a volume the text does not hold (or, to add, does)
};

// Makes the edits to the library's object of a state through its own
// operations (JxRestartability, ZNJxRestart) and renders it again;
// otherwise says why in *error.
Edited EditJob(LibraryReading* state, const std::vector<JobEdit>& edits, std::string* error);
Edited EditVolumes(LibraryReading* state, const VolumeEdit& edit, std::string* error);

int Set(const Invocation& invocation);  // job set, volumes set

}  // namespace tool
}  // namespace jxrestart

#endif  // TOOLS_JXRESTART_SET_H_
