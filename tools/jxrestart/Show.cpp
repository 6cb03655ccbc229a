// show and check: one text, examined once, and its examination formatted.
#include <iostream>
#include <string>

#include "tools/jxrestart/Show.h"
#include "tools/jxrestart/Texts.h"
#include "tools/jxrestart/Json.h"
#include "tools/jxrestart/Table.h"

namespace jxrestart {
namespace tool {

namespace {

void PrintState(const LibraryReading& library, Family family) {
  if (family == Family::kJob) {
    Table table({"volume", "offset"});
    for (const auto& entry : library.volumes()) table.Add({std::to_string(entry.first), std::to_string(entry.second)});
    table.Print(std::cout);
    const size_t count = library.volumes().size();
    std::cout << count << (count == 1 ? " volume\n" : " volumes\n");
  } else {
    Table table({"source", "destination", "copy type", "offset"});
    for (const auto& entry : library.records()) {
      const _JxRestartVolumeInfo& r = entry.second;
      table.Add(
          {std::to_string(r.srcVolId), std::to_string(r.destVolId), std::to_string(r.copyType), OffsetText(r.offset)});
    }
    table.Print(std::cout);
    const size_t count = library.records().size();
    std::cout << count << (count == 1 ? " record\n" : " records\n");
  }
  std::cout << library.rendered() << '\n';
}

bool Empty(const Text& text) { return text.bytes.empty(); }

}  // namespace

int ShowText(const Invocation& invocation, const Text& text, Family family) {
  if (WrongKind(text, family, "show")) return kExitTrouble;
  if (Empty(text)) return Fail(kExitInvalid, text.name + ": the text is empty");
  const Examination e = Examine(text.bytes, family);
  ReportDeviations(text.name, e.strict.deviations);
  HintQuoting(text, family, e.strict);
  if (!e.library.read) return Fail(kExitInvalid, text.name + ": " + e.library.refusal);
  if (invocation.json) {
    std::cout << StateJson(e.strict.kind, e.strict.deviations, e.library).dump(2) << '\n';
  } else {
    PrintState(e.library, family);
  }
  return StatusFor(invocation, text.name, e.strict.deviations);
}

int CheckText(const Invocation& invocation, const Text& text, Family family) {
  if (WrongKind(text, family, "check")) return kExitTrouble;
  if (Empty(text)) return Fail(kExitInvalid, text.name + ": the text is empty");
  const StrictReading strict = ReadStrictly(text.bytes, family);
  if (invocation.json) {
    std::cout << CheckJson(strict).dump(2) << '\n';
  } else {
    ReportDeviations(text.name, strict.deviations);
    HintQuoting(text, family, strict);
    if (!strict.wellFormed()) Warn(text.name + ": not a well-formed " + KindName(strict.kind));
  }
  return strict.wellFormed() ? kExitOk : kExitInvalid;
}

int Show(const Invocation& invocation) {
  Text text;
  if (!ReadText(invocation.sources[0], false, &text)) return kExitTrouble;
  if (invocation.family) return ShowText(invocation, text, *invocation.family);
  const TextKind kind = KindOf(text.bytes);
  return kind == TextKind::kUnknown ? NotOneText(text, "show") : ShowText(invocation, text, FamilyOf(kind));
}

int Check(const Invocation& invocation) {
  Text text;
  if (!ReadText(invocation.sources[0], false, &text)) return kExitTrouble;
  if (invocation.family) return CheckText(invocation, text, *invocation.family);
  const TextKind kind = KindOf(text.bytes);
  return kind == TextKind::kUnknown ? NotOneText(text, "check") : CheckText(invocation, text, FamilyOf(kind));
}

}  // namespace tool
}  // namespace jxrestart
