#include "restart/JxRestartability.h"

#include <cstring>
#include <utility>

#include "restart/internal/Decimal.h"
#include "restart/internal/MapStore.h"
#include "restart/internal/RestartInput.h"
#include "restart/internal/StringWriter.h"
#include "restart/internal/TextFormat.h"

using jxrestart::kRestartNumberBased;
using jxrestart::kRestartStringBased;
namespace tag = jxrestart::internal::tag;
namespace msg = jxrestart::internal::msg;

namespace {

using jxrestart::internal::InputToken;
using jxrestart::internal::InsertOrAssign;
using jxrestart::internal::kItemTerminator;
using jxrestart::internal::kKeySeparator;
using jxrestart::internal::kMaxDecimalLength;
using jxrestart::internal::ScanRestartInput;
using jxrestart::internal::StringWriter;
using jxrestart::internal::WriteDecimal;

// "<volId>|<offset>@", written in place.
void WriteItem(StringWriter& out, int32_t volId, int32_t offset) {
  char* end = WriteDecimal(out.Room(2 * kMaxDecimalLength + 2), volId);
  *end++ = kKeySeparator;
  end = WriteDecimal(end, offset);
  *end++ = kItemTerminator;
  out.Commit(end);
}

// A name is written as a C string would print: up to its first NUL.
void WriteItem(StringWriter& out, const std::string& name, int32_t offset) {
  const void* nul = std::memchr(name.data(), '\0', name.size());
  const size_t length = nul ? static_cast<size_t>(static_cast<const char*>(nul) - name.data()) : name.size();
  char* end = out.Room(length + kMaxDecimalLength + 2);
  std::memcpy(end, name.data(), length);
  end += length;
  *end++ = kKeySeparator;
  end = WriteDecimal(end, offset);
  *end++ = kItemTerminator;
  out.Commit(end);
}

template <class Map>
void RenderItems(const Map& map, std::string* text) {
  StringWriter out(text);
  out.Append(jxrestart::internal::kJobRestartPrefix, sizeof jxrestart::internal::kJobRestartPrefix - 1);
  for (const auto& entry : map) WriteItem(out, entry.first, entry.second);
  out.Finish();
}

void LogKey(EvEvent& log, const char* tag, const char* format, int32_t volId) { log.Debug(tag, format, volId); }
void LogKey(EvEvent& log, const char* tag, const char* format, const std::string& name) {
  log.Debug(tag, format, name.c_str());
}

// Every keyed operation runs only in its own restart type.
bool PassesGate(JxRestartability& tracker, int32_t required, const char* tag, const char* gateMessage) {
  if (tracker.restartType == required) return true;
  tracker.debugLog.Debug(tag, gateMessage);
  return false;
}

// The last step of every change: rebuild through the virtual table, so an
// override is the one that runs. A failed rebuild keeps the change.
bool Rebuild(JxRestartability& tracker, const char* tag, const char* failure) {
  if (tracker.BuildJobRestartString()) return true;
  tracker.debugLog.Debug(tag, failure);
  return false;
}

template <class Map, class Keys, class KeyOf>
bool Populate(JxRestartability& tracker, Map& map, Keys& keys, KeyOf keyOf, const char* tag) {
  if (!map.empty()) {
    tracker.debugLog.Debug(tag, msg::kRepopulate);
    return false;
  }
  for (auto& item : keys) InsertOrAssign(map, keyOf(item), 0);
  if (!Rebuild(tracker, tag, msg::kPopulateBuildFailed)) return false;
  tracker.debugLog.Debug(tag, msg::kPopulated);
  return true;
}

template <class Map, class Key>
bool Update(JxRestartability& tracker, Map& map, const Key& key, int32_t offset, const char* missing) {
  if (map.empty()) {
    tracker.debugLog.Debug(tag::kUpdate, msg::kUpdateEmpty);
    return false;
  }
  auto it = map.find(key);
  if (it == map.end()) {
    LogKey(tracker.debugLog, tag::kUpdate, missing, key);
    return false;
  }
  it->second = offset;
  return Rebuild(tracker, tag::kUpdate, msg::kChangeBuildFailed);
}

template <class Map, class Key>
bool Query(JxRestartability& tracker, const Map& map, const Key& key, int32_t* offset) {
  if (map.empty()) {
    tracker.debugLog.Debug(tag::kQuery, msg::kQueryEmpty);
    return false;
  }
  auto it = map.find(key);
  if (it == map.end()) {
    tracker.debugLog.Debug(tag::kQuery, msg::kQueryMissing);
    return false;
  }
  if (offset == nullptr) return false;  // nowhere to put it: not a success
  *offset = it->second;
  return true;
}

bool OffsetAccepted(JxRestartability& tracker, int32_t offset) {
  if (offset >= -1) return true;
  tracker.debugLog.Debug(tag::kInsert, msg::kBadOffset, offset);
  return false;
}

// Stores the restart input's pairs; what a pair does not take is ignored.
struct InputStore {
  std::map<int32_t, int32_t>& map;
  void Stored(const InputToken& key, const InputToken& offset) { InsertOrAssign(map, key.value(), offset.value()); }
  void Dropped(const InputToken&, const InputToken&) {}
  void Unused(const InputToken&) {}
};

}  // namespace

JxRestartability::JxRestartability() : restartType(kRestartNumberBased) {
  JxRestartability::SetRestartType(kRestartNumberBased);
}

JxRestartability::~JxRestartability() = default;

bool JxRestartability::ParseRestartInputFromJM(char* input) {
  if (!PassesGate(*this, kRestartNumberBased, tag::kParse, msg::kNumberGate)) return false;
  if (input == nullptr) {
    debugLog.Debug(tag::kParse, msg::kNoInput);
    return false;
  }
  debugLog.Debug(tag::kParse, msg::kInputFromJM, input);
  InputStore store{volumeOffsetMap};
  ScanRestartInput(input, store);
  return Rebuild(*this, tag::kParse, msg::kPopulateBuildFailed);
}

bool JxRestartability::PopulateVolumeOffsetMap(std::vector<RecoveryVolData_t> volumes) {
  if (!PassesGate(*this, kRestartNumberBased, tag::kPopulate, msg::kNumberGate)) return false;
  auto idOf = [](const RecoveryVolData_t& volume) { return volume.volId; };
  return Populate(*this, volumeOffsetMap, volumes, idOf, tag::kPopulate);
}

bool JxRestartability::PopulateVolumeOffsetMap(std::vector<std::string> volumeNames) {
  if (!PassesGate(*this, kRestartStringBased, tag::kPopulateNames, msg::kPopulateNamesGate)) return false;
  auto nameOf = [](std::string& name) -> std::string&& { return std::move(name); };
  return Populate(*this, volumeNameOffsetMap, volumeNames, nameOf, tag::kPopulateNames);
}

bool JxRestartability::UpdateJobRestartInfoMapAndString(int32_t volId, int32_t offset) {
  if (!PassesGate(*this, kRestartNumberBased, tag::kUpdate, msg::kNumberGate)) return false;
  return Update(*this, volumeOffsetMap, volId, offset, msg::kUpdateMissingId);
}

bool JxRestartability::UpdateJobRestartInfoMapAndString(std::string volumeName, int32_t offset) {
  if (!PassesGate(*this, kRestartStringBased, tag::kUpdate, msg::kNameGate)) return false;
  return Update(*this, volumeNameOffsetMap, volumeName, offset, msg::kUpdateMissingName);
}

bool JxRestartability::GetBMOffsetFromVolId(int32_t volId, int32_t* offset) {
  if (!PassesGate(*this, kRestartNumberBased, tag::kQuery, msg::kNumberGate)) return false;
  return Query(*this, volumeOffsetMap, volId, offset);
}

bool JxRestartability::GetBMOffsetFromVolId(std::string volumeName, int32_t* offset) {
  if (!PassesGate(*this, kRestartStringBased, tag::kQuery, msg::kNameGate)) return false;
  return Query(*this, volumeNameOffsetMap, volumeName, offset);
}

bool JxRestartability::InsertIntoVolumeOffsetMap(int32_t volId, int32_t iOffset) {
  if (!PassesGate(*this, kRestartNumberBased, tag::kInsert, msg::kNumberGate)) return false;
  if (!OffsetAccepted(*this, iOffset)) return false;
  if (volId <= 0) {
    debugLog.Debug(tag::kInsert, msg::kBadVolId, volId);
    return false;
  }
  InsertOrAssign(volumeOffsetMap, volId, iOffset);
  return Rebuild(*this, tag::kInsert, msg::kChangeBuildFailed);
}

bool JxRestartability::InsertIntoVolumeOffsetMap(std::string volumeName, int32_t iOffset) {
  if (!PassesGate(*this, kRestartStringBased, tag::kInsert, msg::kNameGate)) return false;
  if (!OffsetAccepted(*this, iOffset)) return false;
  InsertOrAssign(volumeNameOffsetMap, std::move(volumeName), iOffset);
  return Rebuild(*this, tag::kInsert, msg::kChangeBuildFailed);
}

bool JxRestartability::FigureOutSNRIdFromVolName(std::string /*volumeName*/, int32_t* /*id*/) { return false; }

bool JxRestartability::SetRestartType(int32_t type) {
  if (type != kRestartNumberBased && type != kRestartStringBased) return false;
  restartType = type;
  debugLog.Debug(tag::kSetRestartType, msg::kRestartTypeSet, jxrestart::internal::kRestartTypeNames[type]);
  return true;
}

bool JxRestartability::BuildJobRestartString() {
  // Build into the old string's buffer, but out of restartString's reach:
  // it is empty from here on, and complete or empty if an allocation fails.
  std::string text;
  text.swap(restartString);
  text.clear();
  const bool numeric = restartType == kRestartNumberBased;
  if (numeric ? volumeOffsetMap.empty() : volumeNameOffsetMap.empty()) {
    debugLog.Debug(tag::kBuild, msg::kBuildEmpty);
    return false;
  }
  if (numeric) {
    RenderItems(volumeOffsetMap, &text);
  } else {
    RenderItems(volumeNameOffsetMap, &text);
  }
  restartString.swap(text);
  debugLog.Debug(tag::kBuild, msg::kBuilt, restartString.c_str());
  return true;
}
