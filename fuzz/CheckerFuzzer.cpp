// The jxrestart tool's strict checker on any text, against the library:
// every deviation lies inside the text, and whenever the checker accepts a
// text, the library's reading of it holds exactly the entries the checker
// read.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "tools/jxrestart/Check.h"
#include "tools/jxrestart/Reading.h"

namespace tool = jxrestart::tool;

namespace {

void CheckInside(const tool::Deviations& deviations, const std::string& text) {
  FUZZ_CHECK(deviations.kept().size() == std::min(deviations.count(), tool::Deviations::kKept));
  for (const tool::Deviation& d : deviations.kept()) FUZZ_CHECK(d.offset <= text.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  const tool::JobReading job = tool::CheckJob(text);
  CheckInside(job.deviations, text);
  tool::JobState state;
  const bool read = tool::ReadJob(text, &state);
  if (job.deviations.empty()) {
    FUZZ_CHECK(read && !job.items.empty());
    FUZZ_CHECK((state.offsets == std::map<int32_t, int32_t>(job.items.begin(), job.items.end())));
    FUZZ_CHECK(state.offsets.size() == job.items.size());
  }

  const tool::VolumeReading volumes = tool::CheckVolumes(text);
  CheckInside(volumes.deviations, text);
  if (volumes.deviations.empty()) {
    const tool::VolumeState library = tool::ReadVolumes(text);
    FUZZ_CHECK(library.valid && library.records.size() == volumes.records.size());
    for (const _JxRestartVolumeInfo& r : volumes.records) {
      const _JxRestartVolumeInfo& l = library.records.at(r.srcVolId);
      FUZZ_CHECK(l.copyType == r.copyType && l.destVolId == r.destVolId && l.offset == r.offset);
    }
    FUZZ_CHECK(library.restartString.size() <= text.size());
  }
  return 0;
}
