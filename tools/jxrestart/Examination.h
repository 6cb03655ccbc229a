// One examination of a restart text: everything any command shows of it.
//
//   - The strict reading: what the text holds by the grammar of
//     doc/formats.md, and every way in which it departs from it, with its
//     position, what is wrong and what a restarted job gets instead.
//   - The library's reading: what a job restarted with the text restores,
//     read by the library's public operations, and the text as the library
//     renders it, or why the library reads nothing from it.
//
// The strict reading walks the same tokens and items as the library
// (restart/internal), so the two never disagree on where a text is split;
// for a well-formed text they hold the same entries. Every state the tool
// shows comes from the library's reading, or, for a text exactly as the
// library writes it, is the text, which the library renders as it stands
// (the checker's fuzz target holds the two equal).
#ifndef TOOLS_JXRESTART_EXAMINATION_H_
#define TOOLS_JXRESTART_EXAMINATION_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "restart/JxRestartability.h"
#include "restart/ZNJxRestart.h"

namespace jxrestart {
namespace tool {

enum class TextKind { kJob, kInput, kVolumes, kUnknown };

// "job restart string", "restart input", "volume restart string", "text".
const char* KindName(TextKind kind);

// The two families of texts: a job's volumes and offsets (job restart
// strings and restart inputs), and its volume records.
enum class Family { kJob, kVolumes };
inline Family FamilyOf(TextKind kind) { return kind == TextKind::kVolumes ? Family::kVolumes : Family::kJob; }

// What closes each item of a text of the family: '@' or '$'.
char TerminatorOf(Family family);

// What a text is by its marks: a "-Restart " at its start (after spaces)
// makes a job restart string; otherwise '$' without '@' a volume restart
// string, and '@' without '$' a restart input. Anything else is unknown.
TextKind KindOf(std::string_view text);

struct Deviation {
  size_t offset;        // of its first byte in the text, from 0
  std::string problem;  // what is wrong, in plain words
  std::string effect;   // what a job restarted with the text gets instead
};

// The first kShown deviations of a text by position, in position order;
// the rest are only counted, so a text of any size costs bounded memory.
class Deviations {
 public:
  static constexpr size_t kShown = 20;

  void Add(size_t offset, std::string problem, std::string effect);
  // Puts the kept ones in position order; call once all are added.
  void Sort();

  bool empty() const { return count_ == 0; }
  size_t count() const { return count_; }
  const std::vector<Deviation>& kept() const { return kept_; }

 private:
  std::vector<Deviation> kept_;  // a heap on the offset while adding
  size_t count_ = 0;
};

struct StrictReading {
  TextKind kind = TextKind::kUnknown;
  // The items that the grammar accepts, in text order: a job's (volume,
  // offset), or the volume records.
  std::vector<std::pair<int32_t, int32_t>> items;
  std::vector<_JxRestartVolumeInfo> records;
  Deviations deviations;
  // The text is exactly as the library writes it (a restart input: as its
  // job writes the items), so that the library renders what it reads from
  // it as the text again: see RenderedAsWritten.
  bool asWritten = false;

  bool wellFormed() const { return deviations.empty(); }
};

// The library's classes, closed: the tool holds their objects by value and
// derives nothing from them, so they are destroyed as what they are.
struct JobObject final : JxRestartability {};
struct VolumesObject final : ZNJxRestart {
  explicit VolumesObject(const char* text) : ZNJxRestart(text) {}
};

// The library's own object read from a text, live: a job restarted with
// the text holds it so; a command may go on to change it through the
// library's operations; the job's string follows, the records are rendered again.
struct LibraryReading {
  bool read = false;     // the library restores a state from the text
  std::string refusal;   // otherwise, why not
  // Held where they stay, so that a reading is moved without copying
  // millions of volumes.
  std::unique_ptr<JobObject> job;        // a job text's
  std::unique_ptr<VolumesObject> table;  // a volume text's, unless too short to read

  // The object's map; empty for the other family.
  const std::map<int32_t, int32_t>& volumes() const;                // a job's volumes and offsets
  const std::map<int32_t, _JxRestartVolumeInfo>& records() const;   // the volume records
  // The state as the library rendered it last: a job's own string, which the
  // library rebuilds with each change, or the records' by RenderRecords().
  const std::string& rendered() const { return job ? job->restartString : records_; }
  // Renders the records; false when the library renders nothing.
  bool RenderRecords();

 private:
  std::string records_;
};

struct Examination {
  StrictReading strict;
  LibraryReading library;
};

// Reads `text` strictly, as a text of `family`, into *reading, whose
// buffers are reused: a caller that reads many texts allocates little.
void ReadStrictly(std::string_view text, Family family, StrictReading* reading);
StrictReading ReadStrictly(std::string_view text, Family family);

// Reads `text` as the library does: a job text through a JxRestartability
// (a leading "-Restart " is stripped first, as the job manager strips it),
// a volume text through a ZNJxRestart. These are the only places where the
// tool makes the library's objects from a text. A text the caller gives up
// (std::move) is not copied.
LibraryReading ReadByLibrary(std::string text, Family family);

// The library's rendering of a text read as written (asWritten): the
// text, a restart input behind the job's "-Restart ". The fuzz target
// holds the two equal; a log of millions of states is shown through this
// without the library reading each again.
std::string RenderedAsWritten(std::string_view text, const StrictReading& strict);

// Both readings of one text.
Examination Examine(const std::string& text, Family family);

// Where the items of a job text begin: after the leading spaces and a
// "-Restart ".
size_t JobItemsAt(std::string_view text);

// At most `longest` bytes of `text`, with every byte outside printable
// ASCII (and '\' and '"') written as \xHH, cut with "..." when longer;
// Quote puts it in double quotes.
std::string Printable(std::string_view text, size_t longest = 200);
inline std::string Quote(std::string_view text, size_t longest = 60) {
  return "\"" + Printable(text, longest) + "\"";
}

// The offset of a volume record as the string writes it: its 64 bits as a
// signed number.
inline std::string OffsetText(uint64_t offset) { return std::to_string(static_cast<int64_t>(offset)); }

}  // namespace tool
}  // namespace jxrestart

#endif  // TOOLS_JXRESTART_EXAMINATION_H_
