// log: the restart texts of job logs, read line by line, and the jobs they
// tell of. Each state is read strictly in one pass; the states shown (the
// first and last of each job, or every one with --all or --json) are read
// through the library as well. Memory is bounded by the longest line and
// the number of volumes, never by the size of the logs.
#define PCRE2_CODE_UNIT_WIDTH 8
#include <fcntl.h>
#include <pcre2.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/jxrestart/Command.h"
#include "tools/jxrestart/Json.h"
#include "tools/jxrestart/LogInput.h"
#include "tools/jxrestart/LogScan.h"

namespace jxrestart {
namespace tool {

namespace {

struct Place {
  size_t file = 0;  // index into the names read
  size_t line = 0;
  size_t column = 0;  // of the text's first byte, from 1
};

// One volume (or source) of a state and its offset, in a form whose order
// is the offset's: a job's signed 32-bit offset biased, a record's 64 bits.
struct Entry {
  int32_t id;
  uint64_t key;
};
constexpr uint64_t kJobBias = uint64_t{1} << 31;

std::string Shown(Family family, uint64_t key) {
  return family == Family::kJob ? std::to_string(static_cast<int64_t>(key) - static_cast<int64_t>(kJobBias))
                                : OffsetText(key);
}

const char* VolumeWord(Family family) { return family == Family::kJob ? "volume" : "source"; }

// A state's items as the strict reading holds them: a job's (volume,
// offset) pairs, or the volume records.
using JobItem = std::pair<int32_t, int32_t>;
using Record = _JxRestartVolumeInfo;
inline int32_t IdOf(const JobItem& item) { return item.first; }
inline int32_t IdOf(const Record& record) { return record.srcVolId; }
inline uint64_t KeyOf(const std::pair<const int32_t, int32_t>& item) {
  return static_cast<uint64_t>(static_cast<int64_t>(item.second) + kJobBias);
}
inline uint64_t KeyOf(const JobItem& item) { return static_cast<uint64_t>(static_cast<int64_t>(item.second) + kJobBias); }
inline uint64_t KeyOf(const Record& record) { return record.offset; }

template <class Item>
void SortById(std::vector<Item>* items) {
  const auto byId = [](const Item& a, const Item& b) { return IdOf(a) < IdOf(b); };
  if (!std::is_sorted(items->begin(), items->end(), byId)) std::sort(items->begin(), items->end(), byId);
}

// The items of a state, ascending by id: the strict reading's for a
// well-formed text, otherwise the library's.
void ItemsOf(const LibraryReading& library, StrictReading* r) {
  r->items.clear();
  r->records.clear();
  for (const auto& v : library.volumes) r->items.push_back(v);
  for (const auto& v : library.records) r->records.push_back(v.second);
}

// The entries of the library's reading, which it takes apart as it goes,
// so that the two are never whole at once.
void TakeEntries(LibraryReading* library, std::vector<Entry>* entries) {
  entries->clear();
  entries->reserve(library->volumes.size() + library->records.size());
  for (auto it = library->volumes.begin(); it != library->volumes.end(); it = library->volumes.erase(it)) {
    entries->push_back({it->first, KeyOf(*it)});
  }
  for (auto it = library->records.begin(); it != library->records.end(); it = library->records.erase(it)) {
    entries->push_back({it->first, KeyOf(it->second)});
  }
}

template <class Item>
bool Overlap(const std::vector<Item>& a, const std::vector<Item>& b) {
  for (size_t i = 0, j = 0; i < a.size() && j < b.size();) {
    if (IdOf(a[i]) == IdOf(b[j])) return true;
    IdOf(a[i]) < IdOf(b[j]) ? ++i : ++j;
  }
  return false;
}

bool Overlap(const StrictReading& a, const StrictReading& b, Family family) {
  return family == Family::kJob ? Overlap(a.items, b.items) : Overlap(a.records, b.records);
}

bool Empty(const StrictReading& r, Family family) { return family == Family::kJob ? r.items.empty() : r.records.empty(); }

// One family of one job: its states one after the other.
struct Track {
  size_t states = 0;    // distinct ones
  size_t restarts = 0;  // restart inputs
  StrictReading last;   // its items, ascending
  Place lastPlace;
  std::string lastText;
  TextKind lastKind = TextKind::kUnknown;
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

// How a state follows the one before it in its track.
struct Verdict {
  bool repeat = false;
  std::vector<int32_t> added;
  std::string broken;  // what is wrong, or ""
  const char* hint = "";
};

template <class Item>
Verdict Judge(const std::vector<Item>& before, const std::vector<Item>& now, Family family, bool restart) {
  Verdict v;
  // The usual case first, in one pass: the same volumes in the same order,
  // none gone back.
  if (before.size() == now.size()) {
    bool same = true;
    size_t i = 0;
    for (; i < now.size() && IdOf(now[i]) == IdOf(before[i]) && KeyOf(now[i]) >= KeyOf(before[i]); ++i) {
      same &= KeyOf(now[i]) == KeyOf(before[i]);
    }
    if (i == now.size()) {
      v.repeat = same;
      return v;
    }
  }
  size_t lost = 0;
  const Item* back = nullptr;
  const Item* from = nullptr;
  for (size_t i = 0, j = 0; i < before.size() || j < now.size();) {
    if (j == now.size() || (i < before.size() && IdOf(before[i]) < IdOf(now[j]))) {
      ++lost, ++i;
    } else if (i == before.size() || IdOf(now[j]) < IdOf(before[i])) {
      v.added.push_back(IdOf(now[j++]));
    } else {
      if (KeyOf(now[j]) < KeyOf(before[i]) && back == nullptr) back = &now[j], from = &before[i];
      ++i, ++j;
    }
  }
  const std::string word = VolumeWord(family);
  if (lost > 0) {
    v.broken = "it lacks " + std::to_string(lost) + " of the " + std::to_string(before.size()) + " " + word + "s";
    v.hint = "a line cut short?";
  } else if (v.added.size() > 1) {
    v.broken = "it adds " + std::to_string(v.added.size()) + " " + word + "s at once";
    v.hint = "two jobs in one log? see --job";
  } else if (back != nullptr && !restart) {
    v.broken = word + " " + std::to_string(IdOf(*back)) + " goes back from " + Shown(family, KeyOf(*from)) + " to " +
               Shown(family, KeyOf(*back)) + " with no restart between";
    v.hint = "two jobs in one log? see --job";
  }
  return v;
}

Verdict Judge(const StrictReading& before, const StrictReading& now, Family family, bool restart) {
  return family == Family::kJob ? Judge(before.items, now.items, family, restart)
                                : Judge(before.records, now.records, family, restart);
}

// Each volume's first offset, from the library's reading of a text; a
// volume seen before keeps the offset it had then.
void FirstsOf(std::string&& text, Family family, std::vector<Entry>* firsts) {
  LibraryReading library = ReadByLibrary(std::move(text), family);
  std::vector<Entry> read, merged;
  TakeEntries(&library, &read);
  if (firsts->empty()) {
    firsts->swap(read);
    return;
  }
  std::merge(firsts->begin(), firsts->end(), read.begin(), read.end(), std::back_inserter(merged),
             [](const Entry& a, const Entry& b) { return a.id < b.id; });
  merged.erase(std::unique(merged.begin(), merged.end(), [](const Entry& a, const Entry& b) { return a.id == b.id; }),
               merged.end());
  firsts->swap(merged);
}

// The regular expression of --job, compiled once.
class JobPattern {
 public:
  ~JobPattern() { pcre2_code_free(code_); }
  // Returns "" or why the pattern does not compile.
  std::string Compile(const std::string& pattern) {
    int error = 0;
    PCRE2_SIZE offset = 0;
    code_ = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), 0, &error, &offset, nullptr);
    if (code_ == nullptr) {
      PCRE2_UCHAR message[256];
      pcre2_get_error_message(error, message, sizeof message);
      return "--job " + Quote(pattern) + ": " + reinterpret_cast<char*>(message) + " at offset " + std::to_string(offset);
    }
    pcre2_jit_compile(code_, PCRE2_JIT_COMPLETE);
    uint32_t groups = 0;
    pcre2_pattern_info(code_, PCRE2_INFO_CAPTURECOUNT, &groups);
    named_ = groups > 0;
    return std::string();
  }
  bool active() const { return code_ != nullptr; }
  bool named() const { return named_; }

  // Where a thread keeps what a match found.
  class Matches {
   public:
    explicit Matches(const JobPattern& pattern)
        : data_(pattern.active() ? pcre2_match_data_create_from_pattern(pattern.code_, nullptr) : nullptr) {}
    ~Matches() { pcre2_match_data_free(data_); }
    Matches(const Matches&) = delete;
    Matches& operator=(const Matches&) = delete;

   private:
    friend class JobPattern;
    pcre2_match_data* data_;
  };

  // Whether `line` is one of the job's lines; *name: what the first group captured.
  bool Match(std::string_view line, Matches* matches, std::string* name) const {
    pcre2_match_data* data = matches->data_;
    const int found = pcre2_match(code_, reinterpret_cast<PCRE2_SPTR>(line.data()), line.size(), 0, 0, data, nullptr);
    if (found < 0) return false;
    if (named_) {
      const PCRE2_SIZE* at = pcre2_get_ovector_pointer(data);
      *name = found > 1 && at[2] != PCRE2_UNSET ? std::string(line.substr(at[2], at[3] - at[2])) : std::string();
    }
    return true;
  }

 private:
  pcre2_code* code_ = nullptr;
  bool named_ = false;
};

// What one line holds, as the first stage reads it: the texts and their
// strict readings. It needs nothing of the lines before it, so lines may
// be read so on other threads, then taken in their order.
struct LineTexts {
  std::string_view line;
  bool selected = true;  // --job matches it
  bool plain = true;     // not a line of JSON
  std::string name;      // what --job captured
  std::vector<std::string> strings;  // a JSON line's values, which its texts lie in
  std::vector<FoundText> found;
  std::vector<StrictReading> readings;  // one per text; a well-formed one's items ascending
};

// The first stage. Reads no state, logs nothing: any thread may run it.
void ReadLine(std::string_view line, const JobPattern& pattern, JobPattern::Matches* matches, LineTexts* t) {
  t->line = line;
  t->name.clear();
  t->selected = !pattern.active() || pattern.Match(line, matches, &t->name);
  t->found.clear();
  if (!t->selected) return;
  t->strings.clear();
  t->plain = !JsonStrings(line, &t->strings);
  if (t->plain) {
    FindTexts(line, &t->found);
  } else {
    for (const std::string& value : t->strings) FindTexts(value, &t->found);
  }
  if (t->readings.size() < t->found.size()) t->readings.resize(t->found.size());
  for (size_t i = 0; i < t->found.size(); ++i) {
    const Family family = FamilyOf(t->found[i].kind);
    StrictReading& r = t->readings[i];
    ReadStrictly(t->found[i].text, family, &r);
    if (r.wellFormed()) family == Family::kJob ? SortById(&r.items) : SortById(&r.records);
  }
}

class LogReport {
 public:
  LogReport(const Invocation& invocation, const JobPattern& pattern) : invocation_(invocation), pattern_(pattern) {}

  void StartFile(const std::string& name) {
    names_.push_back(name);
    previous_ = {};
  }

  // The second stage: one line's texts, in the order of the lines.
  void Take(LineTexts* t, size_t number) {
    ++lines_;
    if (t->selected) TextsOf(t, number);
  }

  void Unreadable(const std::string& name, const std::string& why) {
    ++unreadable_;
    Warn(name + ": " + why);
  }

  // Prints the summary; returns the exit status.
  int Finish() {
    if (shown_ < deviations_) {
      Warn(Plural(deviations_ - shown_, "more deviation", "more deviations") + " not shown");
    }
    if (states_ == 0) {
      if (invocation_.json) PrintJsonSummary();
      Warn("no restart string found in " + Plural(lines_, "line", "lines"));
      return unreadable_ > 0 ? kExitTrouble : kExitInvalid;
    }
    if (invocation_.json) {
      PrintJsonSummary();
    } else if (!invocation_.all) {
      PrintSummary();
    }
    if (deviations_ > 0) {
      Warn(Plural(deviations_, "deviation", "deviations") +
                  (invocation_.lenient ? "; accepted as the library reads them (--lenient)"
                                       : "; the states are shown as the library reads them (--lenient accepts them)"));
    }
    if (unreadable_ > 0) return kExitTrouble;
    return deviations_ == 0 || invocation_.lenient ? kExitOk : kExitInvalid;
  }

 private:
  std::string Where(const Place& p) const { return names_[p.file] + ":" + std::to_string(p.line); }

  // Reports one deviation of the logs, within the one cap of shown ones.
  void Report(const Place& p, size_t offset, const std::string& problem, const std::string& effect) {
    ++deviations_;
    if (shown_ == Deviations::kShown) return;
    ++shown_;
    Warn(Where(p) + ":" + std::to_string(p.column + offset) + ": " + problem + "; " + effect);
  }

  void TextsOf(LineTexts* t, size_t number) {
    const std::string_view line = t->line;
    const bool plain = t->plain;
    // A line that goes on where the line before was cut off.
    if (plain && previous_.cut && ContinuesText(line, previous_.family) && Continues(line)) {
      Report({names_.size() - 1, number, 1}, 0,
             "the line goes on with the " + std::string(KindName(previous_.kind)) + " cut at the end of " +
                 Where(previous_.place) + " (a line wrapped by a log shipper?)",
             "the text there is read without it");
      previous_ = {};
      return;
    }
    previous_ = {};
    if (t->found.empty()) {
      if (plain && IsTornText(line)) {
        Report({names_.size() - 1, number, 1}, 0, "a restart text with no complete item (a line cut short?)",
               "it is not read");
      }
      return;
    }
    for (size_t i = 0; i < t->found.size(); ++i) {
      Add({names_.size() - 1, number, t->found[i].column}, t->found[i], &t->readings[i], t->name);
    }
    const FoundText& last = t->found.back();
    // The last text runs to the end of its line: the line may have been cut.
    if (plain && last.column - 1 + last.text.size() >= line.size() - (line.empty() || line.back() != '\r' ? 0 : 1)) {
      previous_.cut = true;
      previous_.family = FamilyOf(last.kind);
      previous_.kind = last.kind;
      previous_.place = {names_.size() - 1, number, last.column};
      const char terminator = previous_.family == Family::kJob ? '@' : '$';
      previous_.midItem = last.text.empty() || last.text.back() != terminator;
      previous_.lastId = LastIdOf(last.text, previous_.family);
    }
  }

  // Whether a line that begins with items continues the text before: it
  // does when that one was cut inside an item, or when the line's first
  // volume comes after the last one there.
  bool Continues(std::string_view line) const {
    if (previous_.midItem) return true;
    const size_t field = previous_.family == Family::kJob ? 0 : 1;
    size_t at = 0;
    for (size_t i = 0; i < field; ++i) at = line.find('|', at) + 1;
    return std::atoll(std::string(line.substr(at, 12)).c_str()) > previous_.lastId;
  }

  static int64_t LastIdOf(std::string_view text, Family family) {
    const char terminator = family == Family::kJob ? '@' : '$';
    if (text.size() < 2) return INT64_MAX;
    const size_t end = text.rfind(terminator, text.size() - 2);
    std::string_view item = text.substr(end == std::string_view::npos ? JobItemsAt(text) : end + 1);
    if (family == Family::kVolumes) item = item.substr(item.find('|') + 1);
    return std::atoll(std::string(item.substr(0, 12)).c_str());
  }

  void Add(const Place& place, const FoundText& found, StrictReading* strict, const std::string& name) {
    const Family family = FamilyOf(found.kind);
    for (const Deviation& d : strict->deviations.kept()) Report(place, d.offset, d.problem, d.effect);
    deviations_ += strict->deviations.count() - strict->deviations.kept().size();
    ++states_;
    if (invocation_.json || invocation_.all) Show(place, found, *strict, family, name);
    // What a text that is not well formed restores is the library's reading.
    if (!strict->wellFormed()) ItemsOf(ReadByLibrary(std::string(found.text), family), strict);
    if (Empty(*strict, family)) return;  // the library restores nothing from it
    Follow(TrackFor(family, name, *strict), place, found, strict, family);
  }

  Track& TrackFor(Family family, const std::string& name, const StrictReading& strict) {
    if (pattern_.named()) {
      auto it = named_.find(name);
      if (it == named_.end()) {
        it = named_.emplace(name, jobs_.size()).first;
        jobs_.push_back({name.empty() ? "(nothing captured)" : name, {}});
      }
      return jobs_[it->second].tracks[static_cast<int>(family)];
    }
    // Told apart by their volumes: a state belongs to the job whose last
    // state shares a volume with it.
    const int f = static_cast<int>(family);
    size_t& count = counts_[f];
    for (size_t k = 0; k < count; ++k) {
      const size_t i = (recent_[f] + k) % count;
      if (Overlap(jobs_[i].tracks[f].last, strict, family)) {
        recent_[f] = i;
        return jobs_[i].tracks[f];
      }
    }
    if (count == jobs_.size()) jobs_.push_back({"", {}});
    recent_[f] = count;
    return jobs_[count++].tracks[f];
  }

  void Follow(Track& track, const Place& place, const FoundText& found, StrictReading* strict, Family family) {
    const bool first = track.states == 0;
    if (found.kind == TextKind::kInput) {
      ++track.restarts;
      track.restartPlace = place;
      track.restartText.assign(found.text);
    }
    Verdict v;
    if (!first) {
      v = Judge(track.last, *strict, family, found.restart);
      if (v.repeat) return;
      if (!v.broken.empty()) Report(place, 0, "does not continue " + Where(track.lastPlace) + ": " + v.broken, v.hint);
    }
    ++track.states;
    track.last.items.swap(strict->items);
    track.last.records.swap(strict->records);
    if (!first && track.firstIsLast) {
      // The first state is one no longer: its offsets are kept as the library reads them.
      FirstsOf(std::move(track.lastText), family, &track.firsts);
      track.firstIsLast = false;
    }
    if (!v.added.empty()) FirstsOf(std::string(found.text), family, &track.firsts);
    track.lastPlace = place;
    track.lastKind = found.kind;
    track.lastText.assign(found.text);
  }

  void Show(const Place& place, const FoundText& found, const StrictReading& strict, Family family,
            const std::string& name) {
    const LibraryReading library = ReadByLibrary(std::string(found.text), family);
    if (invocation_.all) {
      std::cout << Where(place) << ": " << (pattern_.named() ? "job " + name + ": " : std::string())
                << KindName(found.kind) << ": "
                << (library.read ? library.rendered : "(" + library.refusal + ")") << '\n';
      return;
    }
    Json json{{"file", names_[place.file]}, {"line", place.line}, {"column", place.column}};
    if (pattern_.named()) json["job"] = name;
    json["kind"] = KindName(found.kind);
    json["text"] = std::string(found.text);
    const Json state = StateJson(Examination{strict, library}, family, {place.line, place.column});
    for (const auto& field : state.items()) {
      if (field.key() != "kind") json[field.key()] = field.value();
    }
    std::cout << json.dump(-1, ' ', false, Json::error_handler_t::replace) << '\n';
  }

  std::string JobName(size_t index) const {
    if (!jobs_[index].name.empty()) return jobs_[index].name;
    return std::to_string(index + 1);
  }

  // What a track shows: the library's reading of its last state, and each
  // volume's first and last offset.
  struct Display {
    LibraryReading last;  // its maps taken apart into lasts
    std::vector<Entry> firsts, lasts;
    bool firstIsLast = false;
    const std::vector<Entry>& First() const { return firstIsLast ? lasts : firsts; }
  };
  static Display ShowOf(Track& track, Family family) {
    Display s;
    track.last = StrictReading();
    s.last = ReadByLibrary(std::move(track.lastText), family);
    TakeEntries(&s.last, &s.lasts);
    s.firstIsLast = track.firstIsLast;
    s.firsts.swap(track.firsts);
    return s;
  }

  void PrintSummary() {
    std::cout << Plural(lines_, "line", "lines") << ": " << Plural(states_, "restart string", "restart strings");
    if (jobs_.size() > 1) {
      std::cout << ", " << jobs_.size() << " jobs"
                << (pattern_.named() ? " (told apart by --job)" : " (told apart by their volumes; --job names them)");
    }
    std::cout << '\n';
    for (size_t i = 0; i < jobs_.size(); ++i) PrintJob(i);
  }

  void PrintJob(size_t index) {
    Job& job = jobs_[index];
    const Track& jobs = job.tracks[0];
    const Track& volumes = job.tracks[1];
    std::cout << '\n';
    if (jobs_.size() > 1) std::cout << "job " << JobName(index) << ":\n";
    std::cout << Plural(jobs.states, "job state", "job states") << ", " << Plural(jobs.restarts, "restart", "restarts")
              << ", " << Plural(volumes.states, "volume state", "volume states") << " (each counted once)\n";
    for (const Family family : {Family::kJob, Family::kVolumes}) {
      Track& track = job.tracks[static_cast<int>(family)];
      if (track.states == 0) continue;
      const Display shown = ShowOf(track, family);
      std::cout << "\nlast " << KindName(family == Family::kJob ? TextKind::kJob : TextKind::kVolumes) << " ("
                << Where(track.lastPlace) << "):\n"
                << (shown.last.read ? shown.last.rendered : "(" + shown.last.refusal + ")") << '\n';
      if (family == Family::kJob && track.restarts > 0) {
        const LibraryReading input = ReadByLibrary(track.restartText, family);
        std::cout << "\nlast restart input (" << Where(track.restartPlace) << "):\n"
                  << (input.read ? input.rendered : "(" + input.refusal + ")") << '\n';
      }
      PrintProgress(shown, family);
    }
  }

  // Each volume's first and last offset, in columns; printed row by row,
  // so that a table of millions of volumes costs no memory of its own.
  static void PrintProgress(const Display& shown, Family family) {
    const std::string header[3] = {VolumeWord(family), "first offset", "last offset"};
    size_t width[3] = {header[0].size(), header[1].size(), header[2].size()};
    for (int pass = 0; pass < 2; ++pass) {
      if (pass == 1) {
        std::cout << '\n';
        PrintRow(header, width);
      }
      const std::vector<Entry>& firsts = shown.First();
      const std::vector<Entry>& lasts = shown.lasts;
      for (size_t i = 0, j = 0; i < firsts.size() || j < lasts.size();) {
        const bool hasFirst = i < firsts.size() && (j == lasts.size() || firsts[i].id <= lasts[j].id);
        const bool hasLast = j < lasts.size() && (i == firsts.size() || lasts[j].id <= firsts[i].id);
        const std::string row[3] = {std::to_string(hasFirst ? firsts[i].id : lasts[j].id),
                                    hasFirst ? Shown(family, firsts[i].key) : "-",
                                    hasLast ? Shown(family, lasts[j].key) : "-"};
        if (pass == 0) {
          for (int c = 0; c < 3; ++c) width[c] = std::max(width[c], row[c].size());
        } else {
          PrintRow(row, width);
        }
        i += hasFirst;
        j += hasLast;
      }
    }
  }

  static void PrintRow(const std::string (&row)[3], const size_t (&width)[3]) {
    for (int c = 0; c < 3; ++c) std::cout << (c > 0 ? "  " : "") << std::string(width[c] - row[c].size(), ' ') << row[c];
    std::cout << '\n';
  }

  void PrintJsonSummary() {
    Json jobs = Json::array();
    for (size_t i = 0; i < jobs_.size(); ++i) {
      Job& job = jobs_[i];
      Json entry{{"name", JobName(i)}, {"jobStates", job.tracks[0].states}, {"restarts", job.tracks[0].restarts},
                 {"volumeStates", job.tracks[1].states}};
      for (const Family family : {Family::kJob, Family::kVolumes}) {
        Track& track = job.tracks[static_cast<int>(family)];
        const char* key = family == Family::kJob ? "lastJobRestartString" : "lastVolumeRestartString";
        const char* table = family == Family::kJob ? "volumes" : "sources";
        entry[key] = nullptr;
        entry[table] = Json::array();
        if (track.states == 0) continue;
        const Display shown = ShowOf(track, family);
        entry[key] = {{"file", names_[track.lastPlace.file]},
                      {"line", track.lastPlace.line},
                      {"restartString", shown.last.read ? Json(shown.last.rendered) : Json()}};
        for (const Entry& e : shown.lasts) {
          Json row{{VolumeWord(family), e.id}};
          const std::vector<Entry>& firsts = shown.First();
          const auto first = std::lower_bound(firsts.begin(), firsts.end(), e,
                                              [](const Entry& a, const Entry& b) { return a.id < b.id; });
          const bool seen = first != firsts.end() && first->id == e.id;
          if (family == Family::kJob) {
            row["first"] = seen ? Json(static_cast<int64_t>(first->key) - static_cast<int64_t>(kJobBias)) : Json();
            row["last"] = static_cast<int64_t>(e.key) - static_cast<int64_t>(kJobBias);
          } else {
            row["first"] = seen ? Json(OffsetText(first->key)) : Json();
            row["last"] = OffsetText(e.key);
          }
          entry[table].push_back(std::move(row));
        }
      }
      jobs.push_back(std::move(entry));
    }
    const Json summary{{"summary",
                        {{"files", names_},
                         {"lines", lines_},
                         {"restartStrings", states_},
                         {"deviations", deviations_},
                         {"unreadable", unreadable_},
                         {"jobs", std::move(jobs)}}}};
    std::cout << summary.dump(-1, ' ', false, Json::error_handler_t::replace) << '\n';
  }

  const Invocation& invocation_;
  const JobPattern& pattern_;
  std::vector<std::string> names_;
  std::vector<Job> jobs_;
  std::map<std::string, size_t> named_;
  size_t counts_[2] = {0, 0};  // jobs that have a track of each family, told apart by volumes
  size_t recent_[2] = {0, 0};
  size_t lines_ = 0, states_ = 0, deviations_ = 0, shown_ = 0, unreadable_ = 0;
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

// Reads the lines of `reader` one after the other.
void ReadInTurn(LineReader* reader, const JobPattern& pattern, LogReport* report) {
  JobPattern::Matches matches(pattern);
  LineTexts texts;
  std::string_view line;
  for (size_t number = 1; reader->Next(&line); ++number) {
    ReadLine(line, pattern, &matches, &texts);
    report->Take(&texts, number);
  }
}

// A file that is mapped into memory: read in blocks of whole lines by as
// many threads as there are processors, its lines then taken in order.
// Most of the work, finding the texts and reading each strictly, is done
// in the blocks; `make bench-log` reads a log of 1,000-volume lines about
// 1.7 times as fast on two processors as in one thread. Each block's pages
// are let go once it is taken, so the resident memory stays bounded by
// the longest line, not by the size of the file. A file cut short while it
// is read (a live log rotated by copying and truncating it) is read up to
// the last whole line before the cut; returns false then.
bool ReadInBlocks(MappedFile* file, const JobPattern& pattern, LogReport* report, unsigned threads) {
  constexpr size_t kBlock = 1 << 21;
  // Blocks are read ahead only so far, so that long lines in flight cost
  // no more than this beyond the one being taken.
  constexpr size_t kAhead = 8 << 20;
  const std::string_view text = file->text();
  // Blocks of whole lines, the last line with or without its '\n'.
  std::vector<size_t> ends;
  for (size_t at = 0; at < text.size();) {
    const size_t target = std::min(text.size(), at + kBlock);
    const size_t newline = target == text.size() ? std::string_view::npos : text.find('\n', target - 1);
    at = newline == std::string_view::npos ? text.size() : newline + 1;
    ends.push_back(at);
  }
  struct Slot {
    std::vector<LineTexts> lines;
    std::vector<size_t> lineEnds;
    size_t count = 0;
    bool ready = false;
  };
  const size_t window = 2 * threads + 2;
  std::vector<Slot> slots(window);
  std::mutex mutex;
  std::condition_variable changed;
  size_t next = 0, taken = 0;
  bool failed = false;
  const auto work = [&] {
    JobPattern::Matches matches(pattern);
    for (;;) {
      size_t block;
      {
        std::unique_lock<std::mutex> lock(mutex);
        // The next block to take may always be read; others while they fit.
        const auto fits = [&] {
          return next == taken ||
                 (next < taken + window && ends[next] - (taken == 0 ? 0 : ends[taken - 1]) <= kAhead + kBlock);
        };
        changed.wait(lock, [&] { return next == ends.size() || fits() || failed; });
        if (next == ends.size() || failed) return;
        block = next++;
      }
      Slot& slot = slots[block % window];
      try {
        const size_t begin = block == 0 ? 0 : ends[block - 1];
        slot.count = 0;
        for (size_t at = begin; at < ends[block]; ++slot.count) {
          const size_t newline = text.find('\n', at);
          const size_t end = std::min(newline, ends[block]);
          if (slot.lines.size() == slot.count) {
            slot.lines.emplace_back();
            slot.lineEnds.emplace_back();
          }
          ReadLine(text.substr(at, end - at), pattern, &matches, &slot.lines[slot.count]);
          slot.lineEnds[slot.count] = end;
          at = end + 1;
        }
      } catch (...) {
        std::lock_guard<std::mutex> lock(mutex);
        failed = true;
      }
      {
        std::lock_guard<std::mutex> lock(mutex);
        slot.ready = true;
      }
      changed.notify_all();
    }
  };
  std::vector<std::thread> workers;
  for (unsigned i = 0; i < threads; ++i) workers.emplace_back(work);
  size_t number = 1;
  bool whole = true;
  for (size_t block = 0; block < ends.size() && whole; ++block) {
    Slot& slot = slots[block % window];
    {
      std::unique_lock<std::mutex> lock(mutex);
      changed.wait(lock, [&] { return slot.ready || failed; });
      if (failed) break;
    }
    // What lies past a cut reads as zeros: the lines that reach it are not
    // the file's.
    const size_t valid = file->ValidUpTo();
    whole = valid >= ends[block];
    for (size_t i = 0; i < slot.count && (whole || slot.lineEnds[i] <= valid); ++i) {
      report->Take(&slot.lines[i], number++);
      // A state of many volumes leaves its items here: they go, so that
      // the slots do not keep the memory of the longest lines.
      for (StrictReading& r : slot.lines[i].readings) {
        if (r.items.capacity() + r.records.capacity() > 65536) r = StrictReading();
      }
    }
    file->Release(ends[block]);
    {
      std::lock_guard<std::mutex> lock(mutex);
      slot.ready = false;
      ++taken;
    }
    changed.notify_all();
  }
  {
    std::lock_guard<std::mutex> lock(mutex);
    failed = true;  // the workers stop
  }
  changed.notify_all();
  for (std::thread& worker : workers) worker.join();
  return whole;
}

// Reads one source into the report, or says why it cannot.
void ReadSource(const Source& source, const JobPattern& pattern, LogReport* report, bool binary) {
  const bool isStdin = source.kind == Source::kStdin;
  const std::string name = isStdin ? "standard input" : source.value;
  const int fd = isStdin ? STDIN_FILENO : ::open(source.value.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    report->Unreadable(name, std::strerror(errno));
    return;
  }
  LineReader reader(fd);
  if (!binary && reader.LooksBinary()) {
    Warn(name + ": binary file (NUL bytes near its start), skipped (--binary reads it)");
  } else {
    report->StartFile(name);
    struct stat info;
    const unsigned threads = std::min(4u, std::thread::hardware_concurrency());
    // A plain file of its own is read in blocks; a compressed one or a
    // stream as it comes.
    if (!reader.compressed() && reader.AtStart() && threads > 1 && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
        info.st_size > 0) {
      MappedFile file(fd, static_cast<size_t>(info.st_size));
      if (file.mapped()) {
        if (!ReadInBlocks(&file, pattern, report, threads)) {
          report->Unreadable(name, "cut to " + std::to_string(file.ValidUpTo()) +
                                       " bytes while it was read (a log rotated by truncating it?); the lines "
                                       "before the cut were read");
        }
      } else {
        ReadInTurn(&reader, pattern, report);
      }
    } else {
      ReadInTurn(&reader, pattern, report);
    }
  }
  if (!reader.error().empty()) report->Unreadable(name, reader.error() + "; the lines before were read");
  if (!isStdin) ::close(fd);
}

}  // namespace

int Log(const Invocation& invocation) {
  JobPattern pattern;
  if (!invocation.job.empty()) {
    const std::string error = pattern.Compile(invocation.job);
    if (!error.empty()) return Fail(kExitTrouble, error);
  }
  // Rotated logs given together are read oldest first.
  std::vector<std::string> files;
  for (const Source& s : invocation.sources) {
    if (s.kind == Source::kFile) files.push_back(s.value);
  }
  OrderRotated(&files);
  LogReport report(invocation, pattern);
  size_t next = 0;
  for (const Source& source : invocation.sources) {
    ReadSource(source.kind == Source::kFile ? Source{Source::kFile, files[next++]} : source, pattern, &report,
               invocation.binary);
  }
  return report.Finish();
}

}  // namespace tool
}  // namespace jxrestart
