// "volume show" and "volumes check": volume restart strings, checked against
// the grammar and read by ZNJxRestart.
#include <iostream>
#include <string>

#include "tools/jxrestart/Command.h"
#include "tools/jxrestart/Json.h"
#include "tools/jxrestart/Reading.h"
#include "tools/jxrestart/Table.h"

namespace jxrestart {
namespace tool {

int ShowVolumes(const Invocation& invocation, const Text& text) {
  if (WrongKind(text, false, "show")) return kExitTrouble;
  const VolumeReading reading = CheckVolumes(text.bytes);
  ReportDeviations(text.name, reading.deviations);
  const VolumeState state = ReadVolumes(text.bytes);
  if (!state.read) return Fail(kExitInvalid, text.name + ": too short for the library to read");
  if (!state.valid) return Fail(kExitInvalid, text.name + ": the library refuses this volume restart string");
  if (state.records.empty()) return Fail(kExitInvalid, text.name + ": no record in the text");
  if (invocation.json) {
    std::cout << Json{{"kind", KindName(TextKind::kVolumes)},
                      {"wellFormed", reading.deviations.empty()},
                      {"deviations", DeviationsJson(reading.deviations)},
                      {"records", RecordsJson(state.records)},
                      {"restartString", state.restartString}}
                     .dump(2)
              << '\n';
  } else {
    Table out({"source", "destination", "copy type", "offset"});
    for (const auto& entry : state.records) {
      const _JxRestartVolumeInfo& r = entry.second;
      out.Add(
          {std::to_string(r.srcVolId), std::to_string(r.destVolId), std::to_string(r.copyType), OffsetText(r.offset)});
    }
    out.Print(std::cout);
    const size_t count = state.records.size();
    std::cout << count << (count == 1 ? " record\n" : " records\n") << state.restartString << '\n';
  }
  return StatusFor(invocation, text.name, reading.deviations);
}

int CheckVolumeText(const Invocation& invocation, const Text& text) {
  if (WrongKind(text, false, "check")) return kExitTrouble;
  return ReportCheck(invocation, text, KindName(TextKind::kVolumes), CheckVolumes(text.bytes).deviations);
}

int VolumesShow(const Invocation& invocation, const std::vector<Text>& texts) {
  return ShowVolumes(invocation, texts[0]);
}
int VolumesCheck(const Invocation& invocation, const std::vector<Text>& texts) {
  return CheckVolumeText(invocation, texts[0]);
}

namespace {

// Runs the job or the volumes form of a command, by the kind of the text.
int ByKind(const Invocation& invocation, const Text& text, const char* action,
           int (*job)(const Invocation&, const Text&), int (*volumes)(const Invocation&, const Text&)) {
  switch (KindOf(text.bytes)) {
    case TextKind::kJob:
    case TextKind::kInput:
      return job(invocation, text);
    case TextKind::kVolumes:
      return volumes(invocation, text);
    case TextKind::kUnknown:
      break;
  }
  return Fail(kExitTrouble,
              text.name +
                  ": neither a job restart string ('-Restart ', items closed by '@') nor a volume restart "
                  "string (records closed by '$'); use 'jxrestart job " +
                  action + "' or 'jxrestart volumes " + action + "'");
}

}  // namespace

int AnyShow(const Invocation& invocation, const std::vector<Text>& texts) {
  return ByKind(invocation, texts[0], "show", ShowJob, ShowVolumes);
}
int AnyCheck(const Invocation& invocation, const std::vector<Text>& texts) {
  return ByKind(invocation, texts[0], "check", CheckJobText, CheckVolumeText);
}

}  // namespace tool
}  // namespace jxrestart
