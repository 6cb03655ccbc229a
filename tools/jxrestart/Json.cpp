#include "tools/jxrestart/Json.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "restart/internal/TextFormat.h"
#include "tools/jxrestart/Numbers.h"

namespace jxrestart {
namespace tool {

Json DeviationJson(const Deviation& d, const LogPlace& place) {
  Json entry = place.line == 0 ? Json{{"byte", d.offset + 1}} : Json{{"line", place.line}, {"column", place.column + d.offset}};
  entry["problem"] = d.problem;
  entry["effect"] = d.effect;
  return entry;
}

void AddDeviations(const Deviations& deviations, const LogPlace& place, Json* object) {
  (*object)["wellFormed"] = deviations.empty();
  Json list = Json::array();
  for (const Deviation& d : deviations.kept()) list.push_back(DeviationJson(d, place));
  (*object)["deviations"] = std::move(list);
  const size_t more = deviations.count() - deviations.kept().size();
  if (more > 0) (*object)["moreDeviations"] = more;
}

Json RecordJson(const _JxRestartVolumeInfo& r) {
  return {{"source", r.srcVolId}, {"destination", r.destVolId}, {"copyType", r.copyType}, {"offset", OffsetText(r.offset)}};
}

Json StateJson(TextKind kind, const Deviations& deviations, const LibraryReading& library, const LogPlace& place) {
  Json json{{"kind", KindName(kind)}};
  AddDeviations(deviations, place, &json);
  Json list = Json::array();
  if (FamilyOf(kind) == Family::kJob) {
    for (const auto& entry : library.volumes()) list.push_back({{"volume", entry.first}, {"offset", entry.second}});
    json["volumes"] = std::move(list);
  } else {
    if (library.read) {
      for (const auto& entry : library.records()) list.push_back(RecordJson(entry.second));
    }
    json["records"] = std::move(list);
  }
  json["restartString"] = library.read ? Json(library.rendered()) : Json();
  return json;
}

Json CheckJson(const StrictReading& strict) {
  Json json{{"kind", KindName(strict.kind)}};
  AddDeviations(strict.deviations, LogPlace(), &json);
  return json;
}

Json JobChangeJson(int32_t volume, const int64_t* before, const int64_t* after) {
  Json entry{{"volume", volume}};
  if (before != nullptr) entry["old"] = *before;
  if (after != nullptr) entry["new"] = *after;
  if (before != nullptr && after != nullptr && *before != *after) entry["by"] = *after - *before;
  return entry;
}

Json FieldChangeJson(int32_t source, const char* field, Json before, Json after) {
  return {{"source", source}, {"field", field}, {"old", std::move(before)}, {"new", std::move(after)}};
}

Json VolumesDiffJson(bool same, Json added, Json removed, Json changed, Json unchanged) {
  return {{"same", same}, {"added", std::move(added)}, {"removed", std::move(removed)},
          {"changed", std::move(changed)}, {"unchanged", std::move(unchanged)}};
}

void AddSides(const Deviations& old, const Deviations& now, Json* object) {
  (*object)["wellFormed"] = {{"old", old.empty()}, {"new", now.empty()}};
  Json deviations{{"old", Json::array()}, {"new", Json::array()}};
  for (const Deviation& d : old.kept()) deviations["old"].push_back(DeviationJson(d));
  for (const Deviation& d : now.kept()) deviations["new"].push_back(DeviationJson(d));
  (*object)["deviations"] = std::move(deviations);
}

Json LogStateJson(const std::string& file, const Place& place, const std::string* job, TextKind kind,
                  std::string_view text, const StrictReading& strict, const LibraryReading& library) {
  Json json{{"file", file}, {"line", place.line}, {"column", place.column}};
  if (job != nullptr) json["job"] = *job;
  json["kind"] = KindName(kind);
  json["text"] = std::string(text);
  const Json state = StateJson(strict.kind, strict.deviations, library, {place.line, place.column});
  for (const auto& field : state.items()) {
    if (field.key() != "kind") json[field.key()] = field.value();
  }
  return json;
}

namespace {

// Writes at the front of a buffer made large enough beforehand, never
// shrunk, so never cleared again: a state of a million volumes is written
// without a check per byte.
class Writer {
 public:
  Writer(std::string* buffer, size_t most) {
    if (buffer->size() < most) buffer->resize(most);
    begin_ = p_ = &(*buffer)[0];
  }
  size_t size() const { return static_cast<size_t>(p_ - begin_); }
  void Put(std::string_view s) {
    std::memcpy(p_, s.data(), s.size());
    p_ += s.size();
  }
  // A word of the format, whose length the compiler knows.
  template <size_t N>
  void Put(const char (&s)[N]) {
    std::memcpy(p_, s, N - 1);
    p_ += N - 1;
  }
  // A number of the text: a few bytes.
  void PutShort(std::string_view s) {
    for (const char c : s) *p_++ = c;
  }
  // The first `n` of the 16 bytes at `s`, all 16 copied: the buffer has
  // room beyond what is written.
  void PutOf16(const char* s, int n) {
    std::memcpy(p_, s, 16);
    p_ += n;
  }
  void Put(size_t n) { p_ = std::to_chars(p_, p_ + 20, n).ptr; }
  void Drop() { --p_; }

 private:
  char* begin_;
  char* p_;
};

// The items of a text as written, as JSON: the text's numbers are written
// as JSON writes them, so they are copied as they stand.
void PutItems(std::string_view items, Family family, Writer* w) {
  std::string_view field[4];
  const size_t fields = family == Family::kJob ? 2 : 4;
  for (const char *p = items.data(), *end = p + items.size(); p < end;) {
    // A job's usual item, "<id>|<offset>@" in 16 bytes, from the places
    // where its numbers stop, found at once.
    if (family == Family::kJob && end - p >= 32) {
      const unsigned stops = NonDigitsOf16(p);
      const int id = __builtin_ctz(stops), stop = __builtin_ctz(stops & (stops - 1));
      if (id > 0 && stop > id + 1 && stop < 16) {
        w->Put("{\"volume\":"), w->PutOf16(p, id), w->Put(",\"offset\":"), w->PutOf16(p + id + 1, stop - id - 1);
        w->Put("},");
        p += stop + 1;
        continue;
      }
    }
    // Each field a number, ended by a separator or the item's terminator.
    for (size_t f = 0; f < fields; ++f) {
      const char* q = p + 1;
      while (IsDigit(*q)) ++q;
      field[f] = std::string_view(p, static_cast<size_t>(q - p));
      p = q + 1;
    }
    if (family == Family::kJob) {
      w->Put("{\"volume\":"), w->PutShort(field[0]), w->Put(",\"offset\":"), w->PutShort(field[1]), w->Put("},");
    } else {
      w->Put("{\"source\":"), w->PutShort(field[1]), w->Put(",\"destination\":"), w->PutShort(field[2]);
      w->Put(",\"copyType\":"), w->PutShort(field[0]), w->Put(",\"offset\":\""), w->PutShort(field[3]), w->Put("\"},");
    }
  }
}

}  // namespace

size_t WriteLogStateAsWritten(std::string_view file, const Place& place, const std::string* job, TextKind kind,
                              std::string_view text, const StrictReading& strict, std::string* buffer) {
  // A text as written holds no byte that JSON escapes; as JSON, each of a
  // job's items takes 22 bytes more, each record 51.
  Writer w(buffer, 256 + file.size() + (job ? job->size() : 0) + 3 * text.size() + 22 * strict.items.size() +
                    51 * strict.records.size());
  w.Put("{\"file\":"), w.Put(file), w.Put(",\"line\":"), w.Put(place.line), w.Put(",\"column\":"), w.Put(place.column);
  if (job != nullptr) w.Put(",\"job\":"), w.Put(*job);
  w.Put(",\"kind\":\""), w.Put(KindName(kind)), w.Put("\",\"text\":\""), w.Put(text);
  w.Put("\",\"wellFormed\":true,\"deviations\":[],");
  const Family family = FamilyOf(kind);
  w.Put(family == Family::kJob ? "\"volumes\":[" : "\"records\":[");
  PutItems(text.substr(family == Family::kJob ? JobItemsAt(text) : 0), family, &w);
  if (!strict.items.empty() || !strict.records.empty()) w.Drop();  // the last item's ','
  // The library renders it as it stands (RenderedAsWritten).
  w.Put("],\"restartString\":\"");
  if (strict.kind == TextKind::kInput) w.Put(jxrestart::internal::kJobRestartPrefix);
  w.Put(text), w.Put("\"}\n");
  return w.size();
}

Json LogJobJson(const std::string& name, const Job& job, const Progress (&progress)[2],
                const std::vector<std::string>& files) {
  Json entry{{"name", name}, {"jobStates", job.tracks[0].states}, {"restarts", job.tracks[0].restarts},
             {"volumeStates", job.tracks[1].states}};
  for (const Family family : {Family::kJob, Family::kVolumes}) {
    const Track& track = job.tracks[static_cast<int>(family)];
    const Progress& shown = progress[static_cast<int>(family)];
    const char* key = family == Family::kJob ? "lastJobRestartString" : "lastVolumeRestartString";
    const char* table = family == Family::kJob ? "volumes" : "sources";
    entry[key] = nullptr;
    entry[table] = Json::array();
    if (track.states == 0) continue;
    entry[key] = {{"file", files[track.lastPlace.file]},
                  {"line", track.lastPlace.line},
                  {"restartString", shown.last.read ? Json(shown.last.rendered()) : Json()}};
    // A job's offsets are numbers, a record's the decimal its string writes.
    const auto offset = [family](uint64_t value) {
      return family == Family::kJob ? Json(static_cast<int64_t>(value)) : Json(OffsetText(value));
    };
    const std::vector<Entry>& firsts = shown.First();
    for (const Entry& e : shown.lasts) {
      const auto first = std::lower_bound(firsts.begin(), firsts.end(), e,
                                          [](const Entry& a, const Entry& b) { return a.id < b.id; });
      const bool seen = first != firsts.end() && first->id == e.id;
      entry[table].push_back(
          {{VolumeWord(family), e.id}, {"first", seen ? offset(first->offset) : Json()}, {"last", offset(e.offset)}});
    }
  }
  return entry;
}

Json PlacedDeviationJson(const std::string& file, const Place& place, size_t offset, const std::string& problem,
                         const std::string& effect) {
  return {{"file", file}, {"line", place.line}, {"column", place.column + offset}, {"problem", problem}, {"effect", effect}};
}

Json LogSummaryJson(const std::vector<std::string>& files, const std::vector<std::string>& unread, size_t lines,
                    size_t states, size_t jobs, size_t deviations, const Json& first) {
  return {{"summary",
           {{"files", files},
            {"unread", unread},
            {"lines", lines},
            {"restartStrings", states},
            {"jobs", jobs},
            {"deviations", deviations},
            {"firstDeviations", first}}}};
}

}  // namespace tool
}  // namespace jxrestart
