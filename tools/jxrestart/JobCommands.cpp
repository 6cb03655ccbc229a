// "job show", "job check" and "job diff": job restart strings and restart
// inputs, checked against the grammar and read by JxRestartability.
#include <cstdint>
#include <iostream>
#include <map>
#include <string>

#include "tools/jxrestart/Command.h"
#include "tools/jxrestart/Json.h"
#include "tools/jxrestart/Reading.h"
#include "tools/jxrestart/Table.h"

namespace jxrestart {
namespace tool {

namespace {

using Offsets = std::map<int32_t, int32_t>;

// Checks `text`, reports its deviations and reads it as the library does.
// Returns false, after reporting, when the library reads no volume from it.
bool CheckAndRead(const Text& text, JobReading* reading, JobState* state) {
  *reading = CheckJob(text.bytes);
  ReportDeviations(text.name, reading->deviations);
  if (ReadJob(text.bytes, state)) return true;
  Fail(kExitInvalid, text.name + ": no volume in the text");
  return false;
}

const char* KindOfReading(const JobReading& reading) {
  return KindName(reading.prefixed ? TextKind::kJob : TextKind::kInput);
}

}  // namespace

int ShowJob(const Invocation& invocation, const Text& text) {
  if (WrongKind(text, true, "show")) return kExitTrouble;
  JobReading reading;
  JobState state;
  if (!CheckAndRead(text, &reading, &state)) return kExitInvalid;
  if (invocation.json) {
    std::cout << Json{{"kind", KindOfReading(reading)},
                      {"wellFormed", reading.deviations.empty()},
                      {"deviations", DeviationsJson(reading.deviations)},
                      {"volumes", VolumesJson(state.offsets)},
                      {"restartString", state.restartString}}
                     .dump(2)
              << '\n';
  } else {
    Table table({"volume", "offset"});
    for (const auto& entry : state.offsets) table.Add({std::to_string(entry.first), std::to_string(entry.second)});
    table.Print(std::cout);
    std::cout << state.offsets.size() << (state.offsets.size() == 1 ? " volume\n" : " volumes\n") << state.restartString
              << '\n';
  }
  return StatusFor(invocation, text.name, reading.deviations);
}

int CheckJobText(const Invocation& invocation, const Text& text) {
  if (WrongKind(text, true, "check")) return kExitTrouble;
  const JobReading reading = CheckJob(text.bytes);
  return ReportCheck(invocation, text, KindOfReading(reading), reading.deviations);
}

int JobShow(const Invocation& invocation, const std::vector<Text>& texts) { return ShowJob(invocation, texts[0]); }
int JobCheck(const Invocation& invocation, const std::vector<Text>& texts) {
  return CheckJobText(invocation, texts[0]);
}

namespace {

// How one volume's offset changed from the old state to the new one.
struct Change {
  enum Kind { kAdded, kRemoved, kAdvanced, kGoneBack, kUnchanged } kind;
  int32_t volume;
  int64_t before;  // old offset (removed, advanced, gone back, unchanged)
  int64_t after;   // new offset (added, advanced, gone back, unchanged)
};

const char* const kKindNames[] = {"added", "removed", "advanced", "gone back", "unchanged"};
const char* const kJsonNames[] = {"added", "removed", "advanced", "goneBack", "unchanged"};

std::vector<Change> Compare(const Offsets& before, const Offsets& after) {
  std::vector<Change> changes;
  auto old = before.begin();
  auto now = after.begin();
  while (old != before.end() || now != after.end()) {
    if (now == after.end() || (old != before.end() && old->first < now->first)) {
      changes.push_back({Change::kRemoved, old->first, old->second, 0});
      ++old;
    } else if (old == before.end() || now->first < old->first) {
      changes.push_back({Change::kAdded, now->first, 0, now->second});
      ++now;
    } else {
      const Change::Kind kind = now->second > old->second   ? Change::kAdvanced
                                : now->second < old->second ? Change::kGoneBack
                                                            : Change::kUnchanged;
      changes.push_back({kind, old->first, old->second, now->second});
      ++old;
      ++now;
    }
  }
  return changes;
}

std::string Signed(int64_t value) { return (value > 0 ? "+" : "") + std::to_string(value); }

void PrintChanges(const std::vector<Change>& changes) {
  Table table({"change", "volume", "old", "new", "by"}, 1);
  bool any = false;
  for (const Change& c : changes) {
    if (c.kind == Change::kUnchanged) continue;
    any = true;
    const bool hasOld = c.kind != Change::kAdded;
    const bool hasNew = c.kind != Change::kRemoved;
    table.Add({kKindNames[c.kind], std::to_string(c.volume), hasOld ? std::to_string(c.before) : "-",
               hasNew ? std::to_string(c.after) : "-", hasOld && hasNew ? Signed(c.after - c.before) : ""});
  }
  if (any) table.Print(std::cout);
}

void PrintJson(const std::vector<Change>& changes, const size_t counts[], const JobReading& before,
               const JobReading& after) {
  Json json = Json::object();
  json["same"] = counts[Change::kUnchanged] == changes.size();
  for (const char* name : kJsonNames) json[name] = Json::array();
  for (const Change& c : changes) {
    Json entry{{"volume", c.volume}};
    if (c.kind != Change::kAdded) entry["old"] = c.before;
    if (c.kind != Change::kRemoved) entry["new"] = c.after;
    if (c.kind == Change::kAdvanced || c.kind == Change::kGoneBack) entry["by"] = c.after - c.before;
    json[kJsonNames[c.kind]].push_back(entry);
  }
  json["wellFormed"] = {{"old", before.deviations.empty()}, {"new", after.deviations.empty()}};
  json["deviations"] = {{"old", DeviationsJson(before.deviations)}, {"new", DeviationsJson(after.deviations)}};
  std::cout << json.dump(2) << '\n';
}

}  // namespace

int JobDiff(const Invocation& invocation, const std::vector<Text>& texts) {
  JobReading readings[2];
  JobState states[2];
  for (int i = 0; i < 2; ++i) {
    if (WrongKind(texts[i], true, "show")) return kExitTrouble;
    if (!CheckAndRead(texts[i], &readings[i], &states[i])) return kExitTrouble;
  }
  const std::vector<Change> changes = Compare(states[0].offsets, states[1].offsets);
  size_t counts[5] = {};
  int64_t advancedBy = 0;
  for (const Change& c : changes) {
    ++counts[c.kind];
    if (c.kind == Change::kAdvanced) advancedBy += c.after - c.before;
  }
  const bool same = counts[Change::kUnchanged] == changes.size();
  if (invocation.json) {
    PrintJson(changes, counts, readings[0], readings[1]);
  } else {
    PrintChanges(changes);
    std::cout << counts[Change::kAdded] << " added, " << counts[Change::kRemoved] << " removed, "
              << counts[Change::kAdvanced] << " advanced (by " << advancedBy << " in all), "
              << counts[Change::kGoneBack] << " gone back, " << counts[Change::kUnchanged] << " unchanged\n";
  }
  // A text that is not well formed is trouble here: 1 says the states differ.
  int status = same ? kExitOk : kExitInvalid;
  for (int i = 0; i < 2; ++i) {
    const int textStatus = StatusFor(invocation, texts[i].name, readings[i].deviations, kExitTrouble);
    if (textStatus != kExitOk) status = textStatus;
  }
  return status;
}

}  // namespace tool
}  // namespace jxrestart
