#include "tools/jxrestart/Json.h"

#include <algorithm>

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
