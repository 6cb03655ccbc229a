// The JSON that jxrestart prints: one writer per shape, used by every
// command (doc/formats.md shows each). 32-bit values are numbers; 64-bit
// offsets are strings holding the decimal as the volume restart string
// writes it, so that jq and JavaScript read them exactly and a value shown
// can be typed back in.
#ifndef TOOLS_JXRESTART_JSON_H_
#define TOOLS_JXRESTART_JSON_H_

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>

#include "tools/jxrestart/Examination.h"
#include "tools/jxrestart/Jobs.h"

namespace jxrestart {
namespace tool {

using Json = nlohmann::ordered_json;

// Where a text stands in a log: a deviation's place is its line and
// column there instead of its byte in the text.
struct LogPlace {
  size_t line = 0;    // 0: not in a log
  size_t column = 0;  // of the text's first byte, from 1
};

// A deviation: {"byte", "problem", "effect"}, or {"line", "column", ...}.
Json DeviationJson(const Deviation& d, const LogPlace& place = LogPlace());

// "wellFormed", "deviations" and, when more were found than are kept,
// "moreDeviations", added to `object`.
void AddDeviations(const Deviations& deviations, const LogPlace& place, Json* object);

// A text and what it restores: {"kind", "wellFormed", "deviations",
// "volumes" or "records", "restartString"} (null when the library reads
// nothing from it).
Json StateJson(TextKind kind, const Deviations& deviations, const LibraryReading& library,
               const LogPlace& place = LogPlace());

// Whether a text is well formed: {"kind", "wellFormed", "deviations"}.
Json CheckJson(const StrictReading& strict);

// A record as the volume restart string holds it.
Json RecordJson(const _JxRestartVolumeInfo& r);

// diff --json: a volume's change {"volume", "old", "new", "by"}, each
// offset there is; a record's field changed {"source", "field", "old",
// "new"}; the records' changes; and whether OLD and NEW are well formed,
// with their deviations, added to `object`.
Json JobChangeJson(int32_t volume, const int64_t* before, const int64_t* after);
Json FieldChangeJson(int32_t source, const char* field, Json before, Json after);
Json VolumesDiffJson(bool same, Json added, Json removed, Json changed, Json unchanged);
void AddSides(const Deviations& old, const Deviations& now, Json* object);

// log --json: a state found at `place` of `file`, with the job --job
// named, if it names one.
Json LogStateJson(const std::string& file, const Place& place, const std::string* job, TextKind kind,
                  std::string_view text, const StrictReading& strict, const LibraryReading& library);
// The same object for a text read as written (StrictReading::asWritten),
// without building it, as every state of a log may come through here:
// written at the front of *buffer, which grows as needed and is never
// shrunk; returns its length. `file` and `job` are given as JSON strings
// (Quoted).
size_t WriteLogStateAsWritten(std::string_view file, const Place& place, const std::string* job, TextKind kind,
                              std::string_view text, const StrictReading& strict, std::string* buffer);
// `text` as a JSON string, quotes included.
inline std::string Quoted(const std::string& text) {
  return Json(text).dump(-1, ' ', false, Json::error_handler_t::replace);
}
// A job's counts, last states and each volume's first and last offset;
// `progress` by Family, for the tracks that hold a state.
Json LogJobJson(const std::string& name, const Job& job, const Progress (&progress)[2],
                const std::vector<std::string>& files);
// A deviation of a log with its file, line and column.
Json PlacedDeviationJson(const std::string& file, const Place& place, size_t offset, const std::string& problem,
                         const std::string& effect);
// What was read: {"summary": {"files", "unread", "lines", "restartStrings",
// "jobs", "deviations", "firstDeviations"}}.
Json LogSummaryJson(const std::vector<std::string>& files, const std::vector<std::string>& unread, size_t lines,
                    size_t states, size_t jobs, size_t deviations, const Json& first);

}  // namespace tool
}  // namespace jxrestart

#endif  // TOOLS_JXRESTART_JSON_H_
