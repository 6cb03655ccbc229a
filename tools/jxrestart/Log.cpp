// log: the restart texts of job logs, read line by line, and the jobs they
// tell of. Each state is read strictly in one pass; the states shown (the
// first and last of each job, or every one with --all or --json) are read
// through the library as well. Memory is bounded by the longest line and
// the number of volumes, never by the size of the logs.
#define PCRE2_CODE_UNIT_WIDTH 8
#include <fcntl.h>
#include <pcre2.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tools/jxrestart/Command.h"
#include "tools/jxrestart/Json.h"
#include "tools/jxrestart/LogInput.h"
#include "tools/jxrestart/LogScan.h"

namespace jxrestart {
namespace tool {

namespace {

std::string Plural(size_t n, const char* one, const char* many) { return std::to_string(n) + " " + (n == 1 ? one : many); }

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
  std::merge(firsts->begin(), firsts->end(), read.begin(), read.end(), std::back_inserter(merged),
             [](const Entry& a, const Entry& b) { return a.id < b.id; });
  merged.erase(std::unique(merged.begin(), merged.end(), [](const Entry& a, const Entry& b) { return a.id == b.id; }),
               merged.end());
  firsts->swap(merged);
}

// The regular expression of --job, compiled once.
class JobPattern {
 public:
  ~JobPattern() {
    pcre2_match_data_free(match_);
    pcre2_code_free(code_);
  }
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
    match_ = pcre2_match_data_create_from_pattern(code_, nullptr);
    uint32_t groups = 0;
    pcre2_pattern_info(code_, PCRE2_INFO_CAPTURECOUNT, &groups);
    named_ = groups > 0;
    return std::string();
  }
  bool active() const { return code_ != nullptr; }
  bool named() const { return named_; }
  // Whether `line` is one of the job's lines; *name: what the first group captured.
  bool Match(std::string_view line, std::string* name) const {
    const int found = pcre2_match(code_, reinterpret_cast<PCRE2_SPTR>(line.data()), line.size(), 0, 0, match_, nullptr);
    if (found < 0) return false;
    if (named_) {
      const PCRE2_SIZE* at = pcre2_get_ovector_pointer(match_);
      *name = found > 1 && at[2] != PCRE2_UNSET ? std::string(line.substr(at[2], at[3] - at[2])) : std::string();
    }
    return true;
  }

 private:
  pcre2_code* code_ = nullptr;
  pcre2_match_data* match_ = nullptr;
  bool named_ = false;
};

class LogReport {
 public:
  LogReport(const Invocation& invocation, const JobPattern& pattern) : invocation_(invocation), pattern_(pattern) {}

  void StartFile(const std::string& name) {
    names_.push_back(name);
    previous_ = {};
  }

  void Line(std::string_view line, size_t number) {
    ++lines_;
    std::string name;
    if (pattern_.active() && !pattern_.Match(line, &name)) return;
    found_.clear();
    if (JsonStrings(line, &strings_)) {
      for (const std::string& value : strings_) FindTexts(value, &found_);
      TextsOf(line, number, name, false);
      strings_.clear();
      return;
    }
    FindTexts(line, &found_);
    TextsOf(line, number, name, true);
  }

  void Unreadable(const std::string& name, const std::string& why) {
    ++unreadable_;
    Fail(0, name + ": " + why);
  }

  // Prints the summary; returns the exit status.
  int Finish() {
    if (shown_ < deviations_) {
      Fail(0, Plural(deviations_ - shown_, "more deviation", "more deviations") + " not shown");
    }
    if (states_ == 0) {
      if (invocation_.json) PrintJsonSummary();
      Fail(0, "no restart string found in " + Plural(lines_, "line", "lines"));
      return unreadable_ > 0 ? kExitTrouble : kExitInvalid;
    }
    if (invocation_.json) {
      PrintJsonSummary();
    } else if (!invocation_.all) {
      PrintSummary();
    }
    if (deviations_ > 0) {
      Fail(0, Plural(deviations_, "deviation", "deviations") +
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
    Fail(0, Where(p) + ":" + std::to_string(p.column + offset) + ": " + problem + "; " + effect);
  }

  void TextsOf(std::string_view line, size_t number, const std::string& name, bool plain) {
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
    if (found_.empty()) {
      if (plain && IsTornText(line)) {
        Report({names_.size() - 1, number, 1}, 0, "a restart text with no complete item (a line cut short?)",
               "it is not read");
      }
      return;
    }
    for (const FoundText& text : found_) Add({names_.size() - 1, number, text.column}, text, name);
    const FoundText& last = found_.back();
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

  void Add(const Place& place, const FoundText& found, const std::string& name) {
    const Family family = FamilyOf(found.kind);
    ReadStrictly(found.text, family, &strict_);
    for (const Deviation& d : strict_.deviations.kept()) Report(place, d.offset, d.problem, d.effect);
    const size_t unkept = strict_.deviations.count() - strict_.deviations.kept().size();
    deviations_ += unkept;
    ++states_;
    if (invocation_.json || invocation_.all) Show(place, found, family, name);
    if (strict_.wellFormed()) {
      family == Family::kJob ? SortById(&strict_.items) : SortById(&strict_.records);
    } else {
      ItemsOf(ReadByLibrary(std::string(found.text), family), &strict_);
    }
    if (Empty(strict_, family)) return;  // the library restores nothing from it
    Track& track = TrackFor(family, name);
    Follow(track, place, found, family);
  }

  Track& TrackFor(Family family, const std::string& name) {
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
      if (Overlap(jobs_[i].tracks[f].last, strict_, family)) {
        recent_[f] = i;
        return jobs_[i].tracks[f];
      }
    }
    if (count == jobs_.size()) jobs_.push_back({"", {}});
    recent_[f] = count;
    return jobs_[count++].tracks[f];
  }

  void Follow(Track& track, const Place& place, const FoundText& found, Family family) {
    const bool first = track.states == 0;
    if (found.kind == TextKind::kInput) {
      ++track.restarts;
      track.restartPlace = place;
      track.restartText.assign(found.text);
    }
    if (!first) {
      const Verdict v = Judge(track.last, strict_, family, found.restart);
      if (v.repeat) return;
      if (!v.broken.empty()) Report(place, 0, "does not continue " + Where(track.lastPlace) + ": " + v.broken, v.hint);
      if (track.firstIsLast) {
        FirstsOf(std::move(track.lastText), family, &track.firsts);
        track.firstIsLast = false;
      }
      if (!v.added.empty()) FirstsOf(std::string(found.text), family, &track.firsts);
    }
    ++track.states;
    track.last.items.swap(strict_.items);
    track.last.records.swap(strict_.records);
    track.lastPlace = place;
    track.lastKind = found.kind;
    track.lastText.assign(found.text);
  }

  void Show(const Place& place, const FoundText& found, Family family, const std::string& name) {
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
    const Json state = StateJson(Examination{strict_, library}, family, {place.line, place.column});
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
  std::vector<FoundText> found_;
  std::vector<std::string> strings_;
  StrictReading strict_;
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

// Reads one source into the report, or says why it cannot.
void ReadSource(const Source& source, LogReport* report, bool binary) {
  const bool isStdin = source.kind == Source::kStdin;
  const std::string name = isStdin ? "standard input" : source.value;
  const int fd = isStdin ? STDIN_FILENO : ::open(source.value.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    report->Unreadable(name, std::strerror(errno));
    return;
  }
  LineReader reader(fd);
  if (!binary && reader.LooksBinary()) {
    Fail(0, name + ": binary file (NUL bytes near its start), skipped (--binary reads it)");
  } else {
    report->StartFile(name);
    std::string_view line;
    for (size_t number = 1; reader.Next(&line); ++number) report->Line(line, number);
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
    ReadSource(source.kind == Source::kFile ? Source{Source::kFile, files[next++]} : source, &report, invocation.binary);
  }
  return report.Finish();
}

}  // namespace tool
}  // namespace jxrestart
