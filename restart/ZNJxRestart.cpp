#include "restart/ZNJxRestart.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "restart/internal/Decimal.h"
#include "restart/internal/TextFormat.h"

namespace tag = jxrestart::internal::tag;
namespace msg = jxrestart::internal::msg;

namespace {

using jxrestart::internal::AppendDecimal;
using jxrestart::internal::kFieldSeparator;
using jxrestart::internal::kFieldsPerRecord;
using jxrestart::internal::kRecordTerminator;
using jxrestart::internal::ReadDecimal32;
using jxrestart::internal::ReadDecimal64;
using RecordMap = std::map<int32_t, _JxRestartVolumeInfo>;

// strtoll's result for every text; base 10, the reader's, takes a faster road.
long long _strtoi64(const char* text, char** end, int base) {
  if (base != 10) return std::strtoll(text, end, base);  // LCOV_EXCL_LINE: the reader reads base 10 only
  int64_t value = 0;
  const char* stop = ReadDecimal64(text, &value);
  if (end != nullptr) *end = const_cast<char*>(stop);
  return value;
}

// Adds or replaces a record under its own source id; records that arrive in
// ascending order, as the writer produces them, go in without a search.
void StoreRecord(RecordMap& map, const _JxRestartVolumeInfo& record) {
  if (map.empty() || map.rbegin()->first < record.srcVolId) {
    map.emplace_hint(map.end(), record.srcVolId, record);
  } else {
    map.insert_or_assign(record.srcVolId, record);
  }
}

// Reads the item text [item, end): the first three bars split four fields,
// and any later bar stays in the fourth. Returns false for fewer than three
// bars. Every field ends at a character that stops its number, so the
// fields are read in place.
bool ReadRecord(const char* item, const char* end, _JxRestartVolumeInfo* record) {
  const char* field[kFieldsPerRecord] = {item};
  const char* p = item;
  for (int i = 1; i < kFieldsPerRecord; ++i) {
    p = static_cast<const char*>(std::memchr(p, kFieldSeparator, static_cast<size_t>(end - p)));
    if (p == nullptr) return false;
    field[i] = ++p;
  }
  record->copyType = static_cast<uint8_t>(ReadDecimal32(field[0]));
  record->srcVolId = ReadDecimal32(field[1]);
  record->destVolId = ReadDecimal32(field[2]);
  record->offset = static_cast<uint64_t>(_strtoi64(field[3], nullptr, 10));
  return true;
}

void AppendRecord(std::string* out, const _JxRestartVolumeInfo& record) {
  AppendDecimal(out, record.copyType);
  out->push_back(kFieldSeparator);
  AppendDecimal(out, record.srcVolId);
  out->push_back(kFieldSeparator);
  AppendDecimal(out, record.destVolId);
  out->push_back(kFieldSeparator);
  AppendDecimal(out, static_cast<int64_t>(record.offset));
  out->push_back(kRecordTerminator);
}

}  // namespace

ZNJxRestart::ZNJxRestart(std::vector<_JxRestartVolumeInfo> records) : isValid(false) {
  if (!records.empty()) isValid = InitializeRestartVolInfo(std::move(records));
}

ZNJxRestart::ZNJxRestart(const char* text) : isValid(false) {
  // Only the first bytes matter: is the text longer than the threshold?
  if (text != nullptr && strnlen(text, jxrestart::internal::kShortestReadableText) >=
                             jxrestart::internal::kShortestReadableText) {
    isValid = InitializeRestartVolInfo(text);
  }
}

ZNJxRestart::~ZNJxRestart() {
  isValid = false;
  volumeInfoMap.clear();
}

bool ZNJxRestart::InitializeRestartVolInfo(const char* text) { return ParseRestartString(text); }

bool ZNJxRestart::InitializeRestartVolInfo(std::vector<_JxRestartVolumeInfo> records) {
  if (records.empty()) {
    debugLog.Debug(tag::kInitialize, msg::kEmptyVector);
    return false;
  }
  for (const _JxRestartVolumeInfo& record : records) {
    StoreRecord(volumeInfoMap, record);
    debugLog.Debug(tag::kInitialize, msg::kAddingRecord, record.srcVolId, record.destVolId);
  }
  return true;
}

namespace {

// The first two checks of every accessor and AddVolumeInfo, in order: a
// valid object, then at least one record.
bool CanAccess(ZNJxRestart& table, const char* tag) {
  if (!table.isValid) {
    table.debugLog.Debug(tag, msg::kInvalidClass);
    return false;
  }
  if (table.volumeInfoMap.empty()) {
    table.debugLog.Debug(tag, msg::kEmptyTable);
    return false;
  }
  return true;
}

// The accessors' checks, the third being srcVolId's record. Returns it, or
// null after logging why.
_JxRestartVolumeInfo* FindRecord(ZNJxRestart& table, int32_t srcVolId, const char* tag, const char* missing) {
  if (!CanAccess(table, tag)) return nullptr;
  auto it = table.volumeInfoMap.find(srcVolId);
  if (it == table.volumeInfoMap.end()) {
    table.debugLog.Debug(tag, missing, srcVolId);
    return nullptr;
  }
  return &it->second;
}

}  // namespace

bool ZNJxRestart::GetOffsetForSrcVolId(int32_t srcVolId, uint64_t& offset) {
  const _JxRestartVolumeInfo* record = FindRecord(*this, srcVolId, tag::kGetOffset, msg::kGetMissing);
  if (record == nullptr) return false;
  offset = record->offset;
  return true;
}

bool ZNJxRestart::GetDestVolIdForSrcVolId(int32_t srcVolId, int32_t& destVolId) {
  const _JxRestartVolumeInfo* record = FindRecord(*this, srcVolId, tag::kGetDestVolId, msg::kGetMissing);
  if (record == nullptr) return false;
  destVolId = record->destVolId;
  return true;
}

bool ZNJxRestart::GetCopyTypeForSrcVolId(int32_t srcVolId, _JxCopyType& copyType) {
  const _JxRestartVolumeInfo* record = FindRecord(*this, srcVolId, tag::kGetCopyType, msg::kGetCopyTypeMissing);
  if (record == nullptr) return false;
  copyType = static_cast<_JxCopyType>(record->copyType);
  return true;
}

bool ZNJxRestart::SetOffsetForSrcVolId(int32_t srcVolId, uint64_t offset) {
  _JxRestartVolumeInfo* record = FindRecord(*this, srcVolId, tag::kSetOffset, msg::kSetMissing);
  if (record == nullptr) return false;
  record->offset = offset;
  return true;
}

bool ZNJxRestart::SetDestVolIdForSrcVolId(int32_t srcVolId, int32_t destVolId) {
  _JxRestartVolumeInfo* record = FindRecord(*this, srcVolId, tag::kSetDestVolId, msg::kSetMissing);
  if (record == nullptr) return false;
  record->destVolId = destVolId;
  return true;
}

bool ZNJxRestart::SetCopyTypeForSrcVolId(int32_t srcVolId, _JxCopyType copyType) {
  _JxRestartVolumeInfo* record = FindRecord(*this, srcVolId, tag::kSetCopyType, msg::kSetMissing);
  if (record == nullptr) return false;
  record->copyType = static_cast<uint8_t>(copyType);
  return true;
}

bool ZNJxRestart::AddVolumeInfo(const _JxRestartVolumeInfo& info) {
  if (!CanAccess(*this, tag::kAddVolumeInfo)) return false;
  auto it = volumeInfoMap.find(info.srcVolId);
  if (it == volumeInfoMap.end()) {
    volumeInfoMap.emplace_hint(it, info.srcVolId, info);
  } else {
    debugLog.Debug(tag::kAddVolumeInfo, msg::kReplacingRecord);
    it->second = info;
  }
  return true;
}

bool ZNJxRestart::ParseRestartString(const char* text) {
  if (text == nullptr) {
    debugLog.Debug(tag::kParseVolumes, msg::kNoRestartString);
    return false;
  }
  debugLog.Debug(tag::kParseVolumes, msg::kRestartString, text);
  const char* item = text;
  while (*item == jxrestart::internal::kLeadingSpace) ++item;
  // Every '$' closes an item; what follows the last one is never read.
  for (const char* end; (end = std::strchr(item, kRecordTerminator)) != nullptr; item = end + 1) {
    _JxRestartVolumeInfo record;
    if (!ReadRecord(item, end, &record)) {
      debugLog.Debug(tag::kParseVolumes, msg::kInvalidRecord, std::string(item, end).c_str());
      return false;
    }
    StoreRecord(volumeInfoMap, record);
  }
  return true;
}

bool ZNJxRestart::GetCurrentRestartString(std::string& out) {
  if (!isValid) {
    debugLog.Debug(tag::kWriteVolumes, msg::kInvalidClass);
    return false;
  }
  if (volumeInfoMap.empty()) {
    debugLog.Debug(tag::kWriteVolumes, msg::kWriteEmpty);
    return false;
  }
  // Rendered aside, so `out` is either untouched or complete.
  std::string text;
  for (const auto& entry : volumeInfoMap) AppendRecord(&text, entry.second);
  out.swap(text);
  return true;
}
