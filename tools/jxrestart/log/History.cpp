#include "tools/jxrestart/log/History.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "restart/internal/TextFormat.h"
#include "tools/jxrestart/Numbers.h"
#include "tools/jxrestart/log/Recognisers.h"

namespace jxrestart {
namespace tool {

// How a state follows the one before it in its track.
struct Verdict {
  bool repeat = false;
  std::vector<int32_t> added;
  std::vector<int32_t> deviating;  // volumes that went back with no restart, or came at once
  std::string broken;  // what is wrong, or ""
  bool cut = false;  // a line cut short, rather than two jobs
};

namespace {

// A state's items as the strict reading holds them: a job's (volume,
// offset) pairs, or the volume records.
using JobItem = std::pair<int32_t, int32_t>;
using Record = _JxRestartVolumeInfo;
inline int32_t IdOf(const JobItem& item) { return item.first; }
inline int32_t IdOf(const Record& record) { return record.srcVolId; }
inline int32_t KeyOf(const JobItem& item) { return item.second; }
inline uint64_t KeyOf(const Record& record) { return record.offset; }
// As an Entry holds it.
inline uint64_t OffsetOf(int32_t offset) { return static_cast<uint64_t>(int64_t{offset}); }
inline uint64_t OffsetOf(uint64_t offset) { return offset; }

// The items of a state that is not well formed: the library's reading.
void ItemsOf(std::string text, Family family, StrictReading* r) {
  r->items.clear();
  r->records.clear();
  LibraryReading library = ReadByLibrary(std::move(text), family);
  for (const Entry& e : TakeEntries(&library)) {
    if (family == Family::kJob) r->items.emplace_back(e.id, static_cast<int32_t>(e.offset));
    // What a judgement needs of a record.
    if (family == Family::kVolumes) r->records.push_back({0, e.id, 0, e.offset});
  }
}

template <class Item>
bool Overlap(const std::vector<Item>& a, const std::vector<Item>& b) {
  for (auto i = a.begin(), j = b.begin(); i != a.end() && j != b.end();) {
    if (IdOf(*i) == IdOf(*j)) return true;
    IdOf(*i) < IdOf(*j) ? ++i : ++j;
  }
  return false;
}

bool Overlap(const StrictReading& a, const StrictReading& b, Family family) {
  return family == Family::kJob ? Overlap(a.items, b.items) : Overlap(a.records, b.records);
}

bool Empty(const StrictReading& r, Family family) { return family == Family::kJob ? r.items.empty() : r.records.empty(); }


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
    v.cut = true;
  } else if (v.added.size() > 1) {
    v.broken = "it adds " + std::to_string(v.added.size()) + " " + word + "s at once";
    v.deviating = v.added;
  } else if (back != nullptr && !restart) {
    v.deviating.push_back(IdOf(*back));
    v.broken = word + " " + std::to_string(IdOf(*back)) + " goes back from " + OffsetText(OffsetOf(KeyOf(*from))) + " to " +
               OffsetText(OffsetOf(KeyOf(*back))) + " with no restart between";
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
  std::vector<Entry> read = TakeEntries(&library), merged;
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

int64_t LastIdOf(std::string_view text, Family family) {
  const char terminator = TerminatorOf(family);
  if (text.size() < 2) return INT64_MAX;
  const size_t end = text.rfind(terminator, text.size() - 2);
  std::string_view item = text.substr(end == std::string_view::npos ? JobItemsAt(text) : end + 1);
  if (family == Family::kVolumes) item = item.substr(item.find(internal::kFieldSeparator) + 1);
  return LeadingNumber(item.substr(0, 12));
}

}  // namespace

std::vector<Entry> TakeEntries(LibraryReading* library) {
  std::vector<Entry> entries;
  entries.reserve(library->volumes().size() + library->records().size());
  if (library->job) {
    auto& volumes = library->job->volumeOffsetMap;
    for (auto it = volumes.begin(); it != volumes.end(); it = volumes.erase(it)) entries.push_back({it->first, OffsetOf(it->second)});
  }
  if (library->table) {
    auto& records = library->table->volumeInfoMap;
    for (auto it = records.begin(); it != records.end(); it = records.erase(it)) entries.push_back({it->first, it->second.offset});
  }
  return entries;
}

// What the library reads as the last state, taken from the track.
std::string TakeLastText(Track* track) {
  if (!track->lastIsItems) return std::move(track->lastText);
  std::string text;
  for (const auto& item : track->last.items) {
    text.append(std::to_string(item.first)).append(1, internal::kKeySeparator);
    text.append(std::to_string(item.second)).append(1, internal::kItemTerminator);
  }
  return text;
}

Progress ProgressOf(Track* track, Family family) {
  Progress p;
  p.last = ReadByLibrary(TakeLastText(track), family);
  track->last = StrictReading();
  p.lasts = TakeEntries(&p.last);
  p.firstIsLast = track->firstIsLast;
  p.firsts.swap(track->firsts);
  return p;
}

// What may have made a state not continue the one before it.
std::string History::HintFor(const Verdict& v, const Place& now, const Place& before) const {
  if (v.cut) return "a line cut short?";
  if (now.file != before.file) {
    return files_[now.file] + " was read after " + files_[before.file] + ": files given out of order, or two jobs?";
  }
  return selected_ ? "two jobs in the lines --job selects?" : "two jobs in one log? see --job";
}

void History::StartFile(const std::string& name) {
  files_.push_back(name);
  previous_ = {};
}

void History::EndFile() {
  for (auto& [stream, p] : pending_) {
    if (p.text.empty()) continue;
    listener_->Deviate({files_.size() - 1, p.line, 1}, 0,
                       "the file ends in a line of " + stream + " whose last record has not come (still being written?)",
                       "it is not read: the last complete state stands");
    p.text.clear();
  }
}

// A container's record: a part of a line waits for the rest of it, and the
// record that ends the line joins them; a record never counts as a line of
// its own. Returns whether the record was taken here.
bool History::Join(LineTexts* t, size_t number) {
  auto it = pending_.find(t->stream);
  if (it == pending_.end()) it = pending_.emplace(std::string(t->stream), Pending()).first;
  Pending& p = it->second;
  if (p.text.empty() && !t->partial) return false;
  if (p.text.empty()) p.line = number;
  p.text += t->fragment;
  if (t->partial) return true;
  joined_.line = p.text;
  joined_.plain = false;
  joined_.name = t->name;
  joined_.process = t->process;
  joined_.time = t->time;
  ReadJoined(p.text, &joined_);
  TextsOf(&joined_, p.line);
  p.text.clear();
  return true;
}

void History::Take(LineTexts* t, size_t number) {
  ++lines_;
  if (!t->selected || (!t->stream.empty() && Join(t, number))) return;
  if (!t->problem.empty()) {
    listener_->Deviate({files_.size() - 1, number, 1}, 0, t->problem, "the line is not read");
    return;
  }
  // A line still being written, or torn: what it holds is not a state yet.
  if (t->unfinished && (!t->found.empty() || IsTornText(t->line))) {
    listener_->Deviate({files_.size() - 1, number, 1}, 0, "the file ends in an unfinished line (no line end: still being written, or cut short)",
                       "it is not read: the last complete state stands");
    previous_ = {};
    return;
  }
  TextsOf(t, number);
}

std::string History::Where(const Place& p) const { return files_[p.file] + ":" + std::to_string(p.line); }

void History::TextsOf(LineTexts* t, size_t number) {
  const std::string_view line = t->line;
  const bool plain = t->plain;
  // A line that goes on where the line before was cut off.
  if (plain && previous_.cut && ContinuesText(line, previous_.family) && Continues(line)) {
    listener_->Deviate({files_.size() - 1, number, 1}, 0,
           "the line goes on with the " + std::string(KindName(previous_.kind)) + " cut at the end of " +
               Where(previous_.place) + " (a line wrapped by a log shipper?)",
           "the text there is read without it");
    previous_ = {};
    return;
  }
  previous_ = {};
  if (t->found.empty()) {
    if (plain && IsTornText(line)) {
      listener_->Deviate({files_.size() - 1, number, 1}, 0, "a restart text with no complete item (a line cut short?)",
             "it is not read");
    }
    return;
  }
  process_ = t->process;
  time_ = t->time;
  for (size_t i = 0; i < t->found.size(); ++i) {
    Add({files_.size() - 1, number, t->found[i].column}, t->found[i], &t->readings[i], t->name);
  }
  const FoundText& last = t->found.back();
  // The last text runs to the end of its line: the line may have been cut.
  if (plain && last.column - 1 + last.text.size() >= line.size() - (line.empty() || line.back() != '\r' ? 0 : 1)) {
    previous_.cut = true;
    previous_.family = FamilyOf(last.kind);
    previous_.kind = last.kind;
    previous_.place = {files_.size() - 1, number, last.column};
    const char terminator = TerminatorOf(previous_.family);
    previous_.midItem = last.text.empty() || last.text.back() != terminator;
    previous_.lastId = LastIdOf(last.text, previous_.family);
  }
}

// Whether a line that begins with items continues the text before: it
// does when that one was cut inside an item, or when the line's first
// volume comes after the last one there.
bool History::Continues(std::string_view line) const {
  if (previous_.midItem) return true;
  const size_t field = previous_.family == Family::kJob ? 0 : 1;
  size_t at = 0;
  for (size_t i = 0; i < field; ++i) at = line.find(internal::kFieldSeparator, at) + 1;
  return LeadingNumber(line.substr(at, 12)) > previous_.lastId;
}


void History::Add(const Place& place, const FoundText& found, StrictReading* strict, const std::string& name) {
  const Family family = FamilyOf(found.kind);
  ++states_;
  listener_->Found(place, found, *strict, name);
  // What a text that is not well formed restores is the library's reading.
  if (!strict->wellFormed()) ItemsOf(std::string(found.text), family, strict);
  if (Empty(*strict, family)) return;  // the library restores nothing from it
  Follow(JobFor(family, name, *strict), place, found, strict, family);
}

size_t History::JobFor(Family family, const std::string& name, const StrictReading& strict) {
  if (named_) {
    auto it = byName_.find(name);
    if (it == byName_.end()) {
      it = byName_.emplace(name, jobs_.size()).first;
      jobs_.push_back({name.empty() ? "(nothing captured)" : name, {}});
    }
    return it->second;
  }
  // Told apart by their volumes: a state belongs to the job whose last
  // state shares a volume with it.
  const int f = static_cast<int>(family);
  size_t& count = counts_[f];
  for (size_t k = 0; k < count; ++k) {
    const size_t i = (recent_[f] + k) % count;
    if (Overlap(jobs_[i].tracks[f].last, strict, family)) {
      recent_[f] = i;
      return i;
    }
  }
  if (count == jobs_.size()) jobs_.push_back({"", {}});
  recent_[f] = count;
  return count++;
}

void History::Follow(size_t job, const Place& place, const FoundText& found, StrictReading* strict, Family family) {
  Track& track = jobs_[job].tracks[static_cast<int>(family)];
  const bool first = track.states == 0;
  if (found.kind == TextKind::kInput) {
    ++track.restarts;
    track.restartPlace = place;
    track.restartText.assign(found.text);
  }
  // A new process goes on from a restart input; two that alternate are two jobs in one.
  if (!process_.empty() && !track.process.empty() && process_ != track.process && !found.restart) {
    listener_->Deviate(place, 0,
                       "process " + std::string(process_) + " goes on from the state of process " + track.process +
                           " at " + Where(track.lastPlace) + " with no restart between",
                       "two processes of one job, launched twice?");
  }
  if (!process_.empty()) track.process.assign(process_);
  Verdict v;
  if (!first) {
    v = Judge(track.last, *strict, family, found.restart);
  }
  listener_->Taken(job, family, place, time_, *strict, found.restart, v.repeat, v.deviating);
  if (!first) {
    if (v.repeat) return;
    if (!v.broken.empty()) {
      listener_->Deviate(place, 0, "does not continue " + Where(track.lastPlace) + ": " + v.broken,
                         HintFor(v, place, track.lastPlace));
    }
  }
  ++track.states;
  if (!first && track.firstIsLast) {
    // The first state is one no longer: its offsets are kept as the library reads them.
    FirstsOf(TakeLastText(&track), family, &track.firsts);
    track.firstIsLast = false;
  }
  track.last.items.swap(strict->items);
  track.last.records.swap(strict->records);
  if (!v.added.empty()) FirstsOf(std::string(found.text), family, &track.firsts);
  track.lastPlace = place;
  // Most states of a log are jobs' texts read as written: theirs is not
  // copied, but written again from their items if it is wanted.
  track.lastIsItems = strict->asWritten && family == Family::kJob;
  if (!track.lastIsItems) track.lastText.assign(found.text);
}

}  // namespace tool
}  // namespace jxrestart
