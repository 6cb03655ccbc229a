// diff: two states, each examined once, as restarted jobs read them; a
// state file of the example job manager gives a state of each kind.
#include <algorithm>
#include <cstdint>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "tools/jxrestart/Diff.h"
#include "tools/jxrestart/Texts.h"
#include "tools/jxrestart/Json.h"
#include "tools/jxrestart/Table.h"

namespace jxrestart {
namespace tool {

namespace {

std::string Signed(int64_t value) { return (value > 0 ? "+" : "") + std::to_string(value); }

// How each volume's offset changed.
struct JobChange {
  enum Kind { kAdded, kRemoved, kAdvanced, kGoneBack, kUnchanged } kind;
  int32_t volume;
  int64_t before, after;
};
const char* const kJobKinds[] = {"added", "removed", "advanced", "gone back", "unchanged"};
const char* const kJobJson[] = {"added", "removed", "advanced", "goneBack", "unchanged"};

// Walks two ordered maps in step: each key of either, once.
template <class Map, class Visit>
void Merge(const Map& before, const Map& after, Visit visit) {
  auto old = before.begin();
  auto now = after.begin();
  while (old != before.end() || now != after.end()) {
    if (now == after.end() || (old != before.end() && old->first < now->first)) {
      visit(&old->second, nullptr, old->first);
      ++old;
    } else if (old == before.end() || now->first < old->first) {
      visit(nullptr, &now->second, now->first);
      ++now;
    } else {
      visit(&old->second, &now->second, old->first);
      ++old;
      ++now;
    }
  }
}

// Prints the changes between two job states; returns whether they differ.
bool DiffJobs(const Invocation& invocation, const LibraryReading& a, const LibraryReading& b, Json* json) {
  std::vector<JobChange> changes;
  Merge(a.volumes(), b.volumes(), [&changes](const int32_t* old, const int32_t* now, int32_t volume) {
    if (old == nullptr) return changes.push_back({JobChange::kAdded, volume, 0, *now});
    if (now == nullptr) return changes.push_back({JobChange::kRemoved, volume, *old, 0});
    const auto kind = *now > *old ? JobChange::kAdvanced : *now < *old ? JobChange::kGoneBack : JobChange::kUnchanged;
    changes.push_back({kind, volume, *old, *now});
  });
  size_t counts[5] = {};
  int64_t advancedBy = 0;
  for (const JobChange& c : changes) {
    ++counts[c.kind];
    if (c.kind == JobChange::kAdvanced) advancedBy += c.after - c.before;
  }
  const bool same = counts[JobChange::kUnchanged] == changes.size();
  if (invocation.json) {
    (*json)["same"] = same;
    for (const char* name : kJobJson) (*json)[name] = Json::array();
    for (const JobChange& c : changes) {
      (*json)[kJobJson[c.kind]].push_back(JobChangeJson(c.volume, c.kind != JobChange::kAdded ? &c.before : nullptr,
                                                        c.kind != JobChange::kRemoved ? &c.after : nullptr));
    }
    return !same;
  }
  Table table({"change", "volume", "old", "new", "by"}, 1);
  for (const JobChange& c : changes) {
    if (c.kind == JobChange::kUnchanged) continue;
    const bool hasOld = c.kind != JobChange::kAdded, hasNew = c.kind != JobChange::kRemoved;
    table.Add({kJobKinds[c.kind], std::to_string(c.volume), hasOld ? std::to_string(c.before) : "-",
               hasNew ? std::to_string(c.after) : "-", hasOld && hasNew ? Signed(c.after - c.before) : ""});
  }
  if (!same) table.Print(std::cout);
  std::cout << counts[JobChange::kAdded] << " added, " << counts[JobChange::kRemoved] << " removed, "
            << counts[JobChange::kAdvanced] << " advanced (by " << advancedBy << " in all), "
            << counts[JobChange::kGoneBack] << " gone back, " << counts[JobChange::kUnchanged] << " unchanged\n";
  return !same;
}

std::string RecordText(const _JxRestartVolumeInfo& r) {
  return std::to_string(r.copyType) + "|" + std::to_string(r.srcVolId) + "|" + std::to_string(r.destVolId) + "|" +
         OffsetText(r.offset);
}

// Prints the changes between two volume states; returns whether they differ.
bool DiffVolumes(const Invocation& invocation, const LibraryReading& a, const LibraryReading& b, Json* json) {
  Table table({"change", "field", "source", "old", "new"}, 2);
  Json added = Json::array(), removed = Json::array(), changed = Json::array(), unchanged = Json::array();
  size_t fields = 0, changedRecords = 0;
  using Record = _JxRestartVolumeInfo;
  Merge(a.records(), b.records(), [&](const Record* old, const Record* now, int32_t source) {
    const std::string id = std::to_string(source);
    if (old == nullptr || now == nullptr) {
      const Record& r = old ? *old : *now;
      (old ? removed : added).push_back(RecordJson(r));
      table.Add({old ? "removed" : "added", "", id, old ? RecordText(r) : "-", old ? "-" : RecordText(r)});
      return;
    }
    const struct {
      const char* name;
      const char* jsonName;
      bool differs;
      Json before, after;
      std::string shownBefore, shownAfter;
    } kFields[] = {
        {"destination", "destination", old->destVolId != now->destVolId, old->destVolId, now->destVolId,
         std::to_string(old->destVolId), std::to_string(now->destVolId)},
        {"copy type", "copyType", old->copyType != now->copyType, old->copyType, now->copyType,
         std::to_string(old->copyType), std::to_string(now->copyType)},
        {"offset", "offset", old->offset != now->offset, OffsetText(old->offset), OffsetText(now->offset),
         OffsetText(old->offset), OffsetText(now->offset)},
    };
    bool any = false;
    for (const auto& f : kFields) {
      if (!f.differs) continue;
      any = true;
      ++fields;
      changed.push_back(FieldChangeJson(source, f.jsonName, f.before, f.after));
      table.Add({"changed", f.name, id, f.shownBefore, f.shownAfter});
    }
    changedRecords += any;
    if (!any) unchanged.push_back(source);
  });
  const bool same = added.empty() && removed.empty() && changed.empty();
  if (invocation.json) {
    *json = VolumesDiffJson(same, std::move(added), std::move(removed), std::move(changed), std::move(unchanged));
    return !same;
  }
  if (!same) table.Print(std::cout);
  std::cout << added.size() << " added, " << removed.size() << " removed, " << changedRecords << " changed ("
            << Plural(fields, "field", "fields") << "), " << unchanged.size() << " unchanged\n";
  return !same;
}

// The two sides of a diff in one family: examined, their deviations
// reported. Returns the status so far: 2 when a side cannot be compared.
int DiffFamily(const Invocation& invocation, const std::string texts[2], const std::string names[2], Family family,
               Json* json) {
  Examination sides[2];
  for (int i = 0; i < 2; ++i) {
    sides[i] = Examine(texts[i], family);
    ReportDeviations(names[i], sides[i].strict.deviations);
    if (!sides[i].library.read) return Fail(kExitTrouble, names[i] + ": " + sides[i].library.refusal);
  }
  const bool differ = family == Family::kJob ? DiffJobs(invocation, sides[0].library, sides[1].library, json)
                                             : DiffVolumes(invocation, sides[0].library, sides[1].library, json);
  if (invocation.json) AddSides(sides[0].strict.deviations, sides[1].strict.deviations, json);
  // A text that is not well formed is trouble here: 1 says the states differ.
  int status = differ ? kExitInvalid : kExitOk;
  for (int i = 0; i < 2; ++i) {
    const int textStatus = StatusFor(invocation, names[i], sides[i].strict.deviations, kExitTrouble);
    if (textStatus != kExitOk) status = textStatus;
  }
  return status;
}

// Reads OLD and NEW, state files allowed, naming each for messages.
bool ReadSides(const Invocation& invocation, Text sides[2]) {
  for (int i = 0; i < 2; ++i) {
    if (!ReadText(invocation.sources[i], true, &sides[i])) return false;
    const std::string role = i == 0 ? "OLD" : "NEW";
    sides[i].name = invocation.sources[i].kind == Source::kArgument ? role : role + " (" + sides[i].name + ")";
  }
  return true;
}

// The text of `family` that a side holds, or false after saying why not.
bool PartOf(const Text& side, Family family, std::string* text) {
  if (side.stateFile) {
    *text = family == Family::kJob ? side.bytes : side.second;
    return true;
  }
  if (WrongKind(side, family, "diff")) return false;
  *text = side.bytes;
  return true;
}

int Compare(const Invocation& invocation, const Text sides[2], Family family, Json* json) {
  std::string texts[2];
  for (int i = 0; i < 2; ++i) {
    if (!PartOf(sides[i], family, &texts[i])) return kExitTrouble;
  }
  const std::string names[2] = {sides[0].name, sides[1].name};
  return DiffFamily(invocation, texts, names, family, json);
}

// Prints the JSON of what was compared, if anything was.
int Finish(const Invocation& invocation, const Json& json, int status) {
  if (invocation.json && !json.empty()) std::cout << json.dump(2) << '\n';
  return status;
}

}  // namespace

int Diff(const Invocation& invocation) {
  Text sides[2];
  if (!ReadSides(invocation, sides)) return kExitTrouble;
  if (invocation.family) {
    Json json = Json::object();
    return Finish(invocation, json, Compare(invocation, sides, *invocation.family, &json));
  }
  if (!sides[0].stateFile || !sides[1].stateFile) {
    const Text& single = sides[0].stateFile ? sides[1] : sides[0];
    const TextKind kind = KindOf(single.bytes);
    if (kind == TextKind::kUnknown) return NotOneText(single, "diff");
    Json json = Json::object();
    return Finish(invocation, json, Compare(invocation, sides, FamilyOf(kind), &json));
  }
  // Two state files: both kinds, one after the other.
  Json json = Json::object();
  int status = kExitOk;
  for (const Family family : {Family::kJob, Family::kVolumes}) {
    if (!invocation.json) std::cout << (family == Family::kJob ? "job restart strings:\n" : "\nvolume restart strings:\n");
    Json part = Json::object();
    status = std::max(status, Compare(invocation, sides, family, &part));
    if (!part.empty()) json[family == Family::kJob ? "job" : "volumes"] = std::move(part);
  }
  return Finish(invocation, json, status);
}

}  // namespace tool
}  // namespace jxrestart
