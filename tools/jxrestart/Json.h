// The JSON that jxrestart prints (doc/formats.md shows each shape). 32-bit
// values are numbers; 64-bit offsets are strings holding the decimal as the
// volume restart string writes it, so that jq and JavaScript read them
// exactly and a value shown can be typed back in.
#ifndef TOOLS_JXRESTART_JSON_H_
#define TOOLS_JXRESTART_JSON_H_

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <string>

#include "restart/ZNJxRestart.h"
#include "tools/jxrestart/Check.h"

namespace jxrestart {
namespace tool {

using Json = nlohmann::ordered_json;

// An offset of a volume record as the string writes it: its 64 bits as a
// signed number.
inline std::string OffsetText(uint64_t offset) { return std::to_string(static_cast<int64_t>(offset)); }

// Each deviation with its 1-based byte in the text; in a log, with its
// line and 1-based column (`column` is that of the text's first byte).
inline Json DeviationsJson(const Deviations& deviations, size_t line = 0, size_t column = 0) {
  Json list = Json::array();
  for (const Deviation& d : deviations.kept()) {
    Json entry = line == 0 ? Json{{"byte", d.offset + 1}} : Json{{"line", line}, {"column", column + d.offset}};
    entry["problem"] = d.problem;
    entry["effect"] = d.effect;
    list.push_back(std::move(entry));
  }
  return list;
}

inline Json VolumesJson(const std::map<int32_t, int32_t>& offsets) {
  Json list = Json::array();
  for (const auto& entry : offsets) list.push_back({{"volume", entry.first}, {"offset", entry.second}});
  return list;
}

inline Json RecordsJson(const std::map<int32_t, _JxRestartVolumeInfo>& records) {
  Json list = Json::array();
  for (const auto& entry : records) {
    const _JxRestartVolumeInfo& r = entry.second;
    list.push_back({{"source", r.srcVolId},
                    {"destination", r.destVolId},
                    {"copyType", r.copyType},
                    {"offset", OffsetText(r.offset)}});
  }
  return list;
}

}  // namespace tool
}  // namespace jxrestart

#endif  // TOOLS_JXRESTART_JSON_H_
