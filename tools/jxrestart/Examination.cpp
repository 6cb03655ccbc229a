// The library's reading of a text, and the examination that holds both.
#include "tools/jxrestart/Examination.h"

#include <cstring>
#include <utility>

#include "restart/JxRestartability.h"
#include "restart/internal/TextFormat.h"

namespace jxrestart {
namespace tool {

LibraryReading ReadByLibrary(std::string copy, Family family) {
  LibraryReading r;
  if (family == Family::kJob) {
    JxRestartability tracker;
    if (!tracker.ParseRestartInputFromJM(&copy[JobItemsAt(copy.c_str())])) {
      r.refusal = "no volume in the text";
      return r;
    }
    r.read = true;
    r.volumes = std::move(tracker.volumeOffsetMap);
    r.rendered = std::move(tracker.restartString);
    return r;
  }
  if (std::strlen(copy.c_str()) < jxrestart::internal::kShortestReadableText) {
    r.refusal = "too short for the library to read";
    return r;
  }
  ZNJxRestart table(copy.c_str());
  if (!table.isValid) {
    r.refusal = "the library refuses this volume restart string";
  } else if (table.volumeInfoMap.empty()) {
    r.refusal = "no record in the text";
  } else {
    r.read = table.GetCurrentRestartString(r.rendered);
  }
  r.records = std::move(table.volumeInfoMap);
  return r;
}

Examination Examine(const std::string& text, Family family) {
  return {ReadStrictly(text, family), ReadByLibrary(text, family)};
}

}  // namespace tool
}  // namespace jxrestart
