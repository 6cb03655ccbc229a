// A job as its logs tell it: where each of its states stands, and what
// each of its two tracks (job restart strings, volume restart strings)
// holds. The log reader's history fills these; its report and the JSON
// unit read them.
#ifndef TOOLS_JXRESTART_JOBS_H_
#define TOOLS_JXRESTART_JOBS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/jxrestart/Examination.h"

namespace jxrestart {
namespace tool {

struct Place {
  size_t file = 0;  // index into the names of the files read
  size_t line = 0;
  size_t column = 0;  // of the text's first byte, from 1
};

// One volume (or source) and its offset; a job's offset sign-extended.
struct Entry {
  int32_t id;
  uint64_t offset;
};

// One family of one job: its states one after the other.
struct Track {
  size_t states = 0;    // distinct ones
  size_t restarts = 0;  // restart inputs
  StrictReading last;   // its items, ascending
  Place lastPlace;
  // The last state's text; or, for a job's text read as written, none:
  // `last`'s items written again read the same.
  std::string lastText;
  bool lastIsItems = false;
  std::string process;  // that wrote the last state, where lines say
  Place restartPlace;  // of the last restart input
  std::string restartText;
  // The first state, until a second comes; then each volume's first
  // offset as the library read it.
  bool firstIsLast = true;
  std::vector<Entry> firsts;
};

struct Job {
  std::string name;
  Track tracks[2];  // by Family
};

// What a track comes to: the library's reading of its last state, and
// each volume's first and last offset.
struct Progress {
  LibraryReading last;  // its maps taken apart into lasts
  std::vector<Entry> firsts, lasts;
  bool firstIsLast = false;
  const std::vector<Entry>& First() const { return firstIsLast ? lasts : firsts; }
};
// "volume", or "source" for a volume record.
inline const char* VolumeWord(Family family) { return family == Family::kJob ? "volume" : "source"; }

}  // namespace tool
}  // namespace jxrestart

#endif  // TOOLS_JXRESTART_JOBS_H_
