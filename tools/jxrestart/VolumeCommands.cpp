// "volumes show" and "volumes check": volume restart strings, read by
// ZNJxRestart.
#include <cstdint>
#include <cstring>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>

#include "restart/ZNJxRestart.h"
#include "restart/internal/TextFormat.h"
#include "restart/internal/VolumeItem.h"
#include "tools/jxrestart/Command.h"
#include "tools/jxrestart/Table.h"

namespace jxrestart {
namespace tool {

namespace {

using Json = nlohmann::ordered_json;

using jxrestart::internal::kShortestReadableText;

std::string TooShort(const Text& text) {
  return text.name + ": too short to be read (a volume restart string is longer than 5 bytes)";
}

// Where the library's reader stopped, and how many items it read before.
struct Stop {
  size_t position;  // 1-based byte offset of the item in the text
  size_t accepted;  // items read before it
  std::string item;
};

Stop FindStop(const std::string& text) {
  using namespace jxrestart::internal;
  VolumeItem item;
  size_t accepted = 0;
  for (const char* next = SkipLeadingSpaces(text.c_str());; next = item.end + 1, ++accepted) {
    const ItemRead read = ReadVolumeItem(next, &item);
    if (read == ItemRead::kInvalid) {
      return {static_cast<size_t>(item.begin - text.c_str()) + 1, accepted, std::string(item.begin, item.end)};
    }
    if (read == ItemRead::kNone) return {0, accepted, std::string()};  // not reached for a refused text
  }
}

}  // namespace

int VolumesShow(const Invocation& invocation) {
  std::vector<Text> texts;
  if (!ReadTexts(invocation.sources, &texts)) return kExitTrouble;
  const Text& text = texts[0];
  WarnAboutNul(text);
  if (std::strlen(text.bytes.c_str()) < kShortestReadableText) return Fail(kExitInvalid, TooShort(text));
  ZNJxRestart table(text.bytes.c_str());
  if (!table.isValid)
    return Fail(kExitInvalid, text.name + ": invalid volume restart string (see 'jxrestart volumes check')");
  std::string rendered;
  if (!table.GetCurrentRestartString(rendered)) return Fail(kExitInvalid, text.name + ": no record in the text");
  if (invocation.json) {
    Json records = Json::array();
    for (const auto& entry : table.volumeInfoMap) {
      const _JxRestartVolumeInfo& r = entry.second;
      records.push_back(
          {{"source", r.srcVolId}, {"destination", r.destVolId}, {"copyType", r.copyType}, {"offset", r.offset}});
    }
    std::cout << Json{{"records", records}, {"restartString", rendered}}.dump(2) << '\n';
    return kExitOk;
  }
  Table out({"source", "destination", "copy type", "offset"});
  for (const auto& entry : table.volumeInfoMap) {
    const _JxRestartVolumeInfo& r = entry.second;
    out.Add({std::to_string(r.srcVolId), std::to_string(r.destVolId), std::to_string(r.copyType),
             std::to_string(r.offset)});
  }
  out.Print(std::cout);
  const size_t count = table.volumeInfoMap.size();
  std::cout << count << (count == 1 ? " record\n" : " records\n") << rendered << '\n';
  return kExitOk;
}

int VolumesCheck(const Invocation& invocation) {
  std::vector<Text> texts;
  if (!ReadTexts(invocation.sources, &texts)) return kExitTrouble;
  const Text& text = texts[0];
  WarnAboutNul(text);
  const std::string bytes = text.bytes.c_str();
  if (bytes.size() < kShortestReadableText) return Fail(kExitInvalid, TooShort(text));
  if (ZNJxRestart(bytes.c_str()).isValid) return kExitOk;
  const Stop stop = FindStop(bytes);
  return Fail(kExitInvalid, text.name + ": invalid item \"" + Printable(stop.item) + "\" at byte " +
                                std::to_string(stop.position) + " (an item needs four fields split by '|'); " +
                                std::to_string(stop.accepted) + (stop.accepted == 1 ? " item" : " items") +
                                " accepted before it");
}

}  // namespace tool
}  // namespace jxrestart
