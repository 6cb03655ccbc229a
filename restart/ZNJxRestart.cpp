#include "restart/ZNJxRestart.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "restart/internal/Decimal.h"
#include "restart/internal/TextFormat.h"

namespace tag = jxrestart::internal::tag;
namespace msg = jxrestart::internal::msg;

namespace {

using jxrestart::internal::kFieldSeparator;
using jxrestart::internal::kFieldsPerRecord;
using jxrestart::internal::kRecordTerminator;
using jxrestart::internal::ReadDecimal64;
using jxrestart::internal::ToInt32;
using jxrestart::internal::WriteDecimal;
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

// Stores the records of one read, in text order, the later of two with the
// same source id winning. While they come in ascending order, as the writer
// produces them, each goes in at the end of the map without a search. From
// the first that does not, the rest are gathered, sorted and stored in key
// order, instead of each costing a search of the whole tree.
class RecordStore {
 public:
  explicit RecordStore(RecordMap& map) : map_(map) {}

  void Add(const _JxRestartVolumeInfo& record) {
    if (gathered_.empty() && (map_.empty() || map_.rbegin()->first < record.srcVolId)) {
      map_.emplace_hint(map_.end(), record.srcVolId, record);
    } else {
      gathered_.push_back(record);
    }
  }

  void Finish() {
    std::stable_sort(
        gathered_.begin(), gathered_.end(),
        [](const _JxRestartVolumeInfo& a, const _JxRestartVolumeInfo& b) { return a.srcVolId < b.srcVolId; });
    for (size_t i = 0; i < gathered_.size(); ++i) {
      if (i + 1 < gathered_.size() && gathered_[i + 1].srcVolId == gathered_[i].srcVolId) continue;
      StoreRecord(map_, gathered_[i]);
    }
  }

 private:
  RecordMap& map_;
  std::vector<_JxRestartVolumeInfo> gathered_;
};

enum class Item { kRecord, kInvalid, kNone };

// Reads the item that starts at `item`: its first three bars split four
// fields, and any later bar stays in the fourth. Returns kRecord with *end
// at its '$', kInvalid with *end at the '$' of an item with fewer than
// three bars, or kNone when no '$' follows (that text is not an item).
// A number stops at the first character that is not part of it, so the
// fields are read in place; a separator usually follows at once.
Item ReadItem(const char* item, _JxRestartVolumeInfo* record, const char** end) {
  int32_t fields[kFieldsPerRecord - 1];
  const char* p = item;
  for (int32_t& field : fields) {
    int64_t value = 0;
    p = ReadDecimal64(p, &value);
    field = ToInt32(value);
    while (*p != kFieldSeparator && *p != kRecordTerminator && *p != '\0') ++p;
    if (*p != kFieldSeparator) {
      *end = p;
      return *p == kRecordTerminator ? Item::kInvalid : Item::kNone;
    }
    ++p;
  }
  char* stop = nullptr;
  const long long offset = _strtoi64(p, &stop, 10);
  *end = *stop == kRecordTerminator ? stop : std::strchr(stop, kRecordTerminator);
  if (*end == nullptr) return Item::kNone;
  *record = {static_cast<uint8_t>(fields[0]), fields[1], fields[2], static_cast<uint64_t>(offset)};
  return Item::kRecord;
}

int64_t OffsetField(const _JxRestartVolumeInfo& record) { return static_cast<int64_t>(record.offset); }

size_t RecordLength(const _JxRestartVolumeInfo& record) {
  using jxrestart::internal::DecimalLength;
  return static_cast<size_t>(DecimalLength(record.copyType) + DecimalLength(record.srcVolId) +
                             DecimalLength(record.destVolId) + DecimalLength(OffsetField(record)) + kFieldsPerRecord);
}

// "<copyType>|<srcVolId>|<destVolId>|<offset>$" at `out`; returns its end.
char* WriteRecord(char* out, const _JxRestartVolumeInfo& record) {
  char* end = WriteDecimal(out, record.copyType);
  *end++ = kFieldSeparator;
  end = WriteDecimal(end, record.srcVolId);
  *end++ = kFieldSeparator;
  end = WriteDecimal(end, record.destVolId);
  *end++ = kFieldSeparator;
  end = WriteDecimal(end, OffsetField(record));
  *end++ = kRecordTerminator;
  return end;
}

}  // namespace

ZNJxRestart::ZNJxRestart(std::vector<_JxRestartVolumeInfo> records) : isValid(false) {
  if (!records.empty()) isValid = InitializeRestartVolInfo(std::move(records));
}

ZNJxRestart::ZNJxRestart(const char* text) : isValid(false) {
  // Only the first bytes matter: is the text longer than the threshold?
  if (text != nullptr &&
      strnlen(text, jxrestart::internal::kShortestReadableText) >= jxrestart::internal::kShortestReadableText) {
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
  RecordStore store(volumeInfoMap);
  _JxRestartVolumeInfo record;
  const char* end = nullptr;
  Item read;
  // Every '$' closes an item; what follows the last one is never read.
  for (; (read = ReadItem(item, &record, &end)) == Item::kRecord; item = end + 1) store.Add(record);
  store.Finish();
  if (read == Item::kInvalid) {
    debugLog.Debug(tag::kParseVolumes, msg::kInvalidRecord, std::string(item, end).c_str());
    return false;
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
  // Measured first and written in place, so the text never moves while it
  // grows. `out` is either untouched or complete: its own buffer is reused
  // only when it is large enough, where nothing can fail half-way. The
  // measuring walk keeps the records in a list, so the tree is walked once.
  std::vector<const _JxRestartVolumeInfo*> records;
  records.reserve(volumeInfoMap.size());
  size_t length = 0;
  for (const auto& entry : volumeInfoMap) {
    records.push_back(&entry.second);
    length += RecordLength(entry.second);
  }
  std::string fresh;
  std::string& text = out.capacity() >= length ? out : fresh;
  text.resize(length);
  char* end = &text[0];
  for (const _JxRestartVolumeInfo* record : records) end = WriteRecord(end, *record);
  if (&text == &fresh) out.swap(fresh);
  return true;
}
