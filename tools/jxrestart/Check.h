// The strict reading of the restart texts, for people: every way in which a
// text departs from the grammar in doc/formats.md, where it does, and what
// the library's lenient reading, which a restarted job gets, makes of it.
// The library reads the same tokens and items (restart/internal), so the
// checker and the library never disagree on where a text is split.
#ifndef TOOLS_JXRESTART_CHECK_H_
#define TOOLS_JXRESTART_CHECK_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "restart/ZNJxRestart.h"

namespace jxrestart {
namespace tool {

enum class TextKind { kJob, kInput, kVolumes, kUnknown };

// "job restart string", "restart input", "volume restart string", "text".
const char* KindName(TextKind kind);

// What a text is by its marks: a "-Restart " at its start (after spaces)
// makes a job restart string; otherwise '$' without '@' a volume restart
// string, and '@' without '$' a restart input. Anything else is unknown.
TextKind KindOf(const std::string& text);

struct Deviation {
  size_t offset;        // of its first byte in the text, from 0
  std::string problem;  // what is wrong, in plain words
  std::string effect;   // what a job restarted with the text gets instead
};

// The deviations of one text in order of position; the first kKept are
// kept, the rest only counted, so a text of any size costs bounded memory.
class Deviations {
 public:
  static constexpr size_t kKept = 100;

  void Add(size_t offset, std::string problem, std::string effect);
  // Sorts what is kept by position; call once, when the text is read.
  void Sort();

  bool empty() const { return count_ == 0; }
  size_t count() const { return count_; }
  const std::vector<Deviation>& kept() const { return kept_; }

 private:
  std::vector<Deviation> kept_;
  size_t count_ = 0;
};

// Where the items of a job restart string or restart input begin: after
// the leading spaces and a "-Restart ", which the job manager strips before
// it hands the items back.
const char* JobItems(const char* text);

// A job restart string ("-Restart 3|0@17|4096@") or a restart input
// ("3|0@17|4096@"), read strictly.
struct JobReading {
  bool prefixed = false;                           // began with "-Restart "
  std::vector<std::pair<int32_t, int32_t>> items;  // each well-formed item, in text order
  Deviations deviations;
};
JobReading CheckJob(const std::string& text);

// A volume restart string ("2|-5|7|-1$1|100|200|4096$"), read strictly.
struct VolumeReading {
  std::vector<_JxRestartVolumeInfo> records;  // each well-formed record, in text order
  Deviations deviations;
};
VolumeReading CheckVolumes(const std::string& text);

// At most `longest` bytes of [begin, end), with every byte outside
// printable ASCII (and '\' and '"') written as \xHH, cut with "..." when
// longer; Quote puts it in double quotes.
std::string Printable(const char* begin, const char* end, size_t longest);
inline std::string Printable(const std::string& text, size_t longest = 200) {
  return Printable(text.data(), text.data() + text.size(), longest);
}
inline std::string Quote(const char* begin, const char* end, size_t longest = 60) {
  return "\"" + Printable(begin, end, longest) + "\"";
}
inline std::string Quote(const std::string& text, size_t longest = 60) {
  return Quote(text.data(), text.data() + text.size(), longest);
}

}  // namespace tool
}  // namespace jxrestart

#endif  // TOOLS_JXRESTART_CHECK_H_
