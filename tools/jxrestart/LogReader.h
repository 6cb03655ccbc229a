// Finding restart texts in job logs as they are: the library's own debug
// lines, hand-off lines that a job writes, the two-line state file of a job
// manager, any text around them.
#ifndef TOOLS_JXRESTART_LOGREADER_H_
#define TOOLS_JXRESTART_LOGREADER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "tools/jxrestart/Check.h"

namespace jxrestart {
namespace tool {

struct FoundText {
  TextKind kind;  // kJob, kInput or kVolumes
  std::string text;
  size_t column;  // of its first byte in the line, from 1
};

// Appends to *found every restart text in the line [line, line + length),
// which holds no line end:
//  - after "Input from JM = ", "Restart String = " or "The Restart
//    string: " (the library's debug lines) the rest of the line is a
//    restart input, a volume restart string or a job restart string;
//  - otherwise "-Restart " begins a job restart string that runs to the
//    next space or tab, and a word that begins with a digit or '-' and
//    holds '|' and '$' is a volume restart string.
void FindTexts(const char* line, size_t length, std::vector<FoundText>* found);

// What the log shows of one text: the library's reading of it, and how it
// departs from the grammar. A well-formed text's reading is the checker's,
// which equals the library's; any other is read by the library.
struct LogState {
  bool read = false;  // the library reads a state from it
  // Each volume's offset (job texts) or each source's offset as the volume
  // restart string writes it, in text order for a well-formed text and in
  // ascending order otherwise.
  std::vector<std::pair<int32_t, int64_t>> offsets;
  Deviations deviations;
};
LogState StateOf(const FoundText& found);

// The first and last offset of each key over a log. Keys that come in the
// order of the state before go without a search.
class Progress {
 public:
  struct Entry {
    int32_t key;
    int64_t first;
    int64_t last;
  };

  void Add(const std::vector<std::pair<int32_t, int64_t>>& offsets);
  bool empty() const { return entries_.empty(); }
  // In ascending order of key.
  std::vector<Entry> Sorted() const;

 private:
  std::vector<Entry> entries_;
  std::unordered_map<int32_t, size_t> index_;
};

}  // namespace tool
}  // namespace jxrestart

#endif  // TOOLS_JXRESTART_LOGREADER_H_
