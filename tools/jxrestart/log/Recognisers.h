// Finding restart texts in the lines of job logs as they are: the
// library's own debug lines, hand-off lines that a job writes, the two
// lines of a job manager's state file, any text around them, and lines of
// JSON that carry any of these in their strings. Each form of line is a
// recogniser in the list of Recognisers.cpp: a new log format is one more.
#ifndef TOOLS_JXRESTART_LOG_RECOGNISERS_H_
#define TOOLS_JXRESTART_LOG_RECOGNISERS_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "tools/jxrestart/Examination.h"
#include "tools/jxrestart/log/JobPattern.h"

namespace jxrestart {
namespace tool {

struct FoundText {
  TextKind kind;  // kJob, kInput or kVolumes
  std::string_view text;
  size_t column;  // of its first byte in the line, from 1
  bool restart;   // read by the library as a job restarts: a restart input, or the volume restart string of a new object
};

// Appends to *found every restart text of `line`, which holds no line
// end (a '\r' at its end is dropped):
//  - in a line of the library's (restart/internal/TextFormat.h, marker::)
//    the rest of the line after the marker is the text;
//  - otherwise "-Restart " begins a job restart string that runs to the
//    next space or tab, and a word that begins with a digit or '-' and
//    holds '|' and '$' is a volume restart string.
void FindTexts(std::string_view line, std::vector<FoundText>* found);

// Whether `line` begins with a run of items of `family` and no prefix or
// marker: the rest of a text that the line before was cut from.
bool ContinuesText(std::string_view line, Family family);

// Whether `line` is one word of digits, '-' and '|' that holds a '|' and
// no '$' or '@': a restart text torn before its first item ended, as the
// second line of a state file cut short.
bool IsTornText(std::string_view line);


// What one line holds: the texts found in it, each read strictly. It
// needs nothing of the lines before it, so lines are read so on any
// thread, then taken in their order.
struct LineTexts {
  std::string_view line;
  bool selected = true;  // --job matches it
  bool unfinished = false;  // the last line of the data, with no line end
  bool plain = true;     // found by the plain recogniser, not in a line of JSON
  std::string name;      // what --job captured
  std::string process;   // the process that wrote it, where the line says: "job[4711]"
  double time = -1;      // when it was written, in seconds since 1970, where the line says; else < 0
  std::vector<std::string> strings;  // a JSON line's values, which its texts lie in
  std::string stream;         // a container record's stream ("stdout"), a journal entry's process, or empty
  std::string_view fragment;  // a container record's text, without its line end
  bool partial = false;       // a container record that the next of its stream goes on
  std::string problem;         // what a recogniser found wrong with the line
  std::vector<FoundText> found;
  std::vector<StrictReading> readings;  // one per text; a well-formed one's items ascending
};

// The time that an ISO 8601 date and time at the front of `text` gives
// ("2026-12-10T12:00:00.5Z", "2026-12-10 12:00:00+01:00"; no zone: UTC),
// in seconds since 1970; -1 when it does not begin with one.
double LeadingTime(std::string_view text);

// Fills *t with what `line` holds, reusing its buffers. Logs nothing.
void ReadLine(std::string_view line, const JobPattern& pattern, JobPattern::Matches* matches, LineTexts* t);
// Fills t->found and t->readings with the texts of a line joined from a
// container's records.
void ReadJoined(std::string_view text, LineTexts* t);

}  // namespace tool
}  // namespace jxrestart

#endif  // TOOLS_JXRESTART_LOG_RECOGNISERS_H_
