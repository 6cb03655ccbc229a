// The library's reading of a text, and the examination that holds both.
#include "tools/jxrestart/Examination.h"

#include <cstring>
#include <utility>

#include "restart/JxRestartability.h"
#include "restart/internal/TextFormat.h"

namespace jxrestart {
namespace tool {

namespace {
template <class Map>
const Map& NoEntries() {
  static const Map none;
  return none;
}
}  // namespace

const std::map<int32_t, int32_t>& LibraryReading::volumes() const {
  return job ? job->volumeOffsetMap : NoEntries<std::map<int32_t, int32_t>>();
}

const std::map<int32_t, _JxRestartVolumeInfo>& LibraryReading::records() const {
  return table ? table->volumeInfoMap : NoEntries<std::map<int32_t, _JxRestartVolumeInfo>>();
}

bool LibraryReading::RenderRecords() { return table->GetCurrentRestartString(records_); }

LibraryReading ReadByLibrary(std::string copy, Family family) {
  LibraryReading r;
  if (family == Family::kJob) {
    r.job = std::make_unique<JobObject>();
    r.read = r.job->ParseRestartInputFromJM(&copy[JobItemsAt(copy.c_str())]);
    if (!r.read) r.refusal = "no volume in the text";
    return r;
  }
  if (std::strlen(copy.c_str()) < jxrestart::internal::kShortestReadableText) {
    r.refusal = "too short for the library to read";
    return r;
  }
  r.table = std::make_unique<VolumesObject>(copy.c_str());
  if (!r.table->isValid) {
    r.refusal = "the library refuses this volume restart string";
  } else if (r.table->volumeInfoMap.empty()) {
    r.refusal = "no record in the text";
  } else {
    r.read = r.RenderRecords();
  }
  return r;
}

Examination Examine(const std::string& text, Family family) {
  return {ReadStrictly(text, family), ReadByLibrary(text, family)};
}

}  // namespace tool
}  // namespace jxrestart
