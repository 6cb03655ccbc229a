// "job show" and "job diff": job restart strings, read by JxRestartability.
#include <cstdint>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>

#include "restart/JxRestartability.h"
#include "restart/internal/TextFormat.h"
#include "tools/jxrestart/Command.h"
#include "tools/jxrestart/Table.h"

namespace jxrestart {
namespace tool {

namespace {

using Json = nlohmann::ordered_json;
using Offsets = std::map<int32_t, int32_t>;

struct JobState {
  Offsets offsets;
  std::string restartString;
};

// Hands the items of a job restart string (or of a restart input, which
// lacks the "-Restart " the tracker writes) to the tracker. Returns false
// when the tracker stores nothing.
bool ReadJob(const Text& text, JobState* state) {
  WarnAboutNul(text);
  std::string items = text.bytes.c_str();
  const size_t start = items.find_first_not_of(' ');
  const std::string prefix = jxrestart::internal::kJobRestartPrefix;
  if (start != std::string::npos && items.compare(start, prefix.size(), prefix) == 0) {
    items.erase(0, start + prefix.size());
  }
  JxRestartability tracker;
  if (!tracker.ParseRestartInputFromJM(&items[0])) return false;
  state->offsets = tracker.volumeOffsetMap;
  state->restartString = tracker.restartString;
  return true;
}

bool ReadJobOrReport(const Text& text, JobState* state) {
  if (ReadJob(text, state)) return true;
  Fail(kExitInvalid, text.name + ": no volume in the text");
  return false;
}

}  // namespace

int JobShow(const Invocation& invocation) {
  std::vector<Text> texts;
  if (!ReadTexts(invocation.sources, &texts)) return kExitTrouble;
  JobState state;
  if (!ReadJobOrReport(texts[0], &state)) return kExitInvalid;
  if (invocation.json) {
    Json volumes = Json::array();
    for (const auto& entry : state.offsets) volumes.push_back({{"volume", entry.first}, {"offset", entry.second}});
    std::cout << Json{{"volumes", volumes}, {"restartString", state.restartString}}.dump(2) << '\n';
    return kExitOk;
  }
  Table table({"volume", "offset"});
  for (const auto& entry : state.offsets) table.Add({std::to_string(entry.first), std::to_string(entry.second)});
  table.Print(std::cout);
  std::cout << state.offsets.size() << (state.offsets.size() == 1 ? " volume\n" : " volumes\n") << state.restartString
            << '\n';
  return kExitOk;
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

void PrintJson(const std::vector<Change>& changes, size_t counts[]) {
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
  std::cout << json.dump(2) << '\n';
}

}  // namespace

int JobDiff(const Invocation& invocation) {
  std::vector<Text> texts;
  if (!ReadTexts(invocation.sources, &texts)) return kExitTrouble;
  JobState before, after;
  if (!ReadJobOrReport(texts[0], &before) || !ReadJobOrReport(texts[1], &after)) return kExitTrouble;
  const std::vector<Change> changes = Compare(before.offsets, after.offsets);
  size_t counts[5] = {};
  int64_t advancedBy = 0;
  for (const Change& c : changes) {
    ++counts[c.kind];
    if (c.kind == Change::kAdvanced) advancedBy += c.after - c.before;
  }
  const bool same = counts[Change::kUnchanged] == changes.size();
  if (invocation.json) {
    PrintJson(changes, counts);
  } else {
    PrintChanges(changes);
    std::cout << counts[Change::kAdded] << " added, " << counts[Change::kRemoved] << " removed, "
              << counts[Change::kAdvanced] << " advanced (by " << advancedBy << " in all), "
              << counts[Change::kGoneBack] << " gone back, " << counts[Change::kUnchanged] << " unchanged\n";
  }
  return same ? kExitOk : kExitInvalid;
}

}  // namespace tool
}  // namespace jxrestart
