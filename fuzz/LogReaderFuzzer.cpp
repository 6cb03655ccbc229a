// The jxrestart tool's log reader on any log: every text it finds stands
// in its line where it says, every deviation lies inside the text, and the
// state it shows is the one the library reads from the text.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "tools/jxrestart/LogReader.h"
#include "tools/jxrestart/Reading.h"

namespace tool = jxrestart::tool;

namespace {

using Offsets = std::map<int32_t, int64_t>;

// What the library reads from the text, as the log would show it.
bool LibraryReading(const tool::FoundText& found, Offsets* offsets) {
  if (found.kind == tool::TextKind::kVolumes) {
    const tool::VolumeState state = tool::ReadVolumes(found.text);
    for (const auto& entry : state.records) (*offsets)[entry.first] = static_cast<int64_t>(entry.second.offset);
    return state.valid && !state.records.empty();
  }
  tool::JobState state;
  const bool read = tool::ReadJob(found.text, &state);
  offsets->insert(state.offsets.begin(), state.offsets.end());
  return read;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string log(reinterpret_cast<const char*>(data), size);
  std::vector<tool::FoundText> found;
  tool::Progress progress;
  for (size_t start = 0; start <= log.size();) {
    size_t end = log.find('\n', start);
    if (end == std::string::npos) end = log.size();
    found.clear();
    tool::FindTexts(log.data() + start, end - start, &found);
    for (const tool::FoundText& text : found) {
      FUZZ_CHECK(text.column >= 1 && log.compare(start + text.column - 1, text.text.size(), text.text) == 0);
      const tool::LogState state = tool::StateOf(text);
      for (const tool::Deviation& d : state.deviations.kept()) FUZZ_CHECK(d.offset <= text.text.size());
      Offsets library;
      FUZZ_CHECK(state.read == LibraryReading(text, &library));
      if (state.read) {
        FUZZ_CHECK(Offsets(state.offsets.begin(), state.offsets.end()) == library);
        progress.Add(state.offsets);
      }
    }
    start = end + 1;
  }
  return 0;
}
