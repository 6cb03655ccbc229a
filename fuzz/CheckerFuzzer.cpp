// The jxrestart tool's strict reading on any text, against the library:
// every deviation lies inside the text; whenever the strict reading accepts
// a text, the library's reading of it holds exactly the entries read; and
// `set`, given changes drawn from the input, prints a text that is well
// formed and reads back, through the library, to the input's reading with
// exactly those changes. A text that the strict reading finds exactly as
// the library writes it, the library renders again as it stands.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "tools/jxrestart/Set.h"
#include "tools/jxrestart/Examination.h"

namespace tool = jxrestart::tool;

namespace {

void CheckInside(const tool::Deviations& deviations, const std::string& text) {
  FUZZ_CHECK(deviations.kept().size() == std::min(deviations.count(), tool::Deviations::kShown));
  for (size_t i = 0; i < deviations.kept().size(); ++i) {
    FUZZ_CHECK(deviations.kept()[i].offset <= text.size());
    FUZZ_CHECK(i == 0 || deviations.kept()[i - 1].offset <= deviations.kept()[i].offset);
  }
}

// Takes `n` bytes of the input as a number, from its front.
uint64_t Take(const uint8_t** data, size_t* size, size_t n) {
  uint64_t value = 0;
  for (size_t i = 0; i < n && *size > 0; ++i, ++*data, --*size) value = value << 8 | **data;
  return value;
}

void CheckJobSet(const std::string& text, const uint8_t* choice, size_t choices) {
  const tool::LibraryReading before = tool::ReadByLibrary(text, tool::Family::kJob);
  if (!before.read) return;
  std::vector<tool::JobEdit> edits;
  std::map<int32_t, int32_t> expected = before.volumes();
  while (choices >= 5 && edits.size() < 3) {
    const uint8_t pick = *choice;
    const auto offset = static_cast<int32_t>(static_cast<uint32_t>(Take(&choice, &choices, 5)));
    int32_t volume = static_cast<int32_t>(pick) + 1;
    if (pick < 128) {  // one the text holds
      auto it = expected.begin();
      std::advance(it, pick % expected.size());
      volume = it->first;
    }
    const bool add = expected.count(volume) == 0;
    edits.push_back({volume, offset, add});
    expected[volume] = offset;
  }
  if (edits.empty()) return;
  std::string error;
  tool::LibraryReading state = tool::ReadByLibrary(text, tool::Family::kJob);
  if (tool::EditJob(&state, edits, &error) != tool::Edited::kDone) return;  // refused: nothing printed
  const std::string& result = state.rendered();
  // Well formed, but for a volume 0 that only a text not well formed holds
  // (in an item without its '@'), and that the rebuilt string, which closes
  // every item, loses.
  FUZZ_CHECK(tool::ReadStrictly(result, tool::Family::kJob).wellFormed() || expected.count(0) != 0);
  expected.erase(0);
  FUZZ_CHECK(tool::ReadByLibrary(result, tool::Family::kJob).volumes() == expected);
}

void CheckVolumesSet(const std::string& text, const uint8_t* choice, size_t choices) {
  const tool::LibraryReading before = tool::ReadByLibrary(text, tool::Family::kVolumes);
  if (!before.read || choices < 9) return;
  tool::VolumeEdit edit;
  const uint8_t pick = *choice;
  auto it = before.records().begin();
  std::advance(it, pick % before.records().size());
  edit.source = pick < 128 ? it->first : static_cast<int32_t>(Take(&choice, &choices, 4));
  edit.add = before.records().count(edit.source) == 0;
  edit.setOffset = edit.add || pick & 1;
  edit.setDestination = edit.add || pick & 2;
  edit.setCopyType = edit.add || pick & 4;
  edit.offset = Take(&choice, &choices, 8);
  edit.destination = static_cast<int32_t>(Take(&choice, &choices, 4));
  edit.copyType = static_cast<uint8_t>(Take(&choice, &choices, 1));
  std::map<int32_t, _JxRestartVolumeInfo> expected = before.records();
  _JxRestartVolumeInfo& r = expected[edit.source];
  r.srcVolId = edit.source;
  if (edit.setOffset) r.offset = edit.offset;
  if (edit.setDestination) r.destVolId = edit.destination;
  if (edit.setCopyType) r.copyType = edit.copyType;
  std::string error;
  tool::LibraryReading state = tool::ReadByLibrary(text, tool::Family::kVolumes);
  if (tool::EditVolumes(&state, edit, &error) != tool::Edited::kDone) return;
  const std::string& result = state.rendered();
  FUZZ_CHECK(tool::ReadStrictly(result, tool::Family::kVolumes).wellFormed());
  const auto after = tool::ReadByLibrary(result, tool::Family::kVolumes).records();
  FUZZ_CHECK(after.size() == expected.size());
  for (const auto& e : expected) {
    const _JxRestartVolumeInfo& a = after.at(e.first);
    FUZZ_CHECK(a.copyType == e.second.copyType && a.destVolId == e.second.destVolId && a.offset == e.second.offset);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  const tool::StrictReading job = tool::ReadStrictly(text, tool::Family::kJob);
  CheckInside(job.deviations, text);
  const tool::LibraryReading library = tool::ReadByLibrary(text, tool::Family::kJob);
  if (job.wellFormed()) {
    FUZZ_CHECK(library.read && !job.items.empty());
    FUZZ_CHECK((library.volumes() == std::map<int32_t, int32_t>(job.items.begin(), job.items.end())));
    FUZZ_CHECK(library.volumes().size() == job.items.size());
  }
  if (job.asWritten) FUZZ_CHECK(job.wellFormed() && library.rendered() == tool::RenderedAsWritten(text, job));

  const tool::StrictReading volumes = tool::ReadStrictly(text, tool::Family::kVolumes);
  CheckInside(volumes.deviations, text);
  if (volumes.wellFormed()) {
    const tool::LibraryReading read = tool::ReadByLibrary(text, tool::Family::kVolumes);
    FUZZ_CHECK(read.read && read.records().size() == volumes.records.size());
    for (const _JxRestartVolumeInfo& r : volumes.records) {
      const _JxRestartVolumeInfo& l = read.records().at(r.srcVolId);
      FUZZ_CHECK(l.copyType == r.copyType && l.destVolId == r.destVolId && l.offset == r.offset);
    }
    FUZZ_CHECK(read.rendered().size() <= text.size());
    if (volumes.asWritten) FUZZ_CHECK(read.rendered() == tool::RenderedAsWritten(text, volumes));
  }

  // The changes come from the text's first bytes; the text is the rest.
  const size_t split = size > 0 ? data[0] % 32 : 0;
  if (split < size) {
    const std::string rest = text.substr(split);
    CheckJobSet(rest, data, split);
    CheckVolumesSet(rest, data, split);
  }
  return 0;
}
