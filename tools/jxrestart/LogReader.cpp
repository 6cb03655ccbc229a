#include "tools/jxrestart/LogReader.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "restart/internal/TextFormat.h"
#include "tools/jxrestart/Reading.h"

namespace jxrestart {
namespace tool {

namespace {

// The library's debug lines that carry a text to the end of the line.
struct Marker {
  std::string_view words;
  TextKind kind;
};
const Marker kMarkers[] = {
    {"Input from JM = ", TextKind::kInput},
    {"Restart String = ", TextKind::kVolumes},
    {"The Restart string: ", TextKind::kJob},
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

void Add(std::string_view line, size_t begin, size_t end, TextKind kind, std::vector<FoundText>* found) {
  found->push_back({kind, std::string(line.substr(begin, end - begin)), begin + 1});
}

bool IsVolumeWord(std::string_view word) {
  const char first = word.front();
  return (first == '-' || (first >= '0' && first <= '9')) && word.find('$') != std::string_view::npos &&
         word.find('|') != std::string_view::npos;
}

// Finds volume restart strings among the words of [begin, end).
void FindVolumeWords(std::string_view line, size_t begin, size_t end, std::vector<FoundText>* found) {
  // Most lines of a job log hold no '$' at all.
  if (line.substr(begin, end - begin).find('$') == std::string_view::npos) return;
  for (size_t p = begin; p < end;) {
    while (p < end && IsBlank(line[p])) ++p;
    size_t q = p;
    while (q < end && !IsBlank(line[q])) ++q;
    if (q > p && IsVolumeWord(line.substr(p, q - p))) Add(line, p, q, TextKind::kVolumes, found);
    p = q;
  }
}

}  // namespace

void FindTexts(const char* data, size_t length, std::vector<FoundText>* found) {
  std::string_view line(data, length);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  for (const Marker& marker : kMarkers) {
    const size_t at = line.find(marker.words);
    if (at != std::string_view::npos) {
      Add(line, at + marker.words.size(), line.size(), marker.kind, found);
      return;
    }
  }
  const std::string_view prefix = jxrestart::internal::kJobRestartPrefix;
  size_t from = 0;
  for (size_t at; (at = line.find(prefix, from)) != std::string_view::npos;) {
    size_t end = at + prefix.size();
    while (end < line.size() && !IsBlank(line[end])) ++end;
    FindVolumeWords(line, from, at, found);
    Add(line, at, end, TextKind::kJob, found);
    from = end;
  }
  FindVolumeWords(line, from, line.size(), found);
}

LogState StateOf(const FoundText& found) {
  LogState state;
  if (found.kind == TextKind::kVolumes) {
    VolumeReading reading = CheckVolumes(found.text);
    state.deviations = std::move(reading.deviations);
    if (state.deviations.empty()) {
      state.read = true;
      for (const _JxRestartVolumeInfo& r : reading.records) state.offsets.emplace_back(r.srcVolId, int64_t(r.offset));
      return state;
    }
    const VolumeState library = ReadVolumes(found.text);
    state.read = library.valid && !library.records.empty();
    if (state.read) {
      for (const auto& entry : library.records) state.offsets.emplace_back(entry.first, int64_t(entry.second.offset));
    }
    return state;
  }
  JobReading reading = CheckJob(found.text);
  state.deviations = std::move(reading.deviations);
  if (state.deviations.empty()) {
    state.read = true;
    state.offsets.assign(reading.items.begin(), reading.items.end());
    return state;
  }
  JobState library;
  state.read = ReadJob(found.text, &library);
  state.offsets.assign(library.offsets.begin(), library.offsets.end());
  return state;
}

void Progress::Add(const std::vector<std::pair<int32_t, int64_t>>& offsets) {
  size_t next = 0;
  for (const auto& offset : offsets) {
    size_t at = next;
    if (at >= entries_.size() || entries_[at].key != offset.first) {
      auto slot = index_.emplace(offset.first, entries_.size());
      at = slot.first->second;
      if (slot.second) entries_.push_back({offset.first, offset.second, offset.second});
    }
    entries_[at].last = offset.second;
    next = at + 1;
  }
}

std::vector<Progress::Entry> Progress::Sorted() const {
  std::vector<Entry> sorted = entries_;
  std::sort(sorted.begin(), sorted.end(), [](const Entry& a, const Entry& b) { return a.key < b.key; });
  return sorted;
}

}  // namespace tool
}  // namespace jxrestart
