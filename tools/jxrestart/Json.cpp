#include "tools/jxrestart/Json.h"

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

Json StateJson(const Examination& e, Family family, const LogPlace& place) {
  Json json{{"kind", KindName(e.strict.kind)}};
  AddDeviations(e.strict.deviations, place, &json);
  Json list = Json::array();
  if (family == Family::kJob) {
    for (const auto& entry : e.library.volumes) list.push_back({{"volume", entry.first}, {"offset", entry.second}});
    json["volumes"] = std::move(list);
  } else {
    if (e.library.read) {
      for (const auto& entry : e.library.records) list.push_back(RecordJson(entry.second));
    }
    json["records"] = std::move(list);
  }
  json["restartString"] = e.library.read ? Json(e.library.rendered) : Json();
  return json;
}

Json CheckJson(const StrictReading& strict) {
  Json json{{"kind", KindName(strict.kind)}};
  AddDeviations(strict.deviations, LogPlace(), &json);
  return json;
}

}  // namespace tool
}  // namespace jxrestart
