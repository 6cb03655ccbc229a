// The restart texts written and read the plain way: formatted printing of
// each piece into a scratch buffer, and strtoll on a std::string copy of
// each token and field. The fuzzers check the library against it, and the
// benchmarks time the library against it. Numbers outside a field's range
// saturate at its limits, as the library documents.
#ifndef REFERENCE_REFERENCE_H_
#define REFERENCE_REFERENCE_H_

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "restart/ZNJxRestart.h"

namespace jxrestart {
namespace reference {

using IdMap = std::map<int32_t, int32_t>;
using NameMap = std::map<std::string, int32_t>;
using RecordMap = std::map<int32_t, _JxRestartVolumeInfo>;

inline int32_t Atoi(const std::string& text) {
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

// Each piece is printed into the scratch buffer and appended.
inline void AppendKey(int32_t volId, char (&buffer)[1024], std::string& out) {
  std::snprintf(buffer, sizeof buffer, "%d", volId);
  out += buffer;
}

inline void AppendKey(const std::string& name, char (&buffer)[1024], std::string& out) {
  if (name.size() < sizeof buffer) {
    std::snprintf(buffer, sizeof buffer, "%s", name.c_str());
    out += buffer;
  } else {
    out += name.c_str();  // too long for the buffer: a name is written up to its first NUL
  }
}

// Empties `out` and appends the job restart string to it, keeping its
// buffer, as a job restart string kept in a member would be rebuilt.
template <class Map>
void RenderJob(const Map& map, std::string& out) {
  out.clear();
  out += "-Restart ";
  char buffer[1024];
  for (const auto& entry : map) {
    AppendKey(entry.first, buffer, out);
    std::snprintf(buffer, sizeof buffer, "%c", '|');
    out += buffer;
    std::snprintf(buffer, sizeof buffer, "%d", entry.second);
    out += buffer;
    std::snprintf(buffer, sizeof buffer, "%c", '@');
    out += buffer;
  }
}

template <class Map>
std::string RenderJob(const Map& map) {
  std::string out;
  RenderJob(map, out);
  return out;
}

// The restart input's token scan, on std::string tokens.
inline void ParseRestartInput(const std::string& input, IdMap* map) {
  std::string text = input.c_str();
  text.erase(0, text.find_first_not_of(' ') == std::string::npos ? text.size() : text.find_first_not_of(' '));
  std::string token;
  bool keyPending = false, offsetPending = false;
  int32_t key = 0, offset = 0;
  for (char c : text) {
    if (c != '|' && c != '@') {
      token += c;
      continue;
    }
    if (c == '|') {
      key = Atoi(token);
      keyPending = true;
    } else {
      offset = Atoi(token);
      offsetPending = true;
    }
    if (keyPending && offsetPending) {
      if (key != 0) (*map)[key] = offset;
      keyPending = offsetPending = false;
    }
    token.clear();
  }
  if (!token.empty() && keyPending && !offsetPending) (*map)[key] = Atoi(token);
}

// The volume restart string reader: returns false at the first item with
// fewer than three bars, keeping the records before it.
inline bool ParseVolumes(const std::string& input, RecordMap* map) {
  std::string text = input.c_str();
  text.erase(0, text.find_first_not_of(' ') == std::string::npos ? text.size() : text.find_first_not_of(' '));
  size_t start = 0;
  for (size_t end; (end = text.find('$', start)) != std::string::npos; start = end + 1) {
    const std::string item = text.substr(start, end - start);
    size_t bars[3];
    size_t from = 0;
    for (int i = 0; i < 3; ++i) {
      bars[i] = item.find('|', from);
      if (bars[i] == std::string::npos) return false;
      from = bars[i] + 1;
    }
    _JxRestartVolumeInfo record;
    record.copyType = static_cast<uint8_t>(Atoi(item.substr(0, bars[0])));
    record.srcVolId = Atoi(item.substr(bars[0] + 1, bars[1] - bars[0] - 1));
    record.destVolId = Atoi(item.substr(bars[1] + 1, bars[2] - bars[1] - 1));
    record.offset = static_cast<uint64_t>(std::strtoll(item.substr(bars[2] + 1).c_str(), nullptr, 10));
    (*map)[record.srcVolId] = record;
  }
  return true;
}

inline void RenderVolumes(const RecordMap& map, std::string& out) {
  out.clear();
  char buffer[64];
  for (const auto& entry : map) {
    const _JxRestartVolumeInfo& r = entry.second;
    std::snprintf(buffer, sizeof buffer, "%d%c", r.copyType, '|');
    out += buffer;
    std::snprintf(buffer, sizeof buffer, "%d%c", r.srcVolId, '|');
    out += buffer;
    std::snprintf(buffer, sizeof buffer, "%d%c", r.destVolId, '|');
    out += buffer;
    std::snprintf(buffer, sizeof buffer, "%lld%c", static_cast<long long>(r.offset), '$');
    out += buffer;
  }
}

inline std::string RenderVolumes(const RecordMap& map) {
  std::string out;
  RenderVolumes(map, out);
  return out;
}

inline bool SameRecord(const _JxRestartVolumeInfo& a, const _JxRestartVolumeInfo& b) {
  return a.copyType == b.copyType && a.srcVolId == b.srcVolId && a.destVolId == b.destVolId && a.offset == b.offset;
}

inline bool SameRecords(const RecordMap& a, const RecordMap& b) {
  if (a.size() != b.size()) return false;
  for (auto i = a.begin(), j = b.begin(); i != a.end(); ++i, ++j) {
    if (i->first != j->first || !SameRecord(i->second, j->second)) return false;
  }
  return true;
}

}  // namespace reference
}  // namespace jxrestart

#endif  // REFERENCE_REFERENCE_H_
