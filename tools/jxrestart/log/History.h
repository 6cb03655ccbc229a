// A log's history: the states found in its lines, in their order, told
// apart into jobs, each job's states of one family a track, and each state
// judged on how it follows the one before it. Pure logic: it reads no file
// and prints nothing; what it finds it tells its listener.
#ifndef TOOLS_JXRESTART_LOG_HISTORY_H_
#define TOOLS_JXRESTART_LOG_HISTORY_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tools/jxrestart/Examination.h"
#include "tools/jxrestart/Jobs.h"
#include "tools/jxrestart/log/Recognisers.h"

namespace jxrestart {
namespace tool {

// Threading: called on one thread.
class HistoryListener {
 public:
  virtual ~HistoryListener() = default;
  // A state found at `place`, before it is judged; its deviations are the
  // strict reading's.
  virtual void Found(const Place& place, const FoundText& found, const StrictReading& strict,
                     const std::string& job) = 0;
  // Something wrong in the log, `offset` bytes after the place's column.
  virtual void Deviate(const Place& place, size_t offset, const std::string& problem, const std::string& effect) = 0;
  // A state that the library restores something from, taken into the
  // track of `family` of jobs()[job], with its entries ascending; `time`:
  // when its line was written (LineTexts::time); `repeat`: the same as the
  // track's last; `deviating`: its volumes that went back with no restart,
  // or that it added several at once.
  virtual void Taken(size_t /*job*/, Family /*family*/, const Place& /*place*/, double /*time*/,
                     const StrictReading& /*state*/, bool /*restart*/, bool /*repeat*/,
                     const std::vector<int32_t>& /*deviating*/) {}
};

struct Verdict;

// Threading: one thread.
class History {
 public:
  // `selected`: --job picks the lines; `named`: jobs are told apart by
  // what it captured, not by their volumes.
  History(bool selected, bool named, HistoryListener* listener)
      : selected_(selected), named_(named), listener_(listener) {}

  void StartFile(const std::string& name);
  // After the file's last line.
  void EndFile();
  // One line's texts, in the order of the lines; takes their items.
  void Take(LineTexts* texts, size_t number);

  // "file:line".
  std::string Where(const Place& place) const;
  const std::vector<std::string>& files() const { return files_; }
  std::vector<Job>& jobs() { return jobs_; }
  const std::vector<Job>& jobs() const { return jobs_; }
  bool named() const { return named_; }
  size_t lines() const { return lines_; }
  size_t states() const { return states_; }

 private:
  bool Join(LineTexts* t, size_t number);
  void TextsOf(LineTexts* t, size_t number);
  bool Continues(std::string_view line) const;
  void Add(const Place& place, const FoundText& found, StrictReading* strict, const std::string& name);
  size_t JobFor(Family family, const std::string& name, const StrictReading& strict);
  void Follow(size_t job, const Place& place, const FoundText& found, StrictReading* strict, Family family);

  std::string HintFor(const Verdict& v, const Place& now, const Place& before) const;

  bool selected_, named_;
  HistoryListener* listener_;
  std::vector<std::string> files_;
  std::vector<Job> jobs_;
  std::map<std::string, size_t> byName_;
  size_t counts_[2] = {0, 0};  // jobs that have a track of each family, told apart by volumes
  size_t recent_[2] = {0, 0};
  size_t lines_ = 0, states_ = 0;
  std::string_view process_;  // of the line being taken
  double time_ = -1;          // of the line being taken, where it says
  // A container's line in records: what came of it so far, by stream, and
  // the line number of its first record.
  struct Pending {
    std::string text;
    size_t line = 0;
  };
  std::map<std::string, Pending, std::less<>> pending_;
  LineTexts joined_;
  // The last text of the line before, when it ran to the end of it.
  struct {
    bool cut = false;
    bool midItem = false;
    Family family = Family::kJob;
    TextKind kind = TextKind::kJob;
    Place place;
    int64_t lastId = 0;
  } previous_;
};

// Gives up the track's state for it.
Progress ProgressOf(Track* track, Family family);


// The entries of the library's reading, ascending by id, taken out of it
// one by one, so that the two are never whole at once.
std::vector<Entry> TakeEntries(LibraryReading* library);

}  // namespace tool
}  // namespace jxrestart

#endif  // TOOLS_JXRESTART_LOG_HISTORY_H_
